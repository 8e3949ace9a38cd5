#include "meters/meters_tab.h"

#include "widgets/guard.h"
#include "widgets/string_grid.h"
#include "widgets/typing_limit.h"
#include "meters/meter_codec.h"
#include "meters/meter_values_panel.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"
#include "transport/exchange.h"
#include "transport/session.h"
#include "widgets/named_button.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <functional>
#include <new>

namespace qvx {

namespace {

constexpr int StatusPanelProgress = 3;

// The cell editor of Grid_registers: tells the tab which row a committed
// text went to, and lets the tab watch the editor's key releases.
class RegisterCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    std::function<void(QWidget *)> editorCreated;
    std::function<void(int row)> committed;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (editor && editorCreated)
            editorCreated(editor);
        return editor;
    }
    // Only a text the operator changed counts: an editor that was merely
    // opened and left again must not write a cleared cell into the table.
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        const QString before = index.data(Qt::EditRole).toString();
        QStyledItemDelegate::setModelData(editor, model, index);
        if (committed && index.data(Qt::EditRole).toString() != before)
            committed(index.row());
    }
};

} // namespace

MetersTab::MetersTab(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_gridRegisters(new StringGrid(2, 64, this)),
      m_labelSelected(new QLabel(this)), m_udMeterNumber(new QSpinBox(this)),
      m_comboMeterId(new QComboBox(this)),
      m_button3(namedButton("Button3", QStringLiteral("Activate"), this)),
      m_buttClearReg(namedButton("Butt_clearReg", QStringLiteral("Clear current registers"), this)),
      m_bitBtn16(namedButton("BitBtn16", QStringLiteral("Write in QVX-24 this meter"), this)),
      m_bitBtn15(namedButton("BitBtn15", QStringLiteral("Read from QVX-24 this meter"), this)),
      m_bitBtn14(
          namedButton("BitBtn14", QStringLiteral("Read info from QVX-24 for all programmed METERS"), this)),
      m_popupRegister(new QMenu(this)),
      m_check16digit(new QCheckBox(QStringLiteral("Enable 16-digit ID"), this)),
      m_checkLongObis(new QCheckBox(QStringLiteral("Enable Long OBIS"), this)),
      m_check64bit(new QCheckBox(QStringLiteral("Decode values as 64-bit integer"), this)),
      m_timerReadSingle(new ReplyTimer(1000, this)), m_timerReadAll(new ReplyTimer(1000, this)),
      m_readAll(new Sequence(session.exchange(), *m_timerReadAll, this)),
      m_values(new MeterValuesPanel(session, *this, this)), m_labelStale(new QLabel(this))
{
    m_gridRegisters->setObjectName(QStringLiteral("Grid_registers"));
    m_gridRegisters->setAccessibleName(QStringLiteral("Registers, set to be read for this METER ID"));
    m_gridRegisters->setColumnWidths({64, 218});
    m_gridRegisters->setEditable(true);
    // Moving through the rows selects them; an editor opens on typing, F2,
    // a double click or a click on the selected cell.
    m_gridRegisters->setEditTriggers(QAbstractItemView::EditTriggers(QAbstractItemView::AllEditTriggers) &
                                     ~QAbstractItemView::EditTriggers(QAbstractItemView::CurrentChanged));
    m_gridRegisters->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_gridRegisters->installEventFilter(this);
    auto *delegate = new RegisterCellDelegate(m_gridRegisters);
    delegate->editorCreated = [this](QWidget *editor) { editor->installEventFilter(this); };
    delegate->committed = [this](int row) { registerCellCommitted(row); };
    m_gridRegisters->setItemDelegate(delegate);
    connect(m_gridRegisters->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    Grid_registersSelectCell(current.column(), current.row());
            });

    m_popupRegister->setObjectName(QStringLiteral("Popup_register"));
    QAction *write = m_popupRegister->addAction(QStringLiteral("Write this No. in QVX-24"), this,
                                                &MetersTab::WriteinQVX241Click);
    write->setObjectName(QStringLiteral("WriteinQVX241"));
    QAction *read = m_popupRegister->addAction(QStringLiteral("Read this No. from QVX-24"), this,
                                               &MetersTab::ReadfromQVX241Click);
    read->setObjectName(QStringLiteral("ReadfromQVX241"));
    m_gridRegisters->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_gridRegisters, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        m_popupRegister->popup(m_gridRegisters->viewport()->mapToGlobal(pos));
    });

    m_labelStale->setObjectName(QStringLiteral("Label_slotStale"));
    m_labelStale->setWordWrap(true);
    m_labelStale->hide();
    // The meter data file is saved from the table and loaded over it: a code
    // still in the cell editor goes into the table first.  Pressed comes
    // before clicked, by mouse, keyboard or click() alike.
    for (const char *name : {"BitBtn17", "BitBtn18"})
        if (auto *button = m_values->findChild<QPushButton *>(QLatin1String(name)))
            connect(button, &QPushButton::pressed, this, &MetersTab::commitTyping);

    m_labelSelected->setObjectName(QStringLiteral("Label_selectedRegister"));
    m_labelSelected->setAccessibleName(QStringLiteral("Selected register from table:"));

    m_udMeterNumber->setObjectName(QStringLiteral("UD_meterNumber"));
    m_udMeterNumber->setRange(1, 32);
    m_udMeterNumber->setValue(1);
    m_udMeterNumber->setWrapping(false);
    m_udMeterNumber->setAccessibleName(QStringLiteral("No."));
    // The number changes only through the arrows; the field is not typed in.
    m_udMeterNumber->setFocusPolicy(Qt::ClickFocus);
    auto *editMeterNumber = m_udMeterNumber->findChild<QLineEdit *>();
    editMeterNumber->setObjectName(QStringLiteral("Edit_meterNumber"));
    editMeterNumber->setReadOnly(true);
    connect(m_udMeterNumber, &QSpinBox::valueChanged, this,
            [this] { guard([this] { Edit_meterNumberChange(); }, this); });

    m_comboMeterId->setObjectName(QStringLiteral("Combo_meterID"));
    m_comboMeterId->setEditable(true);
    m_comboMeterId->setInsertPolicy(QComboBox::NoInsert);
    m_comboMeterId->setCompleter(nullptr);
    setTypingLimit(m_comboMeterId, 8);
    connect(m_comboMeterId->lineEdit(), &QLineEdit::returnPressed, this,
            [this] { ComboBox1KeyPress(QChar(u'\r')); });

    connect(m_button3, &QPushButton::clicked, this, &MetersTab::Button3Click);
    connect(m_buttClearReg, &QPushButton::clicked, this,
            [this] { guard([this] { Butt_clearRegClick(); }, this); });
    connect(m_bitBtn16, &QPushButton::clicked, this, &MetersTab::BitBtn16Click);
    // The question newcomers ask: the ID goes by another button.
    m_bitBtn16->setToolTip(QStringLiteral("Writes this meter's OBIS codes to the QVX-24S. The meter ID is "
                                          "written by \"Activate\"."));
    connect(m_bitBtn15, &QPushButton::clicked, this, &MetersTab::BitBtn15Click);
    connect(m_bitBtn14, &QPushButton::clicked, this, &MetersTab::BitBtn14Click);

    m_check16digit->setObjectName(QStringLiteral("Check_16digit"));
    m_checkLongObis->setObjectName(QStringLiteral("Check_longOBIS"));
    m_check64bit->setObjectName(QStringLiteral("Check_64bit"));
    // Toggled, not clicked: the settings readout sets the box and relies on
    // the typing limit following it.
    connect(m_check16digit, &QCheckBox::toggled, this, &MetersTab::Check_16digitClick);

    m_timerReadSingle->setObjectName(QStringLiteral("Timer_readQVX_single"));
    connect(m_timerReadSingle, &ReplyTimer::timeout, this, &MetersTab::Timer_readQVX_singleTimer);
    m_timerReadAll->setObjectName(QStringLiteral("Timer_readQVX24"));
    connect(m_timerReadAll, &ReplyTimer::timeout, this, &MetersTab::Timer_readQVX24Timer);

    auto *numberCaption = new QLabel(QStringLiteral("No."), this);
    numberCaption->setBuddy(m_udMeterNumber);
    auto *idCaption = new QLabel(QStringLiteral("8-digit Meter ID"), this);
    idCaption->setBuddy(m_comboMeterId);
    auto *registersCaption = new QLabel(QStringLiteral("Registers, set to be read for this METER ID:"), this);
    registersCaption->setBuddy(m_gridRegisters);
    auto *selectedCaption = new QLabel(QStringLiteral("Selected register from table: "), this);

    auto *slotRow = new QGridLayout;
    slotRow->addWidget(numberCaption, 0, 0);
    slotRow->addWidget(idCaption, 0, 1);
    slotRow->addWidget(m_udMeterNumber, 1, 0);
    slotRow->addWidget(m_comboMeterId, 1, 1);
    slotRow->addWidget(m_button3, 1, 2);
    slotRow->setColumnStretch(1, 1);

    auto *selectedRow = new QHBoxLayout;
    selectedRow->addWidget(selectedCaption);
    selectedRow->addWidget(m_labelSelected, 1);

    auto *left = new QVBoxLayout;
    left->addLayout(slotRow);
    left->addWidget(m_check16digit);
    left->addWidget(m_checkLongObis);
    left->addWidget(m_check64bit);
    left->addWidget(registersCaption);
    left->addWidget(m_labelStale);
    left->addWidget(m_gridRegisters, 1);
    left->addWidget(m_buttClearReg);
    left->addLayout(selectedRow);
    left->addWidget(m_bitBtn16);
    left->addWidget(m_bitBtn15);
    left->addWidget(m_bitBtn14);

    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(m_values, 1);
}

StringGrid *MetersTab::gridMeterValue() const
{
    return m_values->gridMeterValue();
}

int MetersTab::meterNumber() const
{
    return m_udMeterNumber->value();
}

uint8_t MetersTab::unit() const
{
    return m_session.exchange().settings().unit;
}

int MetersTab::replyTimeout() const
{
    return m_session.exchange().settings().timeoutMs;
}

bool MetersTab::sixteenDigits() const
{
    return m_check16digit->isChecked();
}

bool MetersTab::longObis() const
{
    return m_checkLongObis->isChecked();
}

// --- the meter table on screen ---------------------------------------------------

void MetersTab::AddMeterIdToList(const QString &id)
{
    if (m_comboMeterId->findText(id, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0)
        return;
    // Adding the first item would also put it into the box; the box keeps
    // what it shows.
    const QString shown = m_comboMeterId->currentText();
    m_comboMeterId->addItem(id);
    m_comboMeterId->setEditText(shown);
}

void MetersTab::Edit_meterNumberChange()
{
    const int n = meterNumber();
    // A code still being typed belongs to the slot shown until now.
    commitTyping();
    m_shownSlot = n;
    showStaleMark();
    m_comboMeterId->setEditText(QString());
    Butt_clearRegClick();
    const QString id = m_table.id(n);
    if (!id.isEmpty()) {
        m_comboMeterId->setEditText(id);
        for (int r = 1; r <= ObisListRows; ++r) {
            m_gridRegisters->setCell(0, r, QString::number(r));
            m_gridRegisters->setCell(1, r, m_table.code(n, r));
        }
    }
    m_values->Cleaetable1Click();
}

void MetersTab::fillSlot(int slot, const QString &id, const QStringList &codes)
{
    if (!MeterTable::validSlot(slot))
        return;
    commitTyping();
    // Not on the gateway until the operator writes it.
    m_typed[slot] = true;
    m_table.setId(slot, id);
    for (int r = 1; r <= MeterTable::Rows; ++r)
        m_table.setCode(slot, r, r <= codes.size() ? codes.at(r - 1) : QString());
    if (meterNumber() != slot)
        m_udMeterNumber->setValue(slot); // shows it
    else
        Edit_meterNumberChange();
    for (int r = 1; r <= ObisListRows; ++r) {
        m_gridRegisters->setCell(0, r, QString::number(r));
        m_gridRegisters->setCell(1, r, m_table.code(slot, r));
    }
}

void MetersTab::Butt_clearRegClick()
{
    // The cleared cells must not take an editor's text afterwards, and the
    // text typed there still counts for the meter table.
    commitTyping();
    m_gridRegisters->gridModel()->clearCells(1, 0);
    m_gridRegisters->setRowCount(64);
}

void MetersTab::Check_16digitClick(bool checked)
{
    setTypingLimit(m_comboMeterId, checked ? 16 : 8);
}

void MetersTab::ComboBox1KeyPress(QChar key)
{
    if (key != u'\r')
        return;
    const int n = meterNumber();
    if (m_table.id(n) != m_comboMeterId->currentText())
        m_typed[n] = true;
    m_table.setId(n, m_comboMeterId->currentText());
}

void MetersTab::Grid_registersSelectCell(int col, int row)
{
    // Row 0 holds the captions and is never the selected row.
    if (row < 1) {
        m_gridRegisters->setCurrentIndex(m_gridRegisters->gridModel()->index(1, qMax(0, col)));
        return;
    }
    selectedRegisterRow = row;
    selectedRegisterCol = col;
}

void MetersTab::Grid_registersKeyUp()
{
    const int r = selectedRegisterRow;
    // The cell as the operator sees it: while the editor is open that is the
    // editor's text, not the cell's text from before the editing.
    const QString text = m_gridRegisters->shownText(1, r);
    storeTypedCode(meterNumber(), r, text);
    m_labelSelected->setText(text);
}

void MetersTab::registerCellCommitted(int row)
{
    if (row >= 1 && row <= ObisListRows)
        storeTypedCode(m_shownSlot, row, m_gridRegisters->cell(1, row));
}

void MetersTab::storeTypedCode(int slot, int row, const QString &text)
{
    if (!MeterTable::validSlot(slot) || !MeterTable::validRow(row))
        return;
    if (m_table.code(slot, row) != text)
        m_typed[slot] = true;
    m_table.setCode(slot, row, text);
}

void MetersTab::commitTyping()
{
    m_gridRegisters->commitEditor();
}

void MetersTab::slotInStep(int slot)
{
    if (!MeterTable::validSlot(slot))
        return;
    m_typed[slot] = false;
    m_stale[slot] = false;
    if (slot == m_shownSlot)
        showStaleMark();
}

void MetersTab::showStaleMark()
{
    const int n = m_shownSlot;
    m_labelStale->setVisible(m_stale[n]);
    if (m_stale[n])
        m_labelStale->setText(QStringLiteral("Slot %1 may not match the gateway: a gateway tool wrote it. "
                                             "\"Read from QVX-24 this meter\" shows what the gateway holds.")
                                  .arg(n));
}

namespace {

QString slotList(const QStringList &numbers)
{
    return (numbers.size() == 1 ? QStringLiteral("slot ") : QStringLiteral("slots ")) +
           numbers.join(QStringLiteral(", "));
}

} // namespace

void MetersTab::gatewaySlotsReadBack(const QString &tool, const MeterTable &readBack,
                                     const QVector<int> &slotNums, bool sixteenDigits, bool longObisOn)
{
    commitTyping();
    // The read-back texts are in the gateway's formats; the tab's next writes
    // must encode them the same way.
    m_check16digit->setChecked(sixteenDigits);
    m_checkLongObis->setChecked(longObisOn);
    const int digits = sixteenDigits ? 16 : 8;
    QStringList updated;
    QStringList replacedChanges;
    for (int s : slotNums) {
        if (!MeterTable::validSlot(s))
            continue;
        // Texts that the gateway would store alike are alike: "1.8.0" here
        // and "1.8.0.0" read back need no replacing.
        QStringList differing;
        if (EncodeMeterId(m_table.id(s), digits) != EncodeMeterId(readBack.id(s), digits))
            differing << QStringLiteral("ID was %1").arg(m_table.id(s));
        for (int r = 1; r <= ObisListRows; ++r)
            if (EncodeRegisterEntry(m_table.code(s, r), longObisOn) !=
                EncodeRegisterEntry(readBack.code(s, r), longObisOn))
                differing << QStringLiteral("row %1 was %2")
                                 .arg(r)
                                 .arg(m_table.code(s, r).isEmpty() ? QStringLiteral("empty")
                                                                   : m_table.code(s, r));
        if (!differing.isEmpty()) {
            if (m_typed[s])
                replacedChanges
                    << QStringLiteral("slot %1 (%2)").arg(s).arg(differing.join(QStringLiteral(", ")));
            m_table.setId(s, readBack.id(s));
            if (!readBack.id(s).isEmpty())
                AddMeterIdToList(readBack.id(s));
            for (int r = 1; r <= ObisListRows; ++r)
                m_table.setCode(s, r, readBack.code(s, r));
            updated << QString::number(s);
        }
        slotInStep(s);
    }
    if (updated.contains(QString::number(m_shownSlot)))
        Edit_meterNumberChange();
    if (updated.isEmpty())
        m_session.log(QStringLiteral("Meter tab: every slot matches what the gateway holds after ") + tool);
    else
        m_session.log(QStringLiteral("Meter tab: %1 replaced by what the gateway holds after %2")
                          .arg(slotList(updated), tool));
    for (const QString &slot : replacedChanges)
        m_session.log(QStringLiteral("Meter tab: the tab's copy of %1 was replaced; it held changes not "
                                     "written to the gateway")
                          .arg(slot));
}

void MetersTab::gatewaySlotsWritten(const QString &tool, const QVector<int> &slotNums)
{
    commitTyping();
    QStringList marked;
    for (int s : slotNums) {
        if (!MeterTable::validSlot(s))
            continue;
        m_stale[s] = true;
        marked << QString::number(s);
    }
    if (marked.isEmpty())
        return;
    showStaleMark();
    m_session.log(QStringLiteral("Meter tab: %1 written by %2 and not read back; the tab's copy may not "
                                 "match the gateway")
                      .arg(slotList(marked), tool));
}

bool MetersTab::eventFilter(QObject *watched, QEvent *event)
{
    // Key releases in the grid and in its cell editor alike.
    if (event->type() == QEvent::KeyRelease && watched != this)
        guard([this] { Grid_registersKeyUp(); }, this);
    return QWidget::eventFilter(watched, event);
}

// --- "Activate" and the writes ------------------------------------------------------

void MetersTab::Button3Click()
{
    guard(
        [this] {
            Exchange &exchange = m_session.exchange();
            if (!exchange.checkLink())
                return;
            const QString text = m_comboMeterId->currentText();
            const bool sixteen = sixteenDigits();
            if (sixteen && text.size() != 16) {
                m_session.log(QStringLiteral("Meter ID should be 16 digits exactly...skipped"));
                return;
            }
            if (!sixteen && text.size() != 8) {
                m_session.log(QStringLiteral("Meter ID should be 8 digits exactly...skipped"));
                return;
            }
            const int n = meterNumber();
            m_table.setId(n, text);
            AddMeterIdToList(text);
            exchange.beginWrite();
            const int digits = sixteen ? 16 : 8;
            exchange.send(exchange.modbusWindow(),
                          ModbusRequest::writeMultiple(unit(), meterIdAddress(n, sixteen),
                                                       uint8_t(digits / 2), EncodeMeterId(text, digits)));
        },
        this);
}

void MetersTab::BitBtn16Click()
{
    guard(
        [this] {
            Exchange &exchange = m_session.exchange();
            if (!exchange.checkLink())
                return;
            // The grid as shown, the code still in the editor included.
            commitTyping();
            QByteArray entries;
            try {
                // Rows 1..64 as the grid shows them; row 64 is not in the
                // grid and reads empty.
                for (int r = 1; r <= 64; ++r)
                    entries += EncodeRegisterEntry(m_gridRegisters->cell(1, r), longObis());
            } catch (const std::bad_alloc &e) {
                // A half-built list would program the device with holes:
                // nothing is sent.
                m_session.log(QStringLiteral("Exception - ") + QString::fromLocal8Bit(e.what()));
                return;
            }
            exchange.beginWrite();
            exchange.send(exchange.modbusWindow(),
                          ModbusRequest::writeMultiple(unit(), obisListAddress(meterNumber()),
                                                       2 * ObisListRegisters,
                                                       entries.left(2 * ObisListRegisters)));
            slotInStep(meterNumber());
        },
        this);
}

void MetersTab::WriteinQVX241Click()
{
    guard(
        [this] {
            Exchange &exchange = m_session.exchange();
            if (!exchange.checkLink())
                return;
            commitTyping();
            const int r = selectedRegisterRow;
            if (r < 1 || r > ObisListRows) {
                m_session.log(QStringLiteral("Not a proper selection from grid...skipping"));
                return;
            }
            m_session.log(QStringLiteral("Setting register ") + QString::number(r) +
                          QStringLiteral(" to value ") + m_gridRegisters->cell(selectedRegisterCol, r) +
                          QStringLiteral("..."));
            exchange.beginWrite();
            exchange.send(
                exchange.modbusWindow(),
                ModbusRequest::writeMultiple(unit(), obisEntryAddress(meterNumber(), r), 4,
                                             EncodeRegisterEntry(m_gridRegisters->cell(1, r), longObis())));
        },
        this);
}

// --- single reads ----------------------------------------------------------------------

void MetersTab::startSingleRead(const ModbusRequest &request, SingleReadDecoder decode, bool obisRead)
{
    Exchange &exchange = m_session.exchange();
    exchange.beginRead();
    // Value reads keep the length the last OBIS read gave the window.
    if (obisRead)
        m_timerReadSingle->setInterval(replyTimeout());
    // The window answers the operation that sent last in it.
    m_singleDecoder = std::move(decode);
    exchange.send(*m_timerReadSingle, request);
}

void MetersTab::BitBtn15Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            commitTyping();
            startSingleRead(
                ModbusRequest::readHolding(unit(), obisListAddress(meterNumber()), ObisListRegisters),
                [this](const QByteArray &reply) {
                    // The slot as it is now: a slot changed while
                    // the window was open receives the reply.
                    const int n = meterNumber();
                    Butt_clearRegClick();
                    DecodeRegisterList(reply, n);
                    m_udMeterNumber->setValue(n);
                    slotInStep(n);
                });
        },
        this);
}

void MetersTab::ReadfromQVX241Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            commitTyping();
            const int r = selectedRegisterRow;
            if (r < 1 || r > ObisListRows) {
                m_session.log(QStringLiteral("No row selected, click with mouse..."));
                return;
            }
            startSingleRead(ModbusRequest::readHolding(unit(), obisEntryAddress(meterNumber(), r), 2),
                            [this](const QByteArray &reply) {
                                DecodeRegisterRow(reply, meterNumber(), selectedRegisterRow);
                            });
        },
        this);
}

std::optional<WindowReply> MetersTab::captureReply(ReplyTimer &timer)
{
    Exchange &exchange = m_session.exchange();
    const std::optional<WindowReply> reply = exchange.end(timer);
    if (!reply)
        return std::nullopt;
    exchange.logRespond(*reply);
    m_session.clearBuffers();
    m_session.purge();
    return reply;
}

void MetersTab::Timer_readQVX_singleTimer()
{
    guard(
        [this] {
            const std::optional<WindowReply> reply = captureReply(*m_timerReadSingle);
            if (!reply || reply->isEmpty() || !m_singleDecoder)
                return;
            if (m_session.exchange().answers(*m_timerReadSingle, *reply))
                m_singleDecoder(reply->bytes);
        },
        this);
}

// --- the read of all programmed meters ---------------------------------------------------

void MetersTab::setReadAllControlsEnabled(bool on)
{
    m_buttClearReg->setEnabled(on);
    m_bitBtn16->setEnabled(on);
    m_bitBtn15->setEnabled(on);
    m_values->setFileButtonsEnabled(on);
    m_bitBtn14->setEnabled(on);
    m_gridRegisters->setEnabled(on);
    m_comboMeterId->setEnabled(on);
    m_button3->setEnabled(on);
    m_udMeterNumber->setEnabled(on);
}

void MetersTab::showReadAllProgress(int slot)
{
    const int total = sixteenDigits() ? 30 : 32;
    m_session.setStatus(StatusPanelProgress, QStringLiteral("%1/%2").arg(slot).arg(total));
}

void MetersTab::endReadAll()
{
    m_readAll->stop();
    setReadAllControlsEnabled(true);
    m_session.setStatus(StatusPanelProgress, QString());
}

void MetersTab::BitBtn14Click()
{
    guard(
        [this] {
            Exchange &exchange = m_session.exchange();
            if (!exchange.checkLink())
                return;
            commitTyping();
            exchange.beginRead();
            m_comboMeterId->clear();
            m_table.clear();
            m_typed.fill(false);
            m_stale.fill(false);
            showStaleMark();
            // 32 slots with 8-digit IDs; 30 with 16-digit IDs, whose table
            // takes the room of the last two lists.
            const int slotCount = sixteenDigits() ? 30 : 32;
            QVector<SequenceStep> steps;
            SequenceStep ids;
            ids.request = [this]() -> std::optional<ModbusRequest> {
                return ModbusRequest::readHolding(unit(), MeterIdBase,
                                                  sixteenDigits() ? MeterIdCount16 : MeterIdCount8);
            };
            ids.decode = [this](const WindowReply &reply) { DecodeMeterIds(reply.bytes); };
            ids.begin = [this] { showReadAllProgress(0); };
            steps.append(ids);
            for (int slot = 1; slot <= slotCount; ++slot) {
                SequenceStep list;
                list.begin = [this, slot] {
                    m_udMeterNumber->setValue(slot);
                    showReadAllProgress(slot);
                };
                list.request = [this, slot]() -> std::optional<ModbusRequest> {
                    return ModbusRequest::readHolding(unit(), obisListAddress(slot), ObisListRegisters);
                };
                list.decode = [this, slot](const WindowReply &reply) {
                    Butt_clearRegClick();
                    DecodeRegisterList(reply.bytes, slot);
                    slotInStep(slot);
                };
                steps.append(list);
            }
            m_timerReadAll->setInterval(replyTimeout());
            setReadAllControlsEnabled(false);
            m_readAll->start(steps, Sequence::Start::SendFirst);
        },
        this);
}

void MetersTab::Timer_readQVX24Timer()
{
    const bool ok = guard(
        [this] {
            const std::optional<WindowReply> reply = captureReply(*m_timerReadAll);
            if (!reply) {
                endReadAll();
                m_session.log(QStringLiteral(
                    "Reading of all meters stopped: serial or TCP port for modbus is not open..."));
                return;
            }
            m_readAll->next(*reply);
            if (!m_readAll->running()) {
                // The slot box ends one past the last slot read (held at the
                // box's maximum).
                m_udMeterNumber->setValue(m_readAll->size());
                endReadAll();
            }
        },
        this);
    // A step that failed ends the sequence rather than leave the tab disabled.
    if (!ok)
        endReadAll();
}

// --- decoders ------------------------------------------------------------------------------

void MetersTab::DecodeMeterIds(const QByteArray &reply)
{
    const MeterIdsReply decoded = qvx::DecodeMeterIds(reply, sixteenDigits() ? 16 : 8);
    decoded.check.reportTo(m_session);
    for (int k = 0; k < decoded.ids.size(); ++k) {
        AddMeterIdToList(decoded.ids.at(k));
        m_table.setId(k + 1, decoded.ids.at(k));
    }
}

void MetersTab::DecodeRegisterList(const QByteArray &reply, int slot)
{
    const RegisterEntriesReply decoded = qvx::DecodeRegisterList(reply, longObis());
    decoded.check.reportTo(m_session);
    for (int e = 1; e <= decoded.texts.size(); ++e) {
        const QString &text = decoded.texts.at(e - 1);
        m_gridRegisters->setCell(0, e, QString::number(e));
        m_gridRegisters->setCell(1, e, text);
        m_table.setCode(slot, e, text);
    }
}

void MetersTab::DecodeRegisterRow(const QByteArray &reply, int slot, int row)
{
    const RegisterEntriesReply decoded = qvx::DecodeRegisterRow(reply, longObis());
    decoded.check.reportTo(m_session);
    if (row < 1 || row > ObisListRows)
        return;
    // An editor left open would write its text over the code read.
    commitTyping();
    for (const QString &text : decoded.texts) {
        m_gridRegisters->setCell(0, row, QString::number(row));
        m_gridRegisters->setCell(1, row, text);
        m_table.setCode(slot, row, text);
    }
}

} // namespace qvx
