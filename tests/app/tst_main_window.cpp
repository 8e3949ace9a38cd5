// The main window through its real controls: layout and names, the settings
// file read at creation and written at close (in a temporary program folder),
// the exit confirmation, the captions, the key filters and the Help menu.
#include "app/document_launcher.h"
#include "core/ini_file.h"
#include "core/settings_keys.h"
#include "widgets/string_grid.h"
#include "app/tfabout.h"
#include "app/tform1.h"
#include "widgets/typing_limit.h"
#include "common/scripted_dialogs.h"
#include "config/settings_tab.h"
#include "console/log_view.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace qvx;
using qvxtest::ScopedDialogs;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <typename T> T *child(QWidget *root, const char *name)
{
    return root->findChild<T *>(QLatin1String(name));
}

// Makes a folder refuse new files, also for root (who ignores permission
// bits): the immutable attribute where the file system has it, else a file
// size limit of one byte for this process.  Undone on destruction.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const QString &dir) : m_dir(dir)
    {
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        if (::access(QFile::encodeName(dir).constData(), W_OK) != 0)
            return;
        m_fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            m_flags = flags;
            flags |= FS_IMMUTABLE_FL;
            if (::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0) {
                m_immutable = true;
                return;
            }
        }
        ::getrlimit(RLIMIT_FSIZE, &m_limit);
        rlimit tiny = m_limit;
        tiny.rlim_cur = 1;
        ::setrlimit(RLIMIT_FSIZE, &tiny);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        m_limited = true;
    }
    ~UnwritableFolder()
    {
        if (m_immutable)
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_flags);
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_limited) {
            ::setrlimit(RLIMIT_FSIZE, &m_limit);
            std::signal(SIGXFSZ, m_oldHandler);
        }
        QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    QString m_dir;
    int m_fd = -1;
    int m_flags = 0;
    bool m_immutable = false;
    bool m_limited = false;
    rlimit m_limit{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void windowHasCaptionMenuTabsAndSize();
    void consoleControlsExistWithTheirTexts();
    void statusBarHasFourPanelsFedBySession();
    void sessionLogLinesReachTheLog();
    void startStateIsSet();
    void everyButtonActsOrSaysWhyNot();

    void noSettingsFileStartsWithDefaultsAndCloseWritesAllKeys();
    void windowsFileIsReadIntoControlsAndWrittenBack();
    void wrongKindOfTimeoutStartsWithDefault();
    void outOfRangeIntegersClampToNearestBound_data();
    void outOfRangeIntegersClampToNearestBound();
    void unwritableFolderWarnsAndKeepsOldFile();
    void autoOpenWithMissingPortStillOpensWindow();
    void settingsTextsLongerThanTheFieldAreKeptWhole_data();
    void settingsTextsLongerThanTheFieldAreKeptWhole();
    void typingIsStillLimited_data();
    void typingIsStillLimited();

    void typedLetterIsDroppedButPasteIsAccepted();
    void dotIsAcceptedInAddressButNotInPort();
    void unfilteredFieldsTakeAnyCharacter();

    void exitAnsweredNoKeepsWindowOpen();
    void exitAnsweredYesWritesSettingsAndCloses();
    void closingFromTitleBarDoesNotAsk();
    void englishPutsHeadersBack();
    void aboutIsShownWithoutBlocking();
    void userManualOpensPdfFromProgramFolder();

private:
    std::unique_ptr<TForm1> makeForm();
    QString iniPath() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScopedDialogs> m_dialogs;
    QString m_cwd;
};

void TestMainWindow::init()
{
    m_cwd = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_dialogs = std::make_unique<ScopedDialogs>();
}

void TestMainWindow::cleanup()
{
    m_dialogs.reset();
    QDir::setCurrent(m_cwd);
    m_dir.reset();
    setDocumentLauncher({});
}

std::unique_ptr<TForm1> TestMainWindow::makeForm()
{
    return std::make_unique<TForm1>(m_dir->path());
}

QString TestMainWindow::iniPath() const
{
    return m_dir->path() + QLatin1Char('/') +
           QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + QStringLiteral(".ini");
}

void TestMainWindow::windowHasCaptionMenuTabsAndSize()
{
    auto form = makeForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("QVX-24S IEC 62056 Decoder"));
    QCOMPARE(form->size(), QSize(916, 788));
    QCOMPARE(form->settingsFilePath(), iniPath());
    QCOMPARE(form->session().ProgramDir, m_dir->path() + QLatin1Char('/'));

    QStringList menus;
    for (QAction *a : form->menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{"File", "Language", "Tools", "Help"}));
    QCOMPARE(form->findChild<QAction *>("Exit1")->text(), QStringLiteral("Exit"));
    QCOMPARE(form->findChild<QAction *>("English1")->text(), QStringLiteral("English"));
    QCOMPARE(form->findChild<QAction *>("About1")->text(), QStringLiteral("About"));
    QCOMPARE(form->findChild<QAction *>("Usermanual1")->text(), QStringLiteral("User manual"));

    QTabWidget *tabs = form->tabs();
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("   Settings     "));
    QCOMPARE(tabs->tabText(1), QStringLiteral("    Devices programmed in modbus   "));
    QCOMPARE(tabs->tabText(2), QStringLiteral("   Diagnostic/Readout   "));
    QCOMPARE(tabs->widget(0), form->settingsTab());

    auto *registers = child<StringGrid>(form.get(), "Grid_registers");
    QVERIFY(registers);
    QCOMPARE(registers->colCount(), 2);
    QCOMPARE(registers->rowCount(), 64);
    QCOMPARE(registers->columnWidth(0), 64);
    QCOMPARE(registers->columnWidth(1), 218);
    auto *values = child<StringGrid>(form.get(), "Grid_meterValue");
    QVERIFY(values);
    QCOMPARE(values->rowCount(), 64);
    QCOMPARE(child<StringGrid>(form.get(), "gridIEC")->colCount(), 3);
    QVERIFY(child<QWidget>(form.get(), "Memo_readout"));
}

void TestMainWindow::consoleControlsExistWithTheirTexts()
{
    auto form = makeForm();
    auto *log = child<LogView>(form.get(), "Memo_current");
    QVERIFY(log);
    QCOMPARE(log->accessibleName(), QStringLiteral("Log"));
    auto *print = child<QPushButton>(form.get(), "Butt_print");
    QCOMPARE(print->text(), QStringLiteral("Print"));
    QVERIFY(!print->isEnabled());
    QCOMPARE(child<QPushButton>(form.get(), "BitBtn6")->text(), QStringLiteral("Save log"));
    QCOMPARE(child<QPushButton>(form.get(), "BitBtn5")->text(), QStringLiteral("Clear log"));
    QCOMPARE(child<QPushButton>(form.get(), "Butt_command_send")->text(), QStringLiteral("Send"));
    QCOMPARE(child<QLabel>(form.get(), "Label_command")->text(),
             QStringLiteral("Send custom command RS-485"));
    auto *command = child<QLineEdit>(form.get(), "Edit_command");
    QCOMPARE(qvx::typingLimit(command), 250);
    QCOMPARE(command->accessibleName(), QStringLiteral("Send custom command RS-485"));
    QCOMPARE(child<QCheckBox>(form.get(), "Check_ascii")->text(), QStringLiteral("ASCII"));
    QCOMPARE(child<QCheckBox>(form.get(), "Check_hex")->text(), QStringLiteral("Hex"));
}

void TestMainWindow::statusBarHasFourPanelsFedBySession()
{
    auto form = makeForm();
    QCOMPARE(form->statusBar()->objectName(), QStringLiteral("StatusBar1"));
    const int widths[] = {200, 200, 300, 50};
    for (int i = 0; i < 4; ++i) {
        auto *panel = form->statusBar()->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(i));
        QVERIFY(panel);
        QCOMPARE(panel->width(), widths[i]);
        form->session().setStatus(i, QStringLiteral("text %1").arg(i));
        QCOMPARE(panel->text(), QStringLiteral("text %1").arg(i));
    }
}

void TestMainWindow::sessionLogLinesReachTheLog()
{
    auto form = makeForm();
    auto *log = child<LogView>(form.get(), "Memo_current");
    form->session().log(QStringLiteral("Serial port for modbus closed"));
    form->session().log(QStringLiteral("SENT:01 03 00 00 00 0A C5 CD "));
    QCOMPARE(log->lines(), (QStringList{"Serial port for modbus closed", "SENT:01 03 00 00 00 0A C5 CD "}));
    QTest::mouseClick(child<QPushButton>(form.get(), "BitBtn5"), Qt::LeftButton);
    QCOMPARE(log->lineCount(), 0);
}

void TestMainWindow::startStateIsSet()
{
    auto form = makeForm();
    QVERIFY(form->findChild<QAction *>("English1")->isChecked());
    QVERIFY(child<QCheckBox>(form.get(), "Check_hex")->isChecked());
    QVERIFY(!child<QCheckBox>(form.get(), "Check_ascii")->isChecked());
    QCOMPARE(child<QLabel>(form.get(), "Label_selectedRegister")->text(), QString());
    QCOMPARE(form->tabs()->currentIndex(), 0);
    QCOMPARE(child<StringGrid>(form.get(), "gridIEC")->cell(2, 0), QStringLiteral("Notes     "));
    QCOMPARE(child<StringGrid>(form.get(), "Grid_registers")->cell(1, 0), QStringLiteral("Register name "));
    QCOMPARE(QDir::currentPath(), QDir(m_dir->path()).canonicalPath());
}

// QObject::isSignalConnected is protected; a member pointer taken through a
// derived class may be applied to any object.
struct SignalPeek : QObject {
    static bool connected(const QObject *o, const QMetaMethod &signal)
    {
        constexpr auto peek = &SignalPeek::isSignalConnected;
        return (o->*peek)(signal);
    }
};

void TestMainWindow::everyButtonActsOrSaysWhyNot()
{
    // A button that is enabled must do something when clicked; one that is
    // disabled for good must say why, so a click is never silent.
    auto form = makeForm();
    const QMetaMethod clicked = QMetaMethod::fromSignal(&QAbstractButton::clicked);
    const QMetaMethod pressed = QMetaMethod::fromSignal(&QAbstractButton::pressed);
    const auto buttons = form->findChildren<QPushButton *>();
    QVERIFY2(buttons.size() > 20, qPrintable(QString::number(buttons.size())));
    for (const QPushButton *b : buttons) {
        if (b->isEnabled())
            QVERIFY2(SignalPeek::connected(b, clicked) || SignalPeek::connected(b, pressed),
                     qPrintable(b->objectName()));
        else
            QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
    }
}

void TestMainWindow::noSettingsFileStartsWithDefaultsAndCloseWritesAllKeys()
{
    auto form = makeForm();
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_name")->currentText(), QStringLiteral("COM1"));
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_speed")->currentText(), QStringLiteral("19200"));
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_parity")->currentText(), QStringLiteral("Even"));
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_stop")->currentText(), QStringLiteral("1"));
    QCOMPARE(child<QComboBox>(form.get(), "Combo_dbits")->currentText(), QStringLiteral("8"));
    QVERIFY(!child<QCheckBox>(form.get(), "CB_open_port2")->isChecked());
    QCOMPARE(child<QSpinBox>(form.get(), "UD_modbusTimeout")->value(), 600);
    QCOMPARE(child<QSpinBox>(form.get(), "UDmodbusAddress")->value(), 1);
    QCOMPARE(child<QLineEdit>(form.get(), "EditInputAddress")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLineEdit>(form.get(), "EditInputCount")->text(), QStringLiteral("125"));
    QCOMPARE(child<QLineEdit>(form.get(), "Edit_remoteIP")->text(), QString::fromLatin1(DefaultRemoteIp));
    QCOMPARE(child<QLineEdit>(form.get(), "Edit_port")->text(), QStringLiteral("502"));
    QCOMPARE(child<QSpinBox>(form.get(), "UD_connectTimeout")->value(), 50);
    QCOMPARE(form->session().WorkDir, m_dir->path() + QLatin1Char('/'));
    QVERIFY(!QFile::exists(iniPath()));

    form->close();
    const QByteArray expected =
        "[Modbus port]\r\nName=COM1\r\nSpeed=19200\r\nParity=Even\r\nSB=1\r\nDB=8\r\n"
        "[Modbus]\r\nAutoOpen=0\r\nTimeout=600\r\nAddress=1\r\nSTADDR=1\r\nCount=125\r\n"
        "[Misc]\r\nDir=" +
        (m_dir->path() + QLatin1Char('/')).toLatin1() +
        "\r\n[Ethernet]\r\nIP=" + QByteArray(DefaultRemoteIp) +
        "\r\nPort=502\r\nTimeout=50\r\n"
        "[Options]\r\nEndOnCompleteReply=0\r\nAdapterEchoes=0\r\n";
    QCOMPARE(readFile(iniPath()), expected);
    QVERIFY(m_dialogs->dialogs.raised.isEmpty());
}

void TestMainWindow::windowsFileIsReadIntoControlsAndWrittenBack()
{
    writeFile(iniPath(),
              "; shared with the Windows tool\r\n"
              "[MODBUS PORT]\r\nname=/dev/ttyUSB3\r\nSpeed=14400\r\nParity=Odd\r\nSB=2\r\nDB=7\r\n\r\n"
              "[Window]\r\nLeft=10\r\n\r\n"
              "[modbus]\r\nAutoOpen=0\r\nTimeout=1000\r\nAddress=$11\r\nSTADDR=100\r\nCount=10\r\n"
              "Unknown=kept\r\n"
              "[Misc]\r\nDir=/srv/qvx/export/\r\n"
              "[Ethernet]\r\nIP=10.1.2.3\r\nPort=1502\r\nTimeout=25\r\n");
    auto form = makeForm();
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_name")->currentText(), QStringLiteral("/dev/ttyUSB3"));
    // A speed not in the list is shown as it is.
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_speed")->currentText(), QStringLiteral("14400"));
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_parity")->currentText(), QStringLiteral("Odd"));
    QCOMPARE(child<QComboBox>(form.get(), "Combo_com2_stop")->currentText(), QStringLiteral("2"));
    QCOMPARE(child<QComboBox>(form.get(), "Combo_dbits")->currentText(), QStringLiteral("7"));
    QCOMPARE(child<QSpinBox>(form.get(), "UD_modbusTimeout")->value(), 1000);
    QCOMPARE(child<QSpinBox>(form.get(), "UDmodbusAddress")->value(), 17);
    QCOMPARE(child<QLineEdit>(form.get(), "EditInputAddress")->text(), QStringLiteral("100"));
    QCOMPARE(child<QLineEdit>(form.get(), "EditInputCount")->text(), QStringLiteral("10"));
    QCOMPARE(form->session().WorkDir, QStringLiteral("/srv/qvx/export/"));
    QCOMPARE(child<QLineEdit>(form.get(), "Edit_remoteIP")->text(), QStringLiteral("10.1.2.3"));
    QCOMPARE(child<QLineEdit>(form.get(), "Edit_port")->text(), QStringLiteral("1502"));
    QCOMPARE(child<QSpinBox>(form.get(), "UD_connectTimeout")->value(), 25);

    child<QComboBox>(form.get(), "Combo_com2_speed")->setCurrentText(QStringLiteral("115200"));
    child<QSpinBox>(form.get(), "UDmodbusAddress")->setValue(5);
    child<QCheckBox>(form.get(), "CB_open_port2")->setChecked(true);
    child<QLineEdit>(form.get(), "EditInputCount")->setText(QStringLiteral("64"));
    form->close();

    QCOMPARE(
        readFile(iniPath()),
        QByteArray("; shared with the Windows tool\r\n"
                   "[MODBUS PORT]\r\nname=/dev/ttyUSB3\r\nSpeed=115200\r\nParity=Odd\r\nSB=2\r\nDB=7\r\n\r\n"
                   "[Window]\r\nLeft=10\r\n\r\n"
                   "[modbus]\r\nAutoOpen=1\r\nTimeout=1000\r\nAddress=5\r\nSTADDR=100\r\nCount=64\r\n"
                   "Unknown=kept\r\n"
                   "[Misc]\r\nDir=/srv/qvx/export/\r\n"
                   "[Ethernet]\r\nIP=10.1.2.3\r\nPort=1502\r\nTimeout=25\r\n"
                   "[Options]\r\nEndOnCompleteReply=0\r\nAdapterEchoes=0\r\n"));
}

void TestMainWindow::wrongKindOfTimeoutStartsWithDefault()
{
    writeFile(iniPath(), "[Modbus]\nTimeout=fast\nAddress=\nAutoOpen=yes\n[Ethernet]\nTimeout=1.5\n");
    auto form = makeForm();
    QCOMPARE(child<QSpinBox>(form.get(), "UD_modbusTimeout")->value(), 600);
    QCOMPARE(child<QSpinBox>(form.get(), "UDmodbusAddress")->value(), 1);
    QVERIFY(!child<QCheckBox>(form.get(), "CB_open_port2")->isChecked());
    QCOMPARE(child<QSpinBox>(form.get(), "UD_connectTimeout")->value(), 50);
}

void TestMainWindow::outOfRangeIntegersClampToNearestBound_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("value");
    QTest::newRow("timeout below") << QByteArray("[Modbus]\nTimeout=10\n") << "UD_modbusTimeout" << 50;
    QTest::newRow("timeout above") << QByteArray("[Modbus]\nTimeout=70000\n") << "UD_modbusTimeout" << 20000;
    QTest::newRow("address zero") << QByteArray("[Modbus]\nAddress=0\n") << "UDmodbusAddress" << 1;
    QTest::newRow("address above") << QByteArray("[Modbus]\nAddress=300\n") << "UDmodbusAddress" << 255;
    QTest::newRow("address negative") << QByteArray("[Modbus]\nAddress=-4\n") << "UDmodbusAddress" << 1;
    QTest::newRow("connect above") << QByteArray("[Ethernet]\nTimeout=5000\n") << "UD_connectTimeout" << 999;
    QTest::newRow("connect huge") << QByteArray("[Ethernet]\nTimeout=99999999999\n") << "UD_connectTimeout"
                                  << 999;
}

void TestMainWindow::outOfRangeIntegersClampToNearestBound()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, control);
    QFETCH(int, value);
    writeFile(iniPath(), file);
    auto form = makeForm();
    QCOMPARE(form->findChild<QSpinBox *>(control)->value(), value);
}

void TestMainWindow::unwritableFolderWarnsAndKeepsOldFile()
{
    const QByteArray old = "[Modbus]\r\nTimeout=900\r\n";
    writeFile(iniPath(), old);
    auto form = makeForm();
    child<QSpinBox>(form.get(), "UD_modbusTimeout")->setValue(1500);
    {
        UnwritableFolder locked(m_dir->path());
        form->close();
    }
    QCOMPARE(m_dialogs->dialogs.raised.size(), 1);
    const qvxtest::RaisedDialog &d = m_dialogs->dialogs.raised.first();
    QCOMPARE(d.kind, QStringLiteral("message"));
    QCOMPARE(d.icon, DialogIcon::Warning);
    QCOMPARE(d.caption, QStringLiteral("Saving settings"));
    QCOMPARE(d.text, QStringLiteral("Settings will not be saved, no write permission"));
    QCOMPARE(readFile(iniPath()), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QFileInfo(iniPath()).fileName()});
}

void TestMainWindow::autoOpenWithMissingPortStillOpensWindow()
{
    writeFile(iniPath(), "[Modbus port]\nName=/nonexistent/qvx-port\n[Modbus]\nAutoOpen=1\n");
    auto form = makeForm();
    QVERIFY(child<QCheckBox>(form.get(), "CB_open_port2")->isChecked());
    QCOMPARE(child<QPushButton>(form.get(), "Butt_open_port2")->text(), QStringLiteral("Connect to port"));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void TestMainWindow::settingsTextsLongerThanTheFieldAreKeptWhole_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::newRow("count") << QByteArray("[Modbus]\r\nCount=1000\r\n") << "EditInputCount"
                           << "1000";
    QTest::newRow("start") << QByteArray("[Modbus]\r\nSTADDR=1234567\r\n") << "EditInputAddress"
                           << "1234567";
    QTest::newRow("ip") << QByteArray("[Ethernet]\r\nIP=192.168.100.2001\r\n") << "Edit_remoteIP"
                        << "192.168.100.2001";
    QTest::newRow("port") << QByteArray("[Ethernet]\r\nPort=1234567\r\n") << "Edit_port"
                          << "1234567";
}

void TestMainWindow::settingsTextsLongerThanTheFieldAreKeptWhole()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, control);
    QFETCH(QString, text);
    writeFile(iniPath(), file);
    auto form = makeForm();
    QCOMPARE(form->findChild<QLineEdit *>(control)->text(), text);
    form->close();
    const QByteArray written = readFile(iniPath());
    QVERIFY2(written.contains("=" + text.toLatin1() + "\r\n"), written.constData());
}

void TestMainWindow::typingIsStillLimited_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("count") << "EditInputCount"
                           << "12345"
                           << "123";
    QTest::newRow("start") << "EditInputAddress"
                           << "1234567"
                           << "12345";
    QTest::newRow("ip") << "Edit_remoteIP"
                        << "192.168.100.2001"
                        << "192.168.100.200";
    QTest::newRow("port") << "Edit_port"
                          << "1234567"
                          << "12345";
}

void TestMainWindow::typingIsStillLimited()
{
    QFETCH(QString, control);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    auto form = makeForm();
    form->show();
    auto *edit = form->findChild<QLineEdit *>(control);
    edit->clear();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), shown);
}

void TestMainWindow::typedLetterIsDroppedButPasteIsAccepted()
{
    auto form = makeForm();
    form->show();
    auto *count = child<QLineEdit>(form.get(), "EditInputCount");
    count->clear();
    QTest::keyClicks(count, QStringLiteral("1a2"));
    QCOMPARE(count->text(), QStringLiteral("12"));
    QTest::keyClick(count, Qt::Key_Backspace);
    QCOMPARE(count->text(), QStringLiteral("1"));

    count->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("x7"));
    if (QGuiApplication::clipboard()->text() != QLatin1String("x7"))
        QSKIP("this platform has no clipboard");
    QTest::keySequence(count, QKeySequence::Paste);
    QCOMPARE(count->text(), QStringLiteral("x7"));

    auto *speed = child<QComboBox>(form.get(), "Combo_com2_speed");
    speed->setCurrentText(QString());
    QTest::keyClicks(speed->lineEdit(), QStringLiteral("96k00"));
    QCOMPARE(speed->currentText(), QStringLiteral("9600"));

    auto *unit = form->findChild<QLineEdit *>(QStringLiteral("EditAddressModbus"));
    QVERIFY(unit);
    unit->selectAll();
    QTest::keyClicks(unit, QStringLiteral("z"));
    QCOMPARE(child<QSpinBox>(form.get(), "UDmodbusAddress")->text(), QStringLiteral("1"));
}

void TestMainWindow::dotIsAcceptedInAddressButNotInPort()
{
    auto form = makeForm();
    form->show();
    auto *ip = child<QLineEdit>(form.get(), "Edit_remoteIP");
    ip->clear();
    QTest::keyClicks(ip, QStringLiteral("10.0.0.x5"));
    QCOMPARE(ip->text(), QStringLiteral("10.0.0.5"));
    auto *port = child<QLineEdit>(form.get(), "Edit_port");
    port->clear();
    QTest::keyClicks(port, QStringLiteral("5.02"));
    QCOMPARE(port->text(), QStringLiteral("502"));
}

void TestMainWindow::unfilteredFieldsTakeAnyCharacter()
{
    auto form = makeForm();
    form->show();
    auto *command = child<QLineEdit>(form.get(), "Edit_command");
    QTest::keyClicks(command, QStringLiteral("a1 .Z"));
    QCOMPARE(command->text(), QStringLiteral("a1 .Z"));
    auto *parity = child<QComboBox>(form.get(), "Combo_com2_parity");
    parity->setCurrentText(QString());
    QTest::keyClicks(parity->lineEdit(), QStringLiteral("Mark"));
    QCOMPARE(parity->currentText(), QStringLiteral("Mark"));
}

void TestMainWindow::exitAnsweredNoKeepsWindowOpen()
{
    auto form = makeForm();
    form->show();
    QSignalSpy closed(form.get(), &TForm1::closed);
    m_dialogs->dialogs.yesNoAnswers.enqueue(false);
    form->findChild<QAction *>("Exit1")->trigger();
    QCOMPARE(m_dialogs->dialogs.raised.size(), 1);
    const qvxtest::RaisedDialog &d = m_dialogs->dialogs.raised.first();
    QCOMPARE(d.kind, QStringLiteral("question"));
    QCOMPARE(d.icon, DialogIcon::Warning);
    QCOMPARE(d.caption, QStringLiteral("Exit Confirmation"));
    QCOMPARE(d.text, QStringLiteral("Are you sure you want to exit?"));
    QVERIFY(form->isVisible());
    QCOMPARE(closed.count(), 0);
    QVERIFY(!QFile::exists(iniPath()));
}

void TestMainWindow::exitAnsweredYesWritesSettingsAndCloses()
{
    auto form = makeForm();
    form->show();
    QSignalSpy closed(form.get(), &TForm1::closed);
    m_dialogs->dialogs.yesNoAnswers.enqueue(true);
    form->Exit1Click();
    QCOMPARE(closed.count(), 1);
    QVERIFY(!form->isVisible());
    IniFile ini;
    QVERIFY(ini.load(iniPath()));
    QCOMPARE(ini.keys(QStringLiteral("Modbus")).size(), 5);
}

void TestMainWindow::closingFromTitleBarDoesNotAsk()
{
    auto form = makeForm();
    form->show();
    QSignalSpy closed(form.get(), &TForm1::closed);
    form->close();
    QCOMPARE(closed.count(), 1);
    QVERIFY(m_dialogs->dialogs.raised.isEmpty());
    QVERIFY(QFile::exists(iniPath()));
}

void TestMainWindow::englishPutsHeadersBack()
{
    auto form = makeForm();
    auto *input = child<StringGrid>(form.get(), "gridInputRegisters");
    auto *registers = child<StringGrid>(form.get(), "Grid_registers");
    auto *iec = child<StringGrid>(form.get(), "gridIEC");
    QVERIFY(input);
    for (int c = 0; c < 6; ++c)
        input->setCell(c, 0, QStringLiteral("x"));
    registers->setCell(0, 0, QStringLiteral("x"));
    iec->setCell(2, 0, QStringLiteral("x"));
    child<QPushButton>(form.get(), "Butt_command_send")->setText(QStringLiteral("x"));

    QAction *english = form->findChild<QAction *>("English1");
    english->trigger();
    QVERIFY(english->isChecked());
    QCOMPARE(input->cell(0, 0), QStringLiteral("Addr. modbus"));
    QCOMPARE(input->cell(1, 0), QStringLiteral("High "));
    QCOMPARE(input->cell(2, 0), QStringLiteral("Notes/Decode "));
    QCOMPARE(input->cell(3, 0), QStringLiteral("Low "));
    QCOMPARE(input->cell(4, 0), QStringLiteral("Notes/Decode "));
    QCOMPARE(input->cell(5, 0), QStringLiteral("Time "));
    QCOMPARE(registers->cell(0, 0), QStringLiteral("No. "));
    QCOMPARE(iec->cell(0, 0), QStringLiteral("OBIS code "));
    QCOMPARE(iec->cell(1, 0), QStringLiteral("Value "));
    QCOMPARE(iec->cell(2, 0), QStringLiteral("Notes     "));
    QCOMPARE(child<QPushButton>(form.get(), "Butt_command_send")->text(), QStringLiteral("Send"));
}

void TestMainWindow::aboutIsShownWithoutBlocking()
{
    auto form = makeForm();
    TFAbout about;
    form->setAboutBox(&about);
    form->findChild<QAction *>("About1")->trigger();
    QVERIFY(about.isVisible());
    QVERIFY(!about.isModal());
    form->About1Click(); // already shown: stays as it is
    QVERIFY(about.isVisible());
    QTest::mouseClick(about.findChild<QPushButton *>("Button_close"), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void TestMainWindow::userManualOpensPdfFromProgramFolder()
{
    QStringList opened;
    setDocumentLauncher([&opened](const QString &path) { opened << path; });
    QFile pdf(m_dir->path() + QStringLiteral("/UsrMan.pdf"));
    QVERIFY(pdf.open(QIODevice::WriteOnly));
    pdf.close();
    auto form = makeForm();
    QDir::setCurrent(QDir::tempPath());
    form->findChild<QAction *>("Usermanual1")->trigger();
    QCOMPARE(opened, QStringList{m_dir->path() + QStringLiteral("/UsrMan.pdf")});
    QCOMPARE(QDir::currentPath(), QDir(m_dir->path()).canonicalPath());
    QVERIFY(m_dialogs->dialogs.raised.isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
