// The parts of the encodings that the window tests cannot reach easily:
// address texts, readout lines of unusual register values, short and
// damaged replies, the firmware text.
#include "common/hex.h"
#include "config/device_codec.h"
#include "transport/modbus.h"

#include <QTest>

using namespace qvx;
using qvxtest::hex;

namespace {
QByteArray readReply(const char *data)
{
    const QByteArray d = hex(data);
    return withCrc(QByteArray("\x01\x03", 2) + char(d.size()) + d);
}
} // namespace

class TstDeviceCodec : public QObject {
    Q_OBJECT

private slots:
    void parseIPv4Text()
    {
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(ParseIPv4Text("10.1.2.3")->data()), 4),
                 hex("0A010203"));
        QCOMPARE(ParseIPv4Text("0.00.010.255")->at(2), uint8_t(10));
        for (const char *bad : {"10.1.2", "1.2.3.4.5", "10.1.2.256", "10..2.3", "10.1.2.", "10.1.x.3",
                                "10.1.2. 3", "10.1.-2.3", "", "1.2.3.99999999999999999999"})
            QVERIFY2(!ParseIPv4Text(QLatin1String(bad)), bad);
    }

    void stepLines_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("IEC 0x0082") << 12 << readReply("00 82")
                                    << QStringList{"IEC serial settings: 115200bps, None, 7 bits"};
        QTest::newRow("IEC 0x0093") << 12 << readReply("00 93") << QStringList{"IEC serial settings: 7 bits"};
        QTest::newRow("IEC 0x0011") << 12 << readReply("00 11")
                                    << QStringList{"IEC serial settings: 1200bps, Odd, 7 bits"};
        QTest::newRow("idle 2^32-1 ms")
            << 10 << readReply("FF FF FF FF") << QStringList{"TCP Idle time: 4294967 s"};
        QTest::newRow("interval 0xFFFF")
            << 13 << readReply("FF FF") << QStringList{"IEC readout interval: 65535 minutes"};
        QTest::newRow("flags 0x0F: bits 1, 2 unshown")
            << 11 << readReply("00 0F")
            << QStringList{"DHCP is ON",
                           "Auto change baud is ON",
                           "Real values are 32-bit integer",
                           "Using 8-digit meter ID",
                           "Decoding only short OBIS codes (for exmpl 1.8.0)",
                           "Read through pre-defined period in minutes (reg. 100)"};
        // Fewer data bytes than a line is made of: nothing is read past them.
        QTest::newRow("short IP") << 7 << readReply("C0 A8") << QStringList{};
        QTest::newRow("count above data") << 9 << withCrc(hex("01 03 04 FF FF")) << QStringList{};
        QTest::newRow("short flags") << 11 << readReply("71") << QStringList{};
        QTest::newRow("short interval") << 13 << readReply("05") << QStringList{};
    }
    void stepLines()
    {
        QFETCH(int, step);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, lines);
        const SettingsStepResult r = decodeSettingsStep(step, reply);
        QVERIFY(r.check.pass);
        QCOMPARE(r.lines, lines);
        QCOMPARE(r.flags.has_value(), step == 11 && !lines.isEmpty());
    }

    // A reply failing its checks: the check's message only, no zero lines.
    void failedChecksGiveOnlyTheirMessage()
    {
        QByteArray badCrc = readReply("00 71 00 00");
        badCrc[badCrc.size() - 1] = char(~badCrc.back());
        for (int step = 7; step <= 13; ++step) {
            for (const QByteArray &reply : {badCrc, withCrc(hex("01 83 02"))}) {
                const SettingsStepResult r = decodeSettingsStep(step, reply);
                QVERIFY(!r.check.pass && r.lines.isEmpty() && !r.flags);
                QCOMPARE(r.check.logLines.size(), 1);
            }
        }
    }

    void firmwareText()
    {
        // Count 2, objects 0 "QVX" and 2 "2.1"; ids, lengths and count show as spaces.
        const QByteArray two = withCrc(hex("01 2B 0E 02 82 00 00 02 00 03 51 56 58 02 03 32 2E 31"));
        for (const QByteArray &reply : {two, two + QByteArray(1, '\0')})
            QCOMPARE(qvx::firmwareText(CheckReply(reply, ReplyReporting::FirmwareVersion)),
                     QStringLiteral("   QVX  2.1"));
        const QByteArray latin1 = withCrc(hex("01 2B 0E 02 82 00 00 01 00 02 E9 7F"));
        QCOMPARE(qvx::firmwareText(CheckReply(latin1)), QStringLiteral("   \u00e9\u007f"));
        QCOMPARE(qvx::firmwareText(CheckReply(withCrc(hex("01 2B 0E 02 82 00 00 00")))), QString());
    }
};

QTEST_GUILESS_MAIN(TstDeviceCodec)
#include "tst_device_codec.moc"
