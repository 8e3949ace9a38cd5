// The window's link fields as the gateway tools read and set them: the
// serial port's name, rate and parity, the TCP host and port, the unit
// address and the Modbus time-out.  Found by object name in the main window,
// as the settings file finds them, so the tools need nothing from the window
// but its widget.
#pragma once

#include "gateway/gateway_format.h"

class QComboBox;
class QLineEdit;
class QSpinBox;
class QWidget;

namespace qvx {

class Session;

struct LinkFields {
    QComboBox *port = nullptr;
    QComboBox *speed = nullptr;
    QComboBox *parity = nullptr;
    QLineEdit *host = nullptr;
    QLineEdit *tcpPort = nullptr;
    QSpinBox *unit = nullptr;
    QSpinBox *timeout = nullptr;

    static LinkFields find(QWidget *window);
    // The link the window uses now, as the fields and the session describe it.
    GatewayLink current(Session &session) const;
    // Shows link's line (serial only) and unit in the fields.
    void show(const GatewayLink &link) const;
};

// "even" -> "Even", as the serial panel's parity box lists it.
QString parityCaption(const QString &parity);

} // namespace qvx
