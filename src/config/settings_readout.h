// "Read settings ": reads the device's configuration registers one request at
// a time, in the windows of Timer_status, and writes what they mean into the
// log as plain lines.  The flags also set the meter tab's three option boxes.
//
// The readout is a table of eight windows: the first only waits, the seven
// others each read one block (IP, gateway, mask, TCP idle time, flags, IEC
// line, readout period).  The firmware query shares Timer_status as a
// sequence of one step, so either replaces the other in the open window.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>

class QCheckBox;
class QPushButton;
class QWidget;

namespace qvx {

class ReplyTimer;
class Sequence;
class Session;

class SettingsReadout : public QObject {
    Q_OBJECT
public:
    // The button "Read settings " is made as a child of buttonParent.
    SettingsReadout(Session &session, QWidget *buttonParent);

    QPushButton *button() const { return m_button; }
    ReplyTimer &timerStatus() { return *m_timerStatus; }
    // The meter tab's "Decode values as 64-bit integer", "Enable 16-digit ID"
    // and "Enable Long OBIS"; wired once by the main window.
    void setOptionBoxes(QCheckBox *check64bit, QCheckBox *check16digit, QCheckBox *checkLongObis);

    // The firmware query of "Read firmware version" (device commands): sent
    // now, its reply shown at the end of Timer_status.
    void readFirmware();
    // True while the readout or the firmware query waits for a window.
    bool running() const;

public slots:
    void Butt_statusClick();  // "Read settings "
    void Timer_statusTimer(); // end of one window of the sequence

private:
    void decodeFlags(const struct SettingsStepResult &r);
    // Status panel 3: "window/8" while the readout runs; 0 empties it.
    void showProgress(int window);

    Session &m_session;
    ReplyTimer *m_timerStatus;
    Sequence *m_sequence;
    QPushButton *m_button;
    QPointer<QCheckBox> m_check64bit;
    QPointer<QCheckBox> m_check16digit;
    QPointer<QCheckBox> m_checkLongObis;
    bool m_progressShown = false;
};

} // namespace qvx
