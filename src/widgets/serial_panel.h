// The group "   Serial port settings   ": port name and line settings, the
// "Connect to port" toggle and the serial status panel.
#pragma once

#include "transport/comm2.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace qvx {

class Session;

class SerialPanel : public QGroupBox {
    Q_OBJECT
public:
    SerialPanel(Session &session, QWidget *parent = nullptr);

    // The port and line the boxes describe, as opening the port takes them.
    QString portName() const;
    Comm2::LineSettings lineSettings() const;

signals:
    // A box of the port or its line changed (typed or chosen).
    void lineChanged();

public slots:
    // Refuses while a TCP connection exists, otherwise toggles the port.
    void Butt_open_port2Click();
    // Opens the closed port from the boxes, or closes the open one.  An error
    // of the serial component while opening is not caught here: it ends the
    // calling handler (whose guard shows it) and the port stays closed.
    void TogglePort();
    // The open device went away: one log line naming it and the system's
    // reason, then the port is closed as TogglePort closes it.
    void Comm2DeviceLost(const QString &reason);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Shows the port's name whole under the box while the box cuts it off.
    void showWholeName();
    void openPort();
    void closePort();
    // The boxes that describe the open line; the data-bits box stays enabled.
    void setLineBoxesEnabled(bool enabled);

    Session &m_session;
    QComboBox *m_name;
    QLabel *m_wholeName;
    QComboBox *m_speed;
    QComboBox *m_parity;
    QComboBox *m_dataBits;
    QComboBox *m_stopBits;
    QSpinBox *m_bytesTimeout;
    QCheckBox *m_autoOpen;
    QPushButton *m_open;
};

} // namespace qvx
