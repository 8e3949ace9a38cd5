// The "    Devices programmed in modbus   " tab: the meter table's slot, ID and
// OBIS list on the left (with the programming transfer), the collected values
// on the right (MeterValuesPanel).  The tab owns the meter table, the three
// mode check boxes and the reply window Timer_readQVX_single that the OBIS
// reads and the value reads share.  The read of all meters is a sequence of
// one ID read and one list read per slot in Timer_readQVX24.
#pragma once

#include "meters/meter_table.h"

#include "transport/exchange.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSpinBox;

namespace qvx {

class MeterValuesPanel;
class ReplyTimer;
class Session;
class StringGrid;

class MetersTab : public QWidget {
    Q_OBJECT
public:
    MetersTab(Session &session, QWidget *parent = nullptr);

    MeterTable &meterTable() { return m_table; }
    StringGrid *gridRegisters() const { return m_gridRegisters; }
    StringGrid *gridMeterValue() const;
    QLabel *labelSelectedRegister() const { return m_labelSelected; }
    MeterValuesPanel *valuesPanel() const { return m_values; }
    QCheckBox *check16digit() const { return m_check16digit; }
    QCheckBox *checkLongObis() const { return m_checkLongObis; }
    QCheckBox *check64bit() const { return m_check64bit; }
    QComboBox *comboMeterId() const { return m_comboMeterId; }
    // The selected meter slot n: the position of UD_meterNumber (1..32).
    int meterNumber() const;
    // The unit address of every meter request, from the request settings.
    uint8_t unit() const;
    QSpinBox *udMeterNumber() const { return m_udMeterNumber; }
    // Reply window of the single-slot OBIS reads and of the value reads.
    ReplyTimer &timerReadSingle() { return *m_timerReadSingle; }
    // Reply window of each step of the read of all programmed meters.
    ReplyTimer &timerReadAll() { return *m_timerReadAll; }

    // Selected cell of Grid_registers and selected row of Grid_meterValue:
    // the rows the meter operations act on.
    int selectedRegisterRow = 1;
    int selectedRegisterCol = 0;
    int selectedValueRow = 1;
    // A read in Timer_readQVX_single (the OBIS reads here, the value reads of
    // the values panel): decode gets the reply when it answers the request.
    // Only an OBIS read sets the window's length from the time-out.
    using SingleReadDecoder = std::function<void(const QByteArray &reply)>;
    void startSingleRead(const ModbusRequest &request, SingleReadDecoder decode, bool obisRead = true);
    // True while "Read info from QVX-24 for all programmed METERS" runs.
    bool readAllRunning() const { return m_readAll->running(); }

    // Adds an ID to the list of Combo_meterID unless it is there already
    // (exact comparison); the text in the box stays as it is.
    void AddMeterIdToList(const QString &id);

    // Puts an ID and a list of codes (rows 1 on, the rest emptied) into slot
    // n of the meter table and shows that slot, codes even without an ID.
    // Nothing is sent: the operator writes the slot with the usual buttons.
    void fillSlot(int slot, const QString &id, const QStringList &codes);

    // A gateway tool wrote the gateway and read these slots back (readBack
    // holds them in the gateway's formats): each slot whose copy here would
    // program the gateway differently takes what the gateway holds, so that
    // the next "Write" does not undo the tool.  One log line names the slots
    // updated; typed changes not yet written that are replaced are named too.
    void gatewaySlotsReadBack(const QString &tool, const MeterTable &readBack, const QVector<int> &slotNums,
                              bool sixteenDigits, bool longObis);
    // A tool wrote these slots and did not read them back: they are marked
    // as not matching the gateway until they are read or written here.
    void gatewaySlotsWritten(const QString &tool, const QVector<int> &slotNums);
    // Slots holding typed changes that no write or read has replaced yet.
    bool slotTyped(int slot) const { return MeterTable::validSlot(slot) && m_typed[slot]; }
    bool slotMarkedStale(int slot) const { return MeterTable::validSlot(slot) && m_stale[slot]; }
    // The grid's open cell editor, if any, hands its text to the grid and to
    // the meter table.  Every operation that reads, clears or refills the
    // grid or the table runs this first.
    void commitTyping();

public slots:
    // Shows slot n from the meter table.
    void Edit_meterNumberChange();
    // "Clear current registers": empties the grid, not the meter table.
    void Butt_clearRegClick();
    // End of the reply window of the single-slot OBIS and value reads.
    void Timer_readQVX_singleTimer();
    // Typing limit of the ID box: 16 characters when checked, else 8.
    void Check_16digitClick(bool checked);
    void Button3Click(); // "Activate"
    void Grid_registersSelectCell(int col, int row);
    // Every key release in the grid: the selected row's code into the table.
    void Grid_registersKeyUp();
    // A carriage return in the ID box stores its text as the slot's ID.
    void ComboBox1KeyPress(QChar key);
    void BitBtn16Click();       // "Write in QVX-24 this meter"
    void WriteinQVX241Click();  // "Write this No. in QVX-24"
    void BitBtn15Click();       // "Read from QVX-24 this meter"
    void ReadfromQVX241Click(); // "Read this No. from QVX-24"
    void BitBtn14Click();       // "Read info from QVX-24 for all programmed METERS"
    void Timer_readQVX24Timer();

public:
    // Decoders of meter programming replies (the reply already in RTU form):
    // the results go into the meter table and the grid.
    void DecodeMeterIds(const QByteArray &reply);
    void DecodeRegisterList(const QByteArray &reply, int slot);
    void DecodeRegisterRow(const QByteArray &reply, int slot, int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The first steps of every meter reply window: the reply as it stands
    // (logged as "Respond:"), the buffers emptied and the port purged.
    // Nothing when no link is open any more: the window ends silently.
    std::optional<WindowReply> captureReply(ReplyTimer &timer);
    int replyTimeout() const;
    bool sixteenDigits() const;
    bool longObis() const;
    // The ten controls the read of all meters disables while it runs.
    void setReadAllControlsEnabled(bool on);
    void endReadAll();
    void showReadAllProgress(int slot);
    // The grid's cell editor committed a text: it belongs to the slot shown.
    void registerCellCommitted(int row);
    void storeTypedCode(int slot, int row, const QString &text);
    // A slot now holds what the gateway holds (written or read here).
    void slotInStep(int slot);
    void showStaleMark();

    Session &m_session;
    MeterTable m_table;
    StringGrid *m_gridRegisters;
    QLabel *m_labelSelected;
    QSpinBox *m_udMeterNumber;
    QComboBox *m_comboMeterId;
    QPushButton *m_button3;
    QPushButton *m_buttClearReg;
    QPushButton *m_bitBtn16;
    QPushButton *m_bitBtn15;
    QPushButton *m_bitBtn14;
    QMenu *m_popupRegister;
    QCheckBox *m_check16digit;
    QCheckBox *m_checkLongObis;
    QCheckBox *m_check64bit;
    ReplyTimer *m_timerReadSingle;
    ReplyTimer *m_timerReadAll;
    SingleReadDecoder m_singleDecoder;
    Sequence *m_readAll;
    MeterValuesPanel *m_values;
    QLabel *m_labelStale;
    // The slot the grid shows: an editor committed while the number moves
    // belongs to it, not to the new one.
    int m_shownSlot = 1;
    std::array<bool, MeterTable::Slots + 1> m_typed{};
    std::array<bool, MeterTable::Slots + 1> m_stale{};
};

} // namespace qvx
