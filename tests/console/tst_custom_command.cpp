// The custom command and "Save log" through the console's controls, with the
// test at the far end of a real pseudo-terminal.
#include "common/hex.h"
#include "common/pty_pair.h"
#include "common/serial_fixture.h"
#include "common/window_rig.h"
#include "widgets/typing_limit.h"
#include "console/console_panel.h"
#include "console/log_view.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>

using namespace qvx;
using qvxtest::hex;

namespace {

// Long enough for a reply to arrive on a busy machine before the window ends.
constexpr int WindowMs = 3000;
constexpr int WaitMs = 15000;

// The console in the main window, whose serial port is the terminal side of a
// fresh pty pair; the test is the device on the peer side.
struct Rig : qvxtest::WindowRig {
    qvxtest::PtyPair pty;
    ConsolePanel &console = *form->console();
    QSignalSpy windowEnds{&console.timerFreeCommand(), &ReplyTimer::timeout};
    QTcpServer gateway;

    Rig()
    {
        setText("Combo_com2_parity", QStringLiteral("None")); // a pty refuses even parity
        openPort(pty.slavePath());
        setTimeout(WindowMs);
        console.log()->clear();
    }
    void setTimeout(int ms) { child<QSpinBox>("UD_modbusTimeout")->setValue(ms); }
    void send(const QString &text)
    {
        console.command()->setText(text);
        console.sendButton()->click();
    }
    // The log as the operator sees it.
    QStringList lines() const { return console.log()->lines(); }
    bool windowOpen() { return console.timerFreeCommand().isEnabled(); }
    bool lineStaysQuiet() { return pty.read(1, 300).isEmpty(); }
    bool waitForWindowEnd() { return windowEnds.count() > 0 || windowEnds.wait(WaitMs); }
    // Closes the serial port, and connects to a TCP gateway instead.
    bool closePort(bool thenTcp)
    {
        click("Butt_open_port2");
        const bool ok = !thenTcp || (gateway.listen(QHostAddress::LocalHost) && connectTcp(gateway.serverPort()));
        console.log()->clear();
        return ok && !portOpen();
    }
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
        QVERIFY(rig->portOpen());
    }
    void cleanup() { rig.reset(); }

    void commandPutsExactlyItsBytesOnTheLine_data()
    {
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("eight groups") << false << "01 03 00 00 00 0A C5 CD" << hex("01 03 00 00 00 0A C5 CD");
        QTest::newRow("one-character groups") << false << "1 3" << hex("01 03");
        QTest::newRow("one long group") << false << "0103" << hex("01");
        QTest::newRow("runs of spaces") << false << "  01   03  " << hex("01 03");
        QTest::newRow("one character and a space") << false << "5 " << hex("05");
        QTest::newRow("ascii") << true << QStringLiteral("a1 \u00b5") << QByteArray("a1 \xb5");
    }
    void commandPutsExactlyItsBytesOnTheLine()
    {
        QFETCH(bool, ascii);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        Rig &r = *rig;
        if (ascii)
            r.console.checkAscii()->click();
        r.send(text);
        QCOMPARE(r.pty.read(bytes.size()), bytes);
        QVERIFY(r.lineStaysQuiet());
        QVERIFY(r.windowOpen());
        QCOMPARE(r.lines(), QStringList()); // no "sent" line
    }

    void refusedCommandsSendNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("link"); // 0 serial, 1 none, 2 only TCP
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<int>("errorBoxes");
        const QStringList closed{"Serial port is not opened"};
        QTest::newRow("lower case") << "a1" << 0
                                    << QStringList{"Wrong custom hex command, 0..F uppercase allowed"} << 0;
        QTest::newRow("one character")
            << "5" << 0 << QStringList{"Wrong custom hex command, 2 symbols at least..."} << 0;
        QTest::newRow("colon after a good group") << "01 3: 02" << 0 << QStringList() << 1;
        QTest::newRow("empty") << "" << 0 << QStringList() << 0;
        QTest::newRow("port closed") << "01" << 1 << closed << 0;
        QTest::newRow("only TCP") << "01" << 2 << closed << 0;
    }
    void refusedCommandsSendNothing()
    {
        QFETCH(QString, text);
        QFETCH(int, link);
        QFETCH(QStringList, log);
        QFETCH(int, errorBoxes);
        Rig &r = *rig;
        if (link)
            QVERIFY(r.closePort(link == 2));
        r.send(text);
        QCOMPARE(r.lines(), log);
        QCOMPARE(r.dialogs.dialogs.raised.size(), errorBoxes);
        QVERIFY(r.lineStaysQuiet());
        QVERIFY(!r.windowOpen());
    }

    void fullOutputQueueInAsciiModeShowsItsErrorBox()
    {
        Rig &r = *rig;
        r.console.checkAscii()->click();
        QVERIFY(qvxtest::fillOutputQueue(r.session().comm2()));
        r.send(QString(250, u'A'));
        QCOMPARE(r.dialogs.dialogs.raised.size(), 1);
        QCOMPARE(r.dialogs.dialogs.raised.at(0).text,
                 QStringLiteral("Output buffer is full. Please check comm status."));
        QVERIFY(!r.windowOpen());
    }

    void slowReplyIsSplitAndTheRestWaitsForTheNextSend()
    {
        Rig &r = *rig;
        r.setTimeout(50);
        r.send(QStringLiteral("01 02"));
        QCOMPARE(r.pty.read(2), hex("01 02"));
        QVERIFY(r.pty.write(hex("01 03")));
        QVERIFY(r.waitForWindowEnd());
        QVERIFY(r.pty.write(hex("02")));
        QTest::qWait(300); // the rest arrives after the window
        QCOMPARE(r.lines(), QStringList{respond(hex("01 03"))});
        r.send(QStringLiteral("03"));
        QCOMPARE(r.pty.read(1), hex("03"));
        QVERIFY(r.windowEnds.wait(WaitMs));
        QCOMPARE(r.lines().last(), respond({})); // the send dropped the rest
    }

    void replyIsLoggedAndAWriteStartedMeanwhileListsItsPairs()
    {
        Rig &r = *rig;
        const QByteArray reply = withCrc(hex("01 03 02 00 0A"));
        QElapsedTimer sinceSend;
        sinceSend.start();
        r.send(QStringLiteral("01 03 00 00 00 01 84 0A"));
        QCOMPARE(r.pty.read(8).size(), 8);
        r.session().WritePending = true; // as a device write started now sets it
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.waitForWindowEnd());
        QVERIFY(sinceSend.elapsed() >= WindowMs * 95 / 100); // coarse timers may fire 5 % early
        QCOMPARE(r.lines(), (QStringList{respond(reply), "Modbus 1 -> Mbus 0", "Modbus 2 -> Mbus 10"}));
        // The write ended with that window: a later reply is only shown.
        r.setTimeout(500);
        r.console.checkAscii()->click(); // a text send leaves a pending write as it is
        r.send(QStringLiteral("x"));
        QCOMPARE(r.pty.read(1), QByteArray("x"));
        QVERIFY(r.pty.write(reply));
        QVERIFY(r.windowEnds.wait(WaitMs));
        QCOMPARE(r.lines().mid(3), QStringList{respond(reply)});
    }

    void exactlyOneModeBoxIsChecked()
    {
        QCheckBox *ascii = rig->console.checkAscii();
        QCheckBox *hexBox = rig->console.checkHex();
        QVERIFY(hexBox->isChecked() && !ascii->isChecked());
        for (QCheckBox *clicked : {ascii, ascii, hexBox, hexBox}) {
            const bool asciiBefore = ascii->isChecked();
            clicked->click();
            QCOMPARE(ascii->isChecked(), !asciiBefore);
            QCOMPARE(hexBox->isChecked(), asciiBefore);
        }
        QCOMPARE(typingLimit(rig->console.command()), 250);
    }

    void saveLogWritesLatin1CrLfAndNeedsTheFilesFolder()
    {
        Rig &r = *rig;
        r.console.log()->appendLine(QStringLiteral("x"));
        r.console.saveLogButton()->click();
        QCOMPARE(r.lines(), (QStringList{"x", "Can not write file, no rights..."}));
        QVERIFY(!QDir(r.dir.path() + QStringLiteral("/files")).exists());

        QVERIFY(QDir(r.dir.path()).mkdir(QStringLiteral("files")));
        QFile file(r.dir.path() + QStringLiteral("/files/log.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("an older, longer log") > 0);
        file.close();
        r.console.clearLogButton()->click();
        r.console.log()->appendLine(QStringLiteral("Respond:01 03 "));
        r.console.log()->appendLine(QStringLiteral("Z\u00e4hler"));
        r.console.saveLogButton()->click();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("Respond:01 03 \r\nZ\xe4hler\r\n"));
        QVERIFY(r.dialogs.dialogs.raised.isEmpty());
    }

    void theMainWindowWiresTheConsoleToItsSerialLink()
    {
        Rig &r = *rig;
        auto *log = r.child<LogView>("Memo_current");
        r.setText("Edit_command", QStringLiteral("01 03"));
        r.click("Butt_command_send");
        QCOMPARE(r.pty.read(2), hex("01 03"));
        QVERIFY(r.pty.write(hex("AA")));
        QTRY_COMPARE_WITH_TIMEOUT(log->lines(), QStringList{"Respond:AA "}, WaitMs);
    }
};

QTEST_MAIN(TestCustomCommand)
#include "tst_custom_command.moc"
