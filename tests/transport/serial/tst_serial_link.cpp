// The serial component and the receive handler on a real pseudo-terminal
// pair: bytes both ways, bursts, purge, the bounded output queue, RTS on a
// line that has none, line settings as the device sees them, open failures.
#include "common/hex.h"
#include "core/errors.h"
#include "common/pty_pair.h"
#include "common/serial_fixture.h"
#include "transport/session.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

using qvxtest::hex;

using namespace qvx;
using qvxtest::PtyPair;

namespace {

QByteArray pattern(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 256) & 0xFF);
    return b;
}

} // namespace

class TstSerialLink : public QObject {
    Q_OBJECT

    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<Session> session;

    Comm2 &comm() { return session->comm2(); }
    void openPort(const Comm2::LineSettings &s = {}) { qvxtest::openOnPty(*session, *pty, s); }

private slots:
    void init()
    {
        pty = std::make_unique<PtyPair>();
        QVERIFY(pty->isValid());
        session = std::make_unique<Session>();
    }
    void cleanup()
    {
        // The port goes before its pty.
        session.reset();
        pty.reset();
    }

    void bytesWrittenArriveInOrderAtPeer()
    {
        openPort();
        comm().blockWrite(hex("01 03 00 00"));
        comm().writeByte(0x0A);
        QVERIFY(comm().writeText("hello\r\n"));
        comm().blockWrite(hex("C5 CD"));
        QCOMPARE(pty->read(14), hex("01 03 00 00 0A") + "hello\r\n" + hex("C5 CD"));
    }

    void peerBytesReachRxBuffer()
    {
        openPort();
        QVERIFY(pty->write(hex("01 03 02 00 0A 38 43")));
        QTRY_COMPARE(session->RxBuffer, hex("01 03 02 00 0A 38 43"));
    }

    void rxBufferKeepsWhatWasThereAndAppends()
    {
        openPort();
        session->RxBuffer = "old";
        QVERIFY(pty->write("new"));
        QTRY_COMPARE(session->RxBuffer, QByteArray("oldnew"));
    }

    void burstLargerThanWorkAreaArrivesWhole_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("one byte over the work area") << 1025;
        QTest::newRow("more than the driver queue") << 5000;
        QTest::newRow("many work areas") << 40000;
    }
    void burstLargerThanWorkAreaArrivesWhole()
    {
        QFETCH(int, size);
        openPort();
        const QByteArray burst = pattern(size);
        QVERIFY(pty->write(burst));
        QTRY_COMPARE_WITH_TIMEOUT(session->RxBuffer.size(), qsizetype(size), 10000);
        QCOMPARE(session->RxBuffer, burst);
    }

    void readoutCaptureGetsTheSameBytes()
    {
        openPort();
        session->ReadoutCaptureActive = true;
        QByteArray captured;
        connect(session.get(), &Session::readoutBytes, this, [&](const QByteArray &b) { captured += b; });
        const QByteArray reply = pattern(3000);
        QVERIFY(pty->write(reply));
        QTRY_COMPARE(session->RxBuffer.size(), reply.size());
        QCOMPARE(session->RxBuffer, reply);
        QCOMPARE(captured, reply);
    }

    void purgeDiscardsQueuedOutputAndUnreadInput()
    {
        openPort();
        // Neither the queued output nor the peer's bytes have been handled yet:
        // that takes a turn of the event loop.
        comm().blockWrite("stale request");
        QVERIFY(pty->write("stale reply"));
        comm().purge();
        comm().blockWrite("fresh request");
        QVERIFY(pty->write("fresh reply"));
        QCOMPARE(pty->read(13), QByteArray("fresh request"));
        QTRY_COMPARE(session->RxBuffer, QByteArray("fresh reply"));
    }

    void rtsOnLineWithoutModemLinesIsNoOp()
    {
        openPort();
        QVERIFY(comm().isVirtualLine());
        comm().setRts(true);
        comm().blockWrite("ab");
        comm().setRts(false);
        QCOMPARE(pty->read(2), QByteArray("ab"));
    }

    void closedPortIgnoresWritesRtsAndPurge()
    {
        comm().setDevicePath(pty->slavePath());
        comm().blockWrite("ab");
        comm().writeByte(1);
        comm().setRts(true);
        comm().purge();
        QCOMPARE(comm().read(10), QByteArray());
        // Nothing was kept for later either.
        openPort();
        comm().blockWrite("z");
        QCOMPARE(pty->read(1), QByteArray("z"));
    }

    void fullOutputQueueRaisesAfterWaiting()
    {
        openPort();
        QVERIFY2(qvxtest::fillOutputQueue(session->comm2()), "the output queue never filled");
        try {
            comm().blockWrite("one more");
            QFAIL("no error raised");
        } catch (const QvxError &e) {
            QCOMPARE(e.message(), QStringLiteral("Output buffer is full. Please check comm status."));
        }
    }

    void queueDrainsWhenPeerReads()
    {
        openPort();
        const QByteArray big = pattern(20000);
        // Each block waits for room as the peer reads; none of them fails.
        QByteArray received;
        for (int off = 0; off < big.size(); off += 1000) {
            comm().blockWrite(big.mid(off, 1000));
            received += pty->readAvailable();
        }
        received += pty->read(big.size() - received.size());
        QCOMPARE(received, big);
    }

    // The pty stores speed, stop bits and the parity-kind bits but refuses
    // PARENB without PARODD (even parity) and 7 data bits; the port still opens.
    void lineSettingsReachTheDevice_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("stop");
        QTest::addColumn<int>("speedCode");
        QTest::addColumn<bool>("parOdd");
        QTest::addColumn<bool>("cmspar");
        QTest::addColumn<bool>("twoStop");
        QTest::newRow("19200 even 1")
            << 19200 << int(QSerialPort::EvenParity) << 1 << int(B19200) << false << false << false;
        QTest::newRow("9600 odd 2") << 9600 << int(QSerialPort::OddParity) << 2 << int(B9600) << true << false
                                    << true;
        QTest::newRow("115200 mark 1")
            << 115200 << int(QSerialPort::MarkParity) << 1 << int(B115200) << true << true << false;
        QTest::newRow("300 space 2") << 300 << int(QSerialPort::SpaceParity) << 2 << int(B300) << false
                                     << true << true;
        QTest::newRow("38400 none 1")
            << 38400 << int(QSerialPort::NoParity) << 1 << int(B38400) << false << false << false;
    }
    void lineSettingsReachTheDevice()
    {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, stop);
        Comm2::LineSettings s;
        s.baudRate = baud;
        s.parity = QSerialPort::Parity(parity);
        s.stopBits = stop == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
        openPort(s);
        const termios t = pty->termiosNow();
        QTEST(int(cfgetospeed(&t)), "speedCode");
        QTEST(bool(t.c_cflag & PARODD), "parOdd");
        QTEST(bool(t.c_cflag & CMSPAR), "cmspar");
        QTEST(bool(t.c_cflag & CSTOPB), "twoStop");
    }

    void settingsRefusedByPtyStillOpen()
    {
        Comm2::LineSettings s;
        s.parity = QSerialPort::EvenParity;
        s.dataBits = QSerialPort::Data7;
        openPort(s);
        QVERIFY(comm().isOpen());
        QCOMPARE(comm().lineSettings(), s);
        comm().blockWrite("ok");
        QCOMPARE(pty->read(2), QByteArray("ok"));
    }

    void missingDeviceIsNotFound()
    {
        comm().setDevicePath(QStringLiteral("/dev/qvx-no-such-port"));
        QVERIFY(!comm().testOpen());
        try {
            comm().open();
            QFAIL("no error raised");
        } catch (const QvxError &e) {
            QCOMPARE(e.message(), QStringLiteral("Specified device not found (/dev/qvx-no-such-port)."));
        }
        QVERIFY(!comm().isOpen());
    }

    void deviceThatIsNoTerminalCannotOpen()
    {
        comm().setDevicePath(QStringLiteral("/dev/null"));
        QVERIFY(!comm().testOpen());
        try {
            comm().open();
            QFAIL("no error raised");
        } catch (const QvxError &e) {
            QVERIFY2(e.message().startsWith(QStringLiteral("Can't open specified device /dev/null (Error ")),
                     qPrintable(e.message()));
            QVERIFY2(e.message().endsWith(QLatin1Char(')')), qPrintable(e.message()));
        }
        QVERIFY(!comm().isOpen());
    }

    void portHeldOpenFailsTheTestOpen()
    {
        openPort();
        Comm2 other;
        other.setDevicePath(pty->slavePath());
        QVERIFY(!other.testOpen());
        comm().close();
        QVERIFY(other.testOpen());
    }
};

QTEST_GUILESS_MAIN(TstSerialLink)
#include "tst_serial_link.moc"
