// The custom command line and "Save log", driven through the console's
// controls, with the test at the far end of a real pseudo-terminal.
#include "common/hex.h"
#include "common/pty_pair.h"
#include "common/scripted_dialogs.h"
#include "common/serial_fixture.h"
#include "app/tform1.h"
#include "app/typing_limit.h"
#include "config/register_browser.h"
#include "console/console_panel.h"
#include "console/log_view.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"
#include "transport/session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qvx;
using qvxtest::hex;

namespace {

// Long enough for a reply to arrive on a busy machine before the window ends.
constexpr int WindowMs = 3000;
constexpr int WaitMs = 15000;

struct Rig {
    qvxtest::PtyPair pty;
    qvxtest::ScopedDialogs scripted;
    QTemporaryDir programDir;
    Session session;
    RegisterBrowser browser{session};
    ConsolePanel console;
    QSignalSpy windowEnds{&console.timerFreeCommand(), &ReplyTimer::timeout};

    Rig()
    {
        session.ProgramDir = programDir.path() + QLatin1Char('/');
        QObject::connect(&session, &Session::logLine, console.log(), &LogView::appendLine);
        console.attach(session, browser);
        Comm2::LineSettings line;
        line.parity = QSerialPort::NoParity; // a pty refuses even parity
        qvxtest::openOnPty(session, pty, line);
        setTimeout(WindowMs);
    }

    void setTimeout(int ms)
    {
        browser.findChild<QSpinBox *>(QStringLiteral("UD_modbusTimeout"))->setValue(ms);
    }
    QCheckBox *ascii() { return console.checkAscii(); }
    QCheckBox *hexBox() { return console.checkHex(); }
    void send(const QString &text)
    {
        console.command()->setText(text);
        console.sendButton()->click();
    }
    QStringList log() const { return console.log()->lines(); }
    bool windowOpen() { return console.timerFreeCommand().isEnabled(); }
    // Nothing (more) reaches the far end for a while.
    bool lineStaysQuiet() { return pty.read(1, 300).isEmpty(); }
    bool waitForWindowEnd() { return windowEnds.count() > 0 || windowEnds.wait(WaitMs); }
};

QString respond(const QByteArray &bytes)
{
    return QStringLiteral("Respond:") + hexBytes(bytes);
}

} // namespace

class TestCustomCommand : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> rig;

private slots:
    void init()
    {
        rig = std::make_unique<Rig>();
        QVERIFY(rig->pty.isValid());
        QVERIFY(rig->session.comm2().isOpen());
    }
    void cleanup() { rig.reset(); }

    void startsInHexModeWithATypingLimit()
    {
        QVERIFY(rig->hexBox()->isChecked());
        QVERIFY(!rig->ascii()->isChecked());
        QCOMPARE(typingLimit(rig->console.command()), 250);
        // The limit is on typing only.
        rig->console.command()->setText(QString(300, u'0'));
        QCOMPARE(rig->console.command()->text().size(), 300);
    }

    void hexCommandPutsExactlyItsBytesOnTheLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("eight groups") << "01 03 00 00 00 0A C5 CD" << hex("01 03 00 00 00 0A C5 CD");
        QTest::newRow("one-character groups") << "1 3" << hex("01 03");
        QTest::newRow("one long group") << "0103" << hex("01");
        QTest::newRow("surrounded by spaces") << "  01   03  " << hex("01 03");
        QTest::newRow("one character and a space") << "5 " << hex("05");
    }
    void hexCommandPutsExactlyItsBytesOnTheLine()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        Rig &r = *rig;
        r.send(text);
        QCOMPARE(r.pty.read(bytes.size()), bytes);
        QVERIFY(r.lineStaysQuiet());
        QVERIFY(r.windowOpen());
        QCOMPARE(r.log(), QStringList()); // no "sent" line
    }

    void asciiModeSendsTheTextAsTyped()
    {
        Rig &r = *rig;
        r.ascii()->click();
        r.send(QStringLiteral("a1 \u00b5"));
        QCOMPARE(r.pty.read(4), QByteArray("a1 \xb5"));
        QVERIFY(r.lineStaysQuiet());
        QVERIFY(r.windowOpen());
    }

    void refusedCommandsSendNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<int>("errorBoxes");
        QTest::newRow("lower case") << "a1" << QStringList{"Wrong custom hex command, 0..F uppercase allowed"}
                                    << 0;
        QTest::newRow("one character")
            << "5" << QStringList{"Wrong custom hex command, 2 symbols at least..."} << 0;
        QTest::newRow("colon after a good group") << "01 3: 02" << QStringList() << 1;
        QTest::newRow("empty") << "" << QStringList() << 0;
    }
    void refusedCommandsSendNothing()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, log);
        QFETCH(int, errorBoxes);
        Rig &r = *rig;
        r.send(text);
        QCOMPARE(r.log(), log);
        QCOMPARE(r.scripted.dialogs.raised.size(), errorBoxes);
        if (errorBoxes)
            QCOMPARE(r.scripted.dialogs.raised.at(0).icon, DialogIcon::Error);
        QVERIFY(r.lineStaysQuiet());
        QVERIFY(!r.windowOpen());
    }

    void fullOutputQueueEndsTheSendWithItsErrorBox_data()
    {
        QTest::addColumn<bool>("ascii");
        QTest::newRow("hex") << false;
        QTest::newRow("ascii") << true;
    }
    void fullOutputQueueEndsTheSendWithItsErrorBox()
    {
        QFETCH(bool, ascii);
        Rig &r = *rig;
        if (ascii)
            r.ascii()->click();
        QVERIFY(qvxtest::fillOutputQueue(r.session.comm2()));
        r.send(QString(250, u'A'));
        QCOMPARE(r.scripted.dialogs.raised.size(), 1);
        QCOMPARE(r.scripted.dialogs.raised.at(0).text,
                 QStringLiteral("Output buffer is full. Please check comm status."));
        QVERIFY(!r.windowOpen());
    }

    void closedSerialPortRefusesEvenWithTcp_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("no link") << false;
        QTest::newRow("only TCP") << true;
    }
    void closedSerialPortRefusesEvenWithTcp()
    {
        QFETCH(bool, tcp);
        Rig &r = *rig;
        r.session.comm2().close();
        r.session.SerialPortOpen = false;
        if (tcp)
            r.session.TransportMode = TransportModeKind::Tcp;
        r.send(QStringLiteral("01 03"));
        QCOMPARE(r.log(), QStringList{"Serial port is not opened"});
        QVERIFY(!r.windowOpen());
    }

    void replyIsLoggedWhenTheWindowEnds()
    {
        Rig &r = *rig;
        const QByteArray request = withCrc(hex("01 03 00 00 00 01"));
        const QByteArray reply = withCrc(hex("01 03 02 00 0A"));
        QElapsedTimer sinceSend;
        sinceSend.start();
        r.send(hexBytes(request));
        QCOMPARE(r.pty.read(request.size()), request);
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.waitForWindowEnd());
        // Qt's coarse timers may fire up to 5 % early.
        QVERIFY(sinceSend.elapsed() >= WindowMs * 95 / 100);
        QCOMPARE(r.log(), QStringList{respond(reply)});
        QVERIFY(r.log().at(0).endsWith(QLatin1Char(' ')));
    }

    void noReplyGivesRespondAlone()
    {
        Rig &r = *rig;
        r.setTimeout(50);
        r.send(QStringLiteral("01 02"));
        QVERIFY(r.waitForWindowEnd());
        QCOMPARE(r.log(), QStringList{"Respond:"});
    }

    void slowReplyIsSplitAndTheRestWaitsForTheNextSend()
    {
        Rig &r = *rig;
        r.setTimeout(50);
        r.send(QStringLiteral("01 02"));
        QCOMPARE(r.pty.read(2), hex("01 02"));
        QVERIFY(r.pty.write(hex("01 03")));
        QTRY_COMPARE_WITH_TIMEOUT(r.session.RxBuffer, hex("01 03"), WaitMs);
        QVERIFY(r.waitForWindowEnd());
        QCOMPARE(r.log(), QStringList{respond(hex("01 03"))});
        QVERIFY(r.pty.write(hex("02 00 0A")));
        QTRY_COMPARE_WITH_TIMEOUT(r.session.RxBuffer, hex("01 03 02 00 0A"), WaitMs);
        r.send(QStringLiteral("03"));
        QVERIFY(r.session.RxBuffer.isEmpty());
    }

    void secondSendInsideTheWindowGetsTheOneRespondLine()
    {
        Rig &r = *rig;
        r.send(QStringLiteral("01 02"));
        QCOMPARE(r.pty.read(2), hex("01 02"));
        QVERIFY(r.pty.write(hex("AA")));
        QTRY_COMPARE_WITH_TIMEOUT(r.session.RxBuffer, hex("AA"), WaitMs);
        r.send(QStringLiteral("03 04"));
        QCOMPARE(r.pty.read(2), hex("03 04"));
        QVERIFY(r.pty.write(hex("BB")));
        QVERIFY(r.waitForWindowEnd());
        QCOMPARE(r.log(), QStringList{respond(hex("BB"))});
    }

    void writeStartedInsideTheWindowListsRegisterPairs()
    {
        Rig &r = *rig;
        const QByteArray reply = withCrc(hex("01 03 02 00 0A"));
        r.send(QStringLiteral("01 03 00 00 00 01 84 0A"));
        QCOMPARE(r.pty.read(8).size(), 8);
        // What a device write started now does: its reply is only logged.
        r.session.WritePending = true;
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.waitForWindowEnd());
        QCOMPARE(r.log(), (QStringList{respond(reply), "Modbus 1 -> Mbus 0", "Modbus 2 -> Mbus 10"}));
        QVERIFY(!r.session.WritePending);
    }

    void writePendingWithABadReplyLogsTheCheck()
    {
        Rig &r = *rig;
        r.send(QStringLiteral("01"));
        QCOMPARE(r.pty.read(1), hex("01"));
        r.session.WritePending = true;
        QVERIFY(r.pty.write(hex("01 03 02 00 0A 00 01")));
        QVERIFY(r.waitForWindowEnd());
        QCOMPARE(r.log(), (QStringList{respond(hex("01 03 02 00 0A 00 01")), "Error in CRC field\r"}));
        QCOMPARE(r.session.status(2), QStringLiteral("Error in CRC field"));
        QVERIFY(!r.session.WritePending);
    }

    void portClosedDuringTheWindowEndsWithoutALine()
    {
        Rig &r = *rig;
        r.setTimeout(200);
        r.send(QStringLiteral("01"));
        r.session.comm2().close();
        r.session.SerialPortOpen = false;
        QVERIFY(r.waitForWindowEnd());
        QCOMPARE(r.log(), QStringList());
    }

    void exactlyOneModeBoxIsChecked()
    {
        Rig &r = *rig;
        r.ascii()->click();
        QVERIFY(r.ascii()->isChecked() && !r.hexBox()->isChecked());
        r.ascii()->click(); // clicking the checked box moves the check
        QVERIFY(!r.ascii()->isChecked() && r.hexBox()->isChecked());
        r.hexBox()->click();
        QVERIFY(r.ascii()->isChecked() && !r.hexBox()->isChecked());
        r.hexBox()->click();
        QVERIFY(!r.ascii()->isChecked() && r.hexBox()->isChecked());
    }

    void saveLogWritesLatin1LinesWithCrLf()
    {
        Rig &r = *rig;
        QVERIFY(QDir(r.programDir.path()).mkdir(QStringLiteral("files")));
        const QString path = r.programDir.path() + QStringLiteral("/files/log.txt");
        QCOMPARE(r.console.logFilePath(), path);
        r.console.log()->appendLine(QStringLiteral("Respond:01 03 "));
        r.console.log()->appendLine(QStringLiteral("Z\u00e4hler"));
        r.console.saveLogButton()->click();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("Respond:01 03 \r\nZ\xe4hler\r\n"));
        file.close();

        // A second save replaces the first.
        r.console.clearLogButton()->click();
        r.console.log()->appendLine(QStringLiteral("x"));
        r.console.saveLogButton()->click();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("x\r\n"));
        QCOMPARE(r.log(), QStringList{"x"});
    }

    void theMainWindowWiresTheConsoleToItsSerialLink()
    {
        // The window's own session, opened on the pty through "Connect to port".
        rig.reset();
        qvxtest::PtyPair pty;
        qvxtest::ScopedDialogs scripted;
        QTemporaryDir dir;
        TForm1 form(dir.path());
        form.findChild<QComboBox *>(QStringLiteral("Combo_com2_name"))->setCurrentText(pty.slavePath());
        form.findChild<QComboBox *>(QStringLiteral("Combo_com2_parity"))
            ->setCurrentText(QStringLiteral("None"));
        form.findChild<QPushButton *>(QStringLiteral("Butt_open_port2"))->click();
        auto *log = form.findChild<LogView *>(QStringLiteral("Memo_current"));
        QVERIFY(log->lineCount() > 0); // the port's opening line
        log->clear();
        form.findChild<QLineEdit *>(QStringLiteral("Edit_command"))->setText(QStringLiteral("01 03"));
        form.findChild<QPushButton *>(QStringLiteral("Butt_command_send"))->click();
        QCOMPARE(pty.read(2), hex("01 03"));
        QVERIFY(pty.write(hex("AA")));
        QTRY_COMPARE_WITH_TIMEOUT(log->lines(), QStringList{"Respond:AA "}, WaitMs);

        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("files")));
        form.findChild<QPushButton *>(QStringLiteral("BitBtn6"))->click();
        QFile file(dir.path() + QStringLiteral("/files/log.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("Respond:AA \r\n"));
        QVERIFY(scripted.dialogs.raised.isEmpty());
    }

    void saveLogWithoutTheFilesFolderSaysSo()
    {
        Rig &r = *rig;
        r.console.log()->appendLine(QStringLiteral("x"));
        r.console.saveLogButton()->click();
        QCOMPARE(r.log(), (QStringList{"x", "Can not write file, no rights..."}));
        QVERIFY(!QDir(r.programDir.path() + QStringLiteral("/files")).exists());
        QVERIFY(r.scripted.dialogs.raised.isEmpty());
    }
};

QTEST_MAIN(TestCustomCommand)
#include "tst_custom_command.moc"
