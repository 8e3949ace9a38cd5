// "Read settings " and the firmware query through the real window against
// the simulated QVX-24S: the lines in order, the meter tab's option boxes,
// replies lost or damaged on the line, and sequences interrupted by either
// button.
#include "common/hex.h"
#include "config/device_codec.h"
#include "meters/meters_tab.h"
#include "sim_rig.h"

#include <QCheckBox>
#include <QElapsedTimer>

using namespace qvx;
using qvxtest::hex;
using qvxtest::Link;
using qvxtest::SimRig;

Q_DECLARE_METATYPE(qvxtest::Link)

namespace {

const QString Start = QStringLiteral("Reading current settings...");
// Windows long enough for a test to act inside one on a busy machine.
constexpr int SlowWindowMs = 500;

QStringList factoryLines()
{
    return {Start,
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
}

QList<QByteArray> sequenceRequests()
{
    QList<QByteArray> r;
    for (int step = 7; step <= 13; ++step) {
        const auto req = settingsStepRequest(step);
        r << QByteArray(1, 0x01) + pduReadHolding(req->address, req->count);
    }
    return r;
}

struct Boxes {
    QCheckBox *b64, *b16, *bLong;
    explicit Boxes(SimRig &rig)
        : b64(rig.form->metersTab()->check64bit()), b16(rig.form->metersTab()->check16digit()),
          bLong(rig.form->metersTab()->checkLongObis())
    {}
    void set(bool on)
    {
        for (QCheckBox *b : {b64, b16, bLong})
            b->setChecked(on);
    }
    bool all(bool on) const
    {
        return b64->isChecked() == on && b16->isChecked() == on && bLong->isChecked() == on;
    }
};

bool sequenceOver(SimRig &rig)
{
    return rig.readout().StatusStep > SettingsReadout::LastStep && !rig.readout().timerStatus().isEnabled();
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
        SimRig rig(link);
        QVERIFY(rig.ready());
        Boxes boxes(rig);
        boxes.set(true);
        QElapsedTimer clock;
        clock.start();
        rig.click("Butt_status");
        QCOMPARE(rig.readout().StatusStep, uint8_t(6));
        QCOMPARE(rig.readout().timerStatus().interval(), 100);
        // No request before the first expiry.
        QVERIFY(rig.received.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.received.isEmpty(), 5000);
        QVERIFY(clock.elapsed() >= 95);
        QTRY_VERIFY_WITH_TIMEOUT(sequenceOver(rig), 15000);
        // Eight windows of the time-out field (coarse timers may end each up to 5 % early).
        QVERIFY(clock.elapsed() >= 8 * 95);
        QCOMPARE(rig.log, factoryLines());
        QCOMPARE(rig.requestPdus(), sequenceRequests());
        // Flags 0x80: the three boxes are cleared.
        QVERIFY(boxes.all(false));
        QVERIFY(!rig.session().WritePending);
    }

    void changedState()
    {
        SimRig rig(Link::Tcp);
        QVERIFY(rig.ready());
        const uint16_t net[] = {0x0A01, 0x0203, 0x0A01, 0x02FE, 0xFFFF, 0xF000};
        for (int i = 0; i < 6; ++i)
            rig.device.setHolding(DeviceRegister::IpAddress + i, net[i]);
        rig.device.setHolding(DeviceRegister::TcpIdle, 0);
        rig.device.setHolding(DeviceRegister::TcpIdle + 1, 999);
        rig.device.setHolding(DeviceRegister::Flags, 0x71);
        rig.device.setHolding(DeviceRegister::IecLine, 0x48);
        rig.device.setHolding(DeviceRegister::ReadoutMinutes, 1440);
        Boxes boxes(rig);
        rig.click("Butt_status");
        QTRY_VERIFY_WITH_TIMEOUT(sequenceOver(rig), 15000);
        QCOMPARE(rig.log, (QStringList{Start, "IP: 10.1.2.3", "GATE: 10.1.2.254", "MASK: 255.255.240.0",
                                       "TCP Idle time: 0 s", "DHCP is ON", "Auto change baud is OFF",
                                       "Real values are 64-bit integer", "Using 16-digit meter ID",
                                       "Decoding Full (long) OBIS codes (for exmpl 1-1:1.8.0.0)",
                                       "Read through pre-defined period in minutes (reg. 100)",
                                       "IEC serial settings: 9600bps, Even, 8 bits",
                                       "IEC readout interval: 1440 minutes"}));
        QVERIFY(boxes.all(true));
    }

    // A lost reply shows nothing for its step; the sequence goes on.
    void droppedReplyInTheMiddle()
    {
        SimRig rig(Link::Rtu);
        QVERIFY(rig.ready());
        qvxsim::Faults drop;
        drop.dropReplies = true;
        drop.every = 4; // the fourth reply of seven: the TCP idle time
        rig.pty->server().setFaults(drop);
        rig.click("Butt_status");
        QTRY_VERIFY_WITH_TIMEOUT(sequenceOver(rig), 15000);
        QStringList expected = factoryLines();
        expected.removeAll(QStringLiteral("TCP Idle time: 120 s"));
        QCOMPARE(rig.log, expected);
        QCOMPARE(rig.requestPdus(), sequenceRequests());
    }

    // A damaged flag reply: the check's message only, the boxes as they were.
    void crcFaultAtTheFlags()
    {
        SimRig rig(Link::Rtu);
        QVERIFY(rig.ready());
        qvxsim::Faults crc;
        crc.corruptCrc = true;
        crc.every = 5; // the reply to the read of register 7
        rig.pty->server().setFaults(crc);
        Boxes boxes(rig);
        boxes.set(true);
        rig.click("Butt_status");
        QTRY_VERIFY_WITH_TIMEOUT(sequenceOver(rig), 15000);
        QStringList expected = factoryLines().mid(0, 5);
        expected << "Error in CRC field\r" << factoryLines().mid(11);
        QCOMPARE(rig.log, expected);
        QVERIFY(boxes.all(true));
        QCOMPARE(rig.session().status(CrcStatusPanel), CrcStatusText);
    }

    // Pressed again inside a window: the sequence starts over at the next
    // expiry, and the interrupted step's reply is not decoded.
    void readSettingsAgainStartsOver()
    {
        SimRig rig(Link::Tcp, SlowWindowMs);
        QVERIFY(rig.ready());
        rig.click("Butt_status");
        QTRY_VERIFY_WITH_TIMEOUT(rig.readout().StatusStep == 8, 5000);
        rig.click("Butt_status");
        QCOMPARE(rig.readout().StatusStep, uint8_t(6));
        QTRY_VERIFY_WITH_TIMEOUT(sequenceOver(rig), 15000);
        QCOMPARE(rig.log, (QStringList{Start, "IP: 192.168.1.100"} + factoryLines()));
        QCOMPARE(rig.requestPdus(), sequenceRequests().mid(0, 2) + sequenceRequests());
    }

    // "Read firmware version" inside a settings sequence replaces it.
    void firmwareQueryReplacesTheSequence()
    {
        SimRig rig(Link::Tcp, SlowWindowMs);
        QVERIFY(rig.ready());
        rig.click("Butt_status");
        // Wait for the reply to the third request (the mask), then ask.
        QTRY_VERIFY_WITH_TIMEOUT(rig.received.size() == 3 && !rig.session().TcpRxBuffer.isEmpty(), 5000);
        rig.click("Button8");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.readout().timerStatus().isEnabled(), 5000);
        QTest::qWait(300);
        QCOMPARE(rig.readout().StatusStep, uint8_t(5));
        QCOMPARE(rig.log.mid(0, 4), (QStringList{Start, "IP: 192.168.1.100", "GATE: 192.168.1.1",
                                                 "Reading firmware version of QVX-24S..."}));
        QCOMPARE(rig.log.size(), 5);
        QVERIFY(rig.log.last().endsWith(QLatin1String("qvxsim")));
        QCOMPARE(rig.requestPdus().size(), 4);
        QCOMPARE(rig.requestPdus().last(), hex("01 2B 0E 02 00"));
    }

    void firmwareQueryWithoutReplyEndsSilently()
    {
        SimRig rig(Link::Rtu);
        QVERIFY(rig.ready());
        qvxsim::Faults drop;
        drop.dropReplies = true;
        rig.pty->server().setFaults(drop);
        rig.click("Button8");
        QTRY_VERIFY_WITH_TIMEOUT(rig.readout().StatusStep == 6, 5000);
        QTest::qWait(300);
        QVERIFY(!rig.readout().timerStatus().isEnabled());
        QCOMPARE(rig.log, QStringList{"Reading firmware version of QVX-24S..."});
        QCOMPARE(rig.requestPdus().size(), 1);
    }

    // The link goes away during a sequence: the remaining windows send and
    // show nothing, and the sequence runs out.
    void linkClosedDuringTheSequence()
    {
        SimRig rig(Link::Rtu, SlowWindowMs);
        QVERIFY(rig.ready());
        rig.click("Butt_status");
        // The gateway's reply has arrived when the port closes: it is still
        // shown at the end of its window; nothing follows it.
        QTRY_VERIFY_WITH_TIMEOUT(rig.readout().StatusStep == 8 && !rig.session().RxBuffer.isEmpty(), 5000);
        rig.click("Butt_open_port2"); // closes the port
        QVERIFY(!rig.session().SerialPortOpen);
        QTRY_VERIFY_WITH_TIMEOUT(sequenceOver(rig), 15000);
        QCOMPARE(rig.requestPdus(), sequenceRequests().mid(0, 2));
        QCOMPARE(rig.log, (QStringList{Start, "IP: 192.168.1.100", "Serial port for modbus closed",
                                       "GATE: 192.168.1.1"}));
    }

    void noLinkStartsNothing()
    {
        SimRig rig(Link::Rtu);
        rig.click("Butt_open_port2");
        rig.log.clear();
        rig.click("Butt_status");
        QCOMPARE(rig.log, QStringList{"Serial or TCP port for modbus is not open..."});
        QVERIFY(!rig.readout().timerStatus().isEnabled());
    }
};

QTEST_MAIN(TstSettingsReadout)
#include "tst_settings_readout.moc"
