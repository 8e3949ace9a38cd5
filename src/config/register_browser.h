// The register browser: reads any block of input or holding registers and
// lists them in a table that can be cleared and exported.  It also owns the
// two request settings every requester uses (unit address and time-out) and
// the reply window of register reads and device writes.
#pragma once

#include <QWidget>
#include <cstdint>

namespace qvx {

class Session;
class ReplyTimer;

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

public slots:
    void BitBtn3Click();      // "Read registers"
    void Timer_modbusTimer(); // end of the reply window
    void BitBtn4Click();      // "Clear grid"
    void BitBtn8Click();      // "Export"

private:
    Session &m_session;
    ReplyTimer *m_timerModbus;
};

} // namespace qvx
