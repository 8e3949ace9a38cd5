#include "app/program_folder.h"

#include <QDir>
#include <QFileInfo>

namespace qvx {
namespace {

const char *const ManualName = "UsrMan.pdf";

QString withSeparator(const QString &dir)
{
    const QString abs = QDir(dir).absolutePath();
    return abs.endsWith(QLatin1Char('/')) ? abs : abs + QLatin1Char('/');
}

bool isInstalled(const QString &exeDir)
{
    return QFileInfo(installedDocFolder(exeDir)).isDir();
}

} // namespace

QString chooseProgramFolder(const QString &dataDirArgument, const QString &exeDir, const QString &userDataDir)
{
    if (!dataDirArgument.isEmpty())
        return withSeparator(dataDirArgument);
    if (QFileInfo(exeDir).isWritable() && !isInstalled(exeDir))
        return withSeparator(exeDir);
    // A folder that cannot be made shows later, when the settings are saved,
    // as "no write permission"; the program still starts.
    QDir().mkpath(QDir(userDataDir).filePath(QStringLiteral("files")));
    return withSeparator(userDataDir);
}

QString installedDocFolder(const QString &exeDir)
{
    return QDir::cleanPath(exeDir + QStringLiteral("/../share/doc/qvxtool"));
}

QString userManualPath(const QString &programDir, const QString &exeDir)
{
    const QString own = QDir(programDir).filePath(QLatin1String(ManualName));
    if (QFileInfo::exists(own))
        return own;
    const QString installed = QDir(installedDocFolder(exeDir)).filePath(QLatin1String(ManualName));
    return QFileInfo::exists(installed) ? installed : own;
}

} // namespace qvx
