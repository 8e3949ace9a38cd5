// Where the program keeps its files: the executable's folder when started from
// a build folder, the user's data folder when installed (read-only folder, or
// the installed layout with share/doc/qvxtool beside bin), --data-dir over
// both; the manual from the program's folder or the installed documentation;
// and --version as a user runs it, without a display.
#include "app/program_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace qvx;

namespace {

// Makes a folder read-only for the running user; root passes over
// permissions, so for root the folder is made immutable (where the file
// system allows it).  Restored on destruction.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString &dir) : m_dir(dir)
    {
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        if (::access(QFile::encodeName(dir).constData(), W_OK) != 0)
            return;
        m_fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            m_flags = flags;
            flags |= FS_IMMUTABLE_FL;
            m_immutable = ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
    }
    ~ReadOnlyFolder()
    {
        if (m_immutable)
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_flags);
        if (m_fd >= 0)
            ::close(m_fd);
        QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool readOnly() const { return ::access(QFile::encodeName(m_dir).constData(), W_OK) != 0; }

private:
    QString m_dir;
    int m_fd = -1;
    int m_flags = 0;
    bool m_immutable = false;
};

void touch(const QString &path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

} // namespace

class TestProgramFolder : public QObject {
    Q_OBJECT
private slots:
    void chooseProgramFolder_data();
    void chooseProgramFolder();
    void userManual_data();
    void userManual();
    void versionWithoutDisplay();
};

void TestProgramFolder::chooseProgramFolder_data()
{
    QTest::addColumn<bool>("withDataDir");
    QTest::addColumn<QString>("exeFolder"); // "writable", "read-only" or "installed"
    QTest::addColumn<QString>("expected");  // "exe", "user" or "data"

    QTest::newRow("build folder") << false << "writable"
                                  << "exe";
    QTest::newRow("read-only folder") << false << "read-only"
                                      << "user";
    QTest::newRow("installed, folder writable by root") << false << "installed"
                                                        << "user";
    QTest::newRow("--data-dir over a writable folder") << true << "writable"
                                                       << "data";
    QTest::newRow("--data-dir over a read-only folder") << true << "read-only"
                                                        << "data";
    QTest::newRow("--data-dir when installed") << true << "installed"
                                               << "data";
}

void TestProgramFolder::chooseProgramFolder()
{
    QFETCH(bool, withDataDir);
    QFETCH(QString, exeFolder);
    QFETCH(QString, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString exeDir = root.filePath(QStringLiteral("usr/bin"));
    const QString userDir = root.filePath(QStringLiteral("home/.local/share/qvxtool"));
    const QString dataDir = root.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(exeDir));
    QVERIFY(QDir().mkpath(dataDir));
    if (exeFolder == QLatin1String("installed"))
        touch(root.filePath(QStringLiteral("usr/share/doc/qvxtool/UsrMan.pdf")));
    std::unique_ptr<ReadOnlyFolder> readOnly;
    if (exeFolder == QLatin1String("read-only")) {
        readOnly = std::make_unique<ReadOnlyFolder>(exeDir);
        if (!readOnly->readOnly())
            QSKIP("this file system cannot make a folder read-only for this user");
    }

    const QString chosen = qvx::chooseProgramFolder(withDataDir ? dataDir : QString(), exeDir, userDir);

    const QString want = expected == QLatin1String("exe")    ? exeDir
                         : expected == QLatin1String("user") ? userDir
                                                             : dataDir;
    QCOMPARE(chosen, want + QLatin1Char('/'));
    // The user's folder is made, with "files", only when it is the one used.
    QCOMPARE(QFileInfo(userDir + QStringLiteral("/files")).isDir(), expected == QLatin1String("user"));
}

void TestProgramFolder::userManual_data()
{
    QTest::addColumn<bool>("inProgramFolder");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("expected"); // "program" or "installed"

    QTest::newRow("build folder") << true << false << "program";
    QTest::newRow("own copy beats the installed one") << true << true << "program";
    QTest::newRow("installed only") << false << true << "installed";
    QTest::newRow("nowhere: the program folder's name") << false << false << "program";
}

void TestProgramFolder::userManual()
{
    QFETCH(bool, inProgramFolder);
    QFETCH(bool, installed);
    QFETCH(QString, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString exeDir = root.filePath(QStringLiteral("usr/bin"));
    const QString programDir = root.filePath(QStringLiteral("home/.local/share/qvxtool/"));
    const QString own = programDir + QStringLiteral("UsrMan.pdf");
    const QString shipped = root.filePath(QStringLiteral("usr/share/doc/qvxtool/UsrMan.pdf"));
    QVERIFY(QDir().mkpath(exeDir));
    QVERIFY(QDir().mkpath(programDir));
    if (inProgramFolder)
        touch(own);
    if (installed)
        touch(shipped);

    QCOMPARE(userManualPath(programDir, exeDir), expected == QLatin1String("program") ? own : shipped);
}

void TestProgramFolder::versionWithoutDisplay()
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("QVX_BIN_DIR") + QStringLiteral("/qvxtool"), {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(p.readAllStandardOutput(), QByteArray("qvxtool " QVX_VERSION_TEXT "\n"));
}

QTEST_MAIN(TestProgramFolder)
#include "tst_program_folder.moc"
