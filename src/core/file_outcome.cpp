#include "core/file_outcome.h"

#include <QDir>
#include <QLocale>

namespace qvx {

QString groupedNumber(qint64 n)
{
    // Always the English grouping: the texts around it are English.
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(n);
}

QString fileDoneText(FileAction action, qint64 lines, const QString &path, qint64 bytes)
{
    const QString native = QDir::toNativeSeparators(path);
    QString verb;
    QString preposition;
    switch (action) {
    case FileAction::Saved:
        verb = QStringLiteral("Saved");
        preposition = QStringLiteral("to");
        break;
    case FileAction::Read:
        verb = QStringLiteral("Read");
        preposition = QStringLiteral("from");
        break;
    case FileAction::Appended:
        verb = QStringLiteral("Appended");
        preposition = QStringLiteral("to");
        break;
    }
    QString text = verb;
    if (lines >= 0)
        text += QLatin1Char(' ') + groupedNumber(lines) +
                (lines == 1 ? QStringLiteral(" line") : QStringLiteral(" lines"));
    text += QLatin1Char(' ') + preposition + QLatin1Char(' ') + native;
    if (bytes >= 0)
        text += QStringLiteral(" (") + groupedNumber(bytes) +
                (bytes == 1 ? QStringLiteral(" byte)") : QStringLiteral(" bytes)"));
    return text;
}

FileCause fileFailureCause(const FileFacts &f)
{
    if (!f.folderExists)
        return FileCause::FolderMissing;
    if (f.mustExist && !f.fileExists)
        return FileCause::MustBeCreated;
    if (!f.writable)
        return FileCause::PermissionDenied;
    if (f.diskFull)
        return FileCause::DiskFull;
    return FileCause::Unknown;
}

QString fileFailureText(FileCause cause, const QString &path, const QString &detail)
{
    const QString native = QDir::toNativeSeparators(path);
    switch (cause) {
    case FileCause::MustBeCreated:
        return QStringLiteral("Not written: %1 does not exist and must be created first "
                              "(the program only adds to it)")
            .arg(native);
    case FileCause::FolderMissing: {
        QString folder = QDir::toNativeSeparators(QDir::cleanPath(path + QStringLiteral("/..")));
        return QStringLiteral("Not written: the folder %1 is missing (for %2); create it first")
            .arg(folder, native);
    }
    case FileCause::PermissionDenied:
        return QStringLiteral("Not written: permission denied for %1").arg(native);
    case FileCause::DiskFull:
        return QStringLiteral("Not written: the disk is full (%1)").arg(native);
    case FileCause::Unknown:
        break;
    }
    return detail.isEmpty() ? QStringLiteral("Not written: %1").arg(native)
                            : QStringLiteral("Not written: %1 (%2)").arg(native, detail);
}

} // namespace qvx
