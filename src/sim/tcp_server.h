// Modbus TCP service: any number of clients, one after the other or at the
// same time, each with its own framer and reply queue.  A connection that
// stays silent for longer than the device's TCP idle time (55418/55419, 0 =
// never) is closed, as the gateway does.
#pragma once

#include "sim/frames.h"
#include "sim/link_common.h"

#include <QHostAddress>
#include <QTcpServer>

namespace qvxsim {

class TcpServer : public QObject {
    Q_OBJECT
public:
    TcpServer(Device &device, const LinkOptions &options = {}, QObject *parent = nullptr);

    // Port 0 picks a free port; serverPort() tells which.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 1502);
    void close();
    quint16 serverPort() const { return server_.serverPort(); }
    QHostAddress serverAddress() const { return server_.serverAddress(); }
    QString errorString() const { return server_.errorString(); }
    // Connections accepted so far.
    int connectionCount() const { return connections_; }
    void setFaults(const Faults &faults) { options_.faults = faults; }
    quint64 requestsHandled() const { return replies_; }

signals:
    void clientConnected();
    void clientDisconnected();

private:
    void onNewConnection();

    Device &device_;
    LinkOptions options_;
    QTcpServer server_;
    int connections_ = 0;
    quint64 replies_ = 0;
};

} // namespace qvxsim
