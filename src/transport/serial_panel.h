// The group "   Serial port settings   ": port name and line settings, the
// "Connect to port" toggle and the serial status panel.
#pragma once

#include <QGroupBox>

namespace qvx {

class Session;

class SerialPanel : public QGroupBox {
    Q_OBJECT
public:
    SerialPanel(Session &session, QWidget *parent = nullptr);

public slots:
    // Refuses while a TCP connection exists, otherwise toggles the port.
    void Butt_open_port2Click();
    // Opens the closed port from the boxes, or closes the open one.
    void TogglePort();

private:
    Session &m_session;
};

} // namespace qvx
