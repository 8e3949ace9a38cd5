#include "iec/readout_tab.h"

#include "widgets/guard.h"
#include "widgets/string_grid.h"
#include "widgets/typing_limit.h"
#include "widgets/grid_export.h"
#include "iec/iec_parse.h"
#include "iec/obis.h"
#include "meters/meter_codec.h"
#include "meters/meter_table.h"
#include "meters/meters_tab.h"
#include "widgets/dialogs.h"
#include "iec/readout_view.h"
#include "transport/reply_timer.h"
#include "widgets/serial_panel.h"
#include "widgets/file_feedback.h"
#include "transport/session.h"
#include "widgets/named_button.h"
#include "widgets/status_panel.h"
#include "iec/data_sets_window.h"
#include "iec/iec_datasets.h"
#include "transport/port_name.h"
#include "core/errors.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QMenu>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qvx {
namespace {

QLabel *wrappedLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
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
      m_gridIEC(new StringGrid(3, 2, this)), m_timerDirectRead(new ReplyTimer(CaptureMs, this)),
      m_untilEnd(new QCheckBox(QStringLiteral("Until end of message"), this)),
      m_modeC(new QCheckBox(QStringLiteral("Acknowledge (mode C)"), this)),
      m_start300(new QCheckBox(QStringLiteral("Start at 300 baud"), this)),
      m_listen(new QCheckBox(QStringLiteral("Listen only (meter sends by itself)"), this)),
      m_portChoice(new QComboBox(this)), m_ownName(new QComboBox(this)), m_ownSpeed(new QComboBox(this)),
      m_ownParity(new QComboBox(this)), m_ownDataBits(new QComboBox(this)), m_popupIEC(new QMenu(this)),
      m_stop(namedButton("Button_stopReadout", QStringLiteral("Stop readout"), this)),
      m_progress(new StatusPanel(QStringLiteral("Readout progress"), 170, this)),
      m_lineLabel(new QLabel(this)), m_waitingLabel(new QLabel(this)), m_run(session.comm2()), m_ownComm(this), m_ownRun(m_ownComm)
{
    m_untilEnd->setObjectName(QStringLiteral("CheckBox_untilEnd"));
    m_untilEnd->setToolTip(QStringLiteral("Capture until ETX and the block check character, until no byte "
                                          "has come for 3 s, or for at most 5 minutes"));
    m_modeC->setObjectName(QStringLiteral("CheckBox_modeC"));
    m_modeC->setToolTip(QStringLiteral("Acknowledge the identification line and switch to the rate it "
                                       "announces"));
    m_start300->setObjectName(QStringLiteral("CheckBox_start300"));
    m_start300->setToolTip(QStringLiteral("Send the sign-on at 300 baud, 7 data bits, even parity (optical "
                                          "probe)"));
    m_listen->setObjectName(QStringLiteral("CheckBox_listenOnly"));
    m_listen->setToolTip(QStringLiteral("Send nothing: capture what the meter sends by itself (a push "
                                        "meter's telegram, P1 port) until its end, a quiet line or 5 minutes"));
    // A meter that pushes is not signed on: those ways of starting do not apply.
    connect(m_listen, &QCheckBox::toggled, this, [this](bool on) {
        for (QCheckBox *box : {m_untilEnd, m_modeC, m_start300})
            box->setEnabled(!on);
        updateLineLabel();
    });
    m_progress->setObjectName(QStringLiteral("StatusPanelReadout"));
    m_progress->hide();
    for (IecReadoutRun *run : {&m_run, &m_ownRun}) {
        connect(run, &IecReadoutRun::logLine, &m_session, &Session::log);
        connect(run, &IecReadoutRun::progress, this, &ReadoutTab::showProgress);
        connect(run, &IecReadoutRun::finished, this, &ReadoutTab::readoutFinished);
    }
    connect(&m_ownComm, &Comm2::rxChar, this, &ReadoutTab::ownPortReceived);
    connect(&m_ownComm, &Comm2::deviceLost, this, &ReadoutTab::ownPortLost);

    // The port: the Modbus serial port (the Settings tab's), or one of its own.
    m_portChoice->setObjectName(QStringLiteral("Combo_readoutPort"));
    m_portChoice->addItems({QStringLiteral("the Modbus serial port"), QStringLiteral("a port of its own")});
    m_portChoice->setToolTip(QStringLiteral("A port of its own (an optical head on a second adapter) leaves "
                                            "the Modbus port to the gateway: both work at the same time"));
    m_ownName->setObjectName(QStringLiteral("Combo_readoutPortName"));
    m_ownName->setEditable(true);
    m_ownName->addItems(standardPortNames());
    m_ownName->addItems(Comm2::systemPortNames());
    m_ownName->setCurrentText(QStringLiteral("COM2"));
    m_ownName->setMinimumContentsLength(10);
    m_ownName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_ownSpeed->setObjectName(QStringLiteral("Combo_readoutSpeed"));
    m_ownSpeed->setEditable(true);
    for (const qint32 rate : StandardBaudRates)
        m_ownSpeed->addItem(QString::number(rate));
    m_ownSpeed->setCurrentText(QStringLiteral("9600"));
    m_ownParity->setObjectName(QStringLiteral("Combo_readoutParity"));
    m_ownParity->addItems({QStringLiteral("None"), QStringLiteral("Even"), QStringLiteral("Odd"),
                           QStringLiteral("Mark"), QStringLiteral("Space")});
    m_ownParity->setCurrentText(QStringLiteral("Even"));
    m_ownDataBits->setObjectName(QStringLiteral("Combo_readoutDataBits"));
    m_ownDataBits->addItems({QStringLiteral("7"), QStringLiteral("8")});
    for (QComboBox *box : {m_portChoice, m_ownName, m_ownSpeed, m_ownParity, m_ownDataBits}) {
        connect(box, &QComboBox::currentTextChanged, this, &ReadoutTab::updateLineLabel);
        connect(box, &QComboBox::currentIndexChanged, this, &ReadoutTab::updatePortBoxes);
    }
    m_stop->setEnabled(false);
    // Says why it is disabled as much as what it does.
    m_stop->setToolTip(QStringLiteral("Ends a running readout (available while one runs)"));
    connect(m_stop, &QPushButton::clicked, this, &ReadoutTab::ButtonStopReadoutClick);

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

    QPushButton *readout = namedButton("Button4", QStringLiteral("Readout"), this);
    makeBold(readout);
    connect(readout, &QPushButton::clicked, this, &ReadoutTab::Button4Click);

    m_memo->setObjectName(QStringLiteral("Memo_readout"));
    m_memo->setAccessibleName(QStringLiteral("Readout"));

    QPushButton *clear = namedButton("Button5", QStringLiteral("Clear"), this);
    connect(clear, &QPushButton::clicked, this, &ReadoutTab::Button5Click);
    QPushButton *save = namedButton("Button6", QStringLiteral("Save"), this);
    connect(save, &QPushButton::clicked, this, &ReadoutTab::Button6Click);

    m_gridIEC->setObjectName(QStringLiteral("gridIEC"));
    m_gridIEC->setAccessibleName(QStringLiteral("Readout table"));
    m_gridIEC->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_gridIEC->setColumnWidths({78, 86, 144});
    m_gridIEC->setRowHeight(18);
    m_gridIEC->gridModel()->setToolTips([grid = m_gridIEC](int col, int row) {
        return col == 0 && row > 0 ? ObisDescription(grid->cell(0, row)) : QString();
    });
    m_popupIEC->setObjectName(QStringLiteral("PopupIEC"));
    QAction *copyCodes = m_popupIEC->addAction(QStringLiteral("Copy codes to meter slot..."));
    copyCodes->setObjectName(QStringLiteral("CopyCodesToMeterSlot"));
    connect(copyCodes, &QAction::triggered, this, &ReadoutTab::CopyCodesToMeterSlotClick);
    QAction *dataSets = m_popupIEC->addAction(QStringLiteral("Data sets..."));
    dataSets->setObjectName(QStringLiteral("DataSets"));
    connect(dataSets, &QAction::triggered, this, &ReadoutTab::DataSetsClick);
    m_gridIEC->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_gridIEC, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_popupIEC->popup(m_gridIEC->viewport()->mapToGlobal(pos)); });
    QPushButton *parse = namedButton("BitBtn20", QStringLiteral("Parse"), this);
    connect(parse, &QPushButton::clicked, this, &ReadoutTab::BitBtn20Click);
    QPushButton *saveGrid = namedButton("BitBtn21", QStringLiteral("Save"), this);
    connect(saveGrid, &QPushButton::clicked, this, &ReadoutTab::BitBtn21Click);
    // Shown for what the gateway will offer; it has no action yet.
    QPushButton *import = namedButton("BitBtnImportQVX", QStringLiteral("Import to QVX"), this);
    import->setEnabled(false);
    // A disabled button must not leave the operator guessing why.
    import->setToolTip(QStringLiteral("Not available in this version: program meters on the "
                                      "\"Devices programmed in modbus\" tab"));

    m_lineLabel->setObjectName(QStringLiteral("Label_readoutLine"));
    m_lineLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A line of its own under "Readout"; a long /dev/serial/by-id name must
    // not widen the window (the tool tip has the whole text).
    m_lineLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(m_modeC, &QCheckBox::toggled, this, &ReadoutTab::updateLineLabel);
    connect(m_start300, &QCheckBox::toggled, this, &ReadoutTab::updateLineLabel);
    // Opening and closing the port is told through the serial status panel.
    connect(&m_session, &Session::statusChanged, this, &ReadoutTab::updateLineLabel);
    updateLineLabel();
    // Empty and hidden until a periodic value read waits for the readout.
    m_waitingLabel->setObjectName(QStringLiteral("Label_readoutWaiting"));
    m_waitingLabel->setWordWrap(true);
    m_waitingLabel->hide();

    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(addressLabel);
    addressRow->addWidget(m_address);
    addressRow->addWidget(readout);
    addressRow->addWidget(m_stop);
    addressRow->addStretch(1);
    // Two by two: four captions side by side do not fit the tab's left part
    // at the window's size.
    auto *optionRow = new QGridLayout;
    optionRow->addWidget(m_untilEnd, 0, 0);
    optionRow->addWidget(m_modeC, 0, 1);
    optionRow->addWidget(m_start300, 1, 0);
    optionRow->addWidget(m_listen, 1, 1);
    optionRow->setColumnStretch(2, 1);

    auto captioned = [this](const QString &caption, QWidget *box) {
        auto *label = new QLabel(caption, this);
        label->setBuddy(box);
        box->setAccessibleName(caption.chopped(1));
        return label;
    };
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(captioned(QStringLiteral("Port:"), m_portChoice));
    portRow->addWidget(m_portChoice);
    portRow->addWidget(captioned(QStringLiteral("Name:"), m_ownName));
    portRow->addWidget(m_ownName, 1);
    auto *ownLineRow = new QHBoxLayout;
    ownLineRow->addWidget(captioned(QStringLiteral("Rate:"), m_ownSpeed));
    ownLineRow->addWidget(m_ownSpeed);
    ownLineRow->addWidget(captioned(QStringLiteral("Parity:"), m_ownParity));
    ownLineRow->addWidget(m_ownParity);
    ownLineRow->addWidget(captioned(QStringLiteral("Data bits:"), m_ownDataBits));
    ownLineRow->addWidget(m_ownDataBits);
    ownLineRow->addStretch(1);

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
    left->addLayout(portRow);
    left->addLayout(ownLineRow);
    left->addWidget(m_lineLabel);
    left->addWidget(m_waitingLabel);
    left->addLayout(optionRow);
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
    updatePortBoxes();
}

bool ReadoutTab::usesOwnPort() const
{
    return m_portChoice->currentIndex() == 1;
}

QString ReadoutTab::ownPortName() const
{
    return m_ownName->currentText();
}

Comm2::LineSettings ReadoutTab::ownPortLine() const
{
    return lineSettingsFromTexts(m_ownSpeed->currentText(), m_ownParity->currentText(),
                                 m_ownDataBits->currentText(), QStringLiteral("1"));
}

void ReadoutTab::updatePortBoxes()
{
    // The choice stays while a readout runs on one of the ports; the own
    // port's boxes apply only when it is chosen.
    const bool running = m_run.running() || m_ownRun.running();
    m_portChoice->setEnabled(!running);
    for (QWidget *box : std::initializer_list<QWidget *>{m_ownName, m_ownSpeed, m_ownParity, m_ownDataBits})
        box->setEnabled(usesOwnPort() && !running);
}

void ReadoutTab::setSerialPanel(SerialPanel *panel)
{
    m_serial = panel;
    if (panel)
        connect(panel, &SerialPanel::lineChanged, this, &ReadoutTab::updateLineLabel);
    updateLineLabel();
}

QString ReadoutTab::lineText(const Comm2::LineSettings &line)
{
    char parity = 'E';
    switch (line.parity) {
    case QSerialPort::NoParity:
        parity = 'N';
        break;
    case QSerialPort::OddParity:
        parity = 'O';
        break;
    case QSerialPort::MarkParity:
        parity = 'M';
        break;
    case QSerialPort::SpaceParity:
        parity = 'S';
        break;
    default:
        break;
    }
    return QStringLiteral("%1 %2%3%4")
        .arg(line.baudRate)
        .arg(static_cast<int>(line.dataBits))
        .arg(QLatin1Char(parity))
        .arg(line.stopBits == QSerialPort::TwoStop ? 2 : 1);
}

QString ReadoutTab::readoutLineText(const QString &port, const Comm2::LineSettings &line, bool modeC,
                                    bool start300)
{
    QString text = port + QStringLiteral(", ") + lineText(line);
    if (start300)
        text += QStringLiteral(", sign-on at 300 7E1");
    if (modeC)
        text += QStringLiteral(", mode C");
    return text;
}

QString ReadoutTab::usedPort() const
{
    if (usesOwnPort())
        return ownPortName();
    return m_serial ? m_serial->portName() : m_session.comm2().devicePath();
}

Comm2::LineSettings ReadoutTab::usedLine() const
{
    if (usesOwnPort())
        return ownPortLine();
    // An open port keeps the line it was opened with, whatever the boxes
    // that stay enabled show meanwhile.
    return m_serial && !m_session.SerialPortOpen ? m_serial->lineSettings()
                                                 : m_session.comm2().lineSettings();
}

void ReadoutTab::updateLineLabel()
{
    const bool listen = m_listen->isChecked();
    QString text = readoutLineText(usedPort(), usedLine(), m_modeC->isChecked() && !listen,
                                   m_start300->isChecked() && !listen);
    if (listen)
        text += QStringLiteral(", listening only");
    m_lineLabel->setText(text);
    m_lineLabel->setToolTip(usesOwnPort() ? QStringLiteral("The readout uses %1: its own port, set under "
                                                           "\"Port:\" on this tab")
                                                .arg(text)
                                          : QStringLiteral("The readout uses %1: change the port and line "
                                                           "on the \"Settings\" tab")
                                                .arg(text));
}

void ReadoutTab::showProgress(qint64 bytes, int seconds)
{
    if (m_window.isValid()) {
        const qint64 left = qMax<qint64>(0, (CaptureMs - m_window.elapsed() + 999) / 1000);
        m_progress->setPanelText(QStringLiteral("Readout: %1 bytes, %2 s left").arg(bytes).arg(left));
    } else {
        m_progress->setPanelText(QStringLiteral("Readout: %1 bytes, %2 s").arg(bytes).arg(seconds));
    }
    m_progress->show();
}

void ReadoutTab::setMetersTab(MetersTab *tab)
{
    m_metersTab = tab;
    // The register list shows what a code means, as the readout table does.
    if (tab)
        tab->gridRegisters()->gridModel()->setToolTips([grid = tab->gridRegisters()](int col, int row) {
            return col == 1 && row > 0 ? ObisDescription(grid->cell(1, row)) : QString();
        });
}

QByteArray ReadoutTab::signOnRequest(const QString &address)
{
    return IecReadoutRun::signOnRequest(address);
}

void ReadoutTab::Button4Click()
{
    guard([this] { startReadout(); }, this);
}

void ReadoutTab::startReadout()
{
    const bool own = usesOwnPort();
    // A readout going on keeps its port: the choice is locked meanwhile.
    if (own && !m_ownRun.running() && !openOwnPort()) {
        m_session.log(QStringLiteral("Unable to open serial port, quitting..."));
        return;
    }
    // With a port of its own the Modbus link, serial or TCP, is not touched.
    if (!own && m_session.TransportMode == TransportModeKind::Tcp) {
        m_session.log(QStringLiteral("Please disconnect TCP connection first to avoid confusions!"));
        return;
    }
    // The toggle reports its own failure (the error box); the refusal below
    // follows it, so the operator learns that nothing was sent.
    if (!own && !m_session.SerialPortOpen && m_serial)
        guard([this] { m_serial->TogglePort(); }, this);
    if (!own && !m_session.SerialPortOpen) {
        m_session.log(QStringLiteral("Unable to open serial port, quitting..."));
        return;
    }
    IecReadoutRun::Options options;
    options.address = m_address->text();
    options.listenOnly = m_listen->isChecked();
    // Listening runs to the end of the telegram, as a readout to the end of
    // the message does; nothing is sent, so nothing is acknowledged.
    options.untilEnd = m_untilEnd->isChecked() || options.listenOnly;
    options.acknowledge = m_modeC->isChecked() && !options.listenOnly;
    options.start300 = m_start300->isChecked() && !options.listenOnly;
    m_stoppedByOperator = false;
    if (options.untilEnd)
        m_window.invalidate();
    else if (!m_timerDirectRead->isEnabled())
        m_window.start();
    // The run purges the port and writes the sign-on.  No receive event is
    // handled between this write and the flag: both run in this handler.
    m_active = own ? &m_ownRun : &m_run;
    try {
        m_active->start(options);
    } catch (...) {
        // A press inside a run whose sign-on could not be written: that run
        // has ended without its end, and the line is free again.
        if (m_lineTaken && !m_run.running()) {
            m_lineTaken = false;
            m_stop->setEnabled(false);
            emit serialLineTaken(false);
        }
        if (own && !m_ownRun.running()) {
            m_ownCapture = false;
            closeOwnPort();
        }
        updatePortBoxes();
        throw;
    }
    m_stop->setEnabled(true);
    updatePortBoxes();
    if (own) {
        // The Modbus port, its receive buffer and its periodic reads are
        // left alone: the meter's bytes come on the port of its own.
        m_ownCapture = true;
    } else {
        if (!m_lineTaken) {
            m_lineTaken = true;
            emit serialLineTaken(true);
        }
        m_session.ReadoutCaptureActive = true;
        m_session.RxBuffer.clear();
    }
    if (options.untilEnd) {
        // The run ends itself; the ten-second window does not apply.
        m_timerDirectRead->disable();
        return;
    }
    // A capture that runs already keeps its end: the window is not restarted.
    m_timerDirectRead->setInterval(CaptureMs);
    m_timerDirectRead->enable();
}

void ReadoutTab::Timer_directReadTimer()
{
    m_timerDirectRead->disable();
    if (m_active == &m_run)
        m_session.ReadoutCaptureActive = false;
    else
        m_ownCapture = false;
    activeRun().stop();
}

bool ReadoutTab::openOwnPort()
{
    if (m_ownComm.isOpen())
        return true;
    const QString name = ownPortName();
    const QString path = serialDevicePath(name);
    m_ownComm.setDevicePath(path);
    const PortOpenFailure failure = m_ownComm.probeOpen();
    if (failure != PortOpenFailure::None) {
        m_session.log(QStringLiteral("Readout port %1: %2").arg(name, portOpenFailureText(failure)));
        return false;
    }
    m_ownComm.setLineSettings(ownPortLine());
    try {
        m_ownComm.open();
    } catch (const QvxError &e) {
        m_session.log(QStringLiteral("Readout port %1: %2").arg(name, e.message()));
        return false;
    }
    m_session.log(QStringLiteral("Readout port %1 opened, %2").arg(name, lineText(ownPortLine())));
    return true;
}

void ReadoutTab::closeOwnPort()
{
    if (!m_ownComm.isOpen())
        return;
    m_ownComm.close();
    m_session.log(QStringLiteral("Readout port %1 closed").arg(ownPortName()));
}

void ReadoutTab::ownPortReceived()
{
    for (qint64 waiting = m_ownComm.bytesWaiting(); waiting > 0; waiting = m_ownComm.bytesWaiting()) {
        const QByteArray chunk = m_ownComm.read(qMin<qint64>(waiting, 1024));
        if (chunk.isEmpty())
            break;
        if (m_ownCapture)
            captureFromLine(chunk);
    }
}

void ReadoutTab::ownPortLost(const QString &reason)
{
    guard(
        [this, &reason] {
            m_session.log(QStringLiteral("Readout port %1 lost: %2").arg(ownPortName(), reason));
            m_ownCapture = false;
            if (m_ownRun.running())
                m_ownRun.stop();
            else
                closeOwnPort();
        },
        this);
}

void ReadoutTab::ButtonStopReadoutClick()
{
    guard(
        [this] {
            if (!activeRun().running())
                return;
            m_session.log(QStringLiteral("Readout stopped (%1 bytes)").arg(activeRun().capture().size()));
            m_stoppedByOperator = true;
            activeRun().stop();
        },
        this);
}

void ReadoutTab::readoutFinished()
{
    m_stop->setEnabled(false);
    m_timerDirectRead->disable();
    if (m_active == &m_ownRun) {
        m_ownCapture = false;
        // The head is free for other programs between readouts.
        closeOwnPort();
    } else {
        m_session.ReadoutCaptureActive = false;
    }
    updatePortBoxes();
    if (m_dataSets && m_dataSets->isVisible())
        m_dataSets->showCapture(m_captured);
    m_progress->hide();
    m_progress->setPanelText(QString());
    m_window.invalidate();
    if (m_lineTaken) {
        m_lineTaken = false;
        emit serialLineTaken(false);
    }
    // Silence is the commonest first failure: wrong port, rate or framing.
    if (activeRun().capture().isEmpty() && !m_stoppedByOperator) {
        const Comm2::LineSettings line = usedLine();
        m_session.notify(QStringLiteral("The meter did not answer: check the port (%1), the rate (%2 baud) "
                                        "and 7 data bits with even parity (now %3)")
                             .arg(usedPort())
                             .arg(line.baudRate)
                             .arg(lineText(line)));
    }
}

void ReadoutTab::setPeriodicReadWaiting(bool waiting)
{
    const QString text = waiting ? QStringLiteral("A periodic value read (\"Auto Read values\") is waiting: "
                                                  "it reads once when the readout has ended.")
                                 : QString();
    m_waitingLabel->setText(text);
    m_waitingLabel->setAccessibleName(text);
    m_waitingLabel->setVisible(waiting);
}

void ReadoutTab::captureBytes(const QByteArray &bytes)
{
    if (!m_session.ReadoutCaptureActive)
        return;
    captureFromLine(bytes);
}

void ReadoutTab::captureFromLine(const QByteArray &bytes)
{
    m_memo->capture(bytes, ReadoutLineIndex);
    m_captured += bytes;
    activeRun().feed(bytes);
}

void ReadoutTab::DataSetsClick()
{
    guard(
        [this] {
            if (!m_dataSets)
                m_dataSets = new DataSetsWindow(m_session, this);
            m_dataSets->showCapture(m_captured);
            m_dataSets->show();
            m_dataSets->raise();
            m_dataSets->activateWindow();
        },
        this);
}

void ReadoutTab::CopyCodesToMeterSlotClick()
{
    guard(
        [this] {
            if (!m_metersTab)
                return;
            const StringGrid &grid = *m_gridIEC;
            QList<int> rows;
            for (const QModelIndex &index : grid.selectionModel()->selectedRows())
                if (index.row() > 0)
                    rows.append(index.row());
            std::sort(rows.begin(), rows.end());

            // Every data set of the text, however many a line holds (a heat
            // meter's one long line), from the data set reader rather than
            // from "Parse", which keeps the first of a line only.
            QByteArray text;
            for (const QByteArray &line : m_memo->store().all())
                text += line + '\n';
            const IecDataBlock block = ParseIecDataSets(text);

            // The meter's ID: its address (0.0.0), else its serial number
            // (C.1.0).
            QString id;
            for (const std::array<int, 3> wanted : {std::array{0, 0, 0}, std::array{96, 1, 0}}) {
                for (const IecDataSet &set : block.sets) {
                    const auto code = ParseObisCode(set.code);
                    if (code && code->c == wanted[0] && code->d == wanted[1] && code->e == wanted[2] &&
                        !set.groups.isEmpty())
                        id = set.groups.first().value.trimmed();
                    if (!id.isEmpty())
                        break;
                }
                if (!id.isEmpty())
                    break;
            }

            const bool longObis = m_metersTab->checkLongObis()->isChecked();
            // The selected rows' codes, else those of every data set; a long
            // code keeps its medium and channel for long OBIS.
            QStringList texts;
            if (!rows.isEmpty()) {
                for (int r : rows)
                    if (!grid.cell(0, r).trimmed().isEmpty() || !grid.cell(1, r).isEmpty())
                        texts.append(grid.cell(0, r));
            } else {
                for (const IecDataSet &set : block.sets)
                    texts.append(longObis ? set.address : set.code);
            }
            QStringList codes, skipped;
            for (const QString &text : texts) {
                const std::optional<QString> code = ObisForMeterSlot(text, longObis);
                if (code && codes.size() < ObisListRows)
                    codes.append(*code);
                else
                    skipped.append(QString(text).remove(QChar(0x02)).trimmed());
            }
            if (codes.isEmpty()) {
                m_session.log(QStringLiteral("No OBIS codes to copy: parse a readout first"));
                return;
            }
            const std::optional<int> slot = dialogs().askNumber(
                this, QStringLiteral("Copy codes to meter slot"), QStringLiteral("Meter slot (1-32):"), 1,
                MeterTable::Slots, m_metersTab->meterNumber());
            if (!slot)
                return;
            int held = 0;
            for (int r = 1; r <= MeterTable::Rows; ++r)
                held += m_metersTab->meterTable().code(*slot, r).isEmpty() ? 0 : 1;
            if (held > 0 &&
                !dialogs().askYesNo(this, DialogIcon::Warning, QStringLiteral("Copy codes to meter slot"),
                                    QStringLiteral("Meter slot %1 already holds %2 codes. Replace them "
                                                   "with the %3 codes of the readout?")
                                        .arg(*slot)
                                        .arg(held)
                                        .arg(codes.size())))
                return;
            m_metersTab->fillSlot(*slot, id, codes);
            m_session.log(QStringLiteral("Copied %1 OBIS codes to meter slot %2%3; press \"Write in "
                                         "QVX-24 this meter\" to program the gateway")
                              .arg(codes.size())
                              .arg(*slot)
                              .arg(id.isEmpty() ? QString() : QStringLiteral(" with meter ID ") + id));
            if (!skipped.isEmpty())
                m_session.log(QStringLiteral("Skipped (not an OBIS code the meter table can take, or more "
                                             "than %1): %2")
                                  .arg(ObisListRows)
                                  .arg(skipped.join(QStringLiteral(", "))));
        },
        this);
}

void ReadoutTab::Button5Click()
{
    guard(
        [this] {
            m_memo->clear();
            m_captured.clear();
            ReadoutLineIndex = 0;
            if (m_dataSets && m_dataSets->isVisible())
                m_dataSets->showCapture(m_captured);
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
            const QString path = m_session.ProgramDir + QStringLiteral("logIEC.txt");
            QSaveFile file(path);
            const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                                 file.flush() && file.commit();
            if (!written) {
                m_session.log(QStringLiteral("Can not write file, no rights..."));
                reportFileFailure(m_session, path, false, file.errorString());
            } else {
                reportFileDone(m_session, FileAction::Saved, m_memo->lineCount(), path);
            }
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
            // A value with its unit, or a long code, is shown whole rather
            // than cut at the column's first width.
            grid.widenColumnsFor(1, grid.rowCount() - 1);
        },
        this);
}

void ReadoutTab::BitBtn21Click()
{
    guard([this] { ExportGridCsv(*m_gridIEC, QStringLiteral("iecgrid.csv"), m_session.WorkDir, &m_session); },
          this);
}

} // namespace qvx
