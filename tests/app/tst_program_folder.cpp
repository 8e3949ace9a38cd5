// Where the program keeps its files: the executable's folder when started from
// a build folder, the user's data folder when installed (read-only folder, or
// the installed layout with share/doc/qvxtool beside bin), --data-dir over
// both; the user's folder made with files/logvalues.txt, so that "Auto Save
// values" appends from the first start; the manual from the program's folder,
// beside the executable or the installed documentation, through the window;
// and --version as a user runs it, without a display.
//
// This test runs from <build>/program-folder-test/bin, a prefix of its own:
// it puts manuals beside itself and in ../share/doc/qvxtool, where no other
// program looks.
#include "app/document_launcher.h"
#include "app/program_folder.h"
#include "common/window_rig.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QMap>
#include <QScopeGuard>
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
    void userFolderKeepsWhatItHolds();
    void firstStartAutoSaveAppends();
    void userManual_data();
    void userManual();
    void manualFromTheWindow_data();
    void manualFromTheWindow();
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
    // The user's folder is made, with "files" and an empty values log, only
    // when it is the one used; the other folders are used as they are.
    const bool user = expected == QLatin1String("user");
    QCOMPARE(QFileInfo(userDir + QStringLiteral("/files")).isDir(), user);
    const QFileInfo log(userDir + QStringLiteral("/files/logvalues.txt"));
    QCOMPARE(log.isFile(), user);
    QCOMPARE(log.size(), 0);
    for (const QString &other : {exeDir, dataDir})
        QVERIFY(!QFileInfo::exists(other + QStringLiteral("/files")));
}

// A later start finds the readings of the earlier ones where they were, and
// puts back only what is missing.
void TestProgramFolder::userFolderKeepsWhatItHolds()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString userDir = root.filePath(QStringLiteral("qvxtool"));
    const QString log = userDir + QStringLiteral("/files/logvalues.txt");
    QVERIFY(makeUserDataFolder(userDir));
    {
        QFile f(log);
        QVERIFY(f.open(QIODevice::Append));
        f.write("\r\n12:00:00,01.01.2026\r\n1;1234;\r\n");
    }
    QVERIFY(makeUserDataFolder(userDir));
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\r\n12:00:00,01.01.2026\r\n1;1234;\r\n"));
    f.close();

    QVERIFY(QFile::remove(log));
    QVERIFY(makeUserDataFolder(userDir));
    QVERIFY(QFileInfo(log).isFile());
}

// Installed, first start: "Auto Save values" appends its first block to the
// log the first start made, through the window, with no file made by hand.
void TestProgramFolder::firstStartAutoSaveAppends()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString exeDir = root.filePath(QStringLiteral("usr/bin"));
    QVERIFY(QDir().mkpath(exeDir));
    touch(root.filePath(QStringLiteral("usr/share/doc/qvxtool/UsrMan.pdf")));
    const QString userDir = root.filePath(QStringLiteral("home/.local/share/qvxtool"));
    const QString folder = qvx::chooseProgramFolder({}, exeDir, userDir);
    QCOMPARE(folder, userDir + QLatin1Char('/'));

    qvxtest::WindowRig r({.link = qvxtest::Link::Tcp, .timeoutMs = 300, .programDir = folder});
    r.click("Check_autoSave");
    QVERIFY(r.answered([&] { r.click("BitBtn19"); }));
    QVERIFY2(!r.log.contains(QStringLiteral("Can not write file, no rights...")),
             qPrintable(r.log.join('\n')));
    QFile f(userDir + QStringLiteral("/files/logvalues.txt"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + 1 + 63 + 1);
    QCOMPARE(lines.at(0), QByteArray("\r"));
    QVERIFY(lines.at(1).contains(','));
    QVERIFY(lines.at(2).startsWith("1;"));
    QVERIFY(lines.at(64).startsWith("63;"));
}

void TestProgramFolder::userManual_data()
{
    QTest::addColumn<QString>("holders");  // where copies lie: p(rogram folder), e(xecutable's), d(oc folder)
    QTest::addColumn<QString>("expected"); // the one found: p, e, d, or "" for none

    QTest::newRow("program folder") << "ped"
                                    << "p";
    QTest::newRow("beside the executable") << "ed"
                                           << "e";
    QTest::newRow("installed documentation") << "d"
                                             << "d";
    QTest::newRow("nowhere") << ""
                             << "";
}

void TestProgramFolder::userManual()
{
    QFETCH(QString, holders);
    QFETCH(QString, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString exeDir = root.filePath(QStringLiteral("usr/bin"));
    const QString programDir = root.filePath(QStringLiteral("home/.local/share/qvxtool/"));
    const QMap<QChar, QString> folders = {
        {QLatin1Char('p'), QDir::cleanPath(programDir)},
        {QLatin1Char('e'), exeDir},
        {QLatin1Char('d'), root.filePath(QStringLiteral("usr/share/doc/qvxtool"))}};
    QVERIFY(QDir().mkpath(exeDir));
    QVERIFY(QDir().mkpath(programDir));
    for (QChar h : holders)
        touch(folders.value(h) + QStringLiteral("/UsrMan.pdf"));

    const ManualLookup found = findUserManual(programDir, exeDir);
    QCOMPARE(found.path,
             expected.isEmpty() ? QString() : folders.value(expected.at(0)) + QStringLiteral("/UsrMan.pdf"));
    QCOMPARE(found.folders, (QStringList{folders.value('p'), folders.value('e'), folders.value('d')}));
    // Started from a build folder the program's folder is the executable's:
    // it is looked in once.
    QCOMPARE(findUserManual(exeDir + QLatin1Char('/'), exeDir).folders,
             (QStringList{exeDir, folders.value('d')}));
}

// Help > User manual with --data-dir: the data folder's copy, else the one
// beside the executable, else the installed one; with none, a box names the
// folders in that order.
void TestProgramFolder::manualFromTheWindow_data()
{
    QTest::addColumn<QString>("holders");
    QTest::addColumn<QString>("expected");

    QTest::newRow("data folder first") << "ded"
                                       << "d";
    QTest::newRow("then beside the executable") << "e"
                                                << "e";
    QTest::newRow("then the installed documentation") << "i"
                                                      << "i";
    QTest::newRow("none: the folders named") << ""
                                             << "";
}

void TestProgramFolder::manualFromTheWindow()
{
    QFETCH(QString, holders);
    QFETCH(QString, expected);

    QTemporaryDir data;
    QVERIFY(data.isValid());
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString docDir = installedDocFolder(exeDir);
    const QMap<QChar, QString> folders = {
        {QLatin1Char('d'), data.path()}, {QLatin1Char('e'), exeDir}, {QLatin1Char('i'), docDir}};
    QStringList made;
    const auto removeMade = qScopeGuard([&made] {
        for (const QString &f : made)
            QFile::remove(f);
    });
    for (QChar h : holders) {
        const QString pdf = folders.value(h) + QStringLiteral("/UsrMan.pdf");
        if (!QFileInfo::exists(pdf)) {
            touch(pdf);
            made << pdf;
        }
    }
    for (const QString &folder : folders)
        QVERIFY2(holders.contains(folders.key(folder)) ||
                     !QFileInfo::exists(folder + QStringLiteral("/UsrMan.pdf")),
                 qPrintable(folder + QStringLiteral(" holds a manual this test did not put there")));

    QStringList opened;
    setDocumentLauncher([&opened](const QString &path) { opened << path; });
    const auto restore = qScopeGuard([] { setDocumentLauncher({}); });
    qvxtest::WindowRig r({.programDir = qvx::chooseProgramFolder(data.path(), exeDir, QString())});
    r.form->findChild<QAction *>(QStringLiteral("Usermanual1"))->trigger();
    if (!expected.isEmpty()) {
        QCOMPARE(opened, QStringList{folders.value(expected.at(0)) + QStringLiteral("/UsrMan.pdf")});
        QVERIFY(r.dialogs.dialogs.raised.isEmpty());
        return;
    }
    QVERIFY(opened.isEmpty());
    QCOMPARE(r.dialogs.dialogs.raised.size(), 1);
    const QString text = r.dialogs.dialogs.raised.first().text;
    QCOMPARE(r.dialogs.dialogs.raised.first().caption, QStringLiteral("User manual"));
    qsizetype at = 0;
    for (QChar h : QStringLiteral("dei")) {
        const qsizetype next = text.indexOf(QDir::toNativeSeparators(QDir::cleanPath(folders.value(h))), at);
        QVERIFY2(next >= at, qPrintable(text));
        at = next + 1;
    }
    QVERIFY2(!text.contains(QStringLiteral("Install the program again")), qPrintable(text));
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
