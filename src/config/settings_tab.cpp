#include "config/settings_tab.h"

#include "config/device_commands.h"
#include "config/register_browser.h"
#include "config/settings_readout.h"
#include "widgets/serial_panel.h"
#include "widgets/tcp_panel.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace qvx {

SettingsTab::SettingsTab(Session &session, QWidget *parent)
    : QWidget(parent), m_serial(new SerialPanel(session, this)), m_tcp(new TcpPanel(session, this)),
      m_browser(new RegisterBrowser(session, this)),
      m_readout(new SettingsReadout(session, this)),
      m_commands(new DeviceCommands(session, *m_browser, *m_readout, this))
{
    // The register table takes the whole width, so its six columns show
    // without scrolling sideways; the link settings and the commands share
    // the row below it.
    auto *tcpColumn = new QVBoxLayout;
    tcpColumn->addWidget(m_tcp);
    tcpColumn->addWidget(m_commands->tcpSettingsGroup());
    tcpColumn->addStretch(1);

    auto *serialColumn = new QVBoxLayout;
    serialColumn->addWidget(m_serial);
    serialColumn->addStretch(1);

    auto *lower = new QHBoxLayout;
    lower->setSpacing(3);
    lower->addLayout(serialColumn, 0);
    lower->addLayout(tcpColumn, 0);
    lower->addWidget(m_commands->commandsGroup(), 1, Qt::AlignTop);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_browser, 1);
    layout->addLayout(lower, 0);
}

} // namespace qvx
