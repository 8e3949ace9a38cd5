// The "Settings" tab: register browser on the left and in the middle, the
// serial and TCP link settings and (later) the device commands on the right.
#pragma once

#include <QWidget>

namespace qvx {

class Session;
class SerialPanel;
class TcpPanel;
class RegisterBrowser;

class SettingsTab : public QWidget {
    Q_OBJECT
public:
    SettingsTab(Session &session, QWidget *parent = nullptr);

    SerialPanel *serialPanel() const { return m_serial; }
    TcpPanel *tcpPanel() const { return m_tcp; }
    RegisterBrowser *registerBrowser() const { return m_browser; }

private:
    SerialPanel *m_serial;
    TcpPanel *m_tcp;
    RegisterBrowser *m_browser;
};

} // namespace qvx
