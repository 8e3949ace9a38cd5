// The non-blocking TCP client: QTcpSocket driven only through its signals on
// the UI thread, with the few operations the program relies on (host and port
// that refuse to change while connected, activate, deactivate, send, receive
// all) and an error event that carries the platform's error number.
//
// The host is taken only as a dotted IPv4 address (four decimal parts of 0 to
// 255) and connected to without any name lookup: the address field accepts
// only digits and full stops, and a half-typed text such as "10.1.2" must be
// refused rather than read the way inet_aton would (as 10.1.0.2) and connect
// somewhere the operator never meant.
#pragma once

#include "core/link_errors.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

class QTcpSocket;

namespace qvx {

// The platform's own error number for a socket failure (errno on Linux,
// WSA codes on Windows), as an operator would look it up.  Qt folds several
// connect failures into NetworkError; detail (the socket's error string)
// tells them apart again.
int platformSocketErrorNumber(QAbstractSocket::SocketError error, const QString &detail = QString());

// The kind of a socket failure for the platform's error number (as
// platformSocketErrorNumber gives it), for the plain words of a link error.
LinkErrorKind socketErrorKind(int platformCode);

// The address of a strict dotted IPv4 text ("a.b.c.d", each part 1 to 3
// decimal digits, at most 255; leading zeros are decimal, not octal), or
// nothing.
std::optional<quint32> dottedIpv4(const QString &text);

class XportSocket : public QObject {
    Q_OBJECT
public:
    // Keep-alive timing after connecting, so that a peer that vanished is
    // reported as a disconnect within about two minutes (the system default
    // would wait more than two hours).
    static constexpr int KeepAliveIdleSeconds = 60;
    static constexpr int KeepAliveIntervalSeconds = 10;
    static constexpr int KeepAliveProbes = 6;

    explicit XportSocket(QObject *parent = nullptr);
    ~XportSocket() override;

    // Raise QvxError("Can't change value while socket is active") while a
    // connection is established and the value differs.  setHost also raises
    // QvxError for a text that is not a dotted IPv4 address.
    void setHost(const QString &host);
    void setPort(int port);
    QString host() const { return m_host; }
    int port() const { return m_port; }

    // Starts connecting in the background; raises QvxError when the attempt
    // cannot even be started (no valid host set, port outside 0..65535).
    // Does nothing while an attempt or a connection is under way.
    void activate();
    // Closes an established connection (which fires disconnected); does
    // nothing otherwise, a pending attempt included.
    void deactivate();
    bool isConnected() const;
    // Hands the whole frame to the connection; nothing when not connected.
    void send(const QByteArray &frame);
    QByteArray receiveAll();

    QTcpSocket *socket() const { return m_socket; }

signals:
    void connected();
    void disconnected();
    void readReady();
    void error(int code);
    // Taps for the traffic monitor: every frame handed to the connection and
    // every chunk received, with the time in microseconds since the epoch.
    void bytesWrittenTap(const QByteArray &bytes, qint64 usec);
    void bytesReadTap(const QByteArray &bytes, qint64 usec);

private:
    void tuneKeepAlive();
    // Qt reports a reset by the peer exactly as an orderly close.  A second
    // handle on the connection, kept from the connect on, still shows the
    // difference after Qt has let go of its own: reportReset() emits
    // error(ECONNRESET) once when the peer reset the connection.
    void watchConnection();
    void reportReset();
    void releaseWatch();

    intptr_t m_watch = -1;
    bool m_resetReported = false;

    QTcpSocket *m_socket;
    QString m_host;
    QHostAddress m_address;
    int m_port = 502;
};

} // namespace qvx
