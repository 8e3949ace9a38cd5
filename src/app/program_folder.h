// Where the program keeps its files.  Started from its build folder (or any
// folder the user may write to) the program's folder is the executable's
// folder, as it always was; installed, the executable's folder belongs to the
// system, so the settings file, "files/" and the log files go to the user's
// own application data folder instead.
#pragma once

#include <QString>
#include <QStringList>

namespace qvx {

// The program's folder, with a trailing separator:
//  - dataDirArgument (from --data-dir) when it is not empty;
//  - else exeDir when the user may write to it and it is not an installed
//    program's folder (root may write to /usr/bin, but an installed program
//    must not keep its settings there);
//  - else userDataDir, made ready by makeUserDataFolder.
// Only the user's data folder is ever made or filled here: a folder named by
// --data-dir or the executable's folder is the operator's, used as it is.
QString chooseProgramFolder(const QString &dataDirArgument, const QString &exeDir,
                            const QString &userDataDir);

// Makes the user's data folder ready for use: the folder, its "files" folder
// and an empty values log "files/logvalues.txt" (which the tool only ever
// appends to), each only when it is missing; what is there is left as it is.
// False when one of them could not be made (that shows later, when a file is
// written, as the usual "no rights" report; the program still starts).
bool makeUserDataFolder(const QString &userDataDir);

// The documentation folder of an installed program whose executable lies in
// exeDir: <prefix>/share/doc/qvxtool beside <prefix>/bin.
QString installedDocFolder(const QString &exeDir);

struct ManualLookup {
    QString path;        // the manual found, empty when none of the folders holds it
    QStringList folders; // the folders looked in, in order, each once
};

// The user manual UsrMan.pdf, looked for in the program's folder, then beside
// the executable, then in the installed documentation folder.
ManualLookup findUserManual(const QString &programDir, const QString &exeDir);

} // namespace qvx
