// The non-blocking TCP client: QTcpSocket driven only through its signals on
// the UI thread, with the few operations the program relies on (host and port
// that refuse to change while connected, activate, deactivate, send, receive
// all) and an error event that carries the platform's error number.
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace qvx {

// The platform's own error number for a socket failure (errno on Linux,
// WSA codes on Windows), as an operator would look it up.
int platformSocketErrorNumber(QAbstractSocket::SocketError error);

class XportSocket : public QObject {
    Q_OBJECT
public:
    explicit XportSocket(QObject *parent = nullptr);

    // Raise QvxError("Can't change value while socket is active") while a
    // connection is established and the value differs.
    void setHost(const QString &host);
    void setPort(int port);
    QString host() const { return m_host; }
    int port() const { return m_port; }

    // Starts connecting in the background; raises QvxError when the attempt
    // cannot even be started.
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

private:
    QTcpSocket *m_socket;
    QString m_host;
    int m_port = 502;
};

} // namespace qvx
