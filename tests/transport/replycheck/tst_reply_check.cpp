// The common reply checks and the register decoder, from known bytes.
#include "common/hex.h"
#include "transport/modbus.h"
#include "transport/reply_check.h"
#include "transport/session.h"

#include <QRandomGenerator>
#include <QTest>

using qvxtest::hex;

using namespace qvx;

namespace {

// A frame with its CRC appended; the test bytes are chosen so that the CRC's
// high byte is not 0x00, which the filler rule would take for filler.
QByteArray good(const char *s)
{
    const QByteArray f = withCrc(hex(s));
    if (f.back() == '\0')
        qFatal("test frame %s has a CRC high byte of 0x00", s);
    return f;
}

// A one-register reply whose CRC high byte happens to be 0x00.
QByteArray replyWithZeroCrcHigh()
{
    for (int v = 0; v < 0x10000; ++v) {
        QByteArray pdu = hex("01 03 02");
        pdu.append(static_cast<char>(v >> 8));
        pdu.append(static_cast<char>(v & 0xFF));
        const QByteArray f = withCrc(pdu);
        if (f.back() == '\0')
            return f;
    }
    return {};
}

// "address:HHLL" per register, space-separated.
QString registersText(const QVector<RegisterValue> &regs)
{
    QStringList parts;
    for (const RegisterValue &r : regs)
        parts << QStringLiteral("%1:%2%3")
                     .arg(r.address)
                     .arg(r.high, 2, 16, QLatin1Char('0'))
                     .arg(r.low, 2, 16, QLatin1Char('0'))
                     .toUpper();
    return parts.join(QLatin1Char(' '));
}

const QString CrcLine = QStringLiteral("Error in CRC field\r");
const QString GarbageLine = QStringLiteral("Garbage leading bytes in the telegram");

} // namespace

class TstReplyCheck : public QObject {
    Q_OBJECT
private slots:
    // Full reporting, as the register browser decodes: the outcome, the log
    // lines, panel 2, and the registers read from address 100 on.
    void registerReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("pass");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("crcStatus");
        QTest::addColumn<QString>("registers");

        const QByteArray example = good("01 03 04 00 0A 01 02");
        const QStringList none;

        // --- normal replies
        QTest::newRow("two registers from address 100")
            << example << true << none << false << "100:000A 101:0102";
        QTest::newRow("other unit address decoded alike")
            << good("11 03 02 12 34") << true << none << false << "100:1234";
        QTest::newRow("input register reply")
            << good("01 04 02 FF 02") << true << none << false << "100:FF02";
        QTest::newRow("header and CRC only yields nothing") << good("01 03") << true << none << false << "";
        QTest::newRow("zero byte count yields nothing") << good("01 03 00") << true << none << false << "";

        // --- filler bytes
        QTest::newRow("trailing filler byte ignored")
            << example + hex("00") << true << none << false << "100:000A 101:0102";
        // CRC over a frame and its own CRC low byte is 0x00 followed by the
        // CRC high byte, and CRC over a frame and its whole CRC is zero and
        // stays zero over further 0x00 bytes: after dropping one filler the
        // frame checks good however many fillers follow.
        QTest::newRow("two filler bytes still pass the CRC")
            << example + hex("00 00") << true << none << false << "100:000A 101:0102";
        QTest::newRow("three filler bytes still pass the CRC")
            << example + hex("00 00 00") << true << none << false << "100:000A 101:0102";
        // The same identity in reverse: a CRC high byte of 0x00 occurs exactly
        // when the last data byte equals the CRC low byte of the bytes before
        // it, so the frame one byte short checks good too.  Its last data
        // byte is then taken for CRC, and the half register is not read.
        QTest::newRow("own CRC high byte 0x00 taken as filler")
            << replyWithZeroCrcHigh() << true << none << false << "";

        // --- CRC
        QTest::newRow("stray leading byte fails the CRC")
            << hex("07") + example << false << QStringList{CrcLine} << true << "";
        QByteArray corrupt = example;
        corrupt[4] = '\x0B';
        QTest::newRow("corrupt data byte fails the CRC")
            << corrupt << false << QStringList{CrcLine} << true << "";
        QTest::newRow("cut-off reply fails the CRC")
            << example.left(5) << false << QStringList{CrcLine} << true << "";

        // --- too short to hold unit, function and CRC
        QTest::newRow("empty fails silently") << QByteArray() << false << none << false << "";
        QTest::newRow("single filler byte fails the CRC")
            << hex("00") << false << QStringList{CrcLine} << true << "";
        QTest::newRow("one byte fails the CRC") << hex("01") << false << QStringList{CrcLine} << true << "";
        QTest::newRow("three bytes fail the CRC")
            << hex("01 03 02") << false << QStringList{CrcLine} << true << "";
        QTest::newRow("four bytes with filler fail the CRC")
            << hex("01 03 02 00") << false << QStringList{CrcLine} << true << "";

        // --- leading zero
        QTest::newRow("leading zero with good CRC")
            << good("00 03 02 00 0A") << false << QStringList{GarbageLine} << false << "";

        // --- exceptions
        QTest::newRow("exception 1") << good("01 83 01") << false
                                     << QStringList{QStringLiteral("Error - ILLEGAL FUNCTION\r")} << false
                                     << "";
        QTest::newRow("exception 2 as sent by the device")
            << hex("01 83 02 C0 F1") << false << QStringList{QStringLiteral("Error - ILLEGAL DATA ADDRESS\r")}
            << false << "";
        QTest::newRow("exception 3") << good("01 84 03") << false
                                     << QStringList{QStringLiteral("Error - ILLEGAL DATA VALUE\r")} << false
                                     << "";
        QTest::newRow("exception 4") << good("01 83 04") << false
                                     << QStringList{QStringLiteral("Error - SLAVE DEVICE FAILURE\r")} << false
                                     << "";
        QTest::newRow("exception 6") << good("01 83 06") << false
                                     << QStringList{QStringLiteral("Error - SLAVE DEVICE BUSY\r")} << false
                                     << "";
        QTest::newRow("exception 8") << good("01 90 08") << false
                                     << QStringList{QStringLiteral("Error - MEMORY PARITY ERROR\r")} << false
                                     << "";
        QTest::newRow("exception 5 has no line") << good("01 83 05") << false << none << false << "";
        QTest::newRow("exception 0x0B has no line") << good("01 83 0B") << false << none << false << "";

        // --- byte counts that do not match the data
        QTest::newRow("odd byte count drops the half register")
            << good("01 03 03 00 0A 01") << true << none << false << "100:000A";
        QTest::newRow("oversized byte count yields the registers present")
            << good("01 03 08 00 0A 01 02") << true << none << false << "100:000A 101:0102";
        QTest::newRow("oversized byte count with a half register")
            << good("01 03 FF 00 0A 01") << true << none << false << "100:000A";
        QTest::newRow("small byte count limits the registers")
            << good("01 03 02 00 0A 01 02") << true << none << false << "100:000A";
    }
    void registerReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, pass);
        QFETCH(QStringList, lines);
        QFETCH(bool, crcStatus);
        QFETCH(QString, registers);

        const RegisterReply r = DecodeRegisterReply(100, reply);
        QCOMPARE(r.check.pass, pass);
        QCOMPARE(r.check.logLines, lines);
        QCOMPARE(r.check.crcStatus, crcStatus);
        QCOMPARE(registersText(r.registers), registers);
        // The plain check agrees with the decoder's.
        QCOMPARE(CheckReply(reply).pass, pass);
    }

    void failureKinds_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("exceptionCode");
        QTest::newRow("pass") << good("01 03 02 00 0A") << int(ReplyFailure::None) << 0;
        QTest::newRow("empty") << QByteArray() << int(ReplyFailure::Empty) << 0;
        QTest::newRow("crc") << hex("01 03 02 00 0A 00 01") << int(ReplyFailure::Crc) << 0;
        QTest::newRow("leading zero") << good("00 03 02 00 0A") << int(ReplyFailure::LeadingZero) << 0;
        QTest::newRow("exception") << good("01 83 05") << int(ReplyFailure::Exception) << 5;
    }
    void failureKinds()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, failure);
        QFETCH(int, exceptionCode);
        const ReplyCheck c = CheckReply(reply);
        QCOMPARE(int(c.failure), failure);
        QCOMPARE(c.exceptionCode, exceptionCode);
    }

    void passingFrameExcludesTheFiller()
    {
        const QByteArray reply = good("01 03 02 00 0A");
        QCOMPARE(CheckReply(reply + hex("00")).frame, reply);
    }

    // The firmware-version reply leaves panel 2 alone and fails silently on a
    // leading zero byte; exceptions are reported as everywhere.
    void firmwareVersionReporting_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("crc: log line only") << hex("07 01 2B 0E") << QStringList{CrcLine};
        QTest::newRow("short: log line only") << hex("01") << QStringList{CrcLine};
        QTest::newRow("leading zero: silent") << good("00 2B 0E 02") << QStringList{};
        QTest::newRow("exception: its line")
            << good("01 AB 01") << QStringList{QStringLiteral("Error - ILLEGAL FUNCTION\r")};
    }
    void firmwareVersionReporting()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, lines);
        const ReplyCheck c = CheckReply(reply, ReplyReporting::FirmwareVersion);
        QVERIFY(!c.pass);
        QCOMPARE(c.logLines, lines);
        QVERIFY(!c.crcStatus);
    }

    // Whatever the byte count claims, the registers are the data bytes that
    // were received, in order, and never the CRC.
    void registersComeOnlyFromReceivedDataBytes()
    {
        QRandomGenerator rng(4);
        for (int i = 0; i < 5000; ++i) {
            QByteArray pdu = hex("01 03");
            pdu.append(static_cast<char>(rng.bounded(256)));
            const int dataBytes = rng.bounded(300);
            for (int k = 0; k < dataBytes; ++k)
                pdu.append(static_cast<char>(rng.bounded(256)));
            const QByteArray reply = withCrc(pdu);
            const RegisterReply r = DecodeRegisterReply(7, reply);
            if (!r.check.pass)
                continue; // a CRC high byte of 0x00 shortens the frame
            const QByteArray data = r.check.frame.mid(3, r.check.frame.size() - 5);
            const int claimed = static_cast<uint8_t>(pdu.at(2));
            QCOMPARE(r.registers.size(), qMin<qsizetype>(claimed, data.size()) / 2);
            for (qsizetype k = 0; k < r.registers.size(); ++k) {
                QCOMPARE(r.registers.at(k).address, 7 + int(k));
                QCOMPARE(char(r.registers.at(k).high), data.at(2 * k));
                QCOMPARE(char(r.registers.at(k).low), data.at(2 * k + 1));
            }
        }
    }

    // Panel 2 keeps the last CRC failure: a later good reply does not clear it.
    void crcStatusIsSticky()
    {
        Session session;
        QStringList log;
        connect(&session, &Session::logLine, this, [&log](const QString &l) { log << l; });

        CheckReply(good("01 03 02 00 0A")).reportTo(session);
        QVERIFY(session.status(CrcStatusPanel).isEmpty());

        CheckReply(hex("01 03 02 00 0A 00 01")).reportTo(session);
        QCOMPARE(session.status(2), QStringLiteral("Error in CRC field"));
        CheckReply(good("01 03 02 00 0A")).reportTo(session);
        CheckReply(good("01 83 02")).reportTo(session);
        QCOMPARE(session.status(2), QStringLiteral("Error in CRC field"));
        QCOMPARE(log, (QStringList{CrcLine, QStringLiteral("Error - ILLEGAL DATA ADDRESS\r")}));
    }
};

QTEST_GUILESS_MAIN(TstReplyCheck)
#include "tst_reply_check.moc"
