#include "app/program_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qvx {
namespace {

const char *const ManualName = "UsrMan.pdf";
// The file the Windows installer puts beside the executable (where the
// program, its DLLs and its manual share one folder): there, its presence
// says the folder is an installed program's.
const char *const InstalledMarkerName = "qvxtool-installed.txt";

QString withSeparator(const QString &dir)
{
    const QString abs = QDir(dir).absolutePath();
    return abs.endsWith(QLatin1Char('/')) ? abs : abs + QLatin1Char('/');
}

// Installed by a package (the documentation folder beside bin/) or by the
// Windows installer (its marker beside the executable, which the portable
// ZIP does not have).
bool isInstalled(const QString &exeDir)
{
    return QFileInfo(installedDocFolder(exeDir)).isDir() ||
           QFileInfo(QDir(exeDir).filePath(QLatin1String(InstalledMarkerName))).isFile();
}

} // namespace

QString chooseProgramFolder(const QString &dataDirArgument, const QString &exeDir, const QString &userDataDir)
{
    if (!dataDirArgument.isEmpty())
        return withSeparator(dataDirArgument);
    if (QFileInfo(exeDir).isWritable() && !isInstalled(exeDir))
        return withSeparator(exeDir);
    makeUserDataFolder(userDataDir);
    return withSeparator(userDataDir);
}

bool makeUserDataFolder(const QString &userDataDir)
{
    const QDir dir(userDataDir);
    if (!dir.mkpath(QStringLiteral("files")))
        return false;
    // NewOnly: an existing log, with the operator's readings in it, is never
    // opened for writing here, let alone emptied.
    QFile log(dir.filePath(QStringLiteral("files/logvalues.txt")));
    return log.exists() || log.open(QIODevice::WriteOnly | QIODevice::NewOnly) || log.exists();
}

QString installedDocFolder(const QString &exeDir)
{
    return QDir::cleanPath(exeDir + QStringLiteral("/../share/doc/qvxtool"));
}

ManualLookup findUserManual(const QString &programDir, const QString &exeDir)
{
    ManualLookup lookup;
    // In a build folder the program's folder is the executable's: looked in once.
    for (const QString &folder : {programDir, exeDir, installedDocFolder(exeDir)}) {
        const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
        if (folder.isEmpty() || lookup.folders.contains(clean))
            continue;
        lookup.folders << clean;
        const QString candidate = QDir(clean).filePath(QLatin1String(ManualName));
        if (lookup.path.isEmpty() && QFileInfo(candidate).isFile())
            lookup.path = candidate;
    }
    return lookup;
}

} // namespace qvx
