// The "   Diagnostic/Readout   " tab: reading an electricity meter directly
// over IEC 62056-21.  "Readout" sends the sign-on request for one meter
// address on the serial port and, for ten seconds, copies every byte that
// arrives into the readout view, line by line; nothing else is sent (no
// acknowledgement, no option select, no baud-rate change).  The text can be
// cleared, saved to 'logIEC.txt' in the program's folder, and split into the
// table of OBIS codes and values, which is exported as CSV.
#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;

namespace qvx {

class ReadoutView;
class ReplyTimer;
class SerialPanel;
class Session;
class StringGrid;

class ReadoutTab : public QWidget {
    Q_OBJECT
public:
    static constexpr int CaptureMs = 10000;

    ReadoutTab(Session &session, QWidget *parent = nullptr);

    // The port toggle that opens a closed port with the Settings tab's values.
    void setSerialPanel(SerialPanel *panel) { m_serial = panel; }

    StringGrid *gridIEC() const { return m_gridIEC; }
    ReadoutView *memoReadout() const { return m_memo; }
    ReplyTimer &timerDirectRead() const { return *m_timerDirectRead; }

    // The sign-on request for a meter address: "/?" address "!" CR LF.
    static QByteArray signOnRequest(const QString &address);

    // Line of Memo_readout that receives the next captured bytes.
    int ReadoutLineIndex = 0;

public slots:
    void Button4Click();          // Readout
    void Timer_directReadTimer(); // capture end
    void Button5Click();          // Clear
    void Button6Click();          // Save to logIEC.txt
    void BitBtn20Click();         // Parse
    void BitBtn21Click();         // Save the table as CSV
    // The bytes of one serial receive event; ignored unless a capture runs.
    void captureBytes(const QByteArray &bytes);

private:
    void startReadout();

    Session &m_session;
    SerialPanel *m_serial = nullptr;
    QLineEdit *m_address;
    ReadoutView *m_memo;
    StringGrid *m_gridIEC;
    ReplyTimer *m_timerDirectRead;
};

} // namespace qvx
