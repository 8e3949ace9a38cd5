// The one-shot commands that change the device's own settings: its Modbus
// address, the line settings of its Modbus (RTU) and IEC 62056-21 ports, its
// readout period, its option flags, its static IPv4 settings and a free write
// of any single register; and the firmware query.
//
// Every write goes to the unit address of the request settings and ends in
// the 1000 ms window Timer_modbus, which, with WritePending set, only logs the
// reply as "Respond:".  No command changes the tool's own link settings or
// unit address.  The firmware query's reply is shown by the settings
// readout's window Timer_status.  The register browser is needed only for the
// register address field that "Write single reg." writes to.
#pragma once

#include "transport/request.h"

#include <QObject>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qvx {

class RegisterBrowser;
class Session;
class SettingsReadout;

class DeviceCommands : public QObject {
    Q_OBJECT
public:
    // The two groups are made as children of groupParent, which lays them out.
    DeviceCommands(Session &session, RegisterBrowser &browser, SettingsReadout &readout,
                   QWidget *groupParent);

    // "   Commands   " (with "Read settings " and "Read firmware version").
    QGroupBox *commandsGroup() const { return m_commands; }
    // "   TCP Settings QVX-24S  ".
    QGroupBox *tcpSettingsGroup() const { return m_tcpSettings; }

public slots:
    void BitBtn12Click();  // "Set new modbus address"
    void BitBtn11Click();  // "Set Baud RTU"
    void Button1Click();   // "Set Baud for IEC"
    void BitBtn13Click();  // "Set Readout time (2-1440 min)"
    void Button7Click();   // "Send to QVX-24S"
    void Button2Click();   // "Write single reg."
    void Butt_IPClick();   // "Set" static IPv4 address
    void Butt_maskClick(); // "Set" mask
    void Butt_GWClick();   // "Set" gateway
    void Button8Click();   // "Read firmware version"

private:
    void buildCommands();
    void buildTcpSettings();
    // The part every write shares after its checks: WritePending set, the
    // buffers emptied (the port is not purged).
    void startWrite();
    // The unit address of every request, from the request settings.
    uint8_t unit() const;
    // Sends a write in Timer_modbus, the window every device write ends in.
    void sendWrite(const ModbusRequest &request);
    // Set Baud RTU and Set Baud for IEC differ only in the register.
    void setLine(int address);
    void setIpv4(const QLineEdit *edit, int address);

    Session &m_session;
    RegisterBrowser &m_browser;
    SettingsReadout &m_readout;
    QGroupBox *m_commands = nullptr;
    QGroupBox *m_tcpSettings = nullptr;
    QLineEdit *m_editAddress = nullptr;
    QComboBox *m_comboBaud = nullptr;
    QComboBox *m_comboParity = nullptr;
    QLineEdit *m_editMinutes = nullptr;
    QComboBox *m_comboFlag = nullptr;
    QCheckBox *m_checkFlag = nullptr;
    QLineEdit *m_editSingleValue = nullptr;
    QLineEdit *m_editIp = nullptr;
    QLineEdit *m_editMask = nullptr;
    QLineEdit *m_editGateway = nullptr;
};

} // namespace qvx
