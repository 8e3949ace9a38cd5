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
// The readout can run on a port of its own ("Port:" "a port of its own",
// with its own name, rate, parity and data bits): an optical head on a
// second adapter, read while the Modbus port stays with the gateway.  That
// port is opened for the readout and closed at its end; its bytes never
// reach the Modbus receive buffer, and the Modbus port's bytes never reach
// the readout, so periodic value reads go on meanwhile.  "Listen only"
// sends nothing and captures what a pushing meter sends by itself.
//
// "Data sets..." on the table's pop-up menu shows every data set of the
// bytes captured since the last Clear (not the edited text), with its
// further values, in a window of its own.
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
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace qvx {

class DataSetsWindow;
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
    // The run on the Modbus serial port, and the one on the port of its own.
    IecReadoutRun &readoutRun() { return m_run; }
    IecReadoutRun &ownPortRun() { return m_ownRun; }
    QMenu *popupIEC() const { return m_popupIEC; }
    // Every byte captured since the last Clear, on either port, as it came.
    const QByteArray &capturedBytes() const { return m_captured; }
    // The window "Data sets..." opens; nullptr until it was first opened.
    DataSetsWindow *dataSetsWindow() const { return m_dataSets; }
    // True when "Port:" chooses the port of its own.
    bool usesOwnPort() const;
    // The port of its own as its boxes describe it (one stop bit).
    QString ownPortName() const;
    Comm2::LineSettings ownPortLine() const;

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
    // "Copy codes to meter slot...": the selected rows' codes (when none is
    // selected, those of every data set of the text, however many a line
    // holds) and the meter ID into a slot chosen in a dialog.
    void CopyCodesToMeterSlotClick();
    // "Data sets...": the window with every data set of the capture.
    void DataSetsClick();
    // "Stop readout": ends a running readout now.
    void ButtonStopReadoutClick();
    // A periodic value read waits for the end of the readout (or no longer).
    void setPeriodicReadWaiting(bool waiting);

signals:
    // A readout took the serial line (true) or gave it back (false).
    void serialLineTaken(bool taken);

private:
    void startReadout();
    // Opens the port of its own for a readout; false, with its log lines,
    // when it cannot be opened.
    bool openOwnPort();
    void closeOwnPort();
    // Receive event and loss of the port of its own.
    void ownPortReceived();
    void ownPortLost(const QString &reason);
    // The run of the readout going on or last started.
    IecReadoutRun &activeRun() { return *m_active; }
    // The port boxes follow the choice and a running readout.
    void updatePortBoxes();
    // The bytes of one receive event, from whichever port the readout uses.
    void captureFromLine(const QByteArray &bytes);
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
    QCheckBox *m_listen;
    QComboBox *m_portChoice;
    QComboBox *m_ownName;
    QComboBox *m_ownSpeed;
    QComboBox *m_ownParity;
    QComboBox *m_ownDataBits;
    QMenu *m_popupIEC;
    QPushButton *m_stop;
    StatusPanel *m_progress;
    QLabel *m_lineLabel;
    QLabel *m_waitingLabel;
    bool m_lineTaken = false;
    IecReadoutRun m_run;
    // The port of its own and its run; the port is open only while a
    // readout runs on it.
    Comm2 m_ownComm;
    IecReadoutRun m_ownRun;
    IecReadoutRun *m_active = &m_run;
    // Set while a readout captures from the port of its own.
    bool m_ownCapture = false;
    QByteArray m_captured;
    DataSetsWindow *m_dataSets = nullptr;
    // Since the ten-second window opened; invalid while the readout runs to
    // the end of the message.
    QElapsedTimer m_window;
    bool m_stoppedByOperator = false;
};

} // namespace qvx
