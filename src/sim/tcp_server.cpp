#include "sim/tcp_server.h"

#include <QTcpSocket>

#include <memory>

namespace qvxsim {

TcpServer::TcpServer(Device &device, const LinkOptions &options, QObject *parent)
    : QObject(parent), device_(device), options_(options)
{
    connect(&server_, &QTcpServer::newConnection, this, &TcpServer::onNewConnection);
}

bool TcpServer::listen(const QHostAddress &address, quint16 port)
{
    return server_.listen(address, port);
}

void TcpServer::close()
{
    server_.close();
    for (QTcpSocket *s : findChildren<QTcpSocket *>())
        s->abort();
}

void TcpServer::onNewConnection()
{
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        ++connections_;
        const QString name =
            QStringLiteral("tcp %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        auto framer = std::make_shared<TcpFramer>();
        auto *tx = new Transmitter([socket](const QByteArray &bytes) { socket->write(bytes); }, socket);
        connect(tx, &Transmitter::chunkSent, socket, [this, name](const QByteArray &bytes) {
            if (options_.monitor)
                options_.monitor(name, QStringLiteral("TX"), bytes);
        });
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] { socket->disconnectFromHost(); });
        auto armIdle = [this, idle] {
            const uint32_t ms = device_.tcpIdleMs();
            if (ms == 0)
                idle->stop();
            else
                idle->start(int(qMin<uint32_t>(ms, 0x7FFFFFFF)));
        };
        armIdle();
        connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
            armIdle();
            QList<QByteArray> adus;
            if (!framer->feed(socket->readAll(), &adus)) {
                socket->abort();
                return;
            }
            for (const QByteArray &adu : adus) {
                if (options_.monitor)
                    options_.monitor(name, QStringLiteral("RX"), adu);
                const auto unit = static_cast<uint8_t>(adu[6]);
                if (unit != device_.unitAddress() && unit != 0 && unit != 255)
                    continue;
                const Faults faults = options_.faults.forReply(++replies_);
                const QByteArray pdu = adu.mid(7);
                const QByteArray reply = faults.exceptionFor(pdu) ? QByteArray() : handleTcpAdu(device_, adu);
                tx->send(planReply(faults, applyByteFaults(faults, Framing::Tcp, adu, reply)), 0);
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            socket->deleteLater();
            emit clientDisconnected();
        });
        emit clientConnected();
    }
}

} // namespace qvxsim
