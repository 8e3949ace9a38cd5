// The configuration registers' encodings and the settings readout's lines,
// as plain functions: every worked example byte for byte.
#include "common/hex.h"
#include "config/device_codec.h"
#include "transport/modbus.h"

#include <QTest>

using namespace qvx;
using qvxtest::hex;

namespace {

// A read reply from unit 1 carrying the given data bytes, with its CRC.
QByteArray readReply(const char *data)
{
    const QByteArray d = hex(data);
    return withCrc(QByteArray("\x01\x03", 2) + char(d.size()) + d);
}

} // namespace

class TstDeviceCodec : public QObject {
    Q_OBJECT

private slots:
    void parseIPv4Text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("octets"); // empty: fails
        QTest::newRow("10.1.2.3") << "10.1.2.3" << hex("0A 01 02 03");
        QTest::newRow("all 255") << "255.255.255.255" << hex("FF FF FF FF");
        QTest::newRow("zeros, leading zeros") << "0.00.010.0" << hex("00 00 0A 00");
        QTest::newRow("two dots") << "10.1.2" << QByteArray();
        QTest::newRow("four dots") << "1.2.3.4.5" << QByteArray();
        QTest::newRow("field above 255") << "10.1.2.256" << QByteArray();
        QTest::newRow("empty field") << "10..2.3" << QByteArray();
        QTest::newRow("trailing dot") << "10.1.2." << QByteArray();
        QTest::newRow("not a number") << "10.1.x.3" << QByteArray();
        QTest::newRow("space") << "10.1.2. 3" << QByteArray();
        QTest::newRow("negative") << "10.1.-2.3" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("huge field") << "1.2.3.99999999999999999999" << QByteArray();
    }
    void parseIPv4Text()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, octets);
        const auto r = ParseIPv4Text(text);
        QCOMPARE(r.has_value(), !octets.isEmpty());
        if (r)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(r->data()), 4), octets);
    }

    void lineCodes()
    {
        const QStringList bauds = {"300",   "1200",  "2400",  "4800",  "9600",
                                   "19200", "38400", "57600", "115200"};
        QCOMPARE(baudRateTexts(), bauds);
        for (int i = 0; i < bauds.size(); ++i)
            QCOMPARE(baudRateCode(bauds.at(i)), i);
        for (const char *bad : {"28800", "9600 ", " 9600", "", "96OO"})
            QCOMPARE(baudRateCode(QLatin1String(bad)), -1);
        QCOMPARE(parityCode("Even"), 0);
        QCOMPARE(parityCode("Odd"), 1);
        QCOMPARE(parityCode("None"), 2);
        for (const char *bad : {"even", "NONE", "", "Mark"})
            QCOMPARE(parityCode(QLatin1String(bad)), -1);
        QCOMPARE(lineSettingsByte(4, 0), uint8_t(0x40));
        QCOMPARE(lineSettingsByte(8, 2), uint8_t(0x82));
    }

    void flagCommands_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("set");
        QTest::addColumn<int>("cleared");
        QTest::newRow("Reset") << "Reset" << 0x91 << 0x11;
        QTest::newRow("DHCP") << "Set DHCP On/Off" << 0x81 << 0x01;
        QTest::newRow("Continues Read") << "Continues Read" << 0x88 << 0x08;
        QTest::newRow("baud after ACK") << "Change baud after ACK" << 0x84 << 0x04;
        QTest::newRow("16-digit") << "Use 16-digit ID" << 0x86 << 0x06;
        QTest::newRow("long OBIS") << "Decode long OBIS" << 0x87 << 0x07;
        QTest::newRow("64-bit") << "Save values in 64-bit integer" << 0x85 << 0x05;
    }
    void flagCommands()
    {
        QFETCH(QString, item);
        QFETCH(int, set);
        QFETCH(int, cleared);
        const int n = flagNumber(item);
        QCOMPARE(flagCommandValue(n, true), uint8_t(set));
        QCOMPARE(flagCommandValue(n, false), uint8_t(cleared));
    }
    void flagItemsInListOrder()
    {
        QCOMPARE(flagItems(),
                 (QStringList{"Reset", "Set DHCP On/Off", "Continues Read", "Change baud after ACK",
                              "Use 16-digit ID", "Decode long OBIS", "Save values in 64-bit integer"}));
        QCOMPARE(flagNumber(""), -1);
        QCOMPARE(flagNumber("reset"), -1);
    }

    // The requests the commands send, byte for byte.
    void commandFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("Set Baud RTU 9600 Even")
            << rtuFrame(1, pduWriteSingle(DeviceRegister::RtuLine, 0,
                                          lineSettingsByte(baudRateCode("9600"), parityCode("Even"))))
            << hex("01 06 80 12 00 40 01 FF");
        QTest::newRow("Set Baud for IEC 115200 None")
            << pduWriteSingle(DeviceRegister::IecLine, 0,
                              lineSettingsByte(baudRateCode("115200"), parityCode("None")))
            << hex("06 80 13 00 82");
        QTest::newRow("Decode long OBIS, set")
            << rtuFrame(1, pduWriteSingle(DeviceRegister::Flags, 0, flagCommandValue(7, true)))
            << hex("01 06 00 07 00 87 78 69");
        QTest::newRow("Set Readout time 1440")
            << rtuFrame(1, pduWriteSingle(DeviceRegister::ReadoutMinutes, 0x05, 0xA0))
            << hex("01 06 00 64 05 A0 CB 3D");
        const auto ip = ParseIPv4Text("10.1.2.3");
        QTest::newRow("Set IPv4 10.1.2.3")
            << rtuFrame(1, pduWriteMultiple(DeviceRegister::IpAddress, 4,
                                            QByteArray(reinterpret_cast<const char *>(ip->data()), 4)))
            << hex("01 10 D8 68 00 02 04 0A 01 02 03 1D 5D");
    }
    void commandFrames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(frame.toHex(' '), expected.toHex(' '));
    }

    void decimalValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("ok");
        QTest::newRow("plain") << "65535" << qint64(65535) << true;
        QTest::newRow("zero") << "0" << qint64(0) << true;
        QTest::newRow("sign") << "-5" << qint64(-5) << true;
        QTest::newRow("empty") << "" << qint64(0) << false;
        QTest::newRow("sign only") << "-" << qint64(0) << false;
        QTest::newRow("space") << " 5" << qint64(0) << false;
        QTest::newRow("hex") << "0x10" << qint64(0) << false;
        QTest::newRow("too long") << "1234567890123456789" << qint64(0) << false;
    }
    void decimalValues()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        QFETCH(bool, ok);
        const auto v = decimalValue(text);
        QCOMPARE(v.has_value(), ok);
        if (ok)
            QCOMPARE(*v, value);
    }

    // --- the settings readout ------------------------------------------------------

    void stepRequests()
    {
        const int expected[][2] = {{55400, 2}, {55402, 2}, {55404, 2}, {55418, 2},
                                   {7, 1},     {32787, 1}, {100, 1}};
        for (int step = 7; step <= 13; ++step) {
            const auto r = settingsStepRequest(step);
            QVERIFY(r);
            QCOMPARE(r->address, expected[step - 7][0]);
            QCOMPARE(r->count, expected[step - 7][1]);
        }
        QVERIFY(!settingsStepRequest(5));
        QVERIFY(!settingsStepRequest(6));
        QVERIFY(!settingsStepRequest(14));
    }

    void stepLines_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("IP") << 7 << readReply("C0 A8 01 64") << QStringList{"IP: 192.168.1.100"};
        QTest::newRow("GATE") << 8 << readReply("0A 00 00 01") << QStringList{"GATE: 10.0.0.1"};
        QTest::newRow("MASK") << 9 << readReply("FF FF FF 00") << QStringList{"MASK: 255.255.255.0"};
        QTest::newRow("idle two minutes")
            << 10 << readReply("00 01 D4 C0") << QStringList{"TCP Idle time: 120 s"};
        QTest::newRow("idle 999 ms") << 10 << readReply("00 00 03 E7") << QStringList{"TCP Idle time: 0 s"};
        // An unsigned register: no negative times for 2^31 ms and more.
        QTest::newRow("idle above 2^31 ms")
            << 10 << readReply("FF FF FF FF") << QStringList{"TCP Idle time: 4294967 s"};
        QTest::newRow("flags 0x0071")
            << 11 << readReply("00 71")
            << QStringList{"DHCP is ON",
                           "Auto change baud is OFF",
                           "Real values are 64-bit integer",
                           "Using 16-digit meter ID",
                           "Decoding Full (long) OBIS codes (for exmpl 1-1:1.8.0.0)",
                           "Read through pre-defined period in minutes (reg. 100)"};
        QTest::newRow("flags 0x0088") << 11 << readReply("00 88")
                                      << QStringList{"DHCP is OFF",
                                                     "Auto change baud is ON",
                                                     "Real values are 32-bit integer",
                                                     "Using 8-digit meter ID",
                                                     "Decoding only short OBIS codes (for exmpl 1.8.0)",
                                                     "Continuous read of all programmed meter"};
        QTest::newRow("IEC 0x0082") << 12 << readReply("00 82")
                                    << QStringList{"IEC serial settings: 115200bps, None, 7 bits"};
        QTest::newRow("IEC 0x0048") << 12 << readReply("00 48")
                                    << QStringList{"IEC serial settings: 9600bps, Even, 8 bits"};
        QTest::newRow("IEC 0x0093") << 12 << readReply("00 93") << QStringList{"IEC serial settings: 7 bits"};
        QTest::newRow("IEC 0x0011") << 12 << readReply("00 11")
                                    << QStringList{"IEC serial settings: 1200bps, Odd, 7 bits"};
        QTest::newRow("interval 0x05A0")
            << 13 << readReply("05 A0") << QStringList{"IEC readout interval: 1440 minutes"};
        QTest::newRow("interval 0xFFFF")
            << 13 << readReply("FF FF") << QStringList{"IEC readout interval: 65535 minutes"};
        // Fewer data bytes than the line is made of: nothing is read past them.
        QTest::newRow("short IP") << 7 << readReply("C0 A8") << QStringList{};
        QTest::newRow("byte count above data") << 9 << withCrc(hex("01 03 04 FF FF")) << QStringList{};
        QTest::newRow("short flags") << 11 << readReply("71") << QStringList{};
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

    void flagBoxes()
    {
        const auto r = decodeSettingsStep(11, readReply("00 71"));
        QVERIFY(r.flags);
        QVERIFY(r.flags->values64bit && r.flags->sixteenDigitId && r.flags->longObis);
        const FlagReadout none = flagReadout(uint8_t(0x8F));
        QVERIFY(!none.values64bit && !none.sixteenDigitId && !none.longObis);
    }

    // A reply that fails its checks shows the check's message and nothing
    // else: no zero lines, no option boxes.
    void failedChecksGiveOnlyTheirMessage_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("messages");
        QByteArray badCrc = readReply("00 71");
        badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 0xFF);
        for (int step = 10; step <= 13; ++step)
            QTest::addRow("crc, step %d", step) << step << badCrc << QStringList{"Error in CRC field\r"};
        QTest::newRow("exception at 11")
            << 11 << withCrc(hex("01 83 02")) << QStringList{"Error - ILLEGAL DATA ADDRESS\r"};
        QTest::newRow("leading zero at 7") << 7 << withCrc(hex("00 03 04 0A 00 00 01"))
                                           << QStringList{"Garbage leading bytes in the telegram"};
    }
    void failedChecksGiveOnlyTheirMessage()
    {
        QFETCH(int, step);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, messages);
        const SettingsStepResult r = decodeSettingsStep(step, reply);
        QVERIFY(!r.check.pass);
        QCOMPARE(r.check.logLines, messages);
        QVERIFY(r.lines.isEmpty());
        QVERIFY(!r.flags);
    }

    void firmwareText_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("text");
        // Unit, 2B 0E, code 2, conformity, more, next, 2 objects: 0 "QVX", 2 "2.1".
        const QByteArray twoObjects = withCrc(hex("01 2B 0E 02 82 00 00 02 00 03 51 56 58 02 03 32 2E 31"));
        QTest::newRow("two objects") << twoObjects << QStringLiteral("   QVX  2.1");
        QTest::newRow("with a filler byte")
            << twoObjects + QByteArray(1, '\0') << QStringLiteral("   QVX  2.1");
        QTest::newRow("no objects, 10 bytes") << withCrc(hex("01 2B 0E 02 82 00 00 00")) << QString();
        QTest::newRow("latin-1 kept")
            << withCrc(hex("01 2B 0E 02 82 00 00 01 00 02 E9 7F")) << QStringLiteral("   \u00e9\u007f");
    }
    void firmwareText()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, text);
        const ReplyCheck check = CheckReply(reply, ReplyReporting::FirmwareVersion);
        QVERIFY(check.pass);
        QCOMPARE(qvx::firmwareText(check), text);
    }
};

QTEST_GUILESS_MAIN(TstDeviceCodec)
#include "tst_device_codec.moc"
