// The readout's protocol pieces as plain functions: end of message and block
// check character, identification and mode C acknowledgement, the framing
// heuristic, and the OBIS table and slot form.
#include "iec/iec_protocol.h"
#include "iec/obis.h"
#include "sim/meter.h"

#include <QSet>
#include <QTest>

using namespace qvx;

namespace {
const QList<QByteArray> Data = {"1.8.0(0001234.567*kWh)", "0.0.0(4711)"};

// 7-bit characters as a port set to 8N1 reads a 7E1 or 7O1 line.
QByteArray onWire(const QByteArray &text, char parity)
{
    return qvxsim::withParityBit(text, parity);
}
// What survives of 8N1 text on a 7E1 port that drops parity errors.
QByteArray evenOnly(const QByteArray &text)
{
    QByteArray out;
    for (char c : text)
        if (qvxsim::withParityBit(QByteArray(1, c), 'E').at(0) == c)
            out += c;
    return out;
}
} // namespace

class TstIecProtocol : public QObject {
    Q_OBJECT
private slots:
    void messageEnd_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<bool>("bccOk");
        const QByteArray whole = qvxsim::buildMeterAnswer("/XXX5METER", Data);
        QTest::newRow("whole") << whole << true << true;
        QTest::newRow("lf only, leading DEL")
            << qvxsim::buildMeterAnswer("/XXX5METER", Data, {true, true, false}) << true << true;
        QTest::newRow("wrong bcc") << qvxsim::buildMeterAnswer("/XXX5METER", Data, {false, false, true})
                                   << true << false;
        QTest::newRow("bcc missing") << whole.chopped(1) << false << false;
        QTest::newRow("no etx") << whole.chopped(2) << false << false;
        QTest::newRow("data message alone") << qvxsim::buildDataMessage(Data) << true << true;
        QTest::newRow("nothing") << QByteArray() << false << false;
        QTest::newRow("trailing bytes") << whole + "xyz" << true << true;
    }
    void messageEnd()
    {
        QFETCH(QByteArray, capture);
        QFETCH(bool, complete);
        QFETCH(bool, bccOk);
        const IecMessageEnd end = FindIecMessageEnd(capture);
        QCOMPARE(end.complete, complete);
        QCOMPARE(end.bccOk(), bccOk);
        if (complete) {
            QCOMPARE(end.received, uint8_t(capture.at(end.length - 1)));
            QCOMPARE(end.computed, IecBcc(capture.mid(capture.indexOf('\x02'))));
        }
    }

    // CRC-16/ARC: the catalogue's check value, then telegrams of the P1
    // kind and meters that push, where their end is.
    void p1Crc()
    {
        QCOMPARE(IecP1Crc16("123456789"), uint16_t(0xBB3D));
        const QByteArray body = "/ISK5\\2M550T-1012\r\n\r\n1-0:1.8.1(001234.567*kWh)\r\n!";
        const QString crc = QStringLiteral("%1").arg(IecP1Crc16(body), 4, 16, QLatin1Char('0')).toUpper();
        const auto good = FindIecP1Crc(body + crc.toLatin1() + "\r\n");
        QVERIFY(good && good->ok());
        QCOMPARE(IecP1CrcText(*good), QStringLiteral("CRC OK"));
        const auto bad = FindIecP1Crc(body + "00a1\r\n");
        QVERIFY(bad && !bad->ok());
        QCOMPARE(IecP1CrcText(*bad), QStringLiteral("CRC error (computed %1, received 00A1)").arg(crc));
        QVERIFY(!FindIecP1Crc(body + "\r\n"));
        QVERIFY(!FindIecP1Crc(body + "1A"));
    }
    // The simulator's meter shapes: a BCC that is a line end or SOH still
    // checks, and its P1 telegram carries the CRC the check computes.
    void simulatedShapes_data()
    {
        QTest::addColumn<int>("bcc");
        QTest::newRow("LF") << 0x0A;
        QTest::newRow("SOH") << 0x01;
    }
    void simulatedShapes()
    {
        QFETCH(int, bcc);
        qvxsim::AnswerStyle style;
        style.bccValue = bcc;
        style.setsPerLine = 3;
        style.bangOnLastLine = true;
        const QByteArray message = qvxsim::buildDataMessage(Data, style);
        QCOMPARE(int(uint8_t(message.back())), bcc);
        QVERIFY(FindIecMessageEnd(message).bccOk());
        style.p1Crc = true;
        const auto crc = FindIecP1Crc(qvxsim::buildMeterAnswer("/ABC5P1", Data, style));
        QVERIFY(crc && crc->ok());
        style.wrongBcc = true;
        QVERIFY(!FindIecP1Crc(qvxsim::buildMeterAnswer("/ABC5P1", Data, style))->ok());
    }

    void telegramEnd_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<int>("length"); // -1: not complete
        QTest::addColumn<QString>("check"); // "bcc", "crc", "-"
        const QByteArray p1 = "/ABC5P1\r\n\r\n1.8.0(1*kWh)\r\n!";
        const QByteArray crc =
            QStringLiteral("%1").arg(IecP1Crc16(p1), 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        const QByteArray mode = qvxsim::buildMeterAnswer("/XXX5METER", Data);
        QTest::newRow("P1 with CRC") << p1 + crc + "\r\n/ABC" << int(p1.size() + 6) << "crc";
        QTest::newRow("CRC line not ended yet") << p1 + crc << -1 << "-";
        QTest::newRow("no CRC") << p1 + "\r\n" << int(p1.size() + 2) << "-";
        QTest::newRow("data message") << mode + "/X" << int(mode.size()) << "bcc";
        QTest::newRow("joined late: the first telegram's end is passed over")
            << "kWh)\r\n!0000\r\n" + p1 << -1 << "-";
        QTest::newRow("no start") << QByteArray("1.8.0(1)\r\n!\r\n") << -1 << "-";
    }
    void telegramEnd()
    {
        QFETCH(QByteArray, capture);
        QFETCH(int, length);
        QFETCH(QString, check);
        const IecTelegramEnd end = FindIecTelegramEnd(capture);
        QCOMPARE(end.complete ? int(end.length) : -1, length);
        QCOMPARE(end.dataMessage ? QStringLiteral("bcc") : end.crc ? QStringLiteral("crc") : QStringLiteral("-"),
                 check);
        if (end.crc)
            QVERIFY(end.crc->ok());
    }

    void identificationAndAck_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QByteArray>("ack");
        QTest::newRow("9600") << QByteArray("/QVX5SIMMETER\r\n") << QByteArray("/QVX5SIMMETER") << 9600
                              << QByteArray("\x06"
                                            "050\r\n");
        QTest::newRow("300, DEL first, LF only") << QByteArray("\x7f/ABC0X\n") << QByteArray("/ABC0X") << 300
                                                 << QByteArray("\x06"
                                                               "000\r\n");
        QTest::newRow("19200") << QByteArray("/ABC6\r\n") << QByteArray("/ABC6") << 19200
                               << QByteArray("\x06"
                                             "060\r\n");
        QTest::newRow("mode B letter")
            << QByteArray("/ABCE2\r\n") << QByteArray("/ABCE2") << 0 << QByteArray();
        QTest::newRow("short line skipped") << QByteArray("/AB\r\n/ABC4Z\r\n") << QByteArray("/ABC4Z") << 4800
                                            << QByteArray("\x06"
                                                          "040\r\n");
        QTest::newRow("incomplete") << QByteArray("/ABC5METER") << QByteArray() << 0 << QByteArray();
    }
    void identificationAndAck()
    {
        QFETCH(QByteArray, capture);
        QFETCH(QByteArray, line);
        QFETCH(int, baud);
        QFETCH(QByteArray, ack);
        const IecIdentification id = FindIecIdentification(capture);
        QCOMPARE(id.found, !line.isEmpty());
        QCOMPARE(id.line, line);
        QCOMPARE(id.modeCBaud, baud);
        if (!ack.isEmpty())
            QCOMPARE(IecAckForReadout(id.baudChar), ack);
    }

    void framing_data()
    {
        QTest::addColumn<QByteArray>("capture");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<bool>("parityOn");
        QTest::addColumn<QString>("parity"); // empty: no hint
        const QByteArray text = qvxsim::buildMeterAnswer("/QVX5SIMMETER", Data);
        QTest::newRow("7E1 read as 8N1") << onWire(text, 'E') << 8 << false << "Even";
        QTest::newRow("7O1 read as 8N1") << onWire(text, 'O') << 8 << false << "Odd";
        QTest::newRow("right at 8N1") << text << 8 << false << "";
        QTest::newRow("right at 7E1") << text << 7 << true << "";
        QTest::newRow("too short") << onWire("/QVX5\r\n", 'E') << 8 << false << "";
        QTest::newRow("8-bit binary at 8N1")
            << QByteArray("\x90\x81\xff\xfe\x80\x91\x92\x93\x94\x95\x96\x97\x98"
                          "\x99\x9a\x9b\x9c",
                          17)
            << 8 << false << "";
        QTest::newRow("8N1 read as 7E1, errors dropped") << evenOnly(text) << 7 << true << "None";
        QByteArray nul = text;
        for (qsizetype i = 0; i < nul.size(); i += 3)
            nul[i] = 0;
        QTest::newRow("8N1 read as 7E1, errors as NUL") << nul << 7 << true << "None";
    }
    void framing()
    {
        QFETCH(QByteArray, capture);
        QFETCH(int, dataBits);
        QFETCH(bool, parityOn);
        QFETCH(QString, parity);
        const auto hint = IecFramingCheck(capture, dataBits, parityOn);
        QCOMPARE(hint.has_value(), !parity.isEmpty());
        if (hint) {
            QCOMPARE(hint->parity, parity);
            QVERIFY(hint->message.contains(
                QStringLiteral("choose Data bits %1 and Parity %2").arg(hint->dataBits).arg(parity)));
        }
    }

    void obisTableIsBigAndUnique()
    {
        QSet<QString> codes;
        for (const ObisInfo &i : ObisTable()) {
            QVERIFY2(ParseObisCode(QString::fromLatin1(i.code)), i.code);
            QVERIFY(*i.name);
            codes.insert(QString::fromLatin1(i.code));
        }
        QCOMPARE(codes.size(), ObisTable().size());
        QVERIFY(codes.size() >= 60);
    }

    void obisCodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("shortForm"); // "-": cannot be encoded
        QTest::addColumn<QString>("longForm");
        QTest::newRow("plain") << "1.8.0"
                               << "Active energy import (+A), total [kWh]"
                               << "1.8.0"
                               << "1.8.0";
        QTest::newRow("stx first") << "\x02"
                                      "0.0.0"
                                   << "Meter address (device ID 1)"
                                   << "0.0.0"
                                   << "0.0.0";
        QTest::newRow("prefix and F=255") << "1-0:32.7.0*255"
                                          << "Voltage, L1 [V]"
                                          << "32.7.0"
                                          << "1-0:32.7.0";
        QTest::newRow("billing period") << "1.8.1*01"
                                        << "Active energy import (+A), tariff 1 [kWh]"
                                        << "1.8.1.1"
                                        << "1.8.1.1";
        QTest::newRow("letters") << "C.1.0"
                                 << "Meter serial number (device ID)"
                                 << "96.1.0"
                                 << "96.1.0";
        QTest::newRow("error register") << "F.F"
                                        << "Error register"
                                        << "97.97.0"
                                        << "97.97.0";
        QTest::newRow("two-digit medium") << "12-1:1.8.0"
                                          << "Active energy import (+A), total [kWh]"
                                          << "1.8.0"
                                          << "1.8.0";
        QTest::newRow("unknown code") << "0.128.0"
                                      << ""
                                      << "0.128.0"
                                      << "0.128.0";
        QTest::newRow("group too large") << "1.256.0"
                                         << ""
                                         << "-"
                                         << "-";
        QTest::newRow("not a code") << "!"
                                    << ""
                                    << "-"
                                    << "-";
        QTest::newRow("other letter") << "X.1.0"
                                      << ""
                                      << "-"
                                      << "-";
    }
    void obisCodes()
    {
        QFETCH(QString, text);
        QFETCH(QString, description);
        QFETCH(QString, shortForm);
        QFETCH(QString, longForm);
        QCOMPARE(ObisDescription(text), description);
        QCOMPARE(ObisForMeterSlot(text, false).value_or(QStringLiteral("-")), shortForm);
        QCOMPARE(ObisForMeterSlot(text, true).value_or(QStringLiteral("-")), longForm);
    }
};

QTEST_GUILESS_MAIN(TstIecProtocol)
#include "tst_iec_protocol.moc"
