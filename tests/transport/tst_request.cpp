// When the buffered bytes hold a whole reply to a request, and whether a
// reply answers its request: the rules the exchange applies before ending a
// window early or decoding anything.
#include "common/hex.h"
#include "transport/modbus.h"
#include "transport/request.h"

#include <QTest>

using namespace qvx;
using qvxtest::hex;

Q_DECLARE_METATYPE(qvx::ModbusRequest)

namespace {

const ModbusRequest ReadTwo = ModbusRequest::readHolding(1, 100, 2);
const ModbusRequest Write = ModbusRequest::writeSingle(1, 7, 0, 5);
const ModbusRequest DeviceId = ModbusRequest::readDeviceId(1, 2);

} // namespace

class TstRequest : public QObject {
    Q_OBJECT
private slots:
    void completeRtuReply_data()
    {
        QTest::addColumn<ModbusRequest>("request");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        const QByteArray reply = withCrc(hex("01 03 04 00 0A 00 0B"));
        QTest::newRow("read whole") << ReadTwo << reply << 9;
        QTest::newRow("read whole, more behind") << ReadTwo << reply + hex("01 02") << 9;
        QTest::newRow("read short") << ReadTwo << reply.chopped(1) << 0;
        QTest::newRow("read bad crc") << ReadTwo << hex("01 03 04 00 0A 00 0B 00 00") << 0;
        QTest::newRow("exception") << ReadTwo << withCrc(hex("01 83 02")) << 5;
        QTest::newRow("other function") << ReadTwo << withCrc(hex("01 04 04 00 0A 00 0B")) << 0;
        QTest::newRow("stray byte first") << ReadTwo << hex("FF") + reply << 0;
        QTest::newRow("write echo") << Write << withCrc(hex("01 06 00 07 00 05")) << 8;
        QTest::newRow("device id") << DeviceId << withCrc(hex("01 2B 0E 02 01 00 00 02 00 02 41 42 01 01 43"))
                                   << 17;
        QTest::newRow("device id, object missing")
            << DeviceId << withCrc(hex("01 2B 0E 02 01 00 00 02 00 02 41 42")) << 0;
    }
    void completeRtuReply()
    {
        QFETCH(ModbusRequest, request);
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QCOMPARE(CompleteRtuReplyLength(request, bytes), length);
    }

    void completeTcpReply()
    {
        QCOMPARE(CompleteTcpReplyLength(hex("03 E8 00 00 00 07 01 03 04 00 0A 00 0B")), 13);
        QCOMPARE(CompleteTcpReplyLength(hex("03 E8 00 00 00 07 01 03 04 00 0A")), 0);
        QCOMPARE(CompleteTcpReplyLength(hex("03 E8 00")), 0);
    }

    void mismatch_data()
    {
        QTest::addColumn<ModbusRequest>("request");
        QTest::addColumn<QByteArray>("rtu");
        QTest::addColumn<QString>("line");
        QTest::newRow("answers") << ReadTwo << withCrc(hex("01 03 04 00 0A 00 0B")) << QString();
        QTest::newRow("exception answers") << ReadTwo << withCrc(hex("01 83 02")) << QString();
        QTest::newRow("unit") << ReadTwo << withCrc(hex("02 03 04 00 0A 00 0B"))
                              << "Reply ignored: unit 2, expected 1";
        QTest::newRow("function") << ReadTwo << withCrc(hex("01 04 04 00 0A 00 0B"))
                                  << "Reply ignored: function 04, expected 03";
        QTest::newRow("exception of another")
            << ReadTwo << withCrc(hex("01 84 02")) << "Reply ignored: function 84, expected 03";
        QTest::newRow("byte count") << ReadTwo << withCrc(hex("01 03 02 00 0A"))
                                    << "Reply ignored: byte count 2, expected 4";
        QTest::newRow("write") << Write << withCrc(hex("01 06 00 07 00 05")) << QString();
        QTest::newRow("device id") << DeviceId << withCrc(hex("01 03 02 00 0A"))
                                   << "Reply ignored: function 03, expected 2B";
    }
    void mismatch()
    {
        QFETCH(ModbusRequest, request);
        QFETCH(QByteArray, rtu);
        QFETCH(QString, line);
        QCOMPARE(ReplyMismatch(request, rtu).value_or(QString()), line);
    }

    void tcpHeader_data()
    {
        QTest::addColumn<QByteArray>("tcp");
        QTest::addColumn<QString>("line");
        QTest::newRow("fits") << hex("03 E8 00 00 00 05 01 03 02 00 0A") << QString();
        QTest::newRow("stale transaction") << hex("03 E7 00 00 00 05 01 03 02 00 0A")
                                           << "Reply ignored: transaction identifier 999, expected 1000";
        QTest::newRow("protocol") << hex("03 E8 00 01 00 05 01 03 02 00 0A")
                                  << "Reply ignored: protocol identifier 1, expected 0";
        QTest::newRow("length") << hex("03 E8 00 00 00 09 01 03 02 00 0A")
                                << "Reply ignored: length field 9 does not match the 5 bytes received";
        QTest::newRow("two replies joined")
            << hex("03 E8 00 00 00 05 01 03 02 00 0A 03 E8 00 00 00 05 01 03 02 00 0A")
            << "Reply ignored: length field 5 does not match the 16 bytes received";
        QTest::newRow("runt left to the conversion") << hex("03 E8 00") << QString();
    }
    void tcpHeader()
    {
        QFETCH(QByteArray, tcp);
        QFETCH(QString, line);
        QCOMPARE(TcpHeaderMismatch(1000, tcp).value_or(QString()), line);
    }

    // The request's frame is the one the request operations always built.
    void pduOfEveryFunction()
    {
        QCOMPARE(ModbusRequest::readInput(1, 1000, 64).pdu(), pduReadInput(1000, 64));
        QCOMPARE(ModbusRequest::writeMultiple(1, 800, 4, hex("01 02 03 04")).pdu(),
                 pduWriteMultiple(800, 4, hex("01 02 03 04")));
        QCOMPARE(Write.pdu(), pduWriteSingle(7, 0, 5));
        QCOMPARE(DeviceId.pdu(), pduReadDeviceId(2));
    }
};

QTEST_GUILESS_MAIN(TstRequest)
#include "tst_request.moc"
