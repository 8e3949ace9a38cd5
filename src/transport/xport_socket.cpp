#include "transport/xport_socket.h"

#include "app/errors.h"

#include <QTcpSocket>
#include <cerrno>
#ifdef Q_OS_WIN
#include <winsock2.h>
#endif

namespace qvx {

int platformSocketErrorNumber(QAbstractSocket::SocketError error)
{
#ifdef Q_OS_WIN
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return WSAECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError: return WSAECONNRESET;
    case QAbstractSocket::HostNotFoundError: return WSAHOST_NOT_FOUND;
    case QAbstractSocket::SocketAccessError: return WSAEACCES;
    case QAbstractSocket::SocketResourceError: return WSAENOBUFS;
    case QAbstractSocket::SocketTimeoutError: return WSAETIMEDOUT;
    case QAbstractSocket::NetworkError: return WSAENETUNREACH;
    case QAbstractSocket::AddressInUseError: return WSAEADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError: return WSAEADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError: return WSAEOPNOTSUPP;
    default: return WSAEINVAL;
    }
#else
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError: return ECONNRESET;
    case QAbstractSocket::HostNotFoundError: return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError: return EACCES;
    case QAbstractSocket::SocketResourceError: return ENOBUFS;
    case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
    case QAbstractSocket::NetworkError: return ENETUNREACH;
    case QAbstractSocket::AddressInUseError: return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError: return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError: return EOPNOTSUPP;
    default: return EIO;
    }
#endif
}

XportSocket::XportSocket(QObject *parent)
    : QObject(parent), m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        // A peer that vanishes without closing is eventually reported as a
        // disconnect instead of staying "Connected" for ever.
        m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit connected();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &XportSocket::disconnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &XportSocket::readReady);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // An orderly close by the peer is a disconnect, not a failure.
        if (e == QAbstractSocket::RemoteHostClosedError)
            return;
        emit error(platformSocketErrorNumber(e));
    });
}

void XportSocket::setHost(const QString &host)
{
    if (isConnected() && host != m_host)
        throw QvxError(QStringLiteral("Can't change value while socket is active"));
    m_host = host;
}

void XportSocket::setPort(int port)
{
    if (isConnected() && port != m_port)
        throw QvxError(QStringLiteral("Can't change value while socket is active"));
    m_port = port;
}

void XportSocket::activate()
{
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        return;
    if (m_port < 0 || m_port > 65535)
        throw QvxError(QStringLiteral("Invalid port %1").arg(m_port));
    m_socket->connectToHost(m_host, static_cast<quint16>(m_port));
}

void XportSocket::deactivate()
{
    if (isConnected())
        m_socket->disconnectFromHost();
}

bool XportSocket::isConnected() const { return m_socket->state() == QAbstractSocket::ConnectedState; }

void XportSocket::send(const QByteArray &frame)
{
    if (!isConnected())
        return;
    m_socket->write(frame);
}

QByteArray XportSocket::receiveAll() { return m_socket->readAll(); }

} // namespace qvx
