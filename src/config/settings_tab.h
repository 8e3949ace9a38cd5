// The "Settings" tab: the register browser across the top; below it the
// serial link, the TCP link with the device's own TCP settings, and the
// device commands with the settings readout.  Everything fits the main
// window's 916 x 788 without scrolling.
#pragma once

#include <QWidget>

namespace qvx {

class Session;
class SerialPanel;
class TcpPanel;
class RegisterBrowser;
class DeviceCommands;
class SettingsReadout;

class SettingsTab : public QWidget {
    Q_OBJECT
public:
    SettingsTab(Session &session, QWidget *parent = nullptr);

    SerialPanel *serialPanel() const { return m_serial; }
    TcpPanel *tcpPanel() const { return m_tcp; }
    RegisterBrowser *registerBrowser() const { return m_browser; }
    SettingsReadout *settingsReadout() const { return m_readout; }
    DeviceCommands *deviceCommands() const { return m_commands; }

private:
    SerialPanel *m_serial;
    TcpPanel *m_tcp;
    RegisterBrowser *m_browser;
    SettingsReadout *m_readout;
    DeviceCommands *m_commands;
};

} // namespace qvx
