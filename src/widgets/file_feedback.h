// The status bar's word after file work: what was written or read (full path
// and size), or why a write failed, in plain words.  Every save and load of
// the tool reports through these, so an earlier failure never stays the last
// thing the operator reads.
//
//   reportFileDone(session, FileAction::Saved, lines, path);
//   if (!written) { session.log(...); reportFileFailure(session, path, false, file.errorString()); }
#pragma once

#include "core/file_outcome.h"

#include <QString>

namespace qvx {

class Session;

// Shows fileDoneText with the file's size as it is now on disk.
void reportFileDone(Session &session, FileAction action, qint64 lines, const QString &path);

// Looks at the file, its folder and the disk to find why writing path
// failed; mustExist for files that are only ever added to.  errorString, the
// system's message (may be empty), decides "disk full" and is shown when no
// plainer cause is found.
QString describeFileFailure(const QString &path, bool mustExist, const QString &errorString = {});
void reportFileFailure(Session &session, const QString &path, bool mustExist,
                       const QString &errorString = {});

} // namespace qvx
