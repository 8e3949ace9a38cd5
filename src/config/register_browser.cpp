#include "config/register_browser.h"

#include "widgets/guard.h"
#include "widgets/string_grid.h"
#include "core/time_format.h"
#include "widgets/typing_limit.h"
#include "widgets/grid_export.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"
#include "transport/session.h"
#include "widgets/named_button.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTime>
#include <QVBoxLayout>
#include <algorithm>

namespace qvx {

namespace {

const QString DefaultExportName = QStringLiteral("modbusUR.csv");

// The register table is owner-drawn: white cells, the header row in the
// button-face colour, black text at the cell's top-left corner without inset,
// and no highlight for selected or current cells, so the table reads the
// same whatever the operator clicked.
class PlainCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QRect r = option.rect;
        painter->save();
        painter->fillRect(r, index.row() == 0 ? option.palette.color(QPalette::Button) : QColor(Qt::white));
        painter->setPen(Qt::black);
        painter->setFont(option.font);
        painter->drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

// A field's text as a decimal number.  The key filter keeps typed text
// numeric, but pasted text gets through; such text ends the handler with a
// conversion error instead of sending something the operator did not mean.
int decimalField(const QLineEdit *edit)
{
    const QString text = edit->text();
    bool ok = !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    const int value = ok ? text.toInt(&ok) : 0;
    if (!ok)
        throw QvxError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

QString hexByte(uint8_t b)
{
    static const char digits[] = "0123456789ABCDEF";
    const QChar pair[2] = {QLatin1Char(digits[b >> 4]), QLatin1Char(digits[b & 0x0F])};
    return QString(pair, 2);
}

// An up-down control: one spin box named after the up-down, whose edit is
// named after the edit field.
QSpinBox *upDown(const QString &name, const QString &editName, const QString &label, int min, int max,
                 int step, int value, QWidget *parent)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setSingleStep(step);
    spin->setValue(value);
    spin->setAccessibleName(label);
    QLineEdit *edit = spin->findChild<QLineEdit *>();
    edit->setObjectName(editName);
    edit->setAccessibleName(label);
    return spin;
}

QLineEdit *lineEdit(const QString &name, const QString &label, const QString &text, int maxLength,
                    QWidget *parent)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    // A typing limit only: a longer value from the settings file is kept whole.
    setTypingLimit(edit, maxLength);
    edit->setAccessibleName(label);
    return edit;
}

} // namespace

RegisterBrowser::RegisterBrowser(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_timerModbus(&session.exchange().modbusWindow())
{
    m_checkInput = new QCheckBox(QStringLiteral("Input"), this);
    m_checkInput->setObjectName(QStringLiteral("checkInput"));
    m_checkHolding = new QCheckBox(QStringLiteral("Holding"), this);
    m_checkHolding->setObjectName(QStringLiteral("checkHolding"));
    m_checkHolding->setChecked(true);

    m_editInputAddress =
        lineEdit(QStringLiteral("EditInputAddress"), QStringLiteral("Address"), QStringLiteral("1"), 5, this);
    m_editInputCount =
        lineEdit(QStringLiteral("EditInputCount"), QStringLiteral("Count"), QStringLiteral("125"), 3, this);
    m_readButton = namedButton(QStringLiteral("BitBtn3"), QStringLiteral("Read registers"), this);

    m_grid = new StringGrid(6, 2, this);
    m_grid->setObjectName(QStringLiteral("gridInputRegisters"));
    m_grid->setAccessibleName(QStringLiteral("Registers"));
    m_grid->setColumnWidths({72, 77, 141, 74, 147, 64});
    m_grid->setRowHeight(18);
    m_grid->setEditable(false);
    m_grid->setItemDelegate(new PlainCellDelegate(m_grid));
    // The header texts are written again by the window's captions; setting
    // them here keeps the browser complete on its own.
    const QStringList headers = {QStringLiteral("Addr. modbus"),  QStringLiteral("High "),
                                 QStringLiteral("Notes/Decode "), QStringLiteral("Low "),
                                 QStringLiteral("Notes/Decode "), QStringLiteral("Time ")};
    for (int c = 0; c < headers.size(); ++c)
        m_grid->setCell(c, 0, headers.at(c));

    m_clearButton = namedButton(QStringLiteral("BitBtn4"), QStringLiteral("Clear grid"), this);
    m_exportButton = namedButton(QStringLiteral("BitBtn8"), QStringLiteral("Export"), this);

    m_udTimeout = upDown(QStringLiteral("UD_modbusTimeout"), QStringLiteral("EditTimeoutModbus"),
                         QStringLiteral("Timeout, ms"), 50, 20000, 50, 50, this);
    // Read-only edit: the value changes only by the arrows, in steps of 50.
    m_udTimeout->findChild<QLineEdit *>()->setReadOnly(true);
    m_udAddress = upDown(QStringLiteral("UDmodbusAddress"), QStringLiteral("EditAddressModbus"),
                         QStringLiteral("Address"), 1, 255, 1, 1, this);
    m_udAddress->findChild<QLineEdit *>()->setMaxLength(3);

    // --- layout ---------------------------------------------------------------
    auto *readBox = new QGroupBox(QStringLiteral("Read"), this);
    auto *types = new QHBoxLayout;
    types->addWidget(m_checkInput);
    types->addWidget(m_checkHolding);
    auto *readForm = new QFormLayout;
    readForm->addRow(QStringLiteral("Address"), m_editInputAddress);
    readForm->addRow(QStringLiteral("Count"), m_editInputCount);
    auto *readLayout = new QVBoxLayout(readBox);
    readLayout->addLayout(types);
    readLayout->addLayout(readForm);
    readLayout->addWidget(m_readButton);

    auto *modbusBox = new QGroupBox(QStringLiteral("Modbus"), this);
    auto *modbusForm = new QFormLayout(modbusBox);
    modbusForm->addRow(QStringLiteral("Timeout, ms"), m_udTimeout);
    modbusForm->addRow(QStringLiteral("Address"), m_udAddress);

    auto *left = new QVBoxLayout;
    left->addWidget(readBox);
    left->addWidget(modbusBox);
    left->addStretch(1);

    auto *tableBox = new QGroupBox(QStringLiteral("Registers"), this);
    auto *tableButtons = new QHBoxLayout;
    tableButtons->addWidget(m_clearButton);
    tableButtons->addWidget(m_exportButton);
    tableButtons->addStretch(1);
    auto *tableLayout = new QVBoxLayout(tableBox);
    tableLayout->addWidget(m_grid, 1);
    tableLayout->addLayout(tableButtons);

    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(tableBox, 1);

    // --- events ---------------------------------------------------------------
    connect(m_checkInput, &QCheckBox::clicked, this, &RegisterBrowser::checkInputClick);
    connect(m_checkHolding, &QCheckBox::clicked, this, &RegisterBrowser::checkHoldingClick);
    connect(m_readButton, &QPushButton::clicked, this, &RegisterBrowser::BitBtn3Click);
    connect(m_clearButton, &QPushButton::clicked, this, &RegisterBrowser::BitBtn4Click);
    connect(m_exportButton, &QPushButton::clicked, this, &RegisterBrowser::BitBtn8Click);
    connect(m_timerModbus, &ReplyTimer::timeout, this, &RegisterBrowser::Timer_modbusTimer);
    // The two fields are the request settings every operation uses.
    RequestSettings &settings = m_session.exchange().settings();
    settings.unit = unitAddress();
    settings.timeoutMs = modbusTimeout();
    connect(m_udAddress, &QSpinBox::valueChanged, this,
            [&settings](int v) { settings.unit = static_cast<uint8_t>(v); });
    connect(m_udTimeout, &QSpinBox::valueChanged, this, [&settings](int v) { settings.timeoutMs = v; });
}

void RegisterBrowser::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The set widths are the narrowest; in the font this system draws with,
    // a header such as "Addr. modbus" needs more, so it is not cut.
    // Once: reads widen the columns for their own rows from then on.
    if (!m_widened) {
        m_widened = true;
        m_grid->widenColumnsFor(0, m_grid->rowCount() - 1);
    }
}

uint8_t RegisterBrowser::unitAddress() const
{
    return static_cast<uint8_t>(m_udAddress->value());
}
int RegisterBrowser::modbusTimeout() const
{
    return m_udTimeout->value();
}
ReplyTimer &RegisterBrowser::timerModbus()
{
    return *m_timerModbus;
}

void RegisterBrowser::BitBtn3Click()
{
    guard(
        [this] {
            Exchange &exchange = m_session.exchange();
            if (!exchange.checkLink())
                return;
            if (m_editInputAddress->text().isEmpty() || m_editInputCount->text().isEmpty()) {
                m_session.log(QStringLiteral("Enter proper initial conditions..."));
                return;
            }
            exchange.beginRead();
            const bool input = m_checkInput->isChecked();
            if (input || m_checkHolding->isChecked()) {
                const int start = decimalField(m_editInputAddress);
                const int count = decimalField(m_editInputCount);
                // A window that is already open is not restarted: it ends
                // with whatever has arrived by then.
                exchange.send(*m_timerModbus, input
                                                  ? ModbusRequest::readInput(unitAddress(), start, count)
                                                  : ModbusRequest::readHolding(unitAddress(), start, count));
            } else {
                m_session.log(
                    QStringLiteral("Select type of registers you want to read - Input or Holding..."));
            }
        },
        this);
}

void RegisterBrowser::Timer_modbusTimer()
{
    guard(
        [this] {
            Exchange &exchange = m_session.exchange();
            // The link went away while the window was open: end silently.
            const std::optional<WindowReply> reply = exchange.end(*m_timerModbus);
            if (!reply)
                return;
            // A write's reply is only shown, never read as registers.
            if (!m_session.WritePending && exchange.answers(*m_timerModbus, *reply)) {
                const RegisterReply decoded =
                    DecodeRegisterReply(decimalField(m_editInputAddress), reply->bytes);
                decoded.check.reportTo(m_session);
                appendRegisterRows(decoded.registers);
            }
            exchange.logRespond(*reply);
            m_session.WritePending = false;
        },
        this);
}

void RegisterBrowser::appendRegisterRows(const QVector<RegisterValue> &registers)
{
    if (registers.isEmpty())
        return;
    // One time for the whole reply: it is the moment the reply was decoded.
    const QString time = longTimeNow();
    const int first = m_grid->rowCount() - 1;
    const int n = static_cast<int>(registers.size());
    // Grow once rather than once per register; the rows end up the same.
    m_grid->setRowCount(first + 1 + n);
    for (int k = 0; k < n; ++k) {
        const RegisterValue &r = registers.at(k);
        const int row = first + k;
        m_grid->setCell(0, row, QString::number(r.address));
        m_grid->setCell(1, row, hexByte(r.high));
        m_grid->setCell(3, row, hexByte(r.low));
        m_grid->setCell(5, row, time);
    }
    m_grid->widenColumnsFor(first, first + n - 1);
    // The newest register in sight: a read of a few registers after a long
    // table would otherwise land below the visible rows.
    m_grid->scrollToRow(first + n - 1);
}

void RegisterBrowser::BitBtn4Click()
{
    guard(
        [this] {
            m_grid->gridModel()->clearCells(1);
            m_grid->setRowCount(2);
        },
        this);
}

void RegisterBrowser::BitBtn8Click()
{
    guard([this] { ExportGridCsv(*m_grid, DefaultExportName, m_session.WorkDir, &m_session); }, this);
}

void RegisterBrowser::checkInputClick()
{
    // Exactly one of the two is checked: clicking one moves the check.
    m_checkHolding->setChecked(!m_checkInput->isChecked());
}

void RegisterBrowser::checkHoldingClick()
{
    m_checkInput->setChecked(!m_checkHolding->isChecked());
}

} // namespace qvx
