// The Modbus TCP link through its controls, against real TCP servers that the
// test runs on 127.0.0.1: connect and disconnect, refusals, the transaction
// identifiers and frames that reach the server, and the receive buffer.
#include "common/hex.h"
#include "core/time_format.h"
#include "widgets/typing_limit.h"
#include "common/scripted_dialogs.h"
#include "transport/session.h"
#include "widgets/tcp_panel.h"
#include "transport/xport_socket.h"

#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTime>
#include <QTimeZone>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using qvxtest::hex;

using namespace qvx;

namespace {

// A Modbus TCP peer on 127.0.0.1 that records every byte it receives.
class Server : public QObject {
public:
    Server()
    {
        listening = server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            peer = server.nextPendingConnection();
            ++connections;
            connect(peer, &QTcpSocket::readyRead, this, [this] { received += peer->readAll(); });
        });
    }
    quint16 port() const { return server.serverPort(); }

    QTcpServer server;
    bool listening = false;
    QTcpSocket *peer = nullptr;
    int connections = 0;
    QByteArray received;
};

// The TCP panel on its own session, with the log and status panel 0 captured.
struct Link {
    Link()
    {
        QObject::connect(&session, &Session::logLine, &session, [this](const QString &l) { log << l; });
        ip = panel.findChild<QLineEdit *>(QStringLiteral("Edit_remoteIP"));
        port = panel.findChild<QLineEdit *>(QStringLiteral("Edit_port"));
        timeout = panel.findChild<QSpinBox *>(QStringLiteral("UD_connectTimeout"));
        connectButton = panel.findChild<QPushButton *>(QStringLiteral("Butt_connectEthernet"));
        disconnectButton = panel.findChild<QPushButton *>(QStringLiteral("Butt_ethernetDisconnect"));
        // Short busy waits keep the tests quick; the outcome arrives by event.
        timeout->setValue(2);
    }
    // Clicks "Connect" towards the server and waits until the link is up.
    bool connectTo(Server &server, const QString &address = QStringLiteral("127.0.0.1"))
    {
        ip->setText(address);
        port->setText(QString::number(server.port()));
        const int before = server.connections;
        connectButton->click();
        return QTest::qWaitFor([&] { return !connectButton->isEnabled() && server.connections > before; });
    }
    QString status0() const { return session.status(0); }
    QAbstractSocket::SocketState clientState() { return session.socket().socket()->state(); }

    qvxtest::ScopedDialogs dialogs;
    Session session;
    TcpPanel panel{session};
    QStringList log;
    QLineEdit *ip;
    QLineEdit *port;
    QSpinBox *timeout;
    QPushButton *connectButton;
    QPushButton *disconnectButton;
};

// True when line is prefix followed by the operator's long time format of a
// moment between before and after (whole seconds, either end included).
bool isTimeLine(const QString &line, const QString &prefix, QTime before, QTime after)
{
    if (!line.startsWith(prefix))
        return false;
    const QString rest = line.mid(prefix.size());
    for (QTime t = before.addMSecs(-before.msec()); t <= after.addSecs(1); t = t.addSecs(1)) {
        // The operator's clock format, without the zone name Qt's long
        // format would add.
        if (rest == qvx::longTimeText(t))
            return !rest.contains(QTimeZone::systemTimeZone().abbreviation(QDateTime::currentDateTime()));
    }
    return false;
}

enum class Op { ReadHolding, ReadInput, WriteSingle, WriteMultiple, WriteMultiple126, ReadDeviceId };

void runOp(Session &s, Op op)
{
    switch (op) {
    case Op::ReadHolding:
        s.SendReadHolding(1, 0, 10);
        break;
    case Op::ReadInput:
        s.SendReadInput(1, 100, 2);
        break;
    case Op::WriteSingle:
        s.SendWriteSingle(1, 100, 0, 1);
        break;
    case Op::WriteMultiple:
        s.SendWriteMultiple(1, 100, 4, hex("00 01 00 02"));
        break;
    case Op::WriteMultiple126:
        s.SendWriteMultiple(1, 1000, 252, QByteArray(252, '\x5A'));
        break;
    case Op::ReadDeviceId:
        s.SendReadDeviceId(1, 2);
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Op)

class TstTcpLink : public QObject {
    Q_OBJECT
private slots:
    // --- controls ------------------------------------------------------------
    void controlsStartIdleWithTheirDefaultsAndLimits()
    {
        Link l;
        QVERIFY(l.ip && l.port && l.timeout && l.connectButton && l.disconnectButton);
        QCOMPARE(typingLimit(l.ip), 15);
        QCOMPARE(l.ip->accessibleName(), QStringLiteral("IP to connect (QVX-24)"));
        QCOMPARE(l.port->text(), QStringLiteral("502"));
        QCOMPARE(typingLimit(l.port), 5);
        QCOMPARE(l.port->accessibleName(), QStringLiteral("Port"));
        QCOMPARE(l.connectButton->text(), QStringLiteral("Connect"));
        QCOMPARE(l.disconnectButton->text(), QStringLiteral("Disconnect"));
        QVERIFY(l.connectButton->isEnabled());
        QVERIFY(l.disconnectButton->isEnabled());

        TcpPanel fresh(l.session);
        auto *ud = fresh.findChild<QSpinBox *>(QStringLiteral("UD_connectTimeout"));
        QCOMPARE(ud->value(), 1);
        QCOMPARE(ud->minimum(), 1);
        QCOMPARE(ud->maximum(), 999);
    }

    void connectTimeoutEditIsReadOnlyButTheArrowsStep()
    {
        Link l;
        auto *edit = l.timeout->findChild<QLineEdit *>(QStringLiteral("Edit_connectTimeout"));
        QVERIFY(edit);
        QVERIFY(edit->isReadOnly());
        QCOMPARE(edit->accessibleName(), QStringLiteral("Connect timeout"));
        l.timeout->setValue(1);
        QTest::keyClick(l.timeout, Qt::Key_Up);
        QCOMPARE(l.timeout->value(), 2);
        QCOMPARE(edit->text(), QStringLiteral("2"));
        QTest::keyClicks(edit, QStringLiteral("7"));
        QCOMPARE(l.timeout->value(), 2);
    }

    // --- connect and disconnect -----------------------------------------------
    void connectLogsTimeSetsPanelAndSwitchesToTcp_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("plain") << QStringLiteral("127.0.0.1");
        // Leading zeros are decimal, as the operator means them.
        QTest::newRow("leading zeros") << QStringLiteral("127.000.000.001");
    }
    void connectLogsTimeSetsPanelAndSwitchesToTcp()
    {
        QFETCH(QString, address);
        Server server;
        QVERIFY(server.listening);
        Link l;
        const QTime before = QTime::currentTime();
        QVERIFY(l.connectTo(server, address));
        const QTime after = QTime::currentTime();

        QCOMPARE(l.log.size(), 2);
        QCOMPARE(l.log.at(0), QStringLiteral("Trying to connect to remote TCP server..."));
        QVERIFY2(isTimeLine(l.log.at(1), QStringLiteral("Connected TCP/IP, at "), before, after),
                 qPrintable(l.log.at(1)));
        QCOMPARE(l.status0(), QStringLiteral("Connected to ") + address);
        QVERIFY(!l.connectButton->isEnabled());
        QVERIFY(l.disconnectButton->isEnabled());
        QCOMPARE(l.session.socket().port(), int(server.port()));
        QVERIFY(l.dialogs.dialogs.raised.isEmpty());
    }

    void disconnectButtonEndsConnectionAndReturnsToRtu()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        l.log.clear();

        const QTime before = QTime::currentTime();
        l.disconnectButton->click();
        QTRY_COMPARE(l.log.size(), 1);
        const QTime after = QTime::currentTime();
        QVERIFY2(isTimeLine(l.log.at(0), QStringLiteral("Disconnected TCP/IP connection at "), before, after),
                 qPrintable(l.log.at(0)));
        QCOMPARE(l.status0(), QStringLiteral("Disconnected TCP "));
        QVERIFY(l.connectButton->isEnabled());
        QTRY_COMPARE(server.peer->state(), QAbstractSocket::UnconnectedState);
    }

    void serverClosingTheConnectionIsADisconnect()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        l.log.clear();

        server.peer->close();
        QTRY_VERIFY(l.connectButton->isEnabled());
        QCOMPARE(l.log.size(), 1);
        QVERIFY(l.log.at(0).startsWith(QStringLiteral("Disconnected TCP/IP connection at ")));
        QCOMPARE(l.status0(), QStringLiteral("Disconnected TCP "));
        QVERIFY(l.connectButton->isEnabled());
    }

    void refusedPortLogsSocketErrorAndStaysIdle()
    {
        quint16 deadPort;
        {
            Server gone;
            QVERIFY(gone.listening);
            deadPort = gone.port();
        }
        Link l;
        QSignalSpy notices(&l.session, &Session::notice);
        l.ip->setText(QStringLiteral("127.0.0.1"));
        l.port->setText(QString::number(deadPort));
        l.connectButton->click();
        QTRY_COMPARE(l.log.size(), 2);
        QCOMPARE(l.log.at(0), QStringLiteral("Trying to connect to remote TCP server..."));
        QCOMPARE(l.log.at(1), QStringLiteral("Socket error #111"));
        // The status bar says what the number means.
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.at(0).at(0).toString(),
                 QStringLiteral("connection refused by 127.0.0.1:%1 (socket error #111)").arg(deadPort));
        QVERIFY(l.connectButton->isEnabled());
        QCOMPARE(l.status0(), QString());
        QCOMPARE(l.clientState(), QAbstractSocket::UnconnectedState);

        // The operator may press "Connect" again; it fails the same way.
        l.connectButton->click();
        QTRY_COMPARE(l.log.size(), 4);
        QCOMPARE(l.log.at(3), QStringLiteral("Socket error #111"));
    }

    void disconnectWhileIdleChangesNothing()
    {
        Link l;
        l.session.setStatus(0, QStringLiteral("as at start"));
        l.disconnectButton->click();
        QCoreApplication::processEvents();
        QVERIFY(l.log.isEmpty());
        QVERIFY(l.connectButton->isEnabled());
        QCOMPARE(l.status0(), QStringLiteral("as at start"));
        QCOMPARE(l.clientState(), QAbstractSocket::UnconnectedState);
    }

    // --- refusals -------------------------------------------------------------
    void connectIsRefusedWhileSerialPortIsOpen()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        l.session.SerialPortOpen = true;
        l.ip->setText(QStringLiteral("127.0.0.1"));
        l.port->setText(QString::number(server.port()));
        l.connectButton->click();
        QCOMPARE(l.log,
                 QStringList{QStringLiteral("There is active SERIAL COM connection. Close it first!")});
        QCOMPARE(l.clientState(), QAbstractSocket::UnconnectedState);
        QCOMPARE(l.session.socket().host(), QString()); // fields not even taken
        QVERIFY(l.connectButton->isEnabled());
    }

    void unusableAddressOrPortIsRefused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("line");
        const QString notSet = QStringLiteral("Remote IP and Port are not properly set...");
        const QString unexpected = QStringLiteral("Unexpected exception when connecting to DOD ethernet...");
        QTest::newRow("empty address") << QString() << QStringLiteral("502") << notSet;
        QTest::newRow("three parts") << QStringLiteral("127.0.1") << QStringLiteral("502") << notSet;
        QTest::newRow("part above 255") << QStringLiteral("127.0.0.256") << QStringLiteral("502") << notSet;
        QTest::newRow("empty part") << QStringLiteral("127..0.1") << QStringLiteral("502") << notSet;
        QTest::newRow("port above 65535")
            << QStringLiteral("127.0.0.1") << QStringLiteral("65536") << unexpected;
        QTest::newRow("five nines") << QStringLiteral("127.0.0.1") << QStringLiteral("99999") << unexpected;
    }
    void unusableAddressOrPortIsRefused()
    {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, line);
        Link l;
        l.ip->setText(address);
        l.port->setText(port);
        l.connectButton->click();
        QCoreApplication::processEvents();
        QCOMPARE(l.log, QStringList{line});
        QCOMPARE(l.clientState(), QAbstractSocket::UnconnectedState);
        QVERIFY(l.connectButton->isEnabled());
        QVERIFY(l.dialogs.dialogs.raised.isEmpty());
    }

    void portFallsBackTo502_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << QString() << 502;
        QTest::newRow("pasted 502x") << QStringLiteral("502x") << 502;
        QTest::newRow("pasted letters") << QStringLiteral("abc") << 502;
        QTest::newRow("decimal") << QStringLiteral("1502") << 1502;
    }
    void portFallsBackTo502()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        Link l;
        l.ip->setText(QStringLiteral("127.0.0.1"));
        l.port->setText(text);
        l.connectButton->click();
        QCOMPARE(l.session.socket().port(), expected);
        QCOMPARE(l.session.socket().host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(l.log.value(0), QStringLiteral("Trying to connect to remote TCP server..."));
        // Let the attempt end (refused, or accepted by whatever listens there).
        QTRY_VERIFY(l.clientState() == QAbstractSocket::UnconnectedState ||
                    l.clientState() == QAbstractSocket::ConnectedState);
    }

    void connectClickWhileConnectedStopsSilently()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        l.session.SendReadHolding(1, 0, 1);
        l.log.clear();
        // The button is disabled; the handler itself still stops quietly.
        l.panel.Butt_connectEthernetClick();
        QVERIFY(l.log.isEmpty());
        QVERIFY(!l.connectButton->isEnabled());
        QCOMPARE(server.connections, 1);
        // The link goes on as it was: the next request is the second.
        l.session.SendReadHolding(1, 0, 1);
        QTRY_COMPARE(server.received.size(), 24);
        QCOMPARE(server.received.mid(12, 2), hex("03 E9"));
    }

    void changingThePortWhileConnectedIsRefusedAndDisconnects()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        l.log.clear();
        l.port->setText(QString::number(server.port() + 1));
        l.panel.Butt_connectEthernetClick();
        QCOMPARE(l.log.value(0), QStringLiteral("Remote IP and Port are not properly set..."));
        QTRY_COMPARE(l.log.size(), 2);
        QVERIFY(l.log.at(1).startsWith(QStringLiteral("Disconnected TCP/IP connection at ")));
        QVERIFY(l.connectButton->isEnabled());
    }

    // --- requests over the link ------------------------------------------------
    void transactionIdsRunFrom1000AndRestartAfterReconnect()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        l.session.SendReadHolding(1, 0, 10);
        QTRY_COMPARE(server.received.size(), 12);
        // A reply in between does not matter: identifiers are never compared.
        server.peer->write(hex("03 E8 00 00 00 05 01 03 02 00 0A"));
        QTest::qWait(100);
        l.session.SendReadHolding(1, 0, 10);
        QTRY_COMPARE(server.received.size(), 24);
        QCOMPARE(server.received.mid(0, 2), hex("03 E8"));
        QCOMPARE(server.received.mid(12, 2), hex("03 E9"));

        l.disconnectButton->click();
        QTRY_VERIFY(l.connectButton->isEnabled());
        server.received.clear();
        QVERIFY(l.connectTo(server));
        l.session.SendReadInput(1, 0, 10);
        QTRY_COMPARE(server.received.size(), 12);
        QCOMPARE(server.received.mid(0, 2), hex("03 E8"));
    }

    void requestsAreFramedForTcp_data()
    {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("logged");
        QTest::newRow("read holding, no line")
            << Op::ReadHolding << hex("03 E8 00 00 00 06 01 03 00 00 00 0A") << QString();
        QTest::newRow("read input, SENT:") << Op::ReadInput << hex("03 E8 00 00 00 06 01 04 00 64 00 02")
                                           << QStringLiteral("SENT:03 E8 00 00 00 06 01 04 00 64 00 02 ");
        QTest::newRow("write single, SENT:") << Op::WriteSingle << hex("03 E8 00 00 00 06 01 06 00 64 00 01")
                                             << QStringLiteral("SENT:03 E8 00 00 00 06 01 06 00 64 00 01 ");
        QTest::newRow("write multiple, SENT: with space")
            << Op::WriteMultiple << hex("03 E8 00 00 00 0B 01 10 00 64 00 02 04 00 01 00 02")
            << QStringLiteral("SENT: 03 E8 00 00 00 0B 01 10 00 64 00 02 04 00 01 00 02 ");
        QTest::newRow("read device id, no line")
            << Op::ReadDeviceId << hex("03 E8 00 00 00 05 01 2B 0E 02 00") << QString();
        QByteArray big = hex("03 E8 00 00 01 03 01 10 03 E8 00 7E FC") + QByteArray(252, '\x5A');
        QTest::newRow("write 126 registers in one frame")
            << Op::WriteMultiple126 << big
            << QStringLiteral("SENT: ") + QString::fromLatin1(big.toHex(' ').toUpper()) + QLatin1Char(' ');
    }
    void requestsAreFramedForTcp()
    {
        QFETCH(Op, op);
        QFETCH(QByteArray, frame);
        QFETCH(QString, logged);
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        l.log.clear();
        runOp(l.session, op);
        QTRY_COMPARE(server.received.size(), frame.size());
        QCOMPARE(server.received.toHex(' ').toUpper(), frame.toHex(' ').toUpper());
        QCOMPARE(l.log, logged.isEmpty() ? QStringList() : QStringList{logged});
    }

    void sendWithoutConnectionSendsNothingButStillLogs()
    {
        Link l;
        // Tcp framing with no connection, as between a drop and its event.
        l.session.TransportMode = TransportModeKind::Tcp;
        l.session.TransactionId = 1000;
        l.session.SendWriteSingle(1, 100, 0, 1);
        l.session.SendReadHolding(1, 0, 10);
        l.session.SendWriteSingle(1, 100, 0, 1); // the read took its identifier too
        QCOMPARE(l.log, (QStringList{"SENT:03 E8 00 00 00 06 01 06 00 64 00 01 ",
                                     "SENT:03 EA 00 00 00 06 01 06 00 64 00 01 "}));
        QCOMPARE(l.session.socket().socket()->bytesToWrite(), qint64(0));
        QCOMPARE(l.clientState(), QAbstractSocket::UnconnectedState);
    }

    // --- receiving --------------------------------------------------------------
    void receivedBytesStayInTcpRxBufferAcrossDisconnect()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        server.peer->write(hex("03 E8 00 00 00 05 01 03 02 00 0A"));
        QTRY_COMPARE(l.session.TcpRxBuffer, hex("03 E8 00 00 00 05 01 03 02 00 0A"));
        // A late answer after the window is appended, nothing is taken away.
        server.peer->write(hex("03 E9 00 00"));
        QTRY_COMPARE(l.session.TcpRxBuffer.size(), 15);
        QCOMPARE(l.session.TcpRxBuffer.right(4), hex("03 E9 00 00"));

        server.peer->close();
        QTRY_VERIFY(l.connectButton->isEnabled());
        QCOMPARE(l.session.TcpRxBuffer, hex("03 E8 00 00 00 05 01 03 02 00 0A 03 E9 00 00"));
    }

    // --- the client itself --------------------------------------------------------
    void keepAliveIsOnAfterConnecting()
    {
        Server server;
        QVERIFY(server.listening);
        Link l;
        QVERIFY(l.connectTo(server));
        const int fd = int(l.session.socket().socket()->socketDescriptor());
        int value = 0;
        socklen_t size = sizeof value;
        QCOMPARE(::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &value, &size), 0);
        QVERIFY(value != 0);
        QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &value, &size), 0);
        QCOMPARE(value, XportSocket::KeepAliveIdleSeconds);
    }

    void socketErrorsCarryTheSystemErrorNumber_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<int>("expected");
        QTest::newRow("refused") << int(QAbstractSocket::ConnectionRefusedError) << QString() << ECONNREFUSED;
        QTest::newRow("host unreachable")
            << int(QAbstractSocket::NetworkError) << QStringLiteral("Host unreachable") << EHOSTUNREACH;
        QTest::newRow("network unreachable")
            << int(QAbstractSocket::NetworkError) << QStringLiteral("Network unreachable") << ENETUNREACH;
        QTest::newRow("timed out") << int(QAbstractSocket::NetworkError)
                                   << QStringLiteral("Connection timed out") << ETIMEDOUT;
    }
    void socketErrorsCarryTheSystemErrorNumber()
    {
        QFETCH(int, error);
        QFETCH(QString, detail);
        QFETCH(int, expected);
        QCOMPARE(platformSocketErrorNumber(QAbstractSocket::SocketError(error), detail), expected);
    }
};

QTEST_MAIN(TstTcpLink)
#include "tst_tcp_link.moc"
