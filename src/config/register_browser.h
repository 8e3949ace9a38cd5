// The register browser: reads any block of input or holding registers and
// lists them in a table that can be cleared and exported.  Its "Address" and
// "Timeout, ms" fields feed the request settings every requester uses, and its
// handler Timer_modbusTimer ends the window of register reads and device
// writes (Timer_modbus, which the exchange holds).
#pragma once

#include "transport/reply_check.h"

#include <QVector>
#include <QWidget>
#include <cstdint>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace qvx {

class Session;
class ReplyTimer;
class StringGrid;

class RegisterBrowser : public QWidget {
    Q_OBJECT
public:
    RegisterBrowser(Session &session, QWidget *parent = nullptr);

    // Position of UDmodbusAddress: the unit address of every request.
    uint8_t unitAddress() const;
    // Position of UD_modbusTimeout, in milliseconds.
    int modbusTimeout() const;
    // The 1000 ms reply window of register reads and device writes.
    ReplyTimer &timerModbus();
    // The register table (gridInputRegisters).
    StringGrid &registerGrid() const { return *m_grid; }

public slots:
    void BitBtn3Click();      // "Read registers"
    void Timer_modbusTimer(); // end of the reply window
    void BitBtn4Click();      // "Clear grid"
    void BitBtn8Click();      // "Export"
    void checkInputClick();   // "Input"
    void checkHoldingClick(); // "Holding"

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The row writer: one row per register from the table's last (empty) row
    // on, which stays the last, empty row afterwards.
    void appendRegisterRows(const QVector<RegisterValue> &registers);

    Session &m_session;
    ReplyTimer *m_timerModbus;
    QCheckBox *m_checkInput;
    QCheckBox *m_checkHolding;
    QLineEdit *m_editInputAddress;
    QLineEdit *m_editInputCount;
    QPushButton *m_readButton;
    StringGrid *m_grid;
    QPushButton *m_clearButton;
    QPushButton *m_exportButton;
    QSpinBox *m_udTimeout;
    QSpinBox *m_udAddress;
    bool m_widened = false;
};

} // namespace qvx
