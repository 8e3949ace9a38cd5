// The five request operations in RTU framing on a real pseudo-terminal pair:
// the exact bytes on the wire, the "SENT:" / "SENT: " lines, the port-flag
// check of SendReadHolding, and what a full output queue does to each.
#include "common/hex.h"
#include "core/errors.h"
#include "common/pty_pair.h"
#include "common/serial_fixture.h"
#include "transport/session.h"

#include <QTest>
#include <functional>
#include <memory>

using qvxtest::hex;

using namespace qvx;
using qvxtest::PtyPair;

using Request = std::function<void(Session &)>;
Q_DECLARE_METATYPE(Request)

namespace {

QByteArray registerData252()
{
    QByteArray d(252, '\0');
    for (int i = 0; i < d.size(); ++i)
        d[i] = char((i * 37 + 5) & 0xFF);
    return d;
}

} // namespace

class TstRtuRequests : public QObject {
    Q_OBJECT

    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<Session> session;
    QStringList log;

    void openPort(const Comm2::LineSettings &s = {}) { qvxtest::openOnPty(*session, *pty, s); }

private slots:
    void init()
    {
        pty = std::make_unique<PtyPair>();
        QVERIFY(pty->isValid());
        session = std::make_unique<Session>();
        log.clear();
        connect(session.get(), &Session::logLine, this, [this](const QString &l) { log << l; });
    }
    void cleanup()
    {
        session.reset();
        pty.reset();
    }

    void requestPutsExactFrameOnWire_data()
    {
        QTest::addColumn<Request>("request");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QStringList>("logged");

        QTest::newRow("read holding: no line") << Request([](Session &s) { s.SendReadHolding(1, 0, 10); })
                                               << hex("01 03 00 00 00 0A C5 CD") << QStringList();
        QTest::newRow("read input: SENT: without space")
            << Request([](Session &s) { s.SendReadInput(1, 0, 10); }) << hex("01 04 00 00 00 0A 70 0D")
            << QStringList{"SENT:01 04 00 00 00 0A 70 0D "};
        QTest::newRow("read input, unit 17, high address")
            << Request([](Session &s) { s.SendReadInput(0x11, 32786, 3); }) << hex("11 04 80 12 00 03 3B 5E")
            << QStringList{"SENT:11 04 80 12 00 03 3B 5E "};
        QTest::newRow("write single")
            << Request([](Session &s) { s.SendWriteSingle(1, 100, 0, 1); }) << hex("01 06 00 64 00 01 09 D5")
            << QStringList{"SENT:01 06 00 64 00 01 09 D5 "};
        QTest::newRow("write multiple: SENT: with space")
            << Request([](Session &s) { s.SendWriteMultiple(1, 100, 4, hex("00 01 00 02")); })
            << hex("01 10 00 64 00 02 04 00 01 00 02 24 75")
            << QStringList{"SENT: 01 10 00 64 00 02 04 00 01 00 02 24 75 "};
        QTest::newRow("write multiple, odd count padded")
            << Request([](Session &s) { s.SendWriteMultiple(1, 0, 3, hex("11 22 33")); })
            << hex("01 10 00 00 00 02 04 11 22 33 00 42 69")
            << QStringList{"SENT: 01 10 00 00 00 02 04 11 22 33 00 42 69 "};

        const QByteArray big = hex("01 10 03 E8 00 7E FC") + registerData252() + hex("4F ED");
        QTest::newRow("write multiple, 126 registers")
            << Request([](Session &s) { s.SendWriteMultiple(1, 1000, 252, registerData252()); }) << big
            << QStringList{QStringLiteral("SENT: ") + QString::fromLatin1(big.toHex(' ').toUpper()) + ' '};
        QTest::newRow("device id: no line") << Request([](Session &s) { s.SendReadDeviceId(1, 2); })
                                            << hex("01 2B 0E 02 00 70 87") << QStringList();
    }
    void requestPutsExactFrameOnWire()
    {
        QFETCH(Request, request);
        QFETCH(QByteArray, wire);
        openPort();
        request(*session);
        QCOMPARE(pty->read(wire.size()).toHex(' '), wire.toHex(' '));
        QTest::qWait(0);
        QCOMPARE(pty->readAvailable().toHex(' '), QByteArray());
        QTEST(log, "logged");
    }

    void readHoldingSendsNothingWhilePortFlagClear()
    {
        openPort();
        session->SerialPortOpen = false;
        session->SendReadHolding(1, 0, 10);
        // A frame sent afterwards is the first thing on the wire.
        session->SendReadDeviceId(1, 2);
        QCOMPARE(pty->read(7).toHex(' '), hex("01 2B 0E 02 00 70 87").toHex(' '));
        QVERIFY(log.isEmpty());
    }

    void requestsWithPortClosedStillLog()
    {
        session->comm2().setDevicePath(pty->slavePath());
        session->SendReadHolding(1, 0, 10);
        session->SendReadInput(1, 0, 10);
        session->SendWriteSingle(1, 100, 0, 1);
        session->SendWriteMultiple(1, 100, 4, hex("00 01 00 02"));
        session->SendReadDeviceId(1, 2);
        QCOMPARE(log, (QStringList{"SENT:01 04 00 00 00 0A 70 0D ", "SENT:01 06 00 64 00 01 09 D5 ",
                                   "SENT: 01 10 00 64 00 02 04 00 01 00 02 24 75 "}));
        QCOMPARE(pty->readAvailable(), QByteArray());
    }

    void fullQueueIsLoggedByReadHoldingAndRaisedByTheOthers()
    {
        openPort();
        QVERIFY2(qvxtest::fillOutputQueue(session->comm2()), "the output queue never filled");
        session->SendReadHolding(1, 0, 10);
        QCOMPARE(log,
                 QStringList{"Exception sending command - Output buffer is full. Please check comm status."});
        log.clear();
        QVERIFY_THROWS_EXCEPTION(QvxError, session->SendReadInput(1, 0, 10));
        // The line is written before the block write that fails.
        QCOMPARE(log, QStringList{"SENT:01 04 00 00 00 0A 70 0D "});
        log.clear();
        QVERIFY_THROWS_EXCEPTION(QvxError, session->SendReadDeviceId(1, 2));
        QVERIFY(log.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstRtuRequests)
#include "tst_rtu_requests.moc"
