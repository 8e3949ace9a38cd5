#include "widgets/file_feedback.h"

#include "transport/session.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>

namespace qvx {

void reportFileDone(Session &session, FileAction action, qint64 lines, const QString &path)
{
    const QFileInfo info(path);
    session.notify(fileDoneText(action, lines, info.absoluteFilePath(), info.exists() ? info.size() : -1));
}

QString describeFileFailure(const QString &path, bool mustExist, const QString &errorString)
{
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    FileFacts facts;
    facts.mustExist = mustExist;
    facts.fileExists = info.exists();
    facts.folderExists = folder.isDir();
    facts.writable = info.exists() ? info.isWritable() : folder.isWritable();
    // QSaveFile writes a temporary file beside the target: the folder must
    // take it as well.
    if (!mustExist && facts.folderExists && !folder.isWritable())
        facts.writable = false;
    const QStorageInfo storage(facts.folderExists ? folder.absoluteFilePath() : QDir::rootPath());
    facts.diskFull = errorString == qt_error_string(ENOSPC) ||
                     (storage.isValid() && storage.isReady() && storage.bytesAvailable() == 0);
    return fileFailureText(fileFailureCause(facts), info.absoluteFilePath(), errorString);
}

void reportFileFailure(Session &session, const QString &path, bool mustExist, const QString &errorString)
{
    session.notify(describeFileFailure(path, mustExist, errorString));
}

} // namespace qvx
