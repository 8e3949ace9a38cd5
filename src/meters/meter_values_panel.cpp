#include "meters/meter_values_panel.h"

#include "widgets/dialogs.h"
#include "widgets/file_feedback.h"
#include "widgets/guard.h"
#include "widgets/string_grid.h"
#include "core/time_format.h"
#include "meters/meter_data_file.h"
#include "meters/meter_values.h"
#include "meters/meters_tab.h"
#include "meters/values_log.h"
#include "transport/reply_check.h"
#include "transport/reply_timer.h"
#include "transport/exchange.h"
#include "transport/session.h"
#include "widgets/named_button.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace qvx {

namespace {

constexpr int AutoReadMinSeconds = 10;
constexpr int AutoReadMaxSeconds = 990;
constexpr int LastValueRow = 63;

const QString SaveCaption = QStringLiteral("Save to file meter data");
const QString LoadCaption = QStringLiteral("Load data from file");

QAction *action(const QString &name, const QString &text, QMenu *menu)
{
    QAction *a = menu->addAction(text);
    a->setObjectName(name);
    return a;
}

// The dialog's proposal: the file of the previous use, else the work folder.
FileDialogRequest fileRequest(const QString &title, const QString &filter, const QString &previous,
                              const QString &workDir)
{
    FileDialogRequest r;
    r.title = title;
    r.filter = filter;
    r.defaultSuffix = QStringLiteral("csv");
    if (previous.isEmpty()) {
        r.directory = workDir;
    } else {
        const QFileInfo info(previous);
        r.directory = info.absolutePath();
        r.fileName = info.fileName();
    }
    return r;
}

} // namespace

MeterValuesPanel::MeterValuesPanel(Session &session, MetersTab &tab, QWidget *parent)
    : QWidget(parent), m_session(session), m_tab(tab), m_grid(new StringGrid(2, 64, this)),
      m_popup(new QMenu(this)),
      m_readButton(namedButton(QStringLiteral("BitBtn19"), QStringLiteral("Read real values"), this)),
      m_udAutoRead(new QSpinBox(this)),
      m_checkAutoRead(new QCheckBox(QStringLiteral("Auto Read values"), this)),
      m_checkAutoSave(new QCheckBox(QStringLiteral("Auto Save values"), this)),
      m_timerAutoRead(new ReplyTimer(AutoReadMinSeconds * 1000, this, true)),
      m_saveButton(namedButton(QStringLiteral("BitBtn17"), SaveCaption, this)),
      m_loadButton(namedButton(QStringLiteral("BitBtn18"), LoadCaption, this))
{
    m_grid->setObjectName(QStringLiteral("Grid_meterValue"));
    // Which quantity a value is: the OBIS code programmed for its row.
    m_grid->gridModel()->setToolTips([this](int, int row) { return valueRowToolTip(row); });
    m_grid->setAccessibleName(QStringLiteral("Meter values"));
    m_grid->setColumnWidths({41, 97});
    m_grid->setRowHeight(18);
    m_grid->setEditable(false);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    Grid_meterValueSelectCell(current.column(), current.row());
            });

    m_popup->setObjectName(QStringLiteral("Popup_values"));
    m_readCurrent = action(QStringLiteral("Readcurrent1"), QStringLiteral("Read current"), m_popup);
    m_readAll = action(QStringLiteral("Readall1"), QStringLiteral("Read all"), m_popup);
    m_clearTable = action(QStringLiteral("Cleaetable1"), QStringLiteral("Clear table"), m_popup);
    connect(m_readCurrent, &QAction::triggered, this, &MeterValuesPanel::Readcurrent1Click);
    connect(m_readAll, &QAction::triggered, this, &MeterValuesPanel::Readall1Click);
    connect(m_clearTable, &QAction::triggered, this, &MeterValuesPanel::Cleaetable1Click);
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_grid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { m_popup->popup(m_grid->viewport()->mapToGlobal(at)); });

    connect(m_readButton, &QPushButton::clicked, this, &MeterValuesPanel::BitBtn19Click);

    m_udAutoRead->setObjectName(QStringLiteral("UD_autoRead"));
    m_udAutoRead->setRange(AutoReadMinSeconds, AutoReadMaxSeconds);
    m_udAutoRead->setValue(AutoReadMinSeconds);
    m_udAutoRead->setWrapping(false);
    m_udAutoRead->setAccessibleName(QStringLiteral("Read period"));
    QLineEdit *periodEdit = m_udAutoRead->findChild<QLineEdit *>();
    periodEdit->setObjectName(QStringLiteral("Edit_autoread"));
    periodEdit->setAccessibleName(QStringLiteral("Read period"));
    // The spin box's own validator keeps typing to at most three digits
    // within the range; a length validator would replace it.
    connect(m_udAutoRead, &QSpinBox::valueChanged, this, &MeterValuesPanel::Edit_autoreadChange);

    m_checkAutoRead->setObjectName(QStringLiteral("Check_autoRead"));
    m_checkAutoSave->setObjectName(QStringLiteral("Check_autoSave"));
    connect(m_checkAutoRead, &QCheckBox::toggled, this, &MeterValuesPanel::Check_autoReadClick);

    // The period from the start: the timer's own initial length would read
    // every second until the period is first touched.
    m_timerAutoRead->setObjectName(QStringLiteral("Timer_autoReadValues"));
    Edit_autoreadChange();
    connect(m_timerAutoRead, &ReplyTimer::timeout, this, &MeterValuesPanel::Timer_autoReadValuesTimer);
    connect(&m_session.exchange(), &Exchange::sequenceFinished, this, &MeterValuesPanel::sequenceFinished,
            Qt::QueuedConnection);

    connect(m_saveButton, &QPushButton::clicked, this, &MeterValuesPanel::BitBtn17Click);
    connect(m_loadButton, &QPushButton::clicked, this, &MeterValuesPanel::BitBtn18Click);

    // --- layout ---------------------------------------------------------------
    auto *periodLabel = new QLabel(QStringLiteral("Read period"), this);
    periodLabel->setBuddy(m_udAutoRead);
    auto *period = new QHBoxLayout;
    period->addWidget(periodLabel);
    period->addWidget(m_udAutoRead);
    period->addWidget(new QLabel(QStringLiteral("s"), this));
    period->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_grid, 1);
    layout->addWidget(m_readButton);
    layout->addLayout(period);
    layout->addWidget(m_checkAutoRead);
    layout->addWidget(m_checkAutoSave);
    layout->addWidget(m_saveButton);
    layout->addWidget(m_loadButton);
}

QString MeterValuesPanel::valuesLogPath() const
{
    return m_session.ProgramDir + QStringLiteral("files/logvalues.txt");
}

bool MeterValuesPanel::sixtyFourBit() const
{
    return m_tab.check64bit()->isChecked();
}

bool MeterValuesPanel::autoSave() const
{
    return m_checkAutoSave->isChecked();
}

void MeterValuesPanel::setFileButtonsEnabled(bool on)
{
    m_saveButton->setEnabled(on);
    m_loadButton->setEnabled(on);
}

// --- reading -------------------------------------------------------------------

void MeterValuesPanel::BitBtn19Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            const bool wide = sixtyFourBit();
            // The window keeps the length the last OBIS read gave it.
            m_tab.startSingleRead(
                ModbusRequest::readInput(m_tab.unit(), slotValueAddress(m_tab.meterNumber()),
                                         wholeSlotRegisters(wide)),
                [this](const QByteArray &reply) {
                    DecodeMeterValues(reply);
                    if (autoSave())
                        AppendValuesLog();
                },
                false);
            readSent();
        },
        this);
}

void MeterValuesPanel::Readall1Click()
{
    BitBtn19Click();
}

void MeterValuesPanel::Readcurrent1Click()
{
    guard(
        [this] {
            if (!m_session.exchange().checkLink())
                return;
            const int row = m_tab.selectedValueRow;
            if (row < 1 || row > LastValueRow) {
                m_session.log(QStringLiteral("No row selected, click with mouse on row of interest..."));
                return;
            }
            // Both buffers are emptied: a late TCP reply to an earlier request
            // left in TcpRxBuffer would otherwise be taken for this row's value.
            const bool wide = sixtyFourBit();
            m_tab.startSingleRead(
                ModbusRequest::readInput(m_tab.unit(), rowValueAddress(m_tab.meterNumber(), row, wide),
                                         valueBytes(wide) / 2),
                [this](const QByteArray &reply) { DecodeMeterValue(reply); }, false);
            readSent();
        },
        this);
}

void MeterValuesPanel::showValue(int row, qint64 value)
{
    if (row < 1 || row >= m_grid->rowCount())
        return;
    m_grid->setCell(0, row, QString::number(row));
    m_grid->setCell(1, row, QString::number(value));
}

void MeterValuesPanel::DecodeMeterValues(const QByteArray &reply)
{
    m_readingDecoded = false;
    const ReplyCheck check = CheckReply(reply);
    check.reportTo(m_session);
    if (!check.pass)
        return;
    const QVector<std::optional<qint64>> values = decodeValues(replyDataBytes(check.frame), sixtyFourBit());
    for (int e = 1; e <= values.size(); ++e) {
        // No value: the row keeps what it showed.
        if (const std::optional<qint64> &v = values.at(e - 1))
            showValue(e, *v);
    }
    m_readingDecoded = true;
    emit slotValuesRead(m_tab.meterNumber(), values);
}

void MeterValuesPanel::DecodeMeterValue(const QByteArray &reply)
{
    const ReplyCheck check = CheckReply(reply);
    check.reportTo(m_session);
    if (!check.pass)
        return;
    if (const std::optional<qint64> v = decodeValue(replyDataBytes(check.frame), sixtyFourBit()))
        showValue(m_tab.selectedValueRow, *v);
}

void MeterValuesPanel::Cleaetable1Click()
{
    m_grid->gridModel()->clearCells(1, 1);
}

QString MeterValuesPanel::valueRowToolTip(int row) const
{
    if (row < 1)
        return {};
    const int slot = m_tab.meterNumber();
    const QString code = m_tab.meterTable().code(slot, row);
    return code.isEmpty() ? QStringLiteral("Row %1 of meter %2: no OBIS code programmed").arg(row).arg(slot)
                          : QStringLiteral("OBIS code %1 (row %2 of meter %3)").arg(code).arg(row).arg(slot);
}

void MeterValuesPanel::Grid_meterValueSelectCell(int, int row)
{
    m_tab.selectedValueRow = row;
}

// --- periodic reading and the values log ----------------------------------------

void MeterValuesPanel::Edit_autoreadChange()
{
    m_timerAutoRead->setInterval(m_udAutoRead->value() * 1000);
}

void MeterValuesPanel::Check_autoReadClick()
{
    m_timerAutoRead->setEnabled(m_checkAutoRead->isChecked());
    // Switched off: a tick that waited is dropped.
    if (!m_checkAutoRead->isChecked())
        setTickWaiting(false);
}

void MeterValuesPanel::Timer_autoReadValuesTimer()
{
    // A tick inside a running sequence (the settings readout, the read of all
    // meters) would empty the buffers under it; one inside a readout would
    // send a Modbus request onto the meter's line and check the meter's
    // bytes as its reply.  It waits for the end and then reads once.
    if (m_session.exchange().sequenceRunning() || m_lineTaken) {
        setTickWaiting(true);
        return;
    }
    BitBtn19Click();
}

void MeterValuesPanel::sequenceFinished()
{
    readWaitingTick();
}

void MeterValuesPanel::readWaitingTick()
{
    if (!m_tickWaiting || m_lineTaken || m_session.exchange().sequenceRunning())
        return;
    setTickWaiting(false);
    // Auto-read switched off meanwhile: the waiting tick is dropped.
    if (m_checkAutoRead->isChecked())
        BitBtn19Click();
}

void MeterValuesPanel::setTickWaiting(bool waiting)
{
    m_tickWaiting = waiting;
    const bool forReadout = m_tickWaiting && m_lineTaken;
    if (forReadout != m_waitingShown) {
        m_waitingShown = forReadout;
        emit periodicReadWaiting(forReadout);
    }
}

void MeterValuesPanel::setSerialLineTaken(bool taken)
{
    if (taken == m_lineTaken)
        return;
    m_lineTaken = taken;
    ReplyTimer &window = m_tab.timerReadSingle();
    if (taken && m_readPending && window.isEnabled()) {
        window.disable();
        m_readPending = false;
        const bool again = m_checkAutoRead->isChecked();
        m_session.log(again ? QStringLiteral("Value read stopped: a readout took the serial line; the "
                                             "periodic read reads again after it")
                            : QStringLiteral("Value read stopped: a readout took the serial line"));
        if (again)
            m_tickWaiting = true;
    }
    setTickWaiting(m_tickWaiting);
    // After the readout's own end has run (the port back at its settings).
    if (!taken)
        QTimer::singleShot(0, this, &MeterValuesPanel::readWaitingTick);
}

void MeterValuesPanel::readSent()
{
    m_readPending = true;
    connect(&m_tab.timerReadSingle(), &ReplyTimer::timeout, this, &MeterValuesPanel::readEnded,
            Qt::UniqueConnection);
}

void MeterValuesPanel::readEnded()
{
    m_readPending = false;
}

void MeterValuesPanel::AppendValuesLog()
{
    if (!m_readingDecoded)
        return;
    m_readingDecoded = false;
    guard(
        [this] {
            // One instant for both halves: a reading at midnight must not
            // carry the new date with the old day's time.
            const QDateTime now = QDateTime::currentDateTime();
            const QString stamp = longTimeText(now.time()) + QLatin1Char(',') + shortDateText(now.date());
            QStringList numbers, values;
            for (int row = 1; row < m_grid->rowCount(); ++row) {
                numbers << m_grid->cell(0, row);
                values << m_grid->cell(1, row);
            }
            const QByteArray block = valuesLogBlock(stamp, numbers, values);
            QString error;
            if (!appendValuesLog(valuesLogPath(), block, &error)) {
                m_session.log(QStringLiteral("Can not write file, no rights..."));
                reportFileFailure(m_session, valuesLogPath(), true, error);
                m_valuesLogReported = false;
            } else if (!m_valuesLogReported) {
                m_valuesLogReported = true;
                reportFileDone(m_session, FileAction::Appended, block.count('\n'), valuesLogPath());
            }
        },
        this);
}

// --- the meter data file ---------------------------------------------------------

void MeterValuesPanel::BitBtn17Click()
{
    guard(
        [this] {
            const QString path = dialogs().saveFileName(
                window(), fileRequest(QStringLiteral("Save/Export file"), QStringLiteral("CSV files (*.csv)"),
                                      m_saveFile, m_session.WorkDir));
            if (path.isEmpty())
                return;
            m_saveFile = path;
            if (const std::optional<QString> error = saveMeterDataFile(path, m_tab.meterTable()))
                dialogs().message(window(), DialogIcon::Error, SaveCaption,
                                  QStringLiteral("Can not save - exception!") + *error);
            else
                reportFileDone(m_session, FileAction::Saved, MeterDataFileLines, path);
        },
        this);
}

void MeterValuesPanel::BitBtn18Click()
{
    guard(
        [this] {
            const QString path =
                dialogs().openFileName(window(), fileRequest(QString(), QStringLiteral("CSV (*.csv)"),
                                                             m_openFile, m_session.WorkDir));
            if (path.isEmpty())
                return;
            m_openFile = path;
            const MeterDataRead read = readMeterDataFile(path);
            if (read.error) {
                dialogs().message(window(), DialogIcon::Error, LoadCaption,
                                  QStringLiteral("Exception looading file - ") + *read.error);
                return;
            }
            if (const std::optional<QString> error = loadMeterDataLines(read.lines, m_tab.meterTable()))
                dialogs().message(window(), DialogIcon::Error, LoadCaption, *error);
            m_tab.Edit_meterNumberChange();
            // A file cut short was still read as far as it goes: say how far.
            reportFileDone(m_session, FileAction::Read, read.lines.size(), path);
        },
        this);
}

} // namespace qvx
