#include "config/register_browser.h"

#include "transport/reply_timer.h"
#include "transport/session.h"

namespace qvx {

RegisterBrowser::RegisterBrowser(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_timerModbus(new ReplyTimer(1000, this))
{
}

uint8_t RegisterBrowser::unitAddress() const { return 1; }
int RegisterBrowser::modbusTimeout() const { return 600; }
ReplyTimer &RegisterBrowser::timerModbus() { return *m_timerModbus; }

void RegisterBrowser::BitBtn3Click() {}
void RegisterBrowser::Timer_modbusTimer() {}
void RegisterBrowser::BitBtn4Click() {}
void RegisterBrowser::BitBtn8Click() {}

} // namespace qvx
