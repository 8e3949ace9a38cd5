#include "transport/xport_socket.h"

#include "core/errors.h"

#include <QStringList>
#include <QTcpSocket>
#include <cerrno>
#include <chrono>
#ifdef Q_OS_WIN
#include <winsock2.h>
#endif
#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qvx {

namespace {
// Microseconds since the epoch, for the traffic taps.
qint64 tapClockUsec()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
} // namespace
namespace {

// A second handle on a connected socket, or -1 where the platform has none.
intptr_t duplicateSocket(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    // Close-on-exec: a program started from the tool (the manual's viewer)
    // must not keep the connection open.
    return descriptor >= 0 ? ::fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0) : -1;
#else
    (void)descriptor;
    return -1;
#endif
}

// True when the connection behind the handle ended by a reset from the peer
// (the state is CLOSED; an orderly close by the peer leaves it in
// CLOSE-WAIT while this handle is open).
bool connectionWasReset(intptr_t handle)
{
#ifdef Q_OS_LINUX
    if (handle < 0)
        return false;
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(static_cast<int>(handle), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    return info.tcpi_state == TCP_CLOSE;
#else
    (void)handle;
    return false;
#endif
}

void closeSocketHandle(intptr_t handle)
{
#ifdef Q_OS_LINUX
    if (handle >= 0)
        ::close(static_cast<int>(handle));
#else
    (void)handle;
#endif
}

} // namespace

LinkErrorKind socketErrorKind(int platformCode)
{
    switch (platformCode) {
#ifdef Q_OS_WIN
    case WSAECONNREFUSED:
        return LinkErrorKind::ConnectionRefused;
    case WSAHOST_NOT_FOUND:
        return LinkErrorKind::HostNotFound;
    case WSAETIMEDOUT:
        return LinkErrorKind::TimedOut;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return LinkErrorKind::RemoteClosed;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
        return LinkErrorKind::NetworkUnreachable;
#else
    case ECONNREFUSED:
        return LinkErrorKind::ConnectionRefused;
    case ETIMEDOUT:
        return LinkErrorKind::TimedOut;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
        return LinkErrorKind::RemoteClosed;
    case ENETUNREACH:
    case EHOSTUNREACH:
        return LinkErrorKind::NetworkUnreachable;
#endif
    default:
        return LinkErrorKind::Unknown;
    }
}

int platformSocketErrorNumber(QAbstractSocket::SocketError error, const QString &detail)
{
    // Qt's socket engine reports these connect failures all as NetworkError
    // and keeps the difference only in its (untranslated) error text.
    const bool netError = error == QAbstractSocket::NetworkError;
    const bool hostUnreachable = netError && detail == QLatin1String("Host unreachable");
    const bool timedOut = netError && detail == QLatin1String("Connection timed out");
#ifdef Q_OS_WIN
    if (hostUnreachable)
        return WSAEHOSTUNREACH;
    if (timedOut)
        return WSAETIMEDOUT;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return WSAECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError:
        return WSAECONNRESET;
    case QAbstractSocket::HostNotFoundError:
        return WSAHOST_NOT_FOUND;
    case QAbstractSocket::SocketAccessError:
        return WSAEACCES;
    case QAbstractSocket::SocketResourceError:
        return WSAENOBUFS;
    case QAbstractSocket::SocketTimeoutError:
        return WSAETIMEDOUT;
    case QAbstractSocket::NetworkError:
        return WSAENETUNREACH;
    case QAbstractSocket::AddressInUseError:
        return WSAEADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return WSAEADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return WSAEOPNOTSUPP;
    default:
        return WSAEINVAL;
    }
#else
    if (hostUnreachable)
        return EHOSTUNREACH;
    if (timedOut)
        return ETIMEDOUT;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError:
        return ECONNRESET;
    case QAbstractSocket::HostNotFoundError:
        return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError:
        return EACCES;
    case QAbstractSocket::SocketResourceError:
        return ENOBUFS;
    case QAbstractSocket::SocketTimeoutError:
        return ETIMEDOUT;
    case QAbstractSocket::NetworkError:
        return ENETUNREACH;
    case QAbstractSocket::AddressInUseError:
        return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return EOPNOTSUPP;
    default:
        return EIO;
    }
#endif
}

std::optional<quint32> dottedIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        const uint value = part.toUInt();
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | value;
    }
    return address;
}

XportSocket::XportSocket(QObject *parent) : QObject(parent), m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        // A peer that vanishes without closing is eventually reported as a
        // disconnect instead of staying "Connected" for ever.
        m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        tuneKeepAlive();
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        watchConnection();
        emit connected();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        // The reset's error line comes before the disconnect's.
        reportReset();
        releaseWatch();
        emit disconnected();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &XportSocket::readReady);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // An orderly close by the peer is a disconnect, not a failure; a reset
        // is a failure that Qt reports the same way.
        if (e == QAbstractSocket::RemoteHostClosedError) {
            reportReset();
            return;
        }
        emit error(platformSocketErrorNumber(e, m_socket->errorString()));
    });
    connect(m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        // The watch must not outlive the connection: while it is open the
        // system keeps the connection, and our own close would not reach the
        // peer.
        if (state == QAbstractSocket::UnconnectedState || state == QAbstractSocket::ClosingState) {
            reportReset();
            releaseWatch();
        }
    });
}

XportSocket::~XportSocket()
{
    releaseWatch();
}

void XportSocket::watchConnection()
{
    releaseWatch();
    m_resetReported = false;
    m_watch = duplicateSocket(m_socket->socketDescriptor());
}

void XportSocket::reportReset()
{
    if (m_resetReported || !connectionWasReset(m_watch))
        return;
    m_resetReported = true;
#ifdef Q_OS_WIN
    emit error(WSAECONNRESET);
#else
    emit error(ECONNRESET);
#endif
}

void XportSocket::releaseWatch()
{
    closeSocketHandle(m_watch);
    m_watch = -1;
}

void XportSocket::tuneKeepAlive()
{
#ifdef Q_OS_LINUX
    const int fd = static_cast<int>(m_socket->socketDescriptor());
    if (fd < 0)
        return;
    const int idle = KeepAliveIdleSeconds;
    const int interval = KeepAliveIntervalSeconds;
    const int probes = KeepAliveProbes;
    // Best effort: on failure the system's own keep-alive timing stays.
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
#endif
}

void XportSocket::setHost(const QString &host)
{
    if (isConnected() && host != m_host)
        throw QvxError(QStringLiteral("Can't change value while socket is active"));
    const std::optional<quint32> address = dottedIpv4(host);
    if (!address)
        throw QvxError(QStringLiteral("Not an IPv4 address: %1").arg(host));
    m_host = host;
    m_address = QHostAddress(*address);
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
    if (m_address.isNull())
        throw QvxError(QStringLiteral("No remote address set"));
    if (m_port < 0 || m_port > 65535)
        throw QvxError(QStringLiteral("Invalid port %1").arg(m_port));
    m_socket->connectToHost(m_address, static_cast<quint16>(m_port));
}

void XportSocket::deactivate()
{
    if (isConnected())
        m_socket->disconnectFromHost();
}

bool XportSocket::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void XportSocket::send(const QByteArray &frame)
{
    if (!isConnected())
        return;
    if (m_socket->write(frame) > 0)
        emit bytesWrittenTap(frame, tapClockUsec());
}

QByteArray XportSocket::receiveAll()
{
    const QByteArray bytes = m_socket->readAll();
    if (!bytes.isEmpty())
        emit bytesReadTap(bytes, tapClockUsec());
    return bytes;
}

} // namespace qvx
