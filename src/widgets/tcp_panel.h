// The Modbus TCP connection controls: address, port, connect time-out, the
// "Connect" and "Disconnect" buttons and the four events of the TCP client.
//
// The connect click keeps the program busy for the connect time-out (passes
// of 10 ms, processing events in between) but never looks at the outcome:
// the connection's success or failure arrives only through the client's
// events, which may run inside that wait.
#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;
class QSpinBox;

namespace qvx {

class Session;

class TcpPanel : public QWidget {
    Q_OBJECT
public:
    // Port used when the port field is empty or not a decimal number.
    static constexpr int DefaultPort = 502;

    TcpPanel(Session &session, QWidget *parent = nullptr);

    QLineEdit *remoteIpEdit() const { return m_remoteIp; }
    QLineEdit *portEdit() const { return m_port; }
    // Position = connect time-out in steps of 10 ms.
    QSpinBox *connectTimeout() const { return m_connectTimeout; }

public slots:
    void Butt_connectEthernetClick();
    void Butt_ethernetDisconnectClick();
    void Xport_socketConnect();
    void Xport_socketDisconnect();
    void Xport_socketError(int code);

private:
    Session &m_session;
    QLineEdit *m_remoteIp;
    QLineEdit *m_port;
    QSpinBox *m_connectTimeout;
    QPushButton *m_connect;
    QPushButton *m_disconnect;
};

} // namespace qvx
