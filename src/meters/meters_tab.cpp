#include "meters/meters_tab.h"

#include "app/string_grid.h"
#include "transport/session.h"

#include <QGridLayout>
#include <QLabel>

namespace qvx {

MetersTab::MetersTab(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_gridRegisters(new StringGrid(2, 64, this)),
      m_gridMeterValue(new StringGrid(2, 64, this)), m_labelSelected(new QLabel(this))
{
    m_gridRegisters->setObjectName(QStringLiteral("Grid_registers"));
    m_gridRegisters->setAccessibleName(QStringLiteral("Registers, set to be read for this METER ID"));
    m_gridRegisters->setColumnWidths({64, 218});
    m_gridRegisters->setEditable(true);
    m_gridMeterValue->setObjectName(QStringLiteral("Grid_meterValue"));
    m_gridMeterValue->setAccessibleName(QStringLiteral("Meter values"));
    m_gridMeterValue->setColumnWidths({41, 97});
    m_gridMeterValue->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_labelSelected->setObjectName(QStringLiteral("Label_selectedRegister"));

    auto *registersCaption = new QLabel(QStringLiteral("Registers, set to be read for this METER ID:"), this);
    registersCaption->setBuddy(m_gridRegisters);
    auto *selectedCaption = new QLabel(QStringLiteral("Selected register from table: "), this);

    auto *layout = new QGridLayout(this);
    layout->addWidget(registersCaption, 0, 0, 1, 2);
    layout->addWidget(m_gridRegisters, 1, 0, 1, 2);
    layout->addWidget(selectedCaption, 2, 0);
    layout->addWidget(m_labelSelected, 2, 1);
    layout->addWidget(m_gridMeterValue, 0, 2, 3, 1);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(2, 1);
}

} // namespace qvx
