// "Read settings ": reads the device's configuration registers one request at
// a time, in the windows of Timer_status, and writes what they mean into the
// log as plain lines.  The flags also set the meter tab's three option boxes.
// The same timer ends the firmware query's window (StatusStep 5).
//
// StatusStep when Timer_status fires, and what the window's reply is:
//   5      the firmware identification; the sequence ends
//   6      nothing was asked yet: the first request (55400) leaves now
//   7..13  IP, gateway, mask, TCP idle time, flags, IEC line, readout period
// The sequence ends when it would pass 13.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>

class QCheckBox;
class QPushButton;
class QWidget;

namespace qvx {

class RegisterBrowser;
class ReplyTimer;
class Session;

class SettingsReadout : public QObject {
    Q_OBJECT
public:
    // The button "Read settings " is made as a child of buttonParent.
    SettingsReadout(Session &session, RegisterBrowser &browser, QWidget *buttonParent);

    QPushButton *button() const { return m_button; }
    ReplyTimer &timerStatus() { return *m_timerStatus; }
    // The meter tab's "Decode values as 64-bit integer", "Enable 16-digit ID"
    // and "Enable Long OBIS"; wired once by the main window.
    void setOptionBoxes(QCheckBox *check64bit, QCheckBox *check16digit, QCheckBox *checkLongObis);

    static constexpr uint8_t FirmwareStep = 5;
    static constexpr uint8_t FirstStep = 6;
    static constexpr uint8_t LastStep = 13;
    uint8_t StatusStep = 0;

public slots:
    void Butt_statusClick();  // "Read settings "
    void Timer_statusTimer(); // end of one window of the sequence

private:
    void showFirmware(const QByteArray &reply);
    void decodeStep(const QByteArray &reply);
    void endOfWindow();

    Session &m_session;
    RegisterBrowser &m_browser;
    ReplyTimer *m_timerStatus;
    QPushButton *m_button;
    QPointer<QCheckBox> m_check64bit;
    QPointer<QCheckBox> m_check16digit;
    QPointer<QCheckBox> m_checkLongObis;
};

} // namespace qvx
