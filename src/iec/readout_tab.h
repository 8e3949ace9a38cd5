// The "   Diagnostic/Readout   " tab: reading an electricity meter directly
// over IEC 62056-21.  "Readout" sends the sign-on request for one meter
// address on the serial port and, for ten seconds, copies every byte that
// arrives into the readout view, line by line; nothing else is sent (no
// acknowledgement, no option select, no baud-rate change).  The text can be
// cleared, saved to 'logIEC.txt' in the program's folder, and split into the
// table of OBIS codes and values, which is exported as CSV.
//
// Beyond that ten-second capture, three check boxes make the readout fit real
// meters: "Until end of message" captures until ETX and the block check
// character (checked and reported), a quiet line or five minutes;
// "Acknowledge (mode C)" answers the identification and switches the port to
// the announced rate; "Start at 300 baud" signs on at 300 baud 7E1 for an
// optical probe.  The table's codes can be copied into a meter slot of the
// meter tab.
//
// The tab says what it will do and what happened: a label under "Readout"
// names the port and line the readout will use, the status bar panel counts
// the ten-second window down (or shows bytes and seconds until the end of
// the message), and a capture that ends without a byte says in the status
// bar that the meter did not answer and what to check.
#pragma once

#include "iec/iec_session.h"

#include <QElapsedTimer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace qvx {

class MetersTab;
class ReadoutView;
class ReplyTimer;
class SerialPanel;
class Session;
class StatusPanel;
class StringGrid;

class ReadoutTab : public QWidget {
    Q_OBJECT
public:
    static constexpr int CaptureMs = 10000;

    ReadoutTab(Session &session, QWidget *parent = nullptr);

    // The port toggle that opens a closed port with the Settings tab's values.
    // The label under "Readout" follows its boxes.
    void setSerialPanel(SerialPanel *panel);
    // The meter tab that "Copy codes to meter slot..." fills.
    void setMetersTab(MetersTab *tab);

    // The status bar panel that shows a running readout's bytes and seconds
    // (hidden while none runs); the window puts it in its status bar beside
    // the four panels it has anyway.
    StatusPanel *progressPanel() const { return m_progress; }
    // True from the start of a readout until it has ended: the serial line
    // carries the meter's bytes, and no periodic Modbus read may go out.
    bool hasSerialLine() const { return m_lineTaken; }

    StringGrid *gridIEC() const { return m_gridIEC; }
    ReadoutView *memoReadout() const { return m_memo; }
    ReplyTimer &timerDirectRead() const { return *m_timerDirectRead; }
    IecReadoutRun &readoutRun() { return m_run; }
    QMenu *popupIEC() const { return m_popupIEC; }

    // The sign-on request for a meter address: "/?" address "!" CR LF.
    static QByteArray signOnRequest(const QString &address);
    // How a line reads on the label and in hints: "9600 7E1".
    static QString lineText(const Comm2::LineSettings &line);
    // The label under "Readout": "/dev/ttyUSB0, 9600 7E1", and the ticked
    // ways of starting.
    static QString readoutLineText(const QString &port, const Comm2::LineSettings &line, bool modeC,
                                   bool start300);

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
    // "Copy codes to meter slot...": the selected rows' codes (all rows when
    // none is selected) and the meter ID into a slot chosen in a dialog.
    void CopyCodesToMeterSlotClick();
    // "Stop readout": ends a running readout now.
    void ButtonStopReadoutClick();
    // A periodic value read waits for the end of the readout (or no longer).
    void setPeriodicReadWaiting(bool waiting);

signals:
    // A readout took the serial line (true) or gave it back (false).
    void serialLineTaken(bool taken);

private:
    void startReadout();
    void readoutFinished();
    void showProgress(qint64 bytes, int seconds);
    // The port and line a readout started now would use.
    QString usedPort() const;
    Comm2::LineSettings usedLine() const;
    void updateLineLabel();

    Session &m_session;
    SerialPanel *m_serial = nullptr;
    MetersTab *m_metersTab = nullptr;
    QLineEdit *m_address;
    ReadoutView *m_memo;
    StringGrid *m_gridIEC;
    ReplyTimer *m_timerDirectRead;
    QCheckBox *m_untilEnd;
    QCheckBox *m_modeC;
    QCheckBox *m_start300;
    QMenu *m_popupIEC;
    QPushButton *m_stop;
    StatusPanel *m_progress;
    QLabel *m_lineLabel;
    QLabel *m_waitingLabel;
    bool m_lineTaken = false;
    IecReadoutRun m_run;
    // Since the ten-second window opened; invalid while the readout runs to
    // the end of the message.
    QElapsedTimer m_window;
    bool m_stoppedByOperator = false;
};

} // namespace qvx
