// The right half of the meter tab: the values the device collected for the
// selected slot (Grid_meterValue), their periodic reading and the values log,
// and the meter data file's save and load buttons.
#pragma once

#include <QByteArray>
#include <QWidget>

namespace qvx {

class MetersTab;
class Session;
class StringGrid;

class MeterValuesPanel : public QWidget {
    Q_OBJECT
public:
    MeterValuesPanel(Session &session, MetersTab &tab, QWidget *parent = nullptr);

    StringGrid *gridMeterValue() const { return m_grid; }

    // Called by the meter tab's Timer_readQVX_single when a value read ends.
    // DecodeMeterValue writes the row selected in Grid_meterValue.
    void DecodeMeterValues(const QByteArray &reply);
    void DecodeMeterValue(const QByteArray &reply);
    // True when "Auto Save values" is checked.
    bool autoSave() const;
    void AppendValuesLog();
    // Empties the values column (column 0 keeps the row numbers).
    void Cleaetable1Click();
    // The read-all sequence disables the meter data file's two buttons.
    void setFileButtonsEnabled(bool on);

private:
    Session &m_session;
    MetersTab &m_tab;
    StringGrid *m_grid;
};

} // namespace qvx
