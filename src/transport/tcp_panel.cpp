#include "transport/tcp_panel.h"

#include "transport/session.h"

namespace qvx {

TcpPanel::TcpPanel(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session)
{
}

void TcpPanel::Butt_connectEthernetClick() {}
void TcpPanel::Butt_ethernetDisconnectClick() {}
void TcpPanel::Xport_socketConnect() {}
void TcpPanel::Xport_socketDisconnect() {}
void TcpPanel::Xport_socketError(int) {}

} // namespace qvx
