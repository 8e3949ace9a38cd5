#include "meters/meters_tab.h"

#include "app/errors.h"
#include "app/string_grid.h"
#include "meters/meter_values_panel.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"
#include "transport/session.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace qvx {

MetersTab::MetersTab(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_gridRegisters(new StringGrid(2, 64, this)),
      m_labelSelected(new QLabel(this)), m_udMeterNumber(new QSpinBox(this)),
      m_check16digit(new QCheckBox(QStringLiteral("Enable 16-digit ID"), this)),
      m_checkLongObis(new QCheckBox(QStringLiteral("Enable Long OBIS"), this)),
      m_check64bit(new QCheckBox(QStringLiteral("Decode values as 64-bit integer"), this)),
      m_timerReadSingle(new ReplyTimer(1000, this)), m_values(new MeterValuesPanel(session, *this, this))
{
    m_gridRegisters->setObjectName(QStringLiteral("Grid_registers"));
    m_gridRegisters->setAccessibleName(QStringLiteral("Registers, set to be read for this METER ID"));
    m_gridRegisters->setColumnWidths({64, 218});
    m_gridRegisters->setEditable(true);
    m_labelSelected->setObjectName(QStringLiteral("Label_selectedRegister"));
    m_udMeterNumber->setObjectName(QStringLiteral("UD_meterNumber"));
    m_udMeterNumber->setRange(1, 32);
    m_udMeterNumber->setValue(1);
    m_udMeterNumber->setAccessibleName(QStringLiteral("No."));
    m_udMeterNumber->findChild<QLineEdit *>()->setObjectName(QStringLiteral("Edit_meterNumber"));
    m_check16digit->setObjectName(QStringLiteral("Check_16digit"));
    m_checkLongObis->setObjectName(QStringLiteral("Check_longOBIS"));
    m_check64bit->setObjectName(QStringLiteral("Check_64bit"));
    m_timerReadSingle->setObjectName(QStringLiteral("Timer_readQVX_single"));
    connect(m_timerReadSingle, &ReplyTimer::timeout, this, &MetersTab::Timer_readQVX_singleTimer);

    auto *registersCaption = new QLabel(QStringLiteral("Registers, set to be read for this METER ID:"), this);
    registersCaption->setBuddy(m_gridRegisters);
    auto *selectedCaption = new QLabel(QStringLiteral("Selected register from table: "), this);
    auto *numberCaption = new QLabel(QStringLiteral("No."), this);
    numberCaption->setBuddy(m_udMeterNumber);

    auto *layout = new QGridLayout(this);
    layout->addWidget(numberCaption, 0, 0);
    layout->addWidget(m_udMeterNumber, 0, 1);
    layout->addWidget(m_check16digit, 1, 0, 1, 2);
    layout->addWidget(m_checkLongObis, 2, 0, 1, 2);
    layout->addWidget(m_check64bit, 3, 0, 1, 2);
    layout->addWidget(registersCaption, 4, 0, 1, 2);
    layout->addWidget(m_gridRegisters, 5, 0, 1, 2);
    layout->addWidget(selectedCaption, 6, 0);
    layout->addWidget(m_labelSelected, 6, 1);
    layout->addWidget(m_values, 0, 2, 7, 1);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(2, 1);
}

StringGrid *MetersTab::gridMeterValue() const
{
    return m_values->gridMeterValue();
}

int MetersTab::meterNumber() const
{
    return m_udMeterNumber->value();
}

void MetersTab::Edit_meterNumberChange() {}

void MetersTab::Butt_clearRegClick() {}

void MetersTab::DecodeRegisterList(const QByteArray &, int) {}

void MetersTab::DecodeRegisterRow(const QByteArray &, int, int) {}

std::optional<QByteArray> MetersTab::captureReply(ReplyTimer &timer)
{
    timer.disable();
    if (!m_session.linkOpen())
        return std::nullopt;
    const QByteArray reply = m_session.takeReply();
    m_session.log(QStringLiteral("Respond:") + hexBytes(reply));
    m_session.clearBuffers();
    m_session.purge();
    return reply;
}

void MetersTab::Timer_readQVX_singleTimer()
{
    guard(
        [this] {
            const std::optional<QByteArray> reply = captureReply(*m_timerReadSingle);
            if (!reply || reply->isEmpty())
                return;
            // Slot and row as they are now: a slot or row changed while the
            // window was open receives the reply.
            const int n = meterNumber();
            if (!ReadValues && !ReadOneRow) {
                Butt_clearRegClick();
                DecodeRegisterList(*reply, n);
            } else if (!ReadValues) {
                DecodeRegisterRow(*reply, n, selectedRegisterRow);
            } else if (!ReadOneRow) {
                m_values->DecodeMeterValues(*reply);
                if (m_values->autoSave())
                    m_values->AppendValuesLog();
            } else {
                m_values->DecodeMeterValue(*reply);
            }
        },
        this);
}

} // namespace qvx
