// Pulling the plug on the real window: the serial port open on a
// pseudo-terminal whose far end is closed inside a register read's reply
// window, and a TCP connection whose server resets it inside the window.  In
// both cases the program must not spin, must close its side of the link and
// must say why in the log; the open window then ends silently.
#include "common/pty_pair.h"
#include "common/window_rig.h"

#include <QDateTime>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>

#include <ctime>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>

using namespace qvx;

namespace {

double processCpuSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// CPU time the process uses while the event loop runs for ms milliseconds.
double cpuWhileIdle(int ms)
{
    const double before = processCpuSeconds();
    QTest::qWait(ms);
    return processCpuSeconds() - before;
}

// Closes the pty pair's peer side now; the descriptor number is kept (on
// /dev/null) so that the pair's own clean-up stays harmless.
void closePeer(qvxtest::PtyPair &pty)
{
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, pty.peerFd());
    ::close(null);
}

} // namespace

class TestLinkLoss : public QObject {
    Q_OBJECT

    std::unique_ptr<qvxtest::WindowRig> rig;

    template <typename T> T *child(const char *name) { return rig->child<T>(name); }
    const QStringList &log() const { return rig->log; }
    qsizetype indexOfPrefix(const QString &prefix) const { return rig->indexOfPrefix(prefix); }
    // The test plays the gateway: the window connects to this server.
    QTcpSocket *connectToPeer(QTcpServer &server)
    {
        if (!server.listen(QHostAddress::LocalHost) || !rig->connectTcp(server.serverPort()))
            return nullptr;
        return server.waitForNewConnection(5000) || server.hasPendingConnections()
                   ? server.nextPendingConnection()
                   : nullptr;
    }

private slots:
    void init() { rig = std::make_unique<qvxtest::WindowRig>(); }
    void cleanup() { rig.reset(); }

    void unpluggedSerialDeviceClosesThePortWithoutSpinning()
    {
        qvxtest::PtyPair pty;
        QVERIFY(pty.isValid());
        auto *toggle = child<QPushButton>("Butt_open_port2");
        QVERIFY(rig->openPort(pty.slavePath())); // the toggle says "Disconnect"

        child<QPushButton>("BitBtn3")->click(); // Read registers: the window opens
        QVERIFY(!pty.read(8, 5000).isEmpty());
        closePeer(pty);

        QTRY_VERIFY_WITH_TIMEOUT(log().contains(QStringLiteral("Serial port for modbus closed")), 5000);
        const qsizetype lost = indexOfPrefix(QStringLiteral("Serial device ") + pty.slavePath() + " lost: ");
        QVERIFY2(lost >= 0, qPrintable(log().join('\n')));
        // What happened in plain words, the system's own text after them.
        const QString plain = QStringLiteral("Serial device ") + pty.slavePath() +
                              " lost: the adapter was unplugged or stopped answering (";
        QVERIFY2(log()[lost].startsWith(plain) && log()[lost].endsWith(QLatin1Char(')')) &&
                     log()[lost].size() > plain.size() + 1,
                 qPrintable(log()[lost]));
        QCOMPARE(log().value(lost + 1), QStringLiteral("Serial port for modbus closed"));
        QVERIFY(!rig->session().comm2().isOpen());
        QCOMPARE(toggle->text(), QStringLiteral("Connect to port"));
        QCOMPARE(rig->session().status(1), pty.slavePath() + QStringLiteral(" is closed"));
        QVERIFY(child<QComboBox>("Combo_com2_name")->isEnabled());

        // Idle after the fault, the window's end included: no busy loop.
        const double cpu = cpuWhileIdle(2000);
        QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("%1 s CPU in 2 s").arg(cpu)));
        // The window ended as for a closed link: silently.
        QVERIFY2(indexOfPrefix(QStringLiteral("Respond:")) < 0, qPrintable(log().join('\n')));
        QCOMPARE(log().count(QStringLiteral("Serial port for modbus closed")), 1);
    }

    void resetTcpConnectionIsLoggedAndEndsTheLink()
    {
        QTcpServer server;
        QTcpSocket *peer = connectToPeer(server);
        QVERIFY(peer);

        child<QPushButton>("BitBtn3")->click();
        QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() >= 12, 5000);
        // SO_LINGER with a zero time-out makes close() send a reset.
        linger hard{1, 0};
        QCOMPARE(::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
        peer->abort();

        const QString disconnected = QStringLiteral("Disconnected TCP/IP connection at ");
        QTRY_VERIFY_WITH_TIMEOUT(indexOfPrefix(disconnected) >= 0, 5000);
        const qsizetype error = log().indexOf(QStringLiteral("Socket error #104"));
        QVERIFY2(error >= 0 && error < indexOfPrefix(disconnected), qPrintable(log().join('\n')));
        QCOMPARE(log().count(QStringLiteral("Socket error #104")), 1);
        QVERIFY(!rig->tcpConnected());

        const double cpu = cpuWhileIdle(2000);
        QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("%1 s CPU in 2 s").arg(cpu)));
        QVERIFY2(indexOfPrefix(QStringLiteral("Respond:")) < 0, qPrintable(log().join('\n')));
    }

    void orderlyCloseIsSilentAndTimesCarryNoZone()
    {
        QTcpServer server;
        QTcpSocket *peer = connectToPeer(server);
        QVERIFY(peer);
        peer->disconnectFromHost();

        const QString disconnected = QStringLiteral("Disconnected TCP/IP connection at ");
        QTRY_VERIFY_WITH_TIMEOUT(indexOfPrefix(disconnected) >= 0, 5000);
        QCOMPARE(indexOfPrefix(QStringLiteral("Socket error #")), -1);

        const QString zone = QDateTime::currentDateTime().timeZoneAbbreviation();
        const QString connectedLine = log().value(indexOfPrefix(QStringLiteral("Connected TCP/IP, at ")));
        const QString disconnectedLine = log().value(indexOfPrefix(disconnected));
        QVERIFY(!connectedLine.isEmpty());
        for (const QString &line : {connectedLine, disconnectedLine}) {
            QVERIFY2(zone.isEmpty() || !line.contains(zone), qPrintable(line));
            QVERIFY2(line.back().isDigit() || line.endsWith(QLatin1String("M")), qPrintable(line));
        }
    }
};

QTEST_MAIN(TestLinkLoss)
#include "tst_link_loss.moc"
