// The Modbus TCP connection controls: address, port, connect time-out, the
// "Connect" and "Disconnect" buttons and the four events of the TCP client.
#pragma once

#include <QWidget>

namespace qvx {

class Session;

class TcpPanel : public QWidget {
    Q_OBJECT
public:
    TcpPanel(Session &session, QWidget *parent = nullptr);

public slots:
    void Butt_connectEthernetClick();
    void Butt_ethernetDisconnectClick();
    void Xport_socketConnect();
    void Xport_socketDisconnect();
    void Xport_socketError(int code);

private:
    Session &m_session;
};

} // namespace qvx
