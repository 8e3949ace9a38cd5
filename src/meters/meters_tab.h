// The "    Devices programmed in modbus   " tab.  For now it holds the controls
// the main window touches at start-up (the register table, the selected-
// register label and the values table); the meter table's behaviour comes
// with its own work.
#pragma once

#include <QWidget>

class QLabel;

namespace qvx {

class Session;
class StringGrid;

class MetersTab : public QWidget {
    Q_OBJECT
public:
    MetersTab(Session &session, QWidget *parent = nullptr);

    StringGrid *gridRegisters() const { return m_gridRegisters; }
    StringGrid *gridMeterValue() const { return m_gridMeterValue; }
    QLabel *labelSelectedRegister() const { return m_labelSelected; }

    // Selected cell of Grid_registers and selected row of Grid_meterValue:
    // the rows the meter operations act on.
    int selectedRegisterRow = 1;
    int selectedRegisterCol = 0;
    int selectedValueRow = 1;

private:
    Session &m_session;
    StringGrid *m_gridRegisters;
    StringGrid *m_gridMeterValue;
    QLabel *m_labelSelected;
};

} // namespace qvx
