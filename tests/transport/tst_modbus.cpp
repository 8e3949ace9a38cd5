// Request frames, CRC and the TCP-to-RTU conversion, from known-good bytes.
#include "common/hex.h"
#include "transport/modbus.h"

#include <QTest>

using qvxtest::hex;

using namespace qvx;

class TstModbus : public QObject {
    Q_OBJECT
private slots:
    void crcCheckValue() { QCOMPARE(ModbusCrc16(QByteArray("123456789")), uint16_t(0x4B37)); }

    void frames_data()
    {
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("read holding rtu")
            << rtuFrame(1, pduReadHolding(0, 10)) << hex("01 03 00 00 00 0A C5 CD");
        QTest::newRow("write multiple rtu") << rtuFrame(1, pduWriteMultiple(100, 4, hex("00 01 00 02")))
                                            << hex("01 10 00 64 00 02 04 00 01 00 02 24 75");
        QTest::newRow("write single rtu")
            << rtuFrame(1, pduWriteSingle(100, 0, 1)) << hex("01 06 00 64 00 01 09 D5");
        QTest::newRow("device id rtu") << rtuFrame(1, pduReadDeviceId(2)) << hex("01 2B 0E 02 00 70 87");
        QTest::newRow("device id tcp")
            << tcpFrame(1000, 1, pduReadDeviceId(2)) << hex("03 E8 00 00 00 05 01 2B 0E 02 00");
        QTest::newRow("odd count padded")
            << pduWriteMultiple(0, 3, hex("11 22 33")) << hex("10 00 00 00 02 04 11 22 33 00");
        QTest::newRow("odd count pad not taken")
            << pduWriteMultiple(0, 3, hex("11 22 33 44")) << hex("10 00 00 00 02 04 11 22 33 44");
        QTest::newRow("low 16 bits of fields") << pduReadInput(65536 + 5, 70000) << hex("04 00 05 11 70");
        QTest::newRow("set baud rtu")
            << rtuFrame(1, pduWriteSingle(32786, 0, 0x40)) << hex("01 06 80 12 00 40 01 FF");
        QTest::newRow("ipv4 rtu") << rtuFrame(1, pduWriteMultiple(55400, 4, hex("0A 01 02 03")))
                                  << hex("01 10 D8 68 00 02 04 0A 01 02 03 1D 5D");
    }
    void frames()
    {
        QFETCH(QByteArray, actual);
        QFETCH(QByteArray, expected);
        QCOMPARE(actual.toHex(' ').toUpper(), expected.toHex(' ').toUpper());
    }

    void writeMultiple126RegistersOverTcp()
    {
        const QByteArray f = tcpFrame(7, 1, pduWriteMultiple(1000, 252, QByteArray(252, '\x5A')));
        QCOMPARE(f.size(), 265);
        QCOMPARE(f.mid(4, 2), hex("01 03"));
        QCOMPARE(f.mid(8, 5), hex("03 E8 00 7E FC"));
    }

    void tcpReplyToRtu()
    {
        auto r = TcpReplyToRtu(hex("03 E8 00 00 00 05 01 03 02 00 0A"));
        QCOMPARE(r.rtu, hex("01 03 02 00 0A 38 43"));
        QVERIFY(r.logLine.isEmpty());
        // unit address kept as received
        r = TcpReplyToRtu(hex("00 01 00 00 00 05 07 03 02 00 0A"));
        QCOMPARE(r.rtu.at(0), char(7));
        // back-to-back replies stay joined
        r = TcpReplyToRtu(hex("00 01 00 00 00 05 01 03 02 00 0A 00 02 00 00 00 05 01 03 02 00 0B"));
        QCOMPARE(r.rtu.size(), 5 + 11 + 2);
        r = TcpReplyToRtu(hex("01 02 03 04 05 06 07"));
        QVERIFY(r.rtu.isEmpty());
        QCOMPARE(r.logLine, QStringLiteral("Error, raw TCP data: 01 02 03 04 05 06 07 "));
        r = TcpReplyToRtu({});
        QVERIFY(r.rtu.isEmpty());
        QVERIFY(r.logLine.isEmpty());
    }

    void hexFormatting() { QCOMPARE(hexBytes(hex("00 0a ff")), QStringLiteral("00 0A FF ")); }
};

QTEST_GUILESS_MAIN(TstModbus)
#include "tst_modbus.moc"
