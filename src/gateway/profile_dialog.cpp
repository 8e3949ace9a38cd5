#include "gateway/profile_dialog.h"

#include "gateway/gateway_runners.h"
#include "gateway/link_fields.h"
#include "gateway/site_dialog.h"
#include "meters/meter_codec.h"
#include "meters/meters_tab.h"
#include "transport/session.h"
#include "widgets/dialogs.h"
#include "widgets/file_feedback.h"
#include "widgets/guard.h"
#include "widgets/named_button.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

namespace qvx {
namespace {

const QString Caption = QStringLiteral("Gateway profile");
const QString Filter = QStringLiteral("Gateway profiles (*.json)");
const QColor DiffersColour(255, 214, 214);

constexpr int IdDigitsBit = 5;
constexpr int LongObisBit = 6;

QTreeWidgetItem *row(QTreeWidgetItem *parent, const QStringList &texts)
{
    return new QTreeWidgetItem(parent, texts);
}

// Marks a row and the nodes above it as differing.
void mark(QTreeWidgetItem *item, int columns)
{
    for (; item; item = item->parent()) {
        item->setText(columns - 1, QStringLiteral("differs"));
        for (int c = 0; c < columns; ++c)
            item->setBackground(c, DiffersColour);
        item->setExpanded(true);
    }
}

// Columns as wide as their texts, but a long firmware identification does
// not push the profile's column out of sight.
void fitColumns(QTreeWidget *tree)
{
    for (int c = 0; c < tree->columnCount(); ++c) {
        tree->resizeColumnToContents(c);
        tree->setColumnWidth(c, qMin(tree->columnWidth(c), 240));
    }
}

} // namespace

GatewayProfileDialog::GatewayProfileDialog(Session &session, MetersTab &meters, QWidget *parent)
    : QWidget(parent, Qt::Window), m_session(session), m_meters(meters)
{
    setObjectName(QStringLiteral("GatewayProfile"));
    setWindowTitle(Caption);

    m_read = namedButton("Butt_profileRead", QStringLiteral("Read from gateway"), this);
    m_open = namedButton("Butt_profileOpen", QStringLiteral("Open..."), this);
    m_save = namedButton("Butt_profileSave", QStringLiteral("Save..."), this);
    m_compare = namedButton("Butt_profileCompare", QStringLiteral("Compare with gateway"), this);
    m_apply = namedButton("Butt_profileApply", QStringLiteral("Apply to gateway"), this);
    m_loadMeters =
        namedButton("Butt_profileLoadMeters", QStringLiteral("Load meter table into the meter tab"), this);
    m_cancel = namedButton("Butt_profileCancel", QStringLiteral("Cancel"), this);
    m_report = namedButton("Butt_profileReport", QStringLiteral("Report..."), this);
    m_report->setToolTip(QStringLiteral("Checks the connected gateway (against the open profile, if any) and "
                                        "writes its commissioning report"));
    m_network =
        new QCheckBox(QStringLiteral("Network block (IP address, gateway, mask, TCP idle time)"), this);
    m_network->setObjectName(QStringLiteral("Check_profileNetwork"));
    m_unit = new QCheckBox(QStringLiteral("Unit address (written last)"), this);
    m_unit->setObjectName(QStringLiteral("Check_profileUnit"));
    // The RTU line is how the window reaches the gateway on a serial link:
    // like the unit address it is written only when asked, and last.
    m_line = new QCheckBox(QStringLiteral("RTU line (written last)"), this);
    m_line->setObjectName(QStringLiteral("Check_profileLine"));

    auto *treeLabel = new QLabel(QStringLiteral("Profile"), this);
    m_heading = new QLabel(QStringLiteral("No profile read or opened yet"), this);
    m_heading->setObjectName(QStringLiteral("Label_profileHeading"));
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("Tree_profile"));
    m_tree->setAlternatingRowColors(true);
    treeLabel->setBuddy(m_tree);
    // Item views take no name from a buddy label.
    m_tree->setAccessibleName(treeLabel->text());

    auto *barLabel = new QLabel(QStringLiteral("Progress"), this);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("Progress_profile"));
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    barLabel->setBuddy(m_bar);
    m_stepText = new QLabel(this);
    m_stepText->setObjectName(QStringLiteral("Label_profileStep"));

    auto *files = new QHBoxLayout;
    files->addWidget(m_read);
    files->addWidget(m_open);
    files->addWidget(m_save);
    files->addWidget(m_loadMeters);
    files->addWidget(m_report);
    files->addStretch(1);
    auto *gateway = new QHBoxLayout;
    gateway->addWidget(m_compare);
    gateway->addWidget(m_apply);
    gateway->addWidget(m_network);
    gateway->addWidget(m_unit);
    gateway->addWidget(m_line);
    gateway->addStretch(1);
    auto *progress = new QHBoxLayout;
    progress->addWidget(barLabel);
    progress->addWidget(m_bar, 1);
    progress->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(files);
    layout->addLayout(gateway);
    layout->addWidget(treeLabel);
    layout->addWidget(m_heading);
    layout->addWidget(m_tree, 1);
    layout->addLayout(progress);
    layout->addWidget(m_stepText);

    connect(m_read, &QPushButton::clicked, this, &GatewayProfileDialog::ReadClick);
    connect(m_open, &QPushButton::clicked, this, &GatewayProfileDialog::OpenClick);
    connect(m_save, &QPushButton::clicked, this, &GatewayProfileDialog::SaveClick);
    connect(m_compare, &QPushButton::clicked, this, &GatewayProfileDialog::CompareClick);
    connect(m_apply, &QPushButton::clicked, this, &GatewayProfileDialog::ApplyClick);
    connect(m_loadMeters, &QPushButton::clicked, this, &GatewayProfileDialog::LoadMetersClick);
    connect(m_cancel, &QPushButton::clicked, this, &GatewayProfileDialog::CancelClick);
    connect(m_report, &QPushButton::clicked, this, &GatewayProfileDialog::ReportClick);

    setRunning(false);
    resize(760, 620);
}

GatewayProfileDialog::~GatewayProfileDialog()
{
    if (m_job)
        m_job->cancel();
}

void GatewayProfileDialog::closeEvent(QCloseEvent *event)
{
    // Closing is a cancel: nothing keeps talking to the gateway unseen.
    if (m_job)
        m_job->cancel();
    QWidget::closeEvent(event);
}

void GatewayProfileDialog::logLine(const QString &text)
{
    m_session.log(QStringLiteral("Gateway profile: ") + text);
}

void GatewayProfileDialog::setRunning(bool running)
{
    for (QWidget *w :
         {static_cast<QWidget *>(m_read), static_cast<QWidget *>(m_open), static_cast<QWidget *>(m_network),
          static_cast<QWidget *>(m_unit), static_cast<QWidget *>(m_line)})
        w->setEnabled(!running);
    m_save->setEnabled(!running && m_profile);
    m_compare->setEnabled(!running && m_profile);
    m_apply->setEnabled(!running && m_profile);
    m_loadMeters->setEnabled(!running && m_profile);
    m_cancel->setEnabled(running);
    m_report->setEnabled(!running);
}

void GatewayProfileDialog::step(int done, int total, const QString &what)
{
    if (total > 0) {
        m_bar->setRange(0, total);
        m_bar->setValue(done);
    } else {
        m_bar->setRange(0, 0); // the number of steps is not known beforehand
    }
    if (what.isEmpty())
        return;
    m_stepText->setText(m_jobName + QStringLiteral(": ") + what);
    logLine(what);
}

void GatewayProfileDialog::runJob(const QString &what, const Runner &runner, const Done &done)
{
    if (running() || !m_session.checkLink())
        return;
    // One reader at a time on the link: a sequence of a tab (the read of all
    // meters, "Read settings ") has the reply windows until it ends.
    if (m_session.exchange().sequenceRunning()) {
        logLine(QStringLiteral("a read of the window is running; %1 when it has ended").arg(what));
        return;
    }
    m_jobName = what;
    m_done = done;
    RequestSettings &settings = m_session.exchange().settings();
    m_found = settings;
    // Each job has a client of its own: a cancelled client stays cancelled.
    // It takes the window's link as the fields describe it, so that the
    // RTU line read and a line change start from the line in use.
    m_client = new GatewayClient(m_session, this);
    m_linkBefore = LinkFields::find(parentWidget()).current(m_session);
    m_client->adoptLink(m_linkBefore);
    m_client->setUnit(settings.unit);
    m_client->setTimeoutMs(settings.timeoutMs);
    // Dozens of requests: each ends on its whole reply, not after the full window.
    settings.endOnCompleteReply = true;
    m_job = new GatewayJob(*m_client, runner, this);
    connect(m_job, &GatewayJob::progress, this, &GatewayProfileDialog::step);
    connect(m_job, &GatewayJob::finished, this, &GatewayProfileDialog::jobEnded);
    setRunning(true);
    m_stepText->setText(what);
    m_bar->setRange(0, 0);
    m_job->start();
}

void GatewayProfileDialog::jobEnded(bool ok, const QString &error)
{
    const bool cancelled = m_job->errorKind() == GatewayError::Cancelled;
    const GatewayLink now = m_client->linkSettings();
    const int unitNow = now.unit;
    m_job->deleteLater();
    m_client->deleteLater();
    m_job = nullptr;
    m_client = nullptr;

    // The client set the unit and time-out the fields hold; only the ending
    // of the windows was the job's own.
    m_session.exchange().settings().endOnCompleteReply = m_found.endOnCompleteReply;
    if (unitNow != m_found.unit)
        followUnit(unitNow);
    if (!now.tcp && (now.baud != m_linkBefore.baud || now.parity != m_linkBefore.parity)) {
        // The port already runs at the new line: the fields show it.
        LinkFields::find(parentWidget()).show(now);
        logLine(QStringLiteral("the gateway answers at %1 %2 now; the port's fields follow")
                    .arg(now.baud)
                    .arg(now.parity));
    }
    if (!cancelled) {
        finishJob(ok, false, error);
        return;
    }
    // The request that was cut short may still be answered: its reply must
    // not be taken for the answer to the next request on this link.  One
    // time-out later the buffers are emptied and the dialog is free again.
    m_settling = true;
    m_cancel->setEnabled(false);
    m_stepText->setText(m_jobName + QStringLiteral(": cancelling"));
    QTimer::singleShot(m_found.timeoutMs, this, [this] {
        m_session.clearBuffers();
        m_session.purge();
        m_settling = false;
        finishJob(false, true, QString());
    });
}

void GatewayProfileDialog::finishJob(bool ok, bool cancelled, const QString &error)
{
    m_bar->setRange(0, 1);
    m_bar->setValue(ok ? 1 : 0);
    if (cancelled) {
        m_stepText->setText(m_jobName + QStringLiteral(": cancelled"));
        logLine(m_jobName + QStringLiteral(" cancelled"));
    } else if (!ok) {
        m_stepText->setText(m_jobName + QStringLiteral(": ") + error);
        logLine(QStringLiteral("%1 stopped: %2").arg(m_jobName, error));
    }
    const Done done = std::move(m_done);
    m_done = nullptr;
    if (done)
        done(ok);
    setRunning(false);
}

void GatewayProfileDialog::followUnit(int unit)
{
    m_session.exchange().settings().unit = static_cast<uint8_t>(unit);
    // The field that holds the request settings' unit, found by its name as
    // the settings file finds it.
    if (QWidget *top = parentWidget())
        if (auto *field = top->findChild<QSpinBox *>(QStringLiteral("UDmodbusAddress")))
            field->setValue(unit);
    logLine(QStringLiteral("the gateway answers at unit %1 now; the unit address field follows").arg(unit));
}

void GatewayProfileDialog::ReadClick()
{
    auto read = std::make_shared<GatewayProfile>();
    runJob(
        QStringLiteral("read"),
        [read](GatewayClient &c, GatewayJob &job) {
            *read = readGatewayProfile(
                c, [&job](int d, int t, const QString &w) { job.reportProgress(d, t, w); });
        },
        [this, read](bool ok) {
            if (!ok)
                return;
            m_profile = *read;
            const QString text = QStringLiteral("read from unit %1, %2 slots programmed")
                                     .arg(read->unit)
                                     .arg(usedSlots(*read).size());
            logLine(text);
            m_stepText->setText(QStringLiteral("read: done"));
            showProfile(QStringLiteral("Profile ") + text);
        });
}

void GatewayProfileDialog::CompareClick()
{
    if (!m_profile)
        return;
    auto device = std::make_shared<GatewayProfile>();
    runJob(
        QStringLiteral("compare"),
        [device](GatewayClient &c, GatewayJob &job) {
            *device = readGatewayProfile(
                c, [&job](int d, int t, const QString &w) { job.reportProgress(d, t, w); });
        },
        [this, device, network = m_network->isChecked(), unit = m_unit->isChecked(),
         line = m_line->isChecked()](bool ok) {
            if (!ok)
                return;
            const ProfileComparison c = compareProfiles(*device, *m_profile, network, unit, line);
            logLine(c.heading());
            m_stepText->setText(QStringLiteral("compare: done"));
            showComparison(*device, c);
        });
}

void GatewayProfileDialog::ApplyClick()
{
    if (!m_profile)
        return;
    const bool network = m_network->isChecked(), unit = m_unit->isChecked(), line = m_line->isChecked();
    auto result = std::make_shared<ProfileApplyResult>();
    // Asked once the gateway was read, so the question counts the writes.
    const ProfileConfirm confirm = [this](const ProfileWritePlan &plan) {
        if (plan.writes.isEmpty())
            return true;
        return dialogs().askYesNo(this, DialogIcon::Warning, Caption, applyQuestion(plan));
    };
    runJob(
        QStringLiteral("apply"),
        [result, file = *m_profile, network, unit, line, confirm](GatewayClient &c, GatewayJob &job) {
            job.reportProgress(0, 0, QStringLiteral("reading the gateway"));
            *result = applyGatewayProfile(
                c, file, network, unit, line,
                [&job](int d, int, const QString &w) {
                    job.reportProgress(d, 0, QStringLiteral("writing ") + w);
                },
                confirm);
        },
        [this, result, network, unit, line](bool ok) {
            if (!ok)
                return;
            const ProfileComparison c = compareProfiles(result->device, *m_profile, network, unit, line);
            if (result->declined) {
                logLine(QStringLiteral("apply not confirmed: nothing written; %1").arg(c.heading()));
                m_stepText->setText(QStringLiteral("apply: nothing written"));
            } else {
                logLine(QStringLiteral("%1 change(s) written; read back: %2")
                            .arg(result->writes)
                            .arg(c.heading()));
                m_stepText->setText(QStringLiteral("apply: done"));
            }
            showComparison(result->device, c);
            emit gatewayReadBack(result->device);
        });
}

QString GatewayProfileDialog::applyQuestion(const ProfileWritePlan &plan)
{
    QString text = QStringLiteral("Apply the profile to the gateway: %1 write%2 (%3).")
                       .arg(plan.writes.size())
                       .arg(plan.writes.size() == 1 ? "" : "s")
                       .arg(plan.writes.join(QStringLiteral(", ")));
    const bool both = plan.unitChanges && plan.lineChanges;
    if (plan.unitChanges || plan.lineChanges)
        text += QStringLiteral("\n\nThe %1 %2, written last; the window follows %3 to keep talking to the "
                               "gateway.")
                    .arg(both               ? QStringLiteral("unit address and the RTU line")
                         : plan.unitChanges ? QStringLiteral("unit address")
                                            : QStringLiteral("RTU line"),
                         both ? QStringLiteral("change") : QStringLiteral("changes"),
                         both ? QStringLiteral("them") : QStringLiteral("it"));
    else
        text += QStringLiteral("\n\nThe unit address and the RTU line stay as they are.");
    return text + QStringLiteral("\n\nWrite to the gateway now?");
}

void GatewayProfileDialog::ReportClick()
{
    if (running())
        return;
    const QString path = dialogs().saveFileName(
        this, {QStringLiteral("Write commissioning report"), m_lastFolder, QStringLiteral("report.pdf"),
               QStringLiteral("PDF files (*.pdf);;HTML files (*.html)"), QStringLiteral("pdf")});
    if (path.isEmpty())
        return;
    m_lastFolder = QFileInfo(path).absolutePath();
    // The gateway as the site window and qvxctl report check one: its
    // settings, meter table, one reading of each programmed slot, the open
    // profile's verdict and the CRC errors on the way.
    auto check = std::make_shared<GatewayCheck>();
    check->gateway.link = LinkFields::find(parentWidget()).current(m_session);
    check->gateway.linkArgs = SiteLinkArgs(check->gateway.link);
    CheckOptions options;
    options.profile = m_profile;
    if (m_profile)
        options.profileName = QStringLiteral("open in this window");
    runJob(
        QStringLiteral("report"),
        [check, options](GatewayClient &c, GatewayJob &job) {
            CheckGateway(c, options, *check,
                         [&job](int d, int t, const QString &w) { job.reportProgress(d, t, w); });
        },
        [this, check, path](bool ok) {
            if (!ok) {
                // Cut short (a cancel): no report of half a check.
                logLine(QStringLiteral("report not written"));
                return;
            }
            const SiteReport report = SiteDialog::reportOf({*check}, check->gateway.shownName(), {}, {});
            if (!SiteDialog::writeReportFile(m_session, report, path))
                return;
            logLine(QStringLiteral("report written to %1").arg(path));
            m_stepText->setText(QStringLiteral("report: done"));
        });
}

void GatewayProfileDialog::CancelClick()
{
    if (m_job)
        m_job->cancel();
}

void GatewayProfileDialog::OpenClick()
{
    guard(
        [this] {
            const QString path =
                dialogs().openFileName(this, {QStringLiteral("Open gateway profile"), m_lastFolder, QString(),
                                              Filter, QStringLiteral("json")});
            if (path.isEmpty())
                return;
            m_lastFolder = QFileInfo(path).absolutePath();
            QFile f(path);
            QString error;
            QByteArray bytes;
            if (!f.open(QIODevice::ReadOnly))
                error = f.errorString();
            else
                bytes = f.readAll();
            ProfileParse parsed;
            if (error.isEmpty()) {
                parsed = parseProfile(bytes);
                error = parsed.error;
            }
            if (!parsed.profile) {
                logLine(QStringLiteral("can not open %1: %2").arg(path, error));
                dialogs().message(this, DialogIcon::Error, Caption,
                                  QStringLiteral("Can not open %1: %2").arg(path, error));
                return;
            }
            m_profile = parsed.profile;
            reportFileDone(m_session, FileAction::Read, bytes.count('\n'), path);
            logLine(QStringLiteral("opened %1").arg(path));
            showProfile(QStringLiteral("Profile from %1").arg(QFileInfo(path).fileName()));
            setRunning(false);
        },
        this);
}

void GatewayProfileDialog::SaveClick()
{
    if (!m_profile)
        return;
    guard(
        [this] {
            const QString path = dialogs().saveFileName(this, {QStringLiteral("Save gateway profile"),
                                                               m_lastFolder, QStringLiteral("profile.json"),
                                                               Filter, QStringLiteral("json")});
            if (path.isEmpty())
                return;
            m_lastFolder = QFileInfo(path).absolutePath();
            const QByteArray bytes = profileToJson(*m_profile);
            QSaveFile file(path);
            // flush() before commit(): a disk that fills while the buffer is
            // written must not leave a cut-off profile over the old one.
            const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                                 file.flush() && file.commit();
            if (!written) {
                logLine(QStringLiteral("can not save %1: %2").arg(path, file.errorString()));
                reportFileFailure(m_session, path, false, file.errorString());
                return;
            }
            logLine(QStringLiteral("saved %1").arg(path));
            reportFileDone(m_session, FileAction::Saved, bytes.count('\n'), path);
        },
        this);
}

void GatewayProfileDialog::LoadMetersClick()
{
    if (!m_profile)
        return;
    const GatewayProfile &p = *m_profile;
    const bool sixteen = flagSet(p.info.flags, IdDigitsBit);
    // The tab writes in the profile's formats when the operator writes a slot.
    m_meters.check16digit()->setChecked(sixteen);
    m_meters.checkLongObis()->setChecked(flagSet(p.info.flags, LongObisBit));
    for (int s = 1; s <= (sixteen ? 30 : 32); ++s) {
        QStringList codes;
        for (int r = 1; r <= ObisListRows; ++r)
            codes << p.table.code(s, r);
        m_meters.fillSlot(s, p.table.id(s), codes);
    }
    const QVector<int> used = usedSlots(p);
    if (!used.isEmpty())
        m_meters.udMeterNumber()->setValue(used.first()); // shows it
    logLine(QStringLiteral("meter table loaded into the meter tab, %1 slots programmed (nothing written)")
                .arg(used.size()));
}

void GatewayProfileDialog::showProfile(const QString &heading)
{
    m_heading->setText(heading);
    m_tree->clear();
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({QStringLiteral("Item"), QStringLiteral("Value")});
    const GatewayProfile &p = *m_profile;
    auto *settings = new QTreeWidgetItem(m_tree, {QStringLiteral("Settings")});
    for (const ProfileSetting &s : profileSettings(p))
        row(settings, {s.caption, s.value});
    settings->setExpanded(true);
    auto *meters = new QTreeWidgetItem(m_tree, {QStringLiteral("Meter table")});
    for (int s : usedSlots(p)) {
        auto *slot = row(meters, {QStringLiteral("Slot %1").arg(s), p.table.id(s)});
        row(slot, {QStringLiteral("ID"), p.table.id(s)});
        for (int r = 1; r <= lastProgrammedRow(p.table, s); ++r)
            row(slot, {QStringLiteral("Row %1").arg(r), p.table.code(s, r)});
    }
    meters->setExpanded(true);
    fitColumns(m_tree);
}

void GatewayProfileDialog::showComparison(const GatewayProfile &device, const ProfileComparison &c)
{
    const GatewayProfile file = normalizedProfile(*m_profile);
    constexpr int Columns = 4;
    m_heading->setText(c.heading());
    m_tree->clear();
    m_tree->setColumnCount(Columns);
    m_tree->setHeaderLabels({QStringLiteral("Item"), QStringLiteral("Gateway"), QStringLiteral("Profile"),
                             QStringLiteral("Differs")});
    auto *settings = new QTreeWidgetItem(m_tree, {QStringLiteral("Settings")});
    const QVector<ProfileSetting> ds = profileSettings(device), fs = profileSettings(file);
    for (qsizetype i = 0; i < ds.size(); ++i) {
        QTreeWidgetItem *item = row(settings, {ds[i].caption, ds[i].value, fs[i].value});
        if (c.settings.contains(ds[i].key))
            mark(item, Columns);
    }
    auto *meters = new QTreeWidgetItem(m_tree, {QStringLiteral("Meter table")});
    // The slots the profile holds: the others are neither compared nor written.
    const QVector<int> held = profileSlots(file);
    QVector<int> slotNums;
    for (int s : usedSlots(device))
        if (held.contains(s))
            slotNums << s;
    for (int s : usedSlots(file))
        if (!slotNums.contains(s))
            slotNums << s;
    std::sort(slotNums.begin(), slotNums.end());
    for (int s : slotNums) {
        auto *slot = row(meters, {QStringLiteral("Slot %1").arg(s), device.table.id(s), file.table.id(s)});
        QTreeWidgetItem *id = row(slot, {QStringLiteral("ID"), device.table.id(s), file.table.id(s)});
        if (c.rows.contains({s, 0}))
            mark(id, Columns);
        int last = qMax(lastProgrammedRow(device.table, s), lastProgrammedRow(file.table, s));
        for (const QPair<int, int> &differing : c.rows)
            if (differing.first == s)
                last = qMax(last, differing.second);
        for (int r = 1; r <= last; ++r) {
            QTreeWidgetItem *item =
                row(slot, {QStringLiteral("Row %1").arg(r), device.table.code(s, r), file.table.code(s, r)});
            if (c.rows.contains({s, r}))
                mark(item, Columns);
        }
    }
    settings->setExpanded(true);
    meters->setExpanded(true);
    fitColumns(m_tree);
}

} // namespace qvx
