#include "config/settings_tab.h"

#include "config/register_browser.h"
#include "transport/serial_panel.h"
#include "transport/tcp_panel.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace qvx {

SettingsTab::SettingsTab(Session &session, QWidget *parent)
    : QWidget(parent), m_serial(new SerialPanel(session, this)), m_tcp(new TcpPanel(session, this)),
      m_browser(new RegisterBrowser(session, this))
{
    auto *right = new QVBoxLayout;
    right->addWidget(m_serial);
    right->addWidget(m_tcp);
    right->addStretch(1);

    // The register table gets the room; the link settings keep their width.
    m_serial->setMaximumWidth(340);
    m_tcp->setMaximumWidth(340);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_browser, 1);
    layout->addLayout(right, 0);
}

} // namespace qvx
