#include "transport/serial_panel.h"

#include "transport/session.h"

namespace qvx {

SerialPanel::SerialPanel(Session &session, QWidget *parent)
    : QGroupBox(QStringLiteral("   Serial port settings   "), parent), m_session(session)
{
}

void SerialPanel::Butt_open_port2Click() {}
void SerialPanel::TogglePort() {}

} // namespace qvx
