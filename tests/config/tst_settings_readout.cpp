// "Read settings " and the firmware query through the real window against
// the simulated QVX-24S: the lines in order, the meter tab's option boxes,
// replies lost or damaged on the line, and sequences interrupted by either
// button.
#include "common/hex.h"
#include "meters/meters_tab.h"
#include "common/window_rig.h"
#include "config/settings_readout.h"
#include "config/settings_tab.h"
#include "transport/reply_timer.h"
#include "transport/modbus.h"
#include "transport/reply_check.h"

#include <QCheckBox>
#include <QElapsedTimer>

using namespace qvx;
using qvxtest::hex;
using qvxtest::Link;
using qvxtest::WindowRig;
Q_DECLARE_METATYPE(qvxtest::Link)

namespace {

const QString Start = QStringLiteral("Reading current settings...");
// Windows long enough for a test to act inside one on a busy machine.
constexpr int SlowWindowMs = 500;

const QStringList FactoryLines = {Start,
                                  "IP: 192.168.1.100",
                                  "GATE: 192.168.1.1",
                                  "MASK: 255.255.255.0",
                                  "TCP Idle time: 120 s",
                                  "DHCP is OFF",
                                  "Auto change baud is OFF",
                                  "Real values are 32-bit integer",
                                  "Using 8-digit meter ID",
                                  "Decoding only short OBIS codes (for exmpl 1.8.0)",
                                  "Continuous read of all programmed meter",
                                  "IEC serial settings: 9600bps, Even, 7 bits",
                                  "IEC readout interval: 15 minutes"};

const QList<QByteArray> Requests = {
    hex("01 03 D8 68 00 02"), hex("01 03 D8 6A 00 02"), hex("01 03 D8 6C 00 02"), hex("01 03 D8 7A 00 02"),
    hex("01 03 00 07 00 01"), hex("01 03 80 13 00 01"), hex("01 03 00 64 00 01")};

// The meter tab's three option boxes.
QList<QCheckBox *> boxes(WindowRig &rig)
{
    MetersTab *m = rig.form->metersTab();
    return {m->check64bit(), m->check16digit(), m->checkLongObis()};
}
void setBoxes(WindowRig &rig, bool on)
{
    for (QCheckBox *b : boxes(rig))
        b->setChecked(on);
}
bool boxesAre(WindowRig &rig, bool on)
{
    for (QCheckBox *b : boxes(rig))
        if (b->isChecked() != on)
            return false;
    return true;
}
qvx::ReplyTimer &timerStatus(WindowRig &rig)
{
    return rig.form->settingsTab()->settingsReadout()->timerStatus();
}
// The seven requests went out and the last window is over.
bool sequenceOver(WindowRig &rig)
{
    return QTest::qWaitFor([&] { return rig.received.size() >= 7 && !timerStatus(rig).isEnabled(); }, 15000);
}

} // namespace

class TstSettingsReadout : public QObject {
    Q_OBJECT

private slots:
    void factoryState_data()
    {
        QTest::addColumn<Link>("link");
        QTest::newRow("tcp") << Link::Tcp;
        QTest::newRow("rtu") << Link::Rtu;
    }
    void factoryState()
    {
        QFETCH(Link, link);
        WindowRig rig({.link = link, .timeoutMs = 100});
        setBoxes(rig, true);
        QElapsedTimer clock;
        clock.start();
        rig.click("Butt_status");
        QCOMPARE(timerStatus(rig).interval(), 100);
        QVERIFY(rig.received.isEmpty()); // the first request leaves at the first expiry
        QTRY_VERIFY_WITH_TIMEOUT(!rig.received.isEmpty(), 5000);
        QVERIFY(clock.elapsed() >= 95); // coarse timers may end a window 5 % early
        QVERIFY(sequenceOver(rig));
        QVERIFY(clock.elapsed() >= 8 * 95);
        QCOMPARE(rig.log, FactoryLines);
        QCOMPARE(rig.requests(), Requests);
        QVERIFY(boxesAre(rig, false)); // flags 0x80
    }

    void changedState()
    {
        WindowRig rig({.link = Link::Tcp, .timeoutMs = 100});
        const uint16_t regs[][2] = {{55400, 0x0A01}, {55401, 0x0203}, {55402, 0x0A01}, {55403, 0x02FE},
                                    {55404, 0xFFFF}, {55405, 0xF000}, {55418, 0},      {55419, 999},
                                    {7, 0x71},       {32787, 0x48},   {100, 1440}};
        for (const auto &r : regs)
            rig.device.setHolding(r[0], r[1]);
        rig.click("Butt_status");
        QVERIFY(sequenceOver(rig));
        QCOMPARE(rig.log, (QStringList{Start, "IP: 10.1.2.3", "GATE: 10.1.2.254", "MASK: 255.255.240.0",
                                       "TCP Idle time: 0 s", "DHCP is ON", "Auto change baud is OFF",
                                       "Real values are 64-bit integer", "Using 16-digit meter ID",
                                       "Decoding Full (long) OBIS codes (for exmpl 1-1:1.8.0.0)",
                                       "Read through pre-defined period in minutes (reg. 100)",
                                       "IEC serial settings: 9600bps, Even, 8 bits",
                                       "IEC readout interval: 1440 minutes"}));
        QVERIFY(boxesAre(rig, true));
    }

    // A lost reply shows nothing for its step; a damaged flag reply shows the
    // check's message only and leaves the boxes as they were.
    void lineFaults_data()
    {
        QTest::addColumn<bool>("drop");
        QTest::addColumn<int>("reply"); // which of the seven replies is hit
        QTest::addColumn<QStringList>("lines");
        QStringList noIdle = FactoryLines;
        noIdle.removeAt(4);
        QStringList crc = FactoryLines.mid(0, 5) + QStringList{"Error in CRC field\r"} + FactoryLines.mid(11);
        QTest::newRow("idle time dropped") << true << 4 << noIdle;
        QTest::newRow("flags with a bad CRC") << false << 5 << crc;
    }
    void lineFaults()
    {
        QFETCH(bool, drop);
        QFETCH(int, reply);
        QFETCH(QStringList, lines);
        qvxsim::Faults faults;
        faults.dropReplies = drop;
        faults.corruptCrc = !drop;
        faults.every = reply;
        WindowRig rig({.link = Link::Rtu, .timeoutMs = 100, .faults = faults});
        setBoxes(rig, true);
        rig.click("Butt_status");
        QVERIFY(sequenceOver(rig));
        QCOMPARE(rig.log, lines);
        QCOMPARE(rig.requests(), Requests);
        QVERIFY(boxesAre(rig, !drop)); // decoded flags 0x80 clear them; a bad CRC keeps them
        QCOMPARE(rig.session().status(CrcStatusPanel).isEmpty(), drop);
    }

    // Pressed again inside a window: the sequence starts over at the next
    // expiry, and the interrupted step's reply is not decoded.
    void readSettingsAgainStartsOver()
    {
        WindowRig rig({.link = Link::Tcp, .timeoutMs = SlowWindowMs});
        rig.click("Butt_status");
        QTRY_COMPARE_WITH_TIMEOUT(rig.received.size(), 2, 5000); // inside the second window
        rig.click("Butt_status");
        QVERIFY(sequenceOver(rig));
        QCOMPARE(rig.log, (QStringList{Start, FactoryLines.at(1)} + FactoryLines));
        QCOMPARE(rig.requests(), Requests.mid(0, 2) + Requests);
    }

    // "Read firmware version" inside a settings sequence replaces it.
    void firmwareQueryReplacesTheSequence()
    {
        WindowRig rig({.link = Link::Tcp, .timeoutMs = SlowWindowMs});
        rig.click("Butt_status");
        QTRY_COMPARE_WITH_TIMEOUT(rig.replied.size(), 3, 5000);
        QTest::qWait(50); // the third reply reaches the tool inside its window
        rig.click("Button8");
        QTRY_VERIFY_WITH_TIMEOUT(!timerStatus(rig).isEnabled(), 5000);
        QCOMPARE(rig.log.mid(0, 4),
                 FactoryLines.mid(0, 3) + QStringList{"Reading firmware version of QVX-24S..."});
        QVERIFY(rig.log.size() == 5 && rig.log.last().endsWith(QLatin1String("qvxsim")));
        QCOMPARE(rig.requests(), Requests.mid(0, 3) + QList<QByteArray>{hex("01 2B 0E 02 00")});
    }

    void firmwareQueryWithoutReplyEndsSilently()
    {
        WindowRig rig({.link = Link::Rtu, .timeoutMs = 100, .faults = {.dropReplies = true}});
        rig.click("Button8");
        QTRY_COMPARE_WITH_TIMEOUT(rig.received.size(), 1, 5000);
        QTest::qWait(300);
        QVERIFY(!timerStatus(rig).isEnabled());
        QCOMPARE(rig.log, QStringList{"Reading firmware version of QVX-24S..."});
        QCOMPARE(rig.received.size(), 1);
    }

    // The port closes during a sequence: a reply already received is still
    // shown at the end of its window; nothing is sent or shown after it.
    void linkClosedDuringTheSequence()
    {
        WindowRig rig({.link = Link::Rtu, .timeoutMs = SlowWindowMs});
        rig.click("Butt_status");
        QTRY_COMPARE_WITH_TIMEOUT(rig.replied.size(), 2, 5000);
        QTest::qWait(50); // the second reply reaches the tool inside its window
        rig.click("Butt_open_port2");
        QTRY_VERIFY_WITH_TIMEOUT(!timerStatus(rig).isEnabled(), 15000);
        QCOMPARE(rig.requests(), Requests.mid(0, 2));
        QCOMPARE(rig.log,
                 (FactoryLines.mid(0, 2) + QStringList{"Serial port for modbus closed", FactoryLines.at(2)}));
    }

    // The window closed while the sequence runs: its tabs go after the link
    // session and nothing they hold may reach back into it.
    void windowDestroyedDuringTheSequence()
    {
        WindowRig rig({.link = Link::Tcp, .timeoutMs = SlowWindowMs});
        rig.click("Butt_status");
        QTRY_COMPARE_WITH_TIMEOUT(rig.received.size(), 2, 5000);
        rig.form.reset();
        QTest::qWait(10);
        QCOMPARE(rig.received.size(), 2);
    }
};

QTEST_MAIN(TstSettingsReadout)
#include "tst_settings_readout.moc"
