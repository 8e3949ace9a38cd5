#include "meters/meter_values_panel.h"

#include "app/string_grid.h"
#include "meters/meters_tab.h"
#include "transport/session.h"

#include <QVBoxLayout>

namespace qvx {

MeterValuesPanel::MeterValuesPanel(Session &session, MetersTab &tab, QWidget *parent)
    : QWidget(parent), m_session(session), m_tab(tab), m_grid(new StringGrid(2, 64, this))
{
    m_grid->setObjectName(QStringLiteral("Grid_meterValue"));
    m_grid->setAccessibleName(QStringLiteral("Meter values"));
    m_grid->setColumnWidths({41, 97});
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_grid);
}

void MeterValuesPanel::DecodeMeterValues(const QByteArray &) {}
void MeterValuesPanel::DecodeMeterValue(const QByteArray &) {}
bool MeterValuesPanel::autoSave() const
{
    return false;
}
void MeterValuesPanel::AppendValuesLog() {}
void MeterValuesPanel::Cleaetable1Click() {}
void MeterValuesPanel::setFileButtonsEnabled(bool) {}

} // namespace qvx
