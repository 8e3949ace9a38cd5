// The right half of the meter tab: the values the device collected for the
// selected slot (Grid_meterValue), their periodic reading and the values log,
// and the meter data file's save and load buttons.
//
// Value reads share the meter tab's reply window Timer_readQVX_single; when
// it ends, the tab hands the reply back to DecodeMeterValues (whole slot) or
// DecodeMeterValue (the selected row) and, with "Auto Save values" checked,
// calls AppendValuesLog.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QWidget>
#include <cstdint>
#include <optional>

class QAction;
class QCheckBox;
class QMenu;
class QPushButton;
class QSpinBox;

namespace qvx {

class MetersTab;
class ReplyTimer;
class Session;
class StringGrid;

class MeterValuesPanel : public QWidget {
    Q_OBJECT
public:
    MeterValuesPanel(Session &session, MetersTab &tab, QWidget *parent = nullptr);

    StringGrid *gridMeterValue() const { return m_grid; }
    QMenu *popupValues() const { return m_popup; }
    ReplyTimer &timerAutoReadValues() { return *m_timerAutoRead; }
    // "\files\logvalues.txt" below the program's folder.
    QString valuesLogPath() const;
    // The values table's tool tip of a row: its OBIS code in the meter table.
    QString valueRowToolTip(int row) const;

    // Called by the meter tab's Timer_readQVX_single when a value read ends.
    // DecodeMeterValue writes the row selected in Grid_meterValue.
    void DecodeMeterValues(const QByteArray &reply);
    void DecodeMeterValue(const QByteArray &reply);
    // True when "Auto Save values" is checked.
    bool autoSave() const;
    // Appends the values grid to the values log as one reading.  Called after
    // DecodeMeterValues; a reply that failed the checks decoded nothing, and
    // then no reading is logged: the grid still shows the previous one.
    void AppendValuesLog();
    // The read-all sequence disables the meter data file's two buttons.
    void setFileButtonsEnabled(bool on);

public slots:
    void BitBtn19Click();     // "Read real values"
    void Readall1Click();     // "Read all"
    void Readcurrent1Click(); // "Read current"
    // "Clear table": empties the values column (column 0 keeps the row numbers).
    void Cleaetable1Click();
    void Grid_meterValueSelectCell(int col, int row);
    void Edit_autoreadChange();
    void Check_autoReadClick();
    void Timer_autoReadValuesTimer();
    void BitBtn17Click(); // "Save to file meter data"
    void BitBtn18Click(); // "Load data from file"
    // A readout took the serial line (true) or gave it back (false): while
    // it has it, auto-read ticks wait and one read follows its end.  A value
    // read still waiting for its reply is ended without a word of decoding:
    // the readout purges its reply, and the window would take the meter's
    // bytes for it (and, ending, purge the meter's answer).
    void setSerialLineTaken(bool taken);

signals:
    // A whole-slot reading was decoded: the values of slot, element 0 row 1.
    void slotValuesRead(int slot, const QVector<std::optional<qint64>> &values);
    // An auto-read tick waits for a readout to give the line back (or no
    // longer waits).
    void periodicReadWaiting(bool waiting);

private:
    // A sequence has ended: an auto-read tick that waited for it reads now.
    void sequenceFinished();
    // The tick that waited reads now, unless a sequence or a readout still
    // holds the line.
    void readWaitingTick();
    void setTickWaiting(bool waiting);
    // A value read was sent into the meter tab's window (its end is watched).
    void readSent();
    void readEnded();
    bool sixtyFourBit() const;
    // Writes value to row (1..last row of the grid; nothing elsewhere).
    void showValue(int row, qint64 value);

    Session &m_session;
    MetersTab &m_tab;
    StringGrid *m_grid;
    QMenu *m_popup;
    QAction *m_readCurrent;
    QAction *m_readAll;
    QAction *m_clearTable;
    QPushButton *m_readButton;
    QSpinBox *m_udAutoRead;
    QCheckBox *m_checkAutoRead;
    QCheckBox *m_checkAutoSave;
    ReplyTimer *m_timerAutoRead;
    QPushButton *m_saveButton;
    QPushButton *m_loadButton;
    // The save and open dialogs propose the file of their previous use.
    QString m_saveFile;
    QString m_openFile;
    // The last whole-slot reply passed the checks and was decoded.
    bool m_readingDecoded = false;
    // The first append of this run was reported in the status bar; later
    // ones are not, the log grows every few seconds.
    bool m_valuesLogReported = false;
    // An auto-read tick came while a sequence or a readout ran.
    bool m_tickWaiting = false;
    // A readout has the serial line.
    bool m_lineTaken = false;
    // A value read of this panel waits in the meter tab's window.
    bool m_readPending = false;
    // What periodicReadWaiting said last.
    bool m_waitingShown = false;
};

} // namespace qvx
