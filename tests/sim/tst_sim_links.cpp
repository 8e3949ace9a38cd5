// The simulator's links on real pseudo-terminals and 127.0.0.1 sockets:
// RTU and TCP service, every fault switch as seen on the wire, pacing, and
// the meter's readout.
#include "common/hex.h"
#include "sim/meter_link.h"
#include "sim/pty_link.h"
#include "sim/tcp_server.h"
#include "transport/modbus.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using qvxtest::hex;

using namespace qvxsim;

// The other end of a pseudo-terminal, as a client opens it: every read is
// kept with the time it arrived.
class PtyClient : public QObject {
public:
    ~PtyClient() override
    {
        notifier_.reset();
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool open(const QString &path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return false;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            char buf[512];
            ssize_t n;
            while ((n = ::read(fd_, buf, sizeof buf)) > 0) {
                data.append(buf, n);
                arrivals.append({clock.nsecsElapsed() / 1000, int(n)});
            }
        });
        return true;
    }
    void send(const QByteArray &bytes)
    {
        clock.start();
        [[maybe_unused]] const ssize_t n = ::write(fd_, bytes.constData(), size_t(bytes.size()));
    }
    // Writes all of bytes however little the terminal takes at a time,
    // letting the event loop run (and the simulator read) in between.
    bool sendAll(const QByteArray &bytes)
    {
        clock.start();
        qsizetype at = 0;
        for (int idle = 0; at < bytes.size() && idle < 5000; ++idle) {
            const ssize_t n = ::write(fd_, bytes.constData() + at, size_t(bytes.size() - at));
            if (n > 0) {
                at += n;
                idle = 0;
            } else {
                QTest::qWait(1);
            }
        }
        return at == bytes.size();
    }
    bool waitFor(qsizetype bytes, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return data.size() >= bytes; }, timeoutMs);
    }
    // Microseconds from the send to the arrival of byte index i.
    qint64 arrivalOf(qsizetype index) const
    {
        qsizetype seen = 0;
        for (const auto &[us, n] : arrivals) {
            seen += n;
            if (seen > index)
                return us;
        }
        return -1;
    }

    QByteArray data;
    QList<QPair<qint64, int>> arrivals;
    QElapsedTimer clock;

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

static QByteArray readRegistersRequest(int start, int count)
{
    return qvx::rtuFrame(1, qvx::pduReadHolding(start, count));
}

class TstSimLinks : public QObject {
    Q_OBJECT
private slots:
    void ptyServesRtuAndMakesTheLink()
    {
        QTemporaryDir dir;
        Device device;
        const QString linkPath = dir.filePath("ttyQVX");
        {
            PtyLink link(device);
            QVERIFY2(link.open(linkPath), qPrintable(link.errorString()));
            QCOMPARE(QFileInfo(linkPath).symLinkTarget(), link.slavePath());
            PtyClient client;
            QVERIFY(client.open(linkPath));
            client.send(readRegistersRequest(100, 1));
            const QByteArray expected = qvx::rtuFrame(1, hex("03 02 00 0F"));
            QVERIFY(client.waitFor(expected.size()));
            QCOMPARE(client.data, expected);
        }
        QVERIFY(!QFileInfo(linkPath).isSymLink());
    }

    void ptyReplacesAStaleLinkButNotAFile()
    {
        QTemporaryDir dir;
        Device device;
        const QString stale = dir.filePath("stale");
        QVERIFY(QFile::link("/nonexistent/pts/99", stale));
        PtyLink a(device);
        QVERIFY(a.open(stale));
        QCOMPARE(QFileInfo(stale).symLinkTarget(), a.slavePath());
        const QString file = dir.filePath("file");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        PtyLink b(device);
        QVERIFY(!b.open(file));
        QVERIFY(b.errorString().contains(file));
    }

    void ptyAnswers126RegisterReadAndWriteInFull()
    {
        Device device;
        PtyLink link(device);
        QVERIFY(link.open());
        PtyClient client;
        QVERIFY(client.open(link.slavePath()));
        QByteArray data;
        for (int i = 0; i < 252; ++i)
            data.append(char(i));
        client.send(qvx::rtuFrame(1, qvx::pduWriteMultiple(1128, 252, data)));
        const QByteArray ack = qvx::rtuFrame(1, hex("10 04 68 00 7E"));
        QVERIFY(client.waitFor(ack.size()));
        QCOMPARE(client.data, ack);
        client.data.clear();
        client.send(readRegistersRequest(1128, 126));
        QVERIFY(client.waitFor(5 + 252));
        QCOMPARE(client.data, qvx::rtuFrame(1, QByteArray("\x03\xFC", 2) + data));
    }

    void newUnitAddressAnswersFromTheOldOneFirst()
    {
        Device device;
        PtyLink link(device);
        QVERIFY(link.open());
        PtyClient client;
        QVERIFY(client.open(link.slavePath()));
        const QByteArray write = qvx::rtuFrame(1, qvx::pduWriteSingle(32785, 0, 9));
        client.send(write);
        QVERIFY(client.waitFor(write.size()));
        QCOMPARE(client.data, write);
        client.data.clear();
        client.send(readRegistersRequest(7, 1)); // the old address: silence
        client.send(qvx::rtuFrame(9, qvx::pduReadHolding(32785, 1)));
        const QByteArray expected = qvx::rtuFrame(9, hex("03 02 00 09"));
        QVERIFY(client.waitFor(expected.size()));
        QCOMPARE(client.data, expected);
    }

    // 32 KiB of line noise on the RTU line: the TCP side goes on answering
    // meanwhile, and after the noise a request is answered again (a master
    // repeats an unanswered request after its timeout).  The noise holds no
    // byte 0 or 1, so nothing in it is addressed to the device.
    // (bench/sim_rtu_noise_bench times the framer on such noise.)
    void rtuNoiseStarvesNeitherLink()
    {
        Device device;
        PtyLink link(device);
        QVERIFY(link.open());
        TcpServer server(device);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(socket.waitForConnected(5000));
        PtyClient client;
        QVERIFY(client.open(link.slavePath()));

        QRandomGenerator random(7);
        QByteArray noise(32768, Qt::Uninitialized);
        for (char &c : noise)
            c = char(2 + random.bounded(254));
        socket.write(qvx::tcpFrame(3, 1, qvx::pduReadHolding(100, 1)));
        QVERIFY(client.sendAll(noise));
        const QByteArray tcpReply = qvx::tcpFrame(3, 1, hex("03 02 00 0F"));
        QVERIFY(QTest::qWaitFor([&] { return socket.bytesAvailable() >= tcpReply.size(); }, 5000));
        QCOMPARE(socket.readAll(), tcpReply);
        QVERIFY(client.data.isEmpty());

        const QByteArray expected = qvx::rtuFrame(1, hex("03 02 00 0F"));
        for (int attempt = 0; attempt < 5 && client.data.isEmpty(); ++attempt) {
            client.send(readRegistersRequest(100, 1));
            client.waitFor(expected.size(), 1000);
        }
        QCOMPARE(client.data.left(expected.size()), expected);
    }

    void faultSwitchesOnTheWire_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray request = readRegistersRequest(100, 1);
        const QByteArray reply = qvx::rtuFrame(1, hex("03 02 00 0F"));
        QByteArray badCrc = reply;
        badCrc[5] = char(~uint8_t(badCrc[5]));
        badCrc[6] = char(~uint8_t(badCrc[6]));
        QTest::newRow("corrupted crc") << "crc" << badCrc;
        QTest::newRow("trailing zero") << "trailing" << reply + QByteArray(1, '\0');
        QTest::newRow("stray leading byte") << "stray" << QByteArray(1, '\0') + reply;
        QTest::newRow("echo before reply") << "echo" << request + reply;
        QTest::newRow("other unit") << "unit" << qvx::rtuFrame(2, hex("03 02 00 0F"));
        QTest::newRow("exception for address") << "exception" << qvx::rtuFrame(1, hex("83 04"));
        QTest::newRow("delay") << "delay" << reply;
        QTest::newRow("split with pause") << "split" << reply;
    }
    void faultSwitchesOnTheWire()
    {
        QFETCH(QString, fault);
        QFETCH(QByteArray, expected);
        Device device;
        LinkOptions options;
        Faults &f = options.faults;
        f.corruptCrc = fault == "crc";
        f.trailingZero = fault == "trailing";
        f.strayLeadingByte = fault == "stray";
        f.echoRequest = fault == "echo";
        f.otherUnit = fault == "unit";
        if (fault == "exception")
            f.exceptionRanges = {{100, 100}};
        if (fault == "delay")
            f.delayMs = 300;
        if (fault == "split")
            f.splitPauseMs = 200;
        PtyLink link(device, options);
        QVERIFY(link.open());
        PtyClient client;
        QVERIFY(client.open(link.slavePath()));
        client.send(readRegistersRequest(100, 1));
        QVERIFY(client.waitFor(expected.size()));
        QCOMPARE(client.data.toHex(' '), expected.toHex(' '));
        // Timers never fire early, so bounds counted from the request hold
        // on any machine, however late the client's reads are served.
        if (fault == "delay")
            QVERIFY2(client.arrivalOf(0) >= 300000, qPrintable(QString::number(client.arrivalOf(0))));
        if (fault == "split") {
            const qsizetype half = expected.size() / 2;
            QVERIFY(client.arrivalOf(half - 1) < client.arrivalOf(half));
            QVERIFY(client.arrivalOf(half) >= 200000);
        }
    }

    void exceptionFaultDoesNotCarryOutTheWrite()
    {
        Device device;
        LinkOptions options;
        options.faults.exceptionRanges = {{100, 100}};
        options.faults.exceptionCode = 6;
        PtyLink link(device, options);
        QVERIFY(link.open());
        PtyClient client;
        QVERIFY(client.open(link.slavePath()));
        client.send(qvx::rtuFrame(1, qvx::pduWriteSingle(100, 0, 30)));
        const QByteArray expected = qvx::rtuFrame(1, hex("86 06"));
        QVERIFY(client.waitFor(expected.size()));
        QCOMPARE(client.data, expected);
        QCOMPARE(device.readoutMinutes(), 15);
    }

    void droppedRepliesNeverArrive()
    {
        // With every second reply dropped, of three requests the first and
        // third are answered and the second's reply never shows between them.
        Device device;
        LinkOptions options;
        options.faults.dropReplies = true;
        options.faults.every = 2;
        PtyLink link(device, options);
        QVERIFY(link.open());
        PtyClient client;
        QVERIFY(client.open(link.slavePath()));
        const QByteArray first = qvx::rtuFrame(1, hex("03 02 00 0F"));
        client.send(readRegistersRequest(100, 1));
        QVERIFY(client.waitFor(first.size()));
        client.send(readRegistersRequest(7, 1));
        QTRY_COMPARE(link.server().requestsHandled(), quint64(2));
        client.send(readRegistersRequest(100, 1));
        QVERIFY(client.waitFor(2 * first.size()));
        QTRY_COMPARE(link.server().requestsHandled(), quint64(3));
        QCOMPARE(client.data, first + first);
    }

    void pacedRepliesTrickleAtTheLineRate()
    {
        Device device;
        device.setRtuLine({19200, 'E', 8, 1}); // 11 bits: 573 us a character
        LinkOptions options;
        options.pace = true;
        PtyLink link(device, options);
        QVERIFY(link.open());
        PtyClient client;
        QVERIFY(client.open(link.slavePath()));
        client.send(readRegistersRequest(1000, 126));
        QVERIFY(client.waitFor(257));
        const qint64 charUs = 11 * 1000000LL / 19200;
        // The last byte cannot leave before 256 character times after the
        // first, which left after the request.
        const qint64 last = client.arrivalOf(256);
        QVERIFY2(last >= 256 * charUs, qPrintable(QString::number(last)));
        QVERIFY(client.arrivals.size() > 1);
    }

    void meterAnswersItsAddressWithABlockAtItsPace()
    {
        Device device;
        MeterOptions options;
        options.address = "12345678";
        options.line = {9600, 'E', 7, 1}; // 10 bits: 1041 us a character
        MeterLink meter(device, options);
        QVERIFY2(meter.openPty(), qPrintable(meter.errorString()));
        PtyClient client;
        QVERIFY(client.open(meter.slavePath()));
        client.send("/?87654321!\r\n"); // another meter's address: ignored
        client.send("/?12345678!\r\n");
        QVERIFY(QTest::qWaitFor(
            [&] {
                return client.data.contains('\x03') && client.data.size() > client.data.indexOf('\x03') + 1;
            },
            10000));
        QCOMPARE(meter.answers(), 1);
        const QByteArray &a = client.data;
        QVERIFY(a.startsWith("/QVX5SIMMETER\r\n\x02"));
        const qsizetype stx = a.indexOf('\x02'), etx = a.indexOf('\x03');
        QCOMPARE(a.size(), etx + 2);
        uint8_t bcc = 0;
        for (qsizetype i = stx + 1; i <= etx; ++i)
            bcc ^= uint8_t(a[i]);
        QCOMPARE(uint8_t(a[etx + 1]), bcc);
        QVERIFY(a.contains("\r\n!\r\n\x03"));
        const QList<QByteArray> lines = a.mid(stx + 1, etx - stx - 1).split('\n');
        QVERIFY(lines.contains("0.0.0(12345678)\r"));
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QByteArray &l) {
            return l.startsWith("1.8.0(") && l.endsWith("*kWh)\r");
        }));
        // Paced: the answer takes its bytes' worth of character times, and
        // starts after the response time.
        QVERIFY(client.arrivals.size() > 1);
        QVERIFY(client.arrivalOf(0) >= 200000);
        QVERIFY(client.arrivalOf(a.size() - 1) >= 200000 + (a.size() - 1) * 1041);
    }

    void meterAnswersAnEmptyAddress()
    {
        Device device;
        MeterLink meter(device);
        QVERIFY(meter.openPty());
        PtyClient client;
        QVERIFY(client.open(meter.slavePath()));
        client.send("/?!\r\n");
        QVERIFY(client.waitFor(20, 10000));
        QVERIFY(client.data.startsWith("/QVX5SIMMETER\r\n"));
    }

    void tcpServesSeveralClientsOneAfterTheOther()
    {
        Device device;
        TcpServer server(device);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QVERIFY(server.serverPort() != 0);
        for (int round = 0; round < 3; ++round) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
            QVERIFY(socket.waitForConnected(5000));
            socket.write(qvx::tcpFrame(uint16_t(1000 + round), 1, qvx::pduReadInput(1000, 126)));
            QVERIFY(QTest::qWaitFor([&] { return socket.bytesAvailable() >= 9 + 252; }, 5000));
            const QByteArray reply = socket.readAll();
            QCOMPARE(reply.size(), 9 + 252);
            // Length field: unit, function, byte count and 252 data bytes = 255.
            QCOMPARE(reply.left(9),
                     qvx::tcpFrame(uint16_t(1000 + round), 1, hex("04 FC")).left(9).replace(5, 1, "\xFF"));
        }
        QCOMPARE(server.connectionCount(), 3);
    }

    void tcpWrites126Registers()
    {
        Device device;
        TcpServer server(device);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(socket.waitForConnected(5000));
        socket.write(qvx::tcpFrame(5, 1, qvx::pduWriteMultiple(1000, 252, QByteArray(252, '\x11'))));
        QVERIFY(QTest::qWaitFor([&] { return socket.bytesAvailable() >= 12; }, 5000));
        QCOMPARE(socket.readAll(), qvx::tcpFrame(5, 1, hex("10 03 E8 00 7E")));
        QCOMPARE(device.holding(1125), uint16_t(0x1111));
    }

    void tcpFaultsApply()
    {
        Device device;
        LinkOptions options;
        options.faults.otherUnit = true;
        options.faults.splitPauseMs = 100;
        TcpServer server(device, options);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(socket.waitForConnected(5000));
        QElapsedTimer t;
        t.start();
        socket.write(qvx::tcpFrame(9, 1, qvx::pduReadHolding(100, 1)));
        const QByteArray expected = qvx::tcpFrame(9, 2, hex("03 02 00 0F"));
        QByteArray got;
        QVERIFY(QTest::qWaitFor(
            [&] {
                got += socket.readAll();
                return got.size() >= expected.size();
            },
            5000));
        QCOMPARE(got, expected);
        QVERIFY(t.elapsed() >= 100);
    }

    void tcpClosesAnIdleConnection()
    {
        Device device;
        device.setHolding(Device::RegTcpIdle, 0);
        device.setHolding(Device::RegTcpIdle + 1, 200);
        TcpServer server(device);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket socket;
        QSignalSpy closed(&socket, &QTcpSocket::disconnected);
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(socket.waitForConnected(5000));
        QVERIFY(closed.wait(5000));
    }
};

QTEST_GUILESS_MAIN(TstSimLinks)
#include "tst_sim_links.moc"
