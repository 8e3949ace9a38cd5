#include "iec/readout_tab.h"

#include "widgets/guard.h"
#include "widgets/string_grid.h"
#include "widgets/typing_limit.h"
#include "widgets/grid_export.h"
#include "iec/iec_parse.h"
#include "iec/readout_view.h"
#include "transport/reply_timer.h"
#include "widgets/serial_panel.h"
#include "transport/session.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace qvx {
namespace {

QLabel *wrappedLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

QPushButton *button(const char *name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

void makeBold(QWidget *w)
{
    QFont f = w->font();
    f.setBold(true);
    w->setFont(f);
}

} // namespace

ReadoutTab::ReadoutTab(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_address(new QLineEdit(this)), m_memo(new ReadoutView(this)),
      m_gridIEC(new StringGrid(3, 2, this)), m_timerDirectRead(new ReplyTimer(CaptureMs, this))
{
    m_timerDirectRead->setObjectName(QStringLiteral("Timer_directRead"));
    connect(m_timerDirectRead, &ReplyTimer::timeout, this, &ReadoutTab::Timer_directReadTimer);
    connect(&m_session, &Session::readoutBytes, this, &ReadoutTab::captureBytes);

    auto *intro = new QVBoxLayout;
    intro->addWidget(
        wrappedLabel(QStringLiteral("Here you can read directly electricity meter through RS-485 "
                                    "connection. Protocol used is IEC 62056-21."),
                     this));
    intro->addWidget(
        wrappedLabel(QStringLiteral("To do that, you should connect  Your PC to electricity meter "
                                    "via RS-485, or to connect PC to QVX-24S (port IEC 62056-21)"),
                     this));
    intro->addWidget(
        wrappedLabel(QStringLiteral("Then type meter serial number of electricty meter in below Edit box and "
                                    "press button \"Readout\". Be sure you have selected "),
                     this));
    intro->addWidget(wrappedLabel(QStringLiteral("correct serial port in TAB \"Settings\" and proper bps and "
                                                 "parity (9600, Even, 7 is common for IEC 62056-21)."),
                                  this));

    m_address->setObjectName(QStringLiteral("Edit_mserial"));
    setTypingLimit(m_address, 8);
    auto *addressLabel = new QLabel(QStringLiteral("Enter meter serial number"), this);
    makeBold(addressLabel);
    addressLabel->setBuddy(m_address);
    m_address->setAccessibleName(addressLabel->text());

    QPushButton *readout = button("Button4", QStringLiteral("Readout"), this);
    makeBold(readout);
    connect(readout, &QPushButton::clicked, this, &ReadoutTab::Button4Click);

    m_memo->setObjectName(QStringLiteral("Memo_readout"));
    m_memo->setAccessibleName(QStringLiteral("Readout"));

    QPushButton *clear = button("Button5", QStringLiteral("Clear"), this);
    connect(clear, &QPushButton::clicked, this, &ReadoutTab::Button5Click);
    QPushButton *save = button("Button6", QStringLiteral("Save"), this);
    connect(save, &QPushButton::clicked, this, &ReadoutTab::Button6Click);

    m_gridIEC->setObjectName(QStringLiteral("gridIEC"));
    m_gridIEC->setAccessibleName(QStringLiteral("Readout table"));
    m_gridIEC->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_gridIEC->setColumnWidths({78, 86, 144});
    m_gridIEC->setRowHeight(18);
    QPushButton *parse = button("BitBtn20", QStringLiteral("Parse"), this);
    connect(parse, &QPushButton::clicked, this, &ReadoutTab::BitBtn20Click);
    QPushButton *saveGrid = button("BitBtn21", QStringLiteral("Save"), this);
    connect(saveGrid, &QPushButton::clicked, this, &ReadoutTab::BitBtn21Click);
    // Shown for what the gateway will offer; it has no action yet.
    QPushButton *import = button("BitBtnImportQVX", QStringLiteral("Import to QVX"), this);
    import->setEnabled(false);
    // A disabled button must not leave the operator guessing why.
    import->setToolTip(QStringLiteral("Not available in this version: program meters on the "
                                      "\"Devices programmed in modbus\" tab"));

    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(addressLabel);
    addressRow->addWidget(m_address);
    addressRow->addWidget(readout);
    addressRow->addStretch(1);

    auto *memoButtons = new QHBoxLayout;
    memoButtons->addWidget(clear);
    memoButtons->addWidget(save);
    auto *where = new QVBoxLayout;
    where->setSpacing(0);
    where->addWidget(new QLabel(QStringLiteral("LOG is saved in main "), this));
    where->addWidget(new QLabel(QStringLiteral("directory as 'logIEC.txt'"), this));
    memoButtons->addLayout(where);
    memoButtons->addStretch(1);

    auto *left = new QVBoxLayout;
    left->addLayout(intro);
    left->addLayout(addressRow);
    left->addWidget(m_memo, 1);
    left->addLayout(memoButtons);

    auto *gridButtons = new QHBoxLayout;
    gridButtons->addWidget(parse);
    gridButtons->addWidget(saveGrid);
    gridButtons->addWidget(import);
    auto *right = new QVBoxLayout;
    right->addWidget(m_gridIEC, 1);
    right->addLayout(gridButtons);

    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left, 3);
    layout->addLayout(right, 2);
}

QByteArray ReadoutTab::signOnRequest(const QString &address)
{
    return "/?" + address.toLatin1() + "!\r\n";
}

void ReadoutTab::Button4Click()
{
    guard([this] { startReadout(); }, this);
}

void ReadoutTab::startReadout()
{
    if (m_session.TransportMode == TransportModeKind::Tcp) {
        m_session.log(QStringLiteral("Please disconnect TCP connection first to avoid confusions!"));
        return;
    }
    // The toggle reports its own failure (the error box); the refusal below
    // follows it, so the operator learns that nothing was sent.
    if (!m_session.SerialPortOpen && m_serial)
        guard([this] { m_serial->TogglePort(); }, this);
    if (!m_session.SerialPortOpen) {
        m_session.log(QStringLiteral("Unable to open serial port, quitting..."));
        return;
    }
    m_session.purge();
    // No receive event is handled between this write and the flag: both run
    // in this handler.
    m_session.comm2().blockWrite(signOnRequest(m_address->text()));
    m_session.ReadoutCaptureActive = true;
    m_session.RxBuffer.clear();
    // A capture that runs already keeps its end: the window is not restarted.
    m_timerDirectRead->setInterval(CaptureMs);
    m_timerDirectRead->enable();
}

void ReadoutTab::Timer_directReadTimer()
{
    m_timerDirectRead->disable();
    m_session.ReadoutCaptureActive = false;
}

void ReadoutTab::captureBytes(const QByteArray &bytes)
{
    if (!m_session.ReadoutCaptureActive)
        return;
    m_memo->capture(bytes, ReadoutLineIndex);
}

void ReadoutTab::Button5Click()
{
    guard(
        [this] {
            m_memo->clear();
            ReadoutLineIndex = 0;
        },
        this);
}

void ReadoutTab::Button6Click()
{
    guard(
        [this] {
            const QByteArray bytes = m_memo->store().fileBytes();
            // Written beside and renamed over the old file when complete: a
            // full disk leaves the old log, never a cut one.
            QSaveFile file(m_session.ProgramDir + QStringLiteral("logIEC.txt"));
            const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                                 file.flush() && file.commit();
            if (!written)
                m_session.log(QStringLiteral("Can not write file, no rights..."));
        },
        this);
}

void ReadoutTab::BitBtn20Click()
{
    guard(
        [this] {
            StringGrid &grid = *m_gridIEC;
            grid.gridModel()->clearCells(1);
            grid.setRowCount(2);
            const QList<IecRow> rows = SplitIecLines(m_memo->lines());
            grid.setRowCount(qMax(2, static_cast<int>(rows.size()) + 1));
            for (qsizetype i = 0; i < rows.size(); ++i) {
                grid.setCell(0, static_cast<int>(i) + 1, rows.at(i).obis);
                grid.setCell(1, static_cast<int>(i) + 1, rows.at(i).value);
            }
            int row = 1;
            try {
                for (; row < grid.rowCount(); ++row) {
                    const QString value = grid.cell(1, row);
                    if (!value.isEmpty())
                        grid.setCell(1, row, NormalizeIecValue(value));
                }
            } catch (const std::exception &e) {
                m_session.log(QStringLiteral("Exception normalizing values - ") +
                              QString::fromLocal8Bit(e.what()));
            }
        },
        this);
}

void ReadoutTab::BitBtn21Click()
{
    guard([this] { ExportGridCsv(*m_gridIEC, QStringLiteral("iecgrid.csv"), m_session.WorkDir); }, this);
}

} // namespace qvx
