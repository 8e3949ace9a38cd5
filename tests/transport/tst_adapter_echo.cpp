// The echo of a two-wire adapter: a leading copy of the request is dropped
// (and only that), and without the option it is recognised so the error can
// say what to do.
#include "common/hex.h"
#include "transport/adapter_echo.h"
#include "transport/modbus.h"

#include <QTest>

using namespace qvx;
using qvxtest::hex;

Q_DECLARE_METATYPE(qvx::ModbusRequest)

namespace {

const ModbusRequest Read = ModbusRequest::readHolding(1, 7, 1);
const ModbusRequest Write = ModbusRequest::writeSingle(1, 20, 0, 5);

} // namespace

class TstAdapterEcho : public QObject {
    Q_OBJECT
private slots:
    void frameIsTheWireFrame()
    {
        QCOMPARE(RtuRequestFrame(ModbusRequest::readHolding(1, 0, 10)), hex("01 03 00 00 00 0A C5 CD"));
        QCOMPARE(RtuRequestFrame(ModbusRequest::readDeviceId(1, 2)), hex("01 2B 0E 02 00 70 87"));
    }

    void strip_data()
    {
        QTest::addColumn<ModbusRequest>("request");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QByteArray>("left");
        const QByteArray req = RtuRequestFrame(Read);
        const QByteArray reply = withCrc(hex("01 03 02 00 80"));
        QTest::newRow("echo then reply") << Read << req + reply << reply;
        QTest::newRow("echo alone") << Read << req << QByteArray();
        QTest::newRow("echo still arriving") << Read << req.left(5) << QByteArray();
        QTest::newRow("reply without echo") << Read << reply << reply;
        QTest::newRow("damaged echo stays")
            << Read << hex("01 03 00 07 00 02") + reply << hex("01 03 00 07 00 02") + reply;
        QTest::newRow("stray byte before echo stays")
            << Read << hex("FF") + req + reply << hex("FF") + req + reply;
        QTest::newRow("only one copy dropped")
            << Write << RtuRequestFrame(Write) + RtuRequestFrame(Write) << RtuRequestFrame(Write);
        QTest::newRow("nothing") << Read << QByteArray() << QByteArray();
    }
    void strip()
    {
        QFETCH(ModbusRequest, request);
        QFETCH(QByteArray, received);
        QFETCH(QByteArray, left);
        QCOMPARE(StripRequestEcho(received, RtuRequestFrame(request)), left);
    }

    void recognised_data()
    {
        QTest::addColumn<ModbusRequest>("request");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("echo");
        const QByteArray req = RtuRequestFrame(Read);
        const QByteArray w = RtuRequestFrame(Write);
        QTest::newRow("read: echo and reply") << Read << req + withCrc(hex("01 03 02 00 80")) << true;
        QTest::newRow("read: echo alone") << Read << req << true;
        QTest::newRow("read: reply") << Read << withCrc(hex("01 03 02 00 80")) << false;
        QTest::newRow("write: its own reply") << Write << w << false;
        QTest::newRow("write: reply and filler") << Write << w + hex("00") << false;
        QTest::newRow("write: echo and reply") << Write << w + w << true;
        QTest::newRow("write: echo and exception") << Write << w + withCrc(hex("01 86 02")) << true;
    }
    void recognised()
    {
        QFETCH(ModbusRequest, request);
        QFETCH(QByteArray, received);
        QFETCH(bool, echo);
        QCOMPARE(StartsWithRequestEcho(received, request), echo);
    }
};

QTEST_APPLESS_MAIN(TstAdapterEcho)
#include "tst_adapter_echo.moc"
