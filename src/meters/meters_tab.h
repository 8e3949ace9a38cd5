// The "    Devices programmed in modbus   " tab: the meter table's slot, ID and
// OBIS list on the left (with the programming transfer), the collected values
// on the right (MeterValuesPanel).  The tab owns the meter table, the three
// mode check boxes and the reply window Timer_readQVX_single that the OBIS
// reads and the value reads share.
#pragma once

#include "meters/meter_table.h"

#include <QByteArray>
#include <QWidget>
#include <optional>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace qvx {

class MeterValuesPanel;
class RegisterBrowser;
class ReplyTimer;
class Session;
class StringGrid;

class MetersTab : public QWidget {
    Q_OBJECT
public:
    MetersTab(Session &session, QWidget *parent = nullptr);

    // The register browser owns the unit address, the time-out and
    // Timer_modbus, which answers every write; wired once by the main window.
    void setRegisterBrowser(RegisterBrowser *browser) { m_browser = browser; }
    RegisterBrowser *registerBrowser() const { return m_browser; }

    MeterTable &meterTable() { return m_table; }
    StringGrid *gridRegisters() const { return m_gridRegisters; }
    StringGrid *gridMeterValue() const;
    QLabel *labelSelectedRegister() const { return m_labelSelected; }
    MeterValuesPanel *valuesPanel() const { return m_values; }
    QCheckBox *check16digit() const { return m_check16digit; }
    QCheckBox *checkLongObis() const { return m_checkLongObis; }
    QCheckBox *check64bit() const { return m_check64bit; }
    // The selected meter slot n: the position of UD_meterNumber (1..32).
    int meterNumber() const;
    QSpinBox *udMeterNumber() const { return m_udMeterNumber; }
    // Reply window of the single-slot OBIS reads and of the value reads.
    ReplyTimer &timerReadSingle() { return *m_timerReadSingle; }

    // Selected cell of Grid_registers and selected row of Grid_meterValue:
    // the rows the meter operations act on.
    int selectedRegisterRow = 1;
    int selectedRegisterCol = 0;
    int selectedValueRow = 1;
    // What the read that Timer_readQVX_single will end concerns.
    bool ReadOneRow = false;
    bool ReadValues = false;

public slots:
    // Shows slot n from the meter table.
    void Edit_meterNumberChange();
    // "Clear current registers": empties the grid, not the meter table.
    void Butt_clearRegClick();
    // End of the reply window of the single-slot OBIS and value reads.
    void Timer_readQVX_singleTimer();

public:
    // Decoders of OBIS replies (the reply already in RTU form).
    void DecodeRegisterList(const QByteArray &reply, int slot);
    void DecodeRegisterRow(const QByteArray &reply, int slot, int row);

private:
    // The first steps of every meter reply window: the reply as it stands
    // (logged as "Respond:"), the buffers emptied and the port purged.
    // Nothing when no link is open any more: the window ends silently.
    std::optional<QByteArray> captureReply(ReplyTimer &timer);

    Session &m_session;
    RegisterBrowser *m_browser = nullptr;
    MeterTable m_table;
    StringGrid *m_gridRegisters;
    QLabel *m_labelSelected;
    QSpinBox *m_udMeterNumber;
    QCheckBox *m_check16digit;
    QCheckBox *m_checkLongObis;
    QCheckBox *m_check64bit;
    ReplyTimer *m_timerReadSingle;
    MeterValuesPanel *m_values;
};

} // namespace qvx
