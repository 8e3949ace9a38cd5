// Where the program keeps its files.  Started from its build folder (or any
// folder the user may write to) the program's folder is the executable's
// folder, as it always was; installed, the executable's folder belongs to the
// system, so the settings file, "files/" and the log files go to the user's
// own application data folder instead.
#pragma once

#include <QString>

namespace qvx {

// The program's folder, with a trailing separator:
//  - dataDirArgument (from --data-dir) when it is not empty;
//  - else exeDir when the user may write to it and it is not an installed
//    program's folder (root may write to /usr/bin, but an installed program
//    must not keep its settings there);
//  - else userDataDir, created with its "files" folder when missing.
QString chooseProgramFolder(const QString &dataDirArgument, const QString &exeDir,
                            const QString &userDataDir);

// The documentation folder of an installed program whose executable lies in
// exeDir: <prefix>/share/doc/qvxtool beside <prefix>/bin.
QString installedDocFolder(const QString &exeDir);

// The user manual UsrMan.pdf: the one in the program's folder, else the
// installed one; the program's folder's path when there is neither, so that
// the viewer names the file it looked for.
QString userManualPath(const QString &programDir, const QString &exeDir);

} // namespace qvx
