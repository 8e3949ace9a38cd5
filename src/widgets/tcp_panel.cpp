#include "widgets/tcp_panel.h"

#include "widgets/guard.h"
#include "core/time_format.h"
#include "widgets/typing_limit.h"
#include "transport/session.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QTime>

namespace qvx {

namespace {

// The field's decimal value; the standard Modbus TCP port when the field is
// empty or holds anything else (pasted text such as "502x").  Values above
// 65535 pass through here and are refused when the connection is started.
int portFromText(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : TcpPanel::DefaultPort;
}

QLabel *labelFor(const QString &caption, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(caption, parent);
    label->setBuddy(buddy);
    buddy->setAccessibleName(caption);
    return label;
}

} // namespace

TcpPanel::TcpPanel(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_remoteIp(new QLineEdit(this)), m_port(new QLineEdit(this)),
      m_connectTimeout(new QSpinBox(this)), m_connect(new QPushButton(QStringLiteral("Connect"), this)),
      m_disconnect(new QPushButton(QStringLiteral("Disconnect"), this))
{
    m_remoteIp->setObjectName(QStringLiteral("Edit_remoteIP"));
    // Typing limits only: the settings file's values are shown whole.
    setTypingLimit(m_remoteIp, 15);

    m_port->setObjectName(QStringLiteral("Edit_port"));
    setTypingLimit(m_port, 5);
    m_port->setText(QString::number(DefaultPort));

    // The arrows step the value; the edit itself takes no typing.
    m_connectTimeout->setObjectName(QStringLiteral("UD_connectTimeout"));
    m_connectTimeout->setRange(1, 999);
    m_connectTimeout->setValue(1);
    auto *timeoutEdit = m_connectTimeout->findChild<QLineEdit *>();
    timeoutEdit->setObjectName(QStringLiteral("Edit_connectTimeout"));
    timeoutEdit->setReadOnly(true);

    m_connect->setObjectName(QStringLiteral("Butt_connectEthernet"));
    m_disconnect->setObjectName(QStringLiteral("Butt_ethernetDisconnect"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(labelFor(QStringLiteral("IP to connect (QVX-24)"), m_remoteIp, this), 0, 0);
    grid->addWidget(m_remoteIp, 0, 1, 1, 2);
    grid->addWidget(labelFor(QStringLiteral("Port"), m_port, this), 1, 0);
    grid->addWidget(m_port, 1, 1, 1, 2);
    grid->addWidget(labelFor(QStringLiteral("Connect timeout"), m_connectTimeout, this), 2, 0);
    timeoutEdit->setAccessibleName(m_connectTimeout->accessibleName());
    grid->addWidget(m_connectTimeout, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("x10ms"), this), 2, 2);
    grid->addWidget(m_connect, 3, 0);
    grid->addWidget(m_disconnect, 3, 1, 1, 2);

    connect(m_connect, &QPushButton::clicked, this, &TcpPanel::Butt_connectEthernetClick);
    connect(m_disconnect, &QPushButton::clicked, this, &TcpPanel::Butt_ethernetDisconnectClick);

    XportSocket *client = &m_session.socket();
    connect(client, &XportSocket::connected, this, &TcpPanel::Xport_socketConnect);
    connect(client, &XportSocket::disconnected, this, &TcpPanel::Xport_socketDisconnect);
    connect(client, &XportSocket::error, this, &TcpPanel::Xport_socketError);
}

void TcpPanel::Butt_connectEthernetClick()
{
    guard(
        [this] {
            if (m_session.SerialPortOpen) {
                m_session.log(QStringLiteral("There is active SERIAL COM connection. Close it first!"));
                return;
            }
            XportSocket &client = m_session.socket();
            try {
                client.setHost(m_remoteIp->text());
                client.setPort(portFromText(m_port->text()));
            } catch (const std::exception &) {
                m_session.log(QStringLiteral("Remote IP and Port are not properly set..."));
                client.deactivate();
                m_session.TransportMode = TransportModeKind::Rtu;
                return;
            }
            if (m_session.TransportMode == TransportModeKind::Tcp)
                return;
            try {
                client.activate();
                m_session.log(QStringLiteral("Trying to connect to remote TCP server..."));
                // Busy for the connect time-out, read anew on every pass, while
                // the connect or error event may already be handled in here.
                // The outcome is not looked at: it arrives through the events.
                for (int pass = 0; pass < m_connectTimeout->value(); ++pass) {
                    QThread::msleep(10);
                    QCoreApplication::processEvents();
                }
            } catch (const std::exception &) {
                m_session.log(QStringLiteral("Unexpected exception when connecting to DOD ethernet..."));
                client.deactivate();
                m_session.TransportMode = TransportModeKind::Rtu;
            }
        },
        this);
}

void TcpPanel::Butt_ethernetDisconnectClick()
{
    guard([this] { m_session.socket().deactivate(); }, this);
}

void TcpPanel::Xport_socketConnect()
{
    guard(
        [this] {
            m_session.log(QStringLiteral("Connected TCP/IP, at ") + longTimeNow());
            m_session.setStatus(0, QStringLiteral("Connected to ") + m_remoteIp->text());
            m_session.setTcpConnected(true);
            m_connect->setEnabled(false);
        },
        this);
}

void TcpPanel::Xport_socketDisconnect()
{
    guard(
        [this] {
            m_session.log(QStringLiteral("Disconnected TCP/IP connection at ") + longTimeNow());
            m_session.setStatus(0, QStringLiteral("Disconnected TCP "));
            m_session.setTcpConnected(false);
            m_connect->setEnabled(true);
        },
        this);
}

void TcpPanel::Xport_socketError(int code)
{
    // The code is taken by value, so the client has nothing left to raise;
    // the link state is left to the connect and disconnect events.
    guard(
        [this, code] {
            m_session.log(QStringLiteral("Socket error #") + QString::number(code));
            // The log keeps the number; the status bar says what it means.
            const XportSocket &socket = m_session.socket();
            m_session.notify(plainLinkError(socketErrorKind(code),
                                            QStringLiteral("socket error #%1").arg(code),
                                            QStringLiteral("%1:%2").arg(socket.host()).arg(socket.port())));
        },
        this);
}

} // namespace qvx
