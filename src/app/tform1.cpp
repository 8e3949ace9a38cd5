#include "app/tform1.h"

#include "widgets/dialogs.h"
#include "app/document_launcher.h"
#include "app/program_folder.h"
#include "widgets/guard.h"
#include "core/ini_file.h"
#include "widgets/key_filter_installer.h"
#include "core/settings_keys.h"
#include "widgets/string_grid.h"
#include "app/options_dialog.h"
#include "gateway/change_line_dialog.h"
#include "gateway/find_device_dialog.h"
#include "app/tfabout.h"
#include "config/settings_readout.h"
#include "config/settings_tab.h"
#include "console/console_panel.h"
#include "console/log_view.h"
#include "iec/readout_tab.h"
#include "meters/meter_values_panel.h"
#include "meters/meters_tab.h"
#include "monitor/traffic_monitor_window.h"
#include "monitor/traffic_tap.h"
#include "monitor/value_trends_window.h"
#include "gateway/gateway_format.h"
#include "gateway/profile_dialog.h"
#include "gateway/site_dialog.h"
#include "widgets/serial_panel.h"
#include "widgets/status_panel.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace qvx {
namespace {

// Long enough to read a path twice.
constexpr int NoticeMs = 8000;

QString withSeparator(const QString &dir)
{
    const QString abs = QDir(dir).absolutePath();
    return abs.endsWith(QLatin1Char('/')) ? abs : abs + QLatin1Char('/');
}

// Every key the window reads and writes: the file's own, then the readout
// port's section.
std::vector<SettingKey> allSettingKeys(const QString &programDir)
{
    std::vector<SettingKey> keys = settingKeys(programDir);
    for (SettingKey &k : readoutPortKeys())
        keys.push_back(std::move(k));
    return keys;
}

QString loadedKey(const SettingKey &k)
{
    return k.section + QLatin1Char('/') + k.key;
}

// Puts a value read from the settings file into the control that holds it.
void putIntoControl(QWidget *w, const SettingKey &key, const QString &value)
{
    if (auto *combo = qobject_cast<QComboBox *>(w)) {
        // A choice kept as its position (the readout's port): out of range
        // gives the nearest item.
        if (key.kind == SettingKind::Integer) {
            const qint64 n = iniToInteger(value).value_or(0);
            combo->setCurrentIndex(static_cast<int>(std::clamp<qint64>(n, 0, qMax(0, combo->count() - 1))));
            return;
        }
        // A combo box shows whatever the file holds, even a text not in its list.
        if (combo->isEditable()) {
            combo->setCurrentText(value);
        } else {
            int i = combo->findText(value);
            if (i < 0) {
                combo->addItem(value);
                i = combo->count() - 1;
            }
            combo->setCurrentIndex(i);
        }
    } else if (auto *check = qobject_cast<QCheckBox *>(w)) {
        check->setChecked(value == QLatin1String("1"));
    } else if (auto *spin = qobject_cast<QSpinBox *>(w)) {
        // Out of range: the nearest bound.
        const qint64 n = iniToInteger(value).value_or(iniToInteger(key.defaultValue).value_or(0));
        spin->setValue(static_cast<int>(std::clamp<qint64>(n, spin->minimum(), spin->maximum())));
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        edit->setText(value);
    }
}

// The value a control holds, as the settings file keeps it; nothing when the
// control is of a kind the file does not know.
std::optional<QString> takeFromControl(QWidget *w, const SettingKey &key)
{
    if (auto *combo = qobject_cast<QComboBox *>(w))
        return key.kind == SettingKind::Integer ? QString::number(combo->currentIndex()) : combo->currentText();
    if (auto *check = qobject_cast<QCheckBox *>(w))
        return check->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto *spin = qobject_cast<QSpinBox *>(w))
        return QString::number(spin->value());
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    return std::nullopt;
}

} // namespace

TForm1::TForm1(const QString &programDir, QWidget *parent) : QMainWindow(parent)
{
    m_session.ProgramDir =
        withSeparator(programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir);
    m_session.WorkDir = m_session.ProgramDir;

    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("QVX-24S IEC 62056 Decoder"));

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("PageControl1"));
    m_settingsTab = new SettingsTab(m_session);
    m_metersTab = new MetersTab(m_session);
    m_readoutTab = new ReadoutTab(m_session);
    m_settingsTab->setObjectName(QStringLiteral("TabSheet_settings"));
    m_metersTab->setObjectName(QStringLiteral("TabSheet_meters"));
    m_settingsTab->settingsReadout()->setOptionBoxes(m_metersTab->check64bit(), m_metersTab->check16digit(),
                                                     m_metersTab->checkLongObis());
    m_readoutTab->setObjectName(QStringLiteral("TabSheet_readout"));
    m_readoutTab->setSerialPanel(m_settingsTab->serialPanel());
    m_readoutTab->setMetersTab(m_metersTab);
    m_tabs->addTab(m_settingsTab, QStringLiteral("   Settings     "));
    m_tabs->addTab(m_metersTab, QStringLiteral("    Devices programmed in modbus   "));
    m_tabs->addTab(m_readoutTab, QStringLiteral("   Diagnostic/Readout   "));

    m_console = new ConsolePanel;
    m_console->attach(m_session);
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->addWidget(m_tabs, 3);
    layout->addWidget(m_console, 1);
    setCentralWidget(central);

    // Made hidden now: its check box is a setting like the others.
    m_options = new OptionsDialog(m_session.exchange().settings(), this);
    m_options->hide();

    m_trafficTap = new TrafficTap(m_session, this);
    m_trafficMonitor = new TrafficMonitorWindow(*m_trafficTap, this);
    m_valueTrends = new ValueTrendsWindow(&m_metersTab->meterTable(), this);
    // A readout has the serial line to itself: periodic value reads wait for
    // it, and the readout tab says so.
    connect(m_readoutTab, &ReadoutTab::serialLineTaken, m_metersTab->valuesPanel(),
            &MeterValuesPanel::setSerialLineTaken);
    connect(m_metersTab->valuesPanel(), &MeterValuesPanel::periodicReadWaiting, m_readoutTab,
            &ReadoutTab::setPeriodicReadWaiting);
    connect(m_metersTab->valuesPanel(), &MeterValuesPanel::slotValuesRead, m_valueTrends,
            [this](int slot, const QVector<std::optional<qint64>> &values) {
                m_valueTrends->addReading(slot, values);
            });

    buildMenu();
    buildStatusBar();

    connect(&m_session, &Session::logLine, m_console->log(), &LogView::appendLine);
    // Passing words (a file written, why a write failed) use the whole bar
    // for a while; the panels come back when it has gone.
    connect(&m_session, &Session::notice, this,
            [this](const QString &text) { statusBar()->showMessage(text, NoticeMs); });
    connect(&m_session, &Session::statusChanged, this, [this](int panel, const QString &text) {
        if (panel >= 0 && panel < 4)
            m_statusPanels[panel]->setPanelText(text);
    });
    const char *boxes[4] = {"Combo_com2_name", "Combo_com2_speed", "Combo_dbits", "Combo_com2_parity"};
    for (int i = 0; i < 4; ++i)
        m_serialBoxes[i] = m_settingsTab->findChild<QComboBox *>(QLatin1String(boxes[i]));
    connect(&m_session.comm2(), &Comm2::lineInUseChanged, this, &TForm1::followSerialLine);
    connect(&m_session, &Session::serialPortOpenChanged, this, &TForm1::followSerialLine);
    connect(m_settingsTab->serialPanel(), &SerialPanel::lineChanged, this, &TForm1::followSerialLine);

    resize(916, 788);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildMenu()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    QAction *exit = file->addAction(QStringLiteral("Exit"), this, &TForm1::Exit1Click);
    exit->setObjectName(QStringLiteral("Exit1"));

    QMenu *language = menuBar()->addMenu(QStringLiteral("Language"));
    language->setObjectName(QStringLiteral("Language1"));
    m_english = language->addAction(QStringLiteral("English"), this, &TForm1::English1Click);
    m_english->setObjectName(QStringLiteral("English1"));
    m_english->setCheckable(true);

    // Additions beyond the working tabs (options, monitors, gateway tools);
    // each adds its own entries.
    m_tools = menuBar()->addMenu(QStringLiteral("Tools"));
    m_tools->setObjectName(QStringLiteral("Tools1"));
    QAction *options = m_tools->addAction(QStringLiteral("Options..."), this, &TForm1::Options1Click);
    options->setObjectName(QStringLiteral("Options1"));
    auto showWindow = [](QWidget *w) {
        w->show();
        w->raise();
        w->activateWindow();
    };
    QAction *monitor = m_tools->addAction(QStringLiteral("Traffic monitor"), this,
                                          [this, showWindow] { showWindow(m_trafficMonitor); });
    monitor->setObjectName(QStringLiteral("TrafficMonitor1"));
    QAction *trends = m_tools->addAction(QStringLiteral("Value trends"), this,
                                         [this, showWindow] { showWindow(m_valueTrends); });
    trends->setObjectName(QStringLiteral("ValueTrends1"));
    // The gateway tools: made with the window and kept (a busy line's
    // rates are remembered between sweeps).
    auto *findDevice = new FindDeviceDialog(m_session, this);
    findDevice->hide();
    QAction *find = m_tools->addAction(QStringLiteral("Find device..."), this,
                                       [findDevice, showWindow] { showWindow(findDevice); });
    find->setObjectName(QStringLiteral("FindDevice1"));
    auto *changeLine = new ChangeLineDialog(m_session, this, findDevice);
    changeLine->hide();
    QAction *change = m_tools->addAction(QStringLiteral("Change address or baud safely..."), this,
                                         [changeLine, showWindow] { showWindow(changeLine); });
    change->setObjectName(QStringLiteral("ChangeLine1"));
    // Closing the window ends a run at its next request.
    connect(this, &TForm1::closed, findDevice, &FindDeviceDialog::cancel);
    connect(this, &TForm1::closed, changeLine, &ChangeLineDialog::cancel);
    QAction *profile =
        m_tools->addAction(QStringLiteral("Gateway profile..."), this, &TForm1::GatewayProfile1Click);
    profile->setObjectName(QStringLiteral("GatewayProfile1"));
    // The whole site: made with the window (after the link fields, which it
    // finds by name) and kept, so an opened site stays between visits.
    auto *site = new SiteDialog(m_session, this);
    site->hide();
    QAction *siteAction =
        m_tools->addAction(QStringLiteral("Site..."), this, [site, showWindow] { showWindow(site); });
    siteAction->setObjectName(QStringLiteral("Site1"));
    connect(this, &TForm1::closed, site, &SiteDialog::CancelClick);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    QAction *about = help->addAction(QStringLiteral("About"), this, &TForm1::About1Click);
    about->setObjectName(QStringLiteral("About1"));
    QAction *manual = help->addAction(QStringLiteral("User manual"), this, &TForm1::Usermanual1Click);
    manual->setObjectName(QStringLiteral("Usermanual1"));
}

void TForm1::buildStatusBar()
{
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    static const int widths[4] = {200, 200, 300, 50};
    static const char *roles[4] = {"TCP connection", "Serial port", "Last CRC error", "Status"};
    for (int i = 0; i < 4; ++i) {
        auto *panel = new StatusPanel(QLatin1String(roles[i]), widths[i], statusBar());
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusBar()->addWidget(panel);
        m_statusPanels[i] = panel;
    }
    // Shown only while a readout runs.
    statusBar()->addWidget(m_readoutTab->progressPanel());
}

void TForm1::followSerialLine()
{
    Comm2 &comm = m_session.comm2();
    auto show = [this](const QString &text) {
        if (m_session.status(1) != text)
            m_session.setStatus(1, text);
    };
    if (!m_session.SerialPortOpen) {
        if (m_serialShownOpen)
            show(comm.devicePath() + QStringLiteral(" is closed"));
        m_serialShownOpen = false;
        return;
    }
    // Closed for a moment to be opened at another rate: the opening tells.
    if (!comm.isOpen())
        return;
    auto text = [this](int i) { return m_serialBoxes[i] ? m_serialBoxes[i]->currentText() : QString(); };
    m_serialShownOpen = true;
    show(serialStatusText(text(0), text(1), text(2), text(3), comm.devicePath(), comm.activeLine()));
}

QString TForm1::settingsFilePath() const
{
    return qvx::settingsFilePath(m_session.ProgramDir, QCoreApplication::applicationFilePath());
}

TFAbout *TForm1::aboutBox()
{
    if (!m_about)
        m_about = new TFAbout(this);
    return m_about;
}

void TForm1::FormCreate()
{
    QDir::setCurrent(m_session.ProgramDir);
    readSettings();
    m_english->setChecked(true);
    ApplyCaptions();
    m_console->checkHex()->setChecked(true);
    m_console->checkAscii()->setChecked(false);
    m_metersTab->labelSelectedRegister()->clear();
    m_tabs->setCurrentIndex(0);
    m_metersTab->selectedRegisterRow = 1;
    m_metersTab->selectedRegisterCol = 0;
    m_metersTab->selectedValueRow = 1;
    m_readoutTab->ReadoutLineIndex = 0;
    installKeyFilters(this);

    const auto *autoOpen = findChild<QCheckBox *>(QStringLiteral("CB_open_port2"));
    if (autoOpen && autoOpen->isChecked())
        guard([this] { m_settingsTab->serialPanel()->Butt_open_port2Click(); }, this);
}

void TForm1::readSettings()
{
    IniFile ini;
    ini.load(settingsFilePath());
    m_loaded.clear();
    for (const SettingKey &k : allSettingKeys(m_session.ProgramDir)) {
        const QString value = ini.contains(k.section, k.key)
                                  ? normalizedSetting(k, ini.value(k.section, k.key))
                                  : k.defaultValue;
        m_loaded.insert(loadedKey(k), value);
        if (k.control.isEmpty()) {
            m_session.WorkDir = value;
            continue;
        }
        if (auto *w = findChild<QWidget *>(k.control))
            putIntoControl(w, k, value);
    }
}

void TForm1::writeSettings()
{
    // Everything else the file holds (other sections, keys, comments) is
    // kept: start from the file as it is now.
    IniFile ini;
    ini.load(settingsFilePath());
    // The readout port's section goes into a file only once it holds
    // something other than the defaults: a file shared with a tool that
    // knows no such section is written back as it was.
    const std::vector<SettingKey> readoutKeys = readoutPortKeys();
    bool readoutSection = ini.sections().contains(readoutKeys.front().section, Qt::CaseInsensitive);
    for (const SettingKey &k : readoutKeys)
        if (auto *w = findChild<QWidget *>(k.control))
            if (const auto taken = takeFromControl(w, k); taken && *taken != k.defaultValue)
                readoutSection = true;
    for (const SettingKey &k : allSettingKeys(m_session.ProgramDir)) {
        if (!readoutSection && k.section == readoutKeys.front().section)
            continue;
        QString value = m_loaded.value(loadedKey(k), k.defaultValue);
        if (k.control.isEmpty()) {
            value = m_session.WorkDir;
        } else if (auto *w = findChild<QWidget *>(k.control)) {
            if (const auto taken = takeFromControl(w, k))
                value = *taken;
        }
        ini.setValue(k.section, k.key, value);
    }
    if (!ini.save(settingsFilePath()))
        dialogs().message(this, DialogIcon::Warning, QStringLiteral("Saving settings"),
                          QStringLiteral("Settings will not be saved, no write permission"));
}

void TForm1::FormClose()
{
    QDir::setCurrent(m_session.ProgramDir);
    guard([this] { writeSettings(); }, this);
    if (m_session.SerialPortOpen)
        guard([this] { m_settingsTab->serialPanel()->Butt_open_port2Click(); }, this);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (!m_closing) {
        m_closing = true;
        FormClose();
        event->accept();
        emit closed();
        return;
    }
    event->accept();
}

namespace {

// The gateway's whole meter table as read back after an applied profile.
void followAppliedProfile(MetersTab &tab, const GatewayProfile &device)
{
    bool sixteen = false, longObis = false;
    for (const GatewayFlag &f : gatewayFlags()) {
        if (qstrcmp(f.key, "id_16digit") == 0)
            sixteen = flagSet(device.info.flags, f.bit);
        if (qstrcmp(f.key, "long_obis") == 0)
            longObis = flagSet(device.info.flags, f.bit);
    }
    QVector<int> slotNums;
    for (int s = 1; s <= (sixteen ? 30 : 32); ++s)
        slotNums << s;
    tab.gatewaySlotsReadBack(QStringLiteral("Gateway profile apply"), device.table, slotNums, sixteen,
                             longObis);
}

} // namespace

void TForm1::GatewayProfile1Click()
{
    // Made on first use and kept: a profile read stays open between visits.
    auto *dialog = findChild<GatewayProfileDialog *>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog) {
        dialog = new GatewayProfileDialog(m_session, *m_metersTab, this);
        // The meter tab's copies of the slots follow an applied profile, or
        // the next "Write" would put the old codes back.
        connect(dialog, &GatewayProfileDialog::gatewayReadBack, m_metersTab,
                [this](const GatewayProfile &device) { followAppliedProfile(*m_metersTab, device); });
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void TForm1::Options1Click()
{
    m_options->show();
    m_options->raise();
    m_options->activateWindow();
}

void TForm1::Exit1Click()
{
    guard(
        [this] {
            if (dialogs().askYesNo(this, DialogIcon::Warning, QStringLiteral("Exit Confirmation"),
                                   QStringLiteral("Are you sure you want to exit?")))
                close();
        },
        this);
}

void TForm1::English1Click()
{
    guard(
        [this] {
            m_english->setChecked(true);
            ApplyCaptions();
        },
        this);
}

void TForm1::About1Click()
{
    guard([this] { aboutBox()->show(); }, this);
}

void TForm1::Usermanual1Click()
{
    guard(
        [this] {
            QDir::setCurrent(m_session.ProgramDir);
            const ManualLookup manual =
                findUserManual(m_session.ProgramDir, QCoreApplication::applicationDirPath());
            if (manual.path.isEmpty()) {
                // A viewer would only say "file not found"; say where it was
                // looked for, so that the operator knows where to put it.
                QStringList folders;
                for (const QString &folder : manual.folders)
                    folders << QStringLiteral("    ") + QDir::toNativeSeparators(folder);
                dialogs().message(
                    this, DialogIcon::Information, QStringLiteral("User manual"),
                    QStringLiteral("The user manual UsrMan.pdf was not found. It was looked for "
                                   "in these folders, in this order:\n%1\n\nCopy UsrMan.pdf "
                                   "into one of them; it can be opened with any PDF viewer.")
                        .arg(folders.join(QLatin1Char('\n'))));
                return;
            }
            if (openDocument(manual.path))
                return;
            // Without a desktop's document launcher nothing would happen at
            // all: say where the manual is, so it can be opened by hand.
            dialogs().message(
                this, DialogIcon::Information, QStringLiteral("User manual"),
                QStringLiteral("The user manual could not be opened: no program for PDF documents "
                               "is set up on this computer.\n\nThe manual is the file\n%1\n\n"
                               "It can be opened with any PDF viewer.")
                    .arg(QDir::toNativeSeparators(manual.path)));
        },
        this);
}

void TForm1::ApplyCaptions()
{
    if (auto *grid = findChild<StringGrid *>(QStringLiteral("gridInputRegisters"))) {
        const char *headers[] = {"Addr. modbus", "High ", "Notes/Decode ", "Low ", "Notes/Decode ", "Time "};
        for (int c = 0; c < 6; ++c)
            grid->setCell(c, 0, QLatin1String(headers[c]));
    }
    StringGrid *registers = m_metersTab->gridRegisters();
    registers->setCell(0, 0, QStringLiteral("No. "));
    registers->setCell(1, 0, QStringLiteral("Register name "));
    StringGrid *iec = m_readoutTab->gridIEC();
    iec->setCell(0, 0, QStringLiteral("OBIS code "));
    iec->setCell(1, 0, QStringLiteral("Value "));
    iec->setCell(2, 0, QStringLiteral("Notes     "));
    m_console->sendButton()->setText(QStringLiteral("Send"));
    m_console->commandLabel()->setText(QStringLiteral("Send custom command RS-485"));
    m_console->printButton()->setText(QStringLiteral("Print"));
    m_console->saveLogButton()->setText(QStringLiteral("Save log"));
    m_console->clearLogButton()->setText(QStringLiteral("Clear log"));
}

} // namespace qvx
