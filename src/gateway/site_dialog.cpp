#include "gateway/site_dialog.h"

#include "gateway/find_device_dialog.h"
#include "gateway/link_fields.h"
#include "transport/session.h"
#include "widgets/dialogs.h"
#include "widgets/file_feedback.h"
#include "widgets/guard.h"
#include "widgets/named_button.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace qvx {
namespace {

const QString Caption = QStringLiteral("Site");
const QString SiteFilter = QStringLiteral("Site files (*.txt *.site)");

enum Column { Name, Link, Unit, State, Firmware, Programmed, Delivering, Profile, Checked, Step, Columns };

QLabel *labelFor(const QString &text, QWidget *field, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setBuddy(field);
    field->setAccessibleName(text);
    return l;
}

SiteDialog::Row rowOf(const SiteGateway &gateway)
{
    SiteDialog::Row row;
    row.gateway = gateway;
    row.check.gateway = gateway;
    return row;
}

QString linkText(const GatewayLink &link)
{
    return link.tcp ? QStringLiteral("%1:%2").arg(link.host).arg(link.port)
                    : QStringLiteral("%1 %2 %3").arg(link.serialPort).arg(link.baud).arg(link.parity);
}

} // namespace

// One task on its way: a thread with a client of its own (TCP), or a job on
// the window's session (serial).  cancel() reaches either.
struct SiteDialog::Running {
    Task task;
    QThread *thread = nullptr;
    QMutex mutex;
    GatewayClient *threadClient = nullptr; // lives on the thread, under mutex
    bool cancelRequested = false;
    GatewayClient *client = nullptr; // serial: on the window's session
    GatewayJob *job = nullptr;
    RequestSettings settingsBefore;
    GatewayLink lineBefore;
    bool openedPort = false;

    void cancel()
    {
        if (job) {
            job->cancel();
            return;
        }
        QMutexLocker lock(&mutex);
        cancelRequested = true;
        if (threadClient)
            QMetaObject::invokeMethod(threadClient, [c = threadClient] { c->cancel(); }, Qt::QueuedConnection);
    }
};

SiteDialog::SiteDialog(Session &session, QWidget *window)
    : QWidget(window, Qt::Window), m_session(session), m_window(window)
{
    setObjectName(QStringLiteral("SiteDialog"));
    setWindowTitle(Caption);

    m_open = namedButton("Butt_siteOpen", QStringLiteral("Open site..."), this);
    m_save = namedButton("Butt_siteSave", QStringLiteral("Save site..."), this);
    m_add = namedButton("Butt_siteAdd", QStringLiteral("Add..."), this);
    m_scan = namedButton("Butt_siteScan", QStringLiteral("Add from scan..."), this);
    m_checkAll = namedButton("Butt_siteCheckAll", QStringLiteral("Check all"), this);
    m_checkSelected = namedButton("Butt_siteCheckSelected", QStringLiteral("Check selected"), this);
    m_apply = namedButton("Butt_siteApply", QStringLiteral("Apply profile to selected"), this);
    m_use = namedButton("Butt_siteUse", QStringLiteral("Use"), this);
    m_report = namedButton("Butt_siteReport", QStringLiteral("Report..."), this);
    m_cancel = namedButton("Butt_siteCancel", QStringLiteral("Cancel"), this);
    // Each says what it waits for while it is disabled.
    m_save->setToolTip(QStringLiteral("Saves the site's gateways, comments kept (once the site has one)"));
    m_checkAll->setToolTip(QStringLiteral("Reads every gateway of the site (once it has one)"));
    m_checkSelected->setToolTip(QStringLiteral("Reads the selected gateways (once one is selected)"));
    m_use->setToolTip(QStringLiteral("Puts the selected gateway's link and unit into the window's fields "
                                     "(once one is selected)"));
    m_apply->setToolTip(QStringLiteral("Writes what differs from each selected gateway's profile, after one "
                                       "question, and reads it back (once one is selected)"));
    m_report->setToolTip(QStringLiteral("Writes the commissioning report as PDF or HTML (once the site has a "
                                        "gateway)"));
    m_cancel->setToolTip(QStringLiteral("Ends the requests in flight (while a check or apply runs)"));

    m_technician = new QLineEdit(this);
    m_technician->setObjectName(QStringLiteral("Edit_siteTechnician"));
    m_customer = new QLineEdit(this);
    m_customer->setObjectName(QStringLiteral("Edit_siteCustomer"));

    m_table = new QTableWidget(0, Columns, this);
    m_table->setObjectName(QStringLiteral("Grid_site"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Name"), QStringLiteral("Link"), QStringLiteral("Unit"), QStringLiteral("State"),
         QStringLiteral("Firmware"), QStringLiteral("Meters programmed"),
         QStringLiteral("Meters delivering values"), QStringLiteral("Profile"), QStringLiteral("Last checked"),
         QStringLiteral("Progress")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->setVisible(false);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("Progress_site"));
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    m_status = new QLabel(QStringLiteral("No site opened yet"), this);
    m_status->setObjectName(QStringLiteral("Label_siteStatus"));
    m_status->setWordWrap(true);

    auto *files = new QHBoxLayout;
    for (QPushButton *b : {m_open, m_save, m_add, m_scan})
        files->addWidget(b);
    files->addStretch(1);
    auto *work = new QHBoxLayout;
    for (QPushButton *b : {m_checkAll, m_checkSelected, m_apply, m_use})
        work->addWidget(b);
    work->addStretch(1);
    auto *report = new QHBoxLayout;
    report->addWidget(labelFor(QStringLiteral("Technician"), m_technician, this));
    report->addWidget(m_technician, 1);
    report->addWidget(labelFor(QStringLiteral("Customer"), m_customer, this));
    report->addWidget(m_customer, 1);
    report->addWidget(m_report);
    auto *progress = new QHBoxLayout;
    progress->addWidget(labelFor(QStringLiteral("Progress"), m_bar, this));
    progress->addWidget(m_bar, 1);
    progress->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(files);
    layout->addLayout(work);
    layout->addWidget(labelFor(QStringLiteral("Gateways"), m_table, this));
    layout->addWidget(m_table, 1);
    layout->addLayout(report);
    layout->addLayout(progress);
    layout->addWidget(m_status);

    connect(m_open, &QPushButton::clicked, this, &SiteDialog::OpenClick);
    connect(m_save, &QPushButton::clicked, this, &SiteDialog::SaveClick);
    connect(m_add, &QPushButton::clicked, this, &SiteDialog::AddClick);
    connect(m_scan, &QPushButton::clicked, this, &SiteDialog::AddFromScanClick);
    connect(m_checkAll, &QPushButton::clicked, this, &SiteDialog::CheckAllClick);
    connect(m_checkSelected, &QPushButton::clicked, this, &SiteDialog::CheckSelectedClick);
    connect(m_apply, &QPushButton::clicked, this, &SiteDialog::ApplyClick);
    connect(m_use, &QPushButton::clicked, this, &SiteDialog::UseClick);
    connect(m_report, &QPushButton::clicked, this, &SiteDialog::ReportClick);
    connect(m_cancel, &QPushButton::clicked, this, &SiteDialog::CancelClick);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] { setRunning(running()); });

    setRunning(false);
    resize(1000, 560);
}

SiteDialog::~SiteDialog()
{
    m_queue.clear();
    for (const auto &r : std::as_const(m_running)) {
        r->cancel();
        if (r->thread) {
            r->thread->wait();
            delete r->thread;
        }
    }
}

void SiteDialog::closeEvent(QCloseEvent *event)
{
    // Closing is a cancel: nothing keeps talking to the gateways unseen.
    CancelClick();
    QWidget::closeEvent(event);
}

void SiteDialog::logLine(const QString &text)
{
    m_session.log(QStringLiteral("Site: ") + text);
}

void SiteDialog::setRunning(bool busy)
{
    const bool any = !m_rows.isEmpty();
    const bool selected = !selectedRows().isEmpty();
    for (QPushButton *b : {m_open, m_add, m_scan})
        b->setEnabled(!busy);
    m_save->setEnabled(!busy && any);
    m_checkAll->setEnabled(!busy && any);
    m_checkSelected->setEnabled(!busy && selected);
    m_apply->setEnabled(!busy && selected);
    m_use->setEnabled(!busy && selected);
    m_report->setEnabled(!busy && any);
    m_cancel->setEnabled(busy && !m_settling);
}

QVector<int> SiteDialog::selectedRows() const
{
    QVector<int> out;
    for (const QModelIndex &i : m_table->selectionModel()->selectedRows())
        out << i.row();
    std::sort(out.begin(), out.end());
    return out;
}

// --- the site file ------------------------------------------------------------------

void SiteDialog::OpenClick()
{
    if (running())
        return;
    guard(
        [this] {
            const QString path = dialogs().openFileName(
                this, {QStringLiteral("Open site"), m_lastFolder, QString(), SiteFilter, QStringLiteral("txt")});
            if (!path.isEmpty())
                openSite(path);
        },
        this);
}

bool SiteDialog::openSite(const QString &path)
{
    m_lastFolder = QFileInfo(path).absolutePath();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        logLine(QStringLiteral("can not open %1: %2").arg(path, f.errorString()));
        dialogs().message(this, DialogIcon::Error, Caption,
                          QStringLiteral("Can not open %1: %2").arg(path, f.errorString()));
        return false;
    }
    const QByteArray bytes = f.readAll();
    // The file means what it means to qvxctl --targets: the links start from
    // the same defaults, not from the window's fields.
    SiteFile parsed = ParseSiteFile(bytes);
    if (!parsed.ok()) {
        // Nothing of a file with a bad line is taken: the site stays as it was.
        logLine(QStringLiteral("%1 refused: %2").arg(path, parsed.errors.join(QStringLiteral("; "))));
        dialogs().message(this, DialogIcon::Error, Caption,
                          QStringLiteral("The site file %1 is refused, nothing was sent:\n\n%2")
                              .arg(path, parsed.errors.join(QLatin1Char('\n'))));
        return false;
    }
    m_path = path;
    m_site = parsed;
    m_rows.clear();
    for (const SiteGateway &g : std::as_const(m_site.gateways))
        m_rows.append(rowOf(g));
    m_table->setRowCount(0);
    m_table->setRowCount(int(m_rows.size()));
    for (int r = 0; r < m_rows.size(); ++r)
        showRow(r);
    fitColumns();
    setWindowTitle(QStringLiteral("%1 - %2").arg(Caption, QFileInfo(path).fileName()));
    m_status->setText(QStringLiteral("%1 gateways in %2").arg(m_rows.size()).arg(QFileInfo(path).fileName()));
    reportFileDone(m_session, FileAction::Read, bytes.count('\n'), path);
    logLine(QStringLiteral("opened %1, %2 gateways").arg(path).arg(m_rows.size()));
    setRunning(false);
    return true;
}

void SiteDialog::SaveClick()
{
    if (running() || m_rows.isEmpty())
        return;
    guard(
        [this] {
            const QString path =
                dialogs().saveFileName(this, {QStringLiteral("Save site"), m_lastFolder,
                                              m_path.isEmpty() ? QStringLiteral("site.txt")
                                                               : QFileInfo(m_path).fileName(),
                                              SiteFilter, QStringLiteral("txt")});
            if (path.isEmpty())
                return;
            m_lastFolder = QFileInfo(path).absolutePath();
            m_site.gateways.clear();
            for (const Row &r : std::as_const(m_rows))
                m_site.gateways.append(r.gateway);
            const QByteArray bytes = SiteFileBytes(m_site);
            QSaveFile file(path);
            const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                                 file.flush() && file.commit();
            if (!written) {
                logLine(QStringLiteral("can not save %1: %2").arg(path, file.errorString()));
                reportFileFailure(m_session, path, false, file.errorString());
                return;
            }
            m_path = path;
            logLine(QStringLiteral("saved %1, %2 gateways").arg(path).arg(m_rows.size()));
            reportFileDone(m_session, FileAction::Saved, bytes.count('\n'), path);
        },
        this);
}

void SiteDialog::addGateway(const SiteGateway &gateway)
{
    for (const Row &r : std::as_const(m_rows))
        if (gatewayKey(r.gateway.link) == gatewayKey(gateway.link)) {
            logLine(QStringLiteral("%1 is already in the site (%2)")
                        .arg(gateway.link.describe(), r.gateway.shownName()));
            return;
        }
    // A new line of the file: written when the site is saved.
    SiteGateway g = gateway;
    g.line = 0;
    if (g.linkArgs.isEmpty())
        g.linkArgs = SiteLinkArgs(g.link);
    m_rows.append(rowOf(g));
    m_table->setRowCount(int(m_rows.size()));
    showRow(int(m_rows.size()) - 1);
    logLine(QStringLiteral("added %1 (%2)").arg(g.shownName(), g.link.describe()));
    setRunning(running());
}

void SiteDialog::AddClick()
{
    if (!m_addDialog) {
        m_addDialog = new SiteAddDialog(LinkFields::find(m_window).current(m_session), this);
        connect(m_addDialog, &SiteAddDialog::added, this, &SiteDialog::addGateway);
    }
    m_addDialog->show();
    m_addDialog->raise();
    m_addDialog->activateWindow();
}

void SiteDialog::AddFromScanClick()
{
    // The window's own "Find device..." sweeps the line with "Find all"; the
    // gateways it finds join the site when it ends.
    auto *find = m_window->findChild<FindDeviceDialog *>();
    if (!find)
        return;
    if (auto *all = find->findChild<QCheckBox *>(QStringLiteral("Check_findAll")))
        all->setChecked(true);
    if (!m_scanPending) {
        m_scanPending = true;
        connect(find, &FindDeviceDialog::runFinished, this, &SiteDialog::takeScanHits, Qt::SingleShotConnection);
    }
    find->show();
    find->raise();
    logLine(QStringLiteral("the gateways \"Find device\" finds (\"Find all\") are added to the site"));
}

void SiteDialog::takeScanHits()
{
    m_scanPending = false;
    auto *find = m_window->findChild<FindDeviceDialog *>();
    if (!find)
        return;
    const GatewayLink base = LinkFields::find(m_window).current(m_session);
    for (const ScanHit &h : find->hits()) {
        SiteGateway g;
        g.link = base;
        if (!g.link.tcp) {
            g.link.baud = h.baud;
            g.link.parity = h.parity;
        }
        g.link.unit = h.unit;
        addGateway(g);
    }
}

// --- the work -----------------------------------------------------------------------

void SiteDialog::CheckAllClick()
{
    QVector<int> all;
    for (int r = 0; r < m_rows.size(); ++r)
        all << r;
    startBatch(Work::Check, all);
}

void SiteDialog::CheckSelectedClick()
{
    startBatch(Work::Check, selectedRows());
}

void SiteDialog::startBatch(Work work, const QVector<int> &rows, std::function<void()> done)
{
    if (running() || rows.isEmpty())
        return;
    m_cancelled = false;
    m_batchDone = std::move(done);
    m_batchName = work == Work::Check ? QStringLiteral("check") : QStringLiteral("apply");
    m_batchTotal = int(rows.size());
    m_batchDone_ = 0;
    for (int r : rows) {
        m_queue.append({r, work});
        rowStep(r, QStringLiteral("waiting"));
    }
    logLine(QStringLiteral("%1 of %2 gateway(s) started").arg(m_batchName).arg(rows.size()));
    setRunning(true);
    showOverall();
    pump();
}

void SiteDialog::pump()
{
    // TCP gateways a few at once; the serial line carries one request at a time.
    int tcp = 0;
    bool serial = false;
    for (const auto &r : std::as_const(m_running)) {
        if (m_rows.at(r->task.row).gateway.link.tcp)
            ++tcp;
        else
            serial = true;
    }
    for (qsizetype i = 0; i < m_queue.size();) {
        const Task t = m_queue.at(i);
        const bool isTcp = m_rows.at(t.row).gateway.link.tcp;
        if (isTcp && tcp < ParallelTcp) {
            m_queue.removeAt(i);
            ++tcp;
            startTcp(t);
        } else if (!isTcp && !serial) {
            m_queue.removeAt(i);
            serial = true;
            startSerial(t);
        } else {
            ++i;
        }
    }
    if (m_running.isEmpty() && m_queue.isEmpty() && !m_settling) {
        const QString text = m_cancelled ? QStringLiteral("%1 cancelled after %2 of %3 gateway(s)")
                                               .arg(m_batchName)
                                               .arg(m_batchDone_)
                                               .arg(m_batchTotal)
                                         : QStringLiteral("%1 of %2 gateway(s) done")
                                               .arg(m_batchName)
                                               .arg(m_batchTotal);
        logLine(text);
        m_status->setText(text);
        fitColumns();
        setRunning(false);
        const auto done = std::move(m_batchDone);
        m_batchDone = nullptr;
        if (done && !m_cancelled)
            done();
        emit batchFinished();
    }
}

GatewayJob::Runner SiteDialog::runnerFor(const Task &task, const std::shared_ptr<Outcome> &outcome)
{
    const Row &row = m_rows.at(task.row);
    QString profileError;
    const std::optional<GatewayProfile> profile = profileFor(task.row, &profileError);
    if (!profileError.isEmpty())
        logLine(QStringLiteral("%1: %2; checked without it").arg(row.gateway.shownName(), profileError));
    switch (task.work) {
    case Work::Check: {
        CheckOptions options;
        options.profile = profile;
        options.profileName = profile ? row.gateway.profile : QString();
        outcome->check = row.check;
        outcome->check->gateway = row.gateway;
        return [options, outcome](GatewayClient &c, GatewayJob &job) {
            CheckGateway(c, options, *outcome->check,
                         [&job](int d, int t, const QString &w) { job.reportProgress(d, t, w); });
        };
    }
    case Work::Plan:
        // Reads the gateway and says what an apply would write; writes nothing.
        return [profile, outcome](GatewayClient &c, GatewayJob &job) {
            if (!profile)
                return;
            job.reportProgress(0, 0, QStringLiteral("reading the gateway"));
            const ProfileApplyResult r =
                applyGatewayProfile(c, *profile, false, false, false, {}, [outcome](const ProfileWritePlan &p) {
                    outcome->plan = p;
                    return false;
                });
            if (!outcome->plan)
                outcome->plan = ProfileWritePlan{};
            (void)r;
        };
    case Work::Apply:
        return [profile, outcome](GatewayClient &c, GatewayJob &job) {
            if (!profile)
                return;
            job.reportProgress(0, 0, QStringLiteral("reading the gateway"));
            outcome->applied = applyGatewayProfile(
                c, *profile, false, false, false,
                [&job](int d, int, const QString &w) { job.reportProgress(d, 0, QStringLiteral("writing ") + w); },
                [](const ProfileWritePlan &) { return true; });
        };
    }
    return {};
}

void SiteDialog::startTcp(const Task &task)
{
    auto running = std::make_shared<Running>();
    running->task = task;
    m_running.append(running);
    auto outcome = std::make_shared<Outcome>();
    const GatewayJob::Runner runner = runnerFor(task, outcome);
    GatewayLink link = m_rows.at(task.row).gateway.link;
    link.timeoutMs = qMax(100, m_session.exchange().settings().timeoutMs);
    rowStep(task.row, QStringLiteral("connecting to %1").arg(linkText(link)));
    QPointer<SiteDialog> self(this);
    Running *r = running.get();
    // The thread's client, its session and its socket live and die on the
    // thread; only the outcome and the steps cross back, queued.
    running->thread = QThread::create([self, r, link, runner, outcome, row = task.row] {
        GatewayClient client;
        {
            QMutexLocker lock(&r->mutex);
            r->threadClient = &client;
            if (r->cancelRequested)
                client.cancel();
        }
        try {
            if (client.cancelled())
                throw GatewayError(GatewayError::Cancelled, QStringLiteral("cancelled"));
            client.open(link);
            GatewayJob job(client, runner);
            QEventLoop loop;
            QObject::connect(&job, &GatewayJob::progress, &job, [self, row](int, int, const QString &w) {
                QMetaObject::invokeMethod(
                    self.data(),
                    [self, row, w] {
                        if (self)
                            self->rowStep(row, w);
                    },
                    Qt::QueuedConnection);
            });
            QObject::connect(&job, &GatewayJob::finished, &loop, &QEventLoop::quit);
            job.start();
            loop.exec();
            outcome->ok = job.ok();
            outcome->cancelled = job.errorKind() == GatewayError::Cancelled;
            outcome->error = job.error();
            outcome->errorKind = job.errorKind().value_or(GatewayError::NoAnswer);
        } catch (const GatewayError &e) {
            outcome->ok = false;
            outcome->cancelled = e.kind() == GatewayError::Cancelled;
            outcome->error = e.message();
            outcome->errorKind = e.kind();
        }
        {
            QMutexLocker lock(&r->mutex);
            r->threadClient = nullptr;
        }
        client.close();
    });
    connect(running->thread, &QThread::finished, this, [this, running, outcome] {
        running->thread->deleteLater();
        running->thread = nullptr;
        m_running.removeOne(running);
        taskEnded(running->task, *outcome);
    });
    running->thread->start();
}

void SiteDialog::startSerial(const Task &task)
{
    auto running = std::make_shared<Running>();
    running->task = task;
    auto outcome = std::make_shared<Outcome>();
    const GatewayLink link = m_rows.at(task.row).gateway.link;
    auto fail = [&](const QString &why) {
        outcome->error = why;
        QTimer::singleShot(0, this, [this, task, outcome] { taskEnded(task, *outcome); });
        m_running.append(running);
        QTimer::singleShot(0, this, [this, running] { m_running.removeOne(running); });
    };
    // One reader at a time on the window's link.
    if (m_session.exchange().sequenceRunning()) {
        fail(QStringLiteral("a read or tool of the window uses the serial port"));
        return;
    }
    if (m_session.TransportMode == TransportModeKind::Tcp) {
        fail(QStringLiteral("the window is connected over TCP; a serial gateway needs its serial port"));
        return;
    }
    const LinkFields fields = LinkFields::find(m_window);
    const GatewayLink window = fields.current(m_session);
    if (m_session.SerialPortOpen && window.serialPort != link.serialPort) {
        fail(QStringLiteral("the window's serial port is %1, not %2").arg(window.serialPort, link.serialPort));
        return;
    }
    running->settingsBefore = m_session.exchange().settings();
    running->lineBefore = window;
    running->client = new GatewayClient(m_session, this);
    try {
        GatewayLink use = link;
        use.timeoutMs = qMax(100, running->settingsBefore.timeoutMs);
        if (!m_session.SerialPortOpen) {
            // The closed port is opened for this gateway only.
            running->client->open(use);
            running->openedPort = true;
        } else {
            running->client->adoptLink(window);
            if (link.baud != window.baud || link.parity != window.parity)
                running->client->setSerialLine(link.baud, link.parity);
            running->client->setUnit(link.unit);
            running->client->setTimeoutMs(use.timeoutMs);
        }
        m_session.exchange().settings().endOnCompleteReply = true;
    } catch (const GatewayError &e) {
        delete running->client;
        running->client = nullptr;
        m_session.exchange().settings() = running->settingsBefore;
        fail(e.message());
        return;
    }
    m_running.append(running);
    rowStep(task.row, QStringLiteral("on %1").arg(linkText(link)));
    running->job = new GatewayJob(*running->client, runnerFor(task, outcome), this);
    connect(running->job, &GatewayJob::progress, this,
            [this, row = task.row](int, int, const QString &w) { rowStep(row, w); });
    // The job holds the link until its finished() has returned: the next
    // gateway on the line starts from the event loop after that.
    connect(running->job, &GatewayJob::finished, this, [this, running, outcome] {
        QTimer::singleShot(0, this, [this, running, outcome] { serialEnded(running, outcome); });
    });
    running->job->start();
}

void SiteDialog::serialEnded(const std::shared_ptr<Running> &running, const std::shared_ptr<Outcome> &outcome)
{
    {
        GatewayJob *job = running->job;
        outcome->ok = job->ok();
        outcome->cancelled = job->errorKind() == GatewayError::Cancelled;
        outcome->error = job->error();
        outcome->errorKind = job->errorKind().value_or(GatewayError::NoAnswer);
        // The port as it was found: the line back, or closed again.
        try {
            if (running->openedPort)
                running->client->close();
            else if (m_session.SerialPortOpen)
                running->client->setSerialLine(running->lineBefore.baud, running->lineBefore.parity);
        } catch (const GatewayError &e) {
            logLine(QStringLiteral("the serial port could not be set back: %1").arg(e.message()));
        }
        m_session.exchange().settings() = running->settingsBefore;
        job->deleteLater();
        running->client->deleteLater();
        running->job = nullptr;
        running->client = nullptr;
        m_running.removeOne(running);
        if (outcome->cancelled) {
            // The request cut short may still be answered: its reply must
            // not be taken for the next one's on this line.
            m_settling = true;
            setRunning(true);
            QTimer::singleShot(running->settingsBefore.timeoutMs, this, [this, running, outcome] {
                m_session.clearBuffers();
                m_session.purge();
                m_settling = false;
                taskEnded(running->task, *outcome);
            });
            return;
        }
        taskEnded(running->task, *outcome);
    }
}

std::optional<GatewayProfile> SiteDialog::profileFor(int row, QString *error) const
{
    const SiteGateway &g = m_rows.at(row).gateway;
    if (g.profile.isEmpty())
        return std::nullopt;
    const QString path = SiteProfilePath(m_path, g.profile);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("profile %1: %2").arg(path, f.errorString());
        return std::nullopt;
    }
    const ProfileParse parsed = parseProfile(f.readAll());
    if (!parsed.profile)
        *error = QStringLiteral("profile %1: %2").arg(path, parsed.error);
    return parsed.profile;
}

void SiteDialog::taskEnded(const Task &task, const Outcome &outcome)
{
    Row &row = m_rows[task.row];
    ++m_batchDone_;
    if (outcome.cancelled) {
        row.step = QStringLiteral("cancelled");
        logLine(QStringLiteral("%1: cancelled").arg(row.gateway.shownName()));
    } else if (task.work == Work::Check) {
        if (outcome.ok && outcome.check) {
            row.check = *outcome.check;
        } else {
            // Ended before the check could run (the link did not open, the
            // window's port is busy): the gateway is that failure's state.
            GatewayCheck failed;
            failed.gateway = row.gateway;
            failed.state = gatewayStateOf(outcome.errorKind);
            failed.message = outcome.error;
            failed.checkedAt = QDateTime::currentDateTime();
            row.check = failed;
        }
        const bool answers = row.check.state == GatewayState::Answers;
        row.step = answers ? QStringLiteral("checked") : QStringLiteral("failed");
        logLine(QStringLiteral("%1: %2").arg(row.gateway.shownName(), GatewayCheckSummary(row.check)) +
                (answers ? QString() : QStringLiteral(": ") + row.check.message));
    } else if (task.work == Work::Plan) {
        if (outcome.plan && outcome.ok) {
            m_plans.insert(task.row, *outcome.plan);
            row.step = QStringLiteral("%1 write(s) to make").arg(outcome.plan->writes.size());
        } else {
            row.step = QStringLiteral("failed");
        }
        logLine(QStringLiteral("%1: %2").arg(
            row.gateway.shownName(),
            row.step + (outcome.ok ? QString() : QStringLiteral(": ") + outcome.error)));
    } else {
        if (outcome.ok && outcome.applied) {
            row.step = outcome.applied->differences.isEmpty()
                           ? QStringLiteral("%1 write(s), read back: matches").arg(outcome.applied->writes)
                           : QStringLiteral("%1 write(s), read back: %2 differences")
                                 .arg(outcome.applied->writes)
                                 .arg(outcome.applied->differences.size());
        } else {
            row.step = QStringLiteral("apply failed");
        }
        logLine(QStringLiteral("%1: %2").arg(
            row.gateway.shownName(),
            row.step + (outcome.ok ? QString() : QStringLiteral(": ") + outcome.error)));
    }
    showRow(task.row);
    showOverall();
    pump();
}

void SiteDialog::rowStep(int row, const QString &what)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row].step = what;
    if (auto *item = m_table->item(row, Step))
        item->setText(what);
    if (what != QLatin1String("waiting"))
        logLine(QStringLiteral("%1: %2").arg(m_rows.at(row).gateway.shownName(), what));
}

void SiteDialog::showOverall()
{
    m_bar->setRange(0, qMax(1, m_batchTotal));
    m_bar->setValue(m_batchDone_);
    m_status->setText(QStringLiteral("%1: %2 of %3 gateway(s) done").arg(m_batchName).arg(m_batchDone_).arg(m_batchTotal));
}

void SiteDialog::showRow(int r)
{
    const Row &row = m_rows.at(r);
    const GatewayLink &l = row.gateway.link;
    QStringList cells(Columns);
    cells[Name] = row.gateway.shownName();
    cells[Link] = linkText(l);
    cells[Unit] = QString::number(l.unit);
    cells[Step] = row.step;
    const GatewayCheck &check = row.check;
    cells[State] = gatewayStateText(check.state);
    if (check.state == GatewayState::NoAnswer || check.state == GatewayState::Error)
        cells[State] += QStringLiteral(": ") + check.message;
    if (check.checkedAt.isValid())
        cells[Checked] = check.checkedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (check.state == GatewayState::Answers) {
        cells[Firmware] = check.firmware;
        cells[Programmed] = QStringLiteral("%1 of %2").arg(check.programmed).arg(check.slotCount);
        cells[Delivering] = QStringLiteral("%1 of %2").arg(check.delivering).arg(check.programmed);
        cells[Profile] = check.profileText();
    }
    for (int c = 0; c < Columns; ++c) {
        auto *item = m_table->item(r, c);
        if (!item) {
            item = new QTableWidgetItem;
            m_table->setItem(r, c, item);
        }
        item->setText(cells.at(c));
        item->setToolTip(cells.at(c)); // the whole text where the column cuts it off
    }
}

void SiteDialog::fitColumns()
{
    // As wide as their texts, but a long firmware identification or error
    // does not push the verdicts out of sight.
    m_table->resizeColumnsToContents();
    for (int c = 0; c < Columns - 1; ++c)
        m_table->setColumnWidth(c, qMin(m_table->columnWidth(c), 200));
}

void SiteDialog::CancelClick()
{
    if (m_queue.isEmpty() && m_running.isEmpty())
        return;
    m_cancelled = true;
    for (const Task &t : std::as_const(m_queue)) {
        m_rows[t.row].step = QStringLiteral("cancelled");
        showRow(t.row);
    }
    m_queue.clear();
    for (const auto &r : std::as_const(m_running))
        r->cancel();
    logLine(m_batchName + QStringLiteral(" cancelled"));
}

// --- apply ----------------------------------------------------------------------------

void SiteDialog::ApplyClick()
{
    const QVector<int> rows = selectedRows();
    if (running() || rows.isEmpty())
        return;
    QVector<int> withProfile;
    for (int r : rows) {
        QString error;
        if (profileFor(r, &error)) {
            withProfile << r;
        } else {
            m_rows[r].step = error.isEmpty() ? QStringLiteral("no profile") : error;
            showRow(r);
            logLine(QStringLiteral("%1: %2; not applied")
                        .arg(m_rows.at(r).gateway.shownName(), m_rows.at(r).step));
        }
    }
    if (withProfile.isEmpty())
        return;
    // First what each would take, then one question for all of them.
    m_plans.clear();
    startBatch(Work::Plan, withProfile, [this, withProfile] { askAndApply(withProfile); });
}

void SiteDialog::askAndApply(const QVector<int> &rows)
{
    QStringList lines;
    QVector<int> toWrite;
    int writes = 0;
    for (int r : rows) {
        const auto plan = m_plans.constFind(r);
        if (plan == m_plans.cend() || plan->writes.isEmpty())
            continue;
        toWrite << r;
        writes += int(plan->writes.size());
        lines << QStringLiteral("%1 (%2): %3 write%4 (%5)")
                     .arg(m_rows.at(r).gateway.shownName(), m_rows.at(r).gateway.link.describe())
                     .arg(plan->writes.size())
                     .arg(plan->writes.size() == 1 ? "" : "s")
                     .arg(plan->writes.join(QStringLiteral(", ")));
    }
    if (toWrite.isEmpty()) {
        logLine(QStringLiteral("apply: every selected gateway is as its profile says; nothing written"));
        m_status->setText(QStringLiteral("apply: nothing to write"));
        return;
    }
    const QString question = QStringLiteral("Apply the profiles to %1 gateway%2, %3 write%4 in all:\n\n%5\n\n"
                                            "The unit addresses and RTU lines stay as they are.\n\n"
                                            "Write to the gateways now?")
                                 .arg(toWrite.size())
                                 .arg(toWrite.size() == 1 ? "" : "s")
                                 .arg(writes)
                                 .arg(writes == 1 ? "" : "s")
                                 .arg(lines.join(QLatin1Char('\n')));
    if (!dialogs().askYesNo(this, DialogIcon::Warning, Caption, question)) {
        logLine(QStringLiteral("apply not confirmed: nothing written"));
        m_status->setText(QStringLiteral("apply: nothing written"));
        return;
    }
    startBatch(Work::Apply, toWrite, [this, toWrite] { startBatch(Work::Check, toWrite); });
}

// --- use and report ----------------------------------------------------------------------

void SiteDialog::UseClick()
{
    const QVector<int> rows = selectedRows();
    if (rows.isEmpty() || running())
        return;
    const GatewayLink &link = m_rows.at(rows.first()).gateway.link;
    const LinkFields fields = LinkFields::find(m_window);
    fields.show(link);
    if (link.tcp) {
        if (fields.host)
            fields.host->setText(link.host);
        if (fields.tcpPort)
            fields.tcpPort->setText(QString::number(link.port));
    } else {
        if (fields.port)
            fields.port->setCurrentText(link.serialPort);
        // An open port takes the line at once; a closed one stays closed.
        if (m_session.SerialPortOpen && m_session.TransportMode != TransportModeKind::Tcp) {
            GatewayClient client(m_session);
            try {
                client.setSerialLine(link.baud, link.parity);
            } catch (const GatewayError &e) {
                logLine(e.message());
            }
        }
    }
    logLine(
        QStringLiteral("using %1 (%2)").arg(m_rows.at(rows.first()).gateway.shownName(), link.describe()));
}

void SiteDialog::ReportClick()
{
    if (running() || m_rows.isEmpty())
        return;
    guard(
        [this] {
            const QString path = dialogs().saveFileName(
                this, {QStringLiteral("Write commissioning report"), m_lastFolder, QStringLiteral("report.pdf"),
                       QStringLiteral("PDF files (*.pdf);;HTML files (*.html)"), QStringLiteral("pdf")});
            if (!path.isEmpty())
                writeReport(path);
        },
        this);
}

SiteReport SiteDialog::reportOf(const QList<GatewayCheck> &checks, const QString &siteName,
                                const QString &technician, const QString &customer)
{
    SiteReport r;
    r.date = QDateTime::currentDateTime();
    r.toolVersion = QStringLiteral(QVX_VERSION_TEXT);
    r.technician = technician.trimmed();
    r.customer = customer.trimmed();
    r.siteName = siteName;
    r.gateways = checks;
    return r;
}

SiteReport SiteDialog::report() const
{
    QList<GatewayCheck> checks;
    for (const Row &row : m_rows)
        checks << row.check;
    // Named as qvxctl report --targets names it: the site file's name.
    return reportOf(checks,
                    m_path.isEmpty() ? QStringLiteral("(not saved)") : QFileInfo(m_path).completeBaseName(),
                    m_technician->text(), m_customer->text());
}

bool SiteDialog::writeReportFile(Session &session, const SiteReport &report, const QString &path)
{
    QString error;
    if (!WriteSiteReport(report, path, &error)) {
        session.log(QStringLiteral("can not write the report %1: %2").arg(path, error));
        reportFileFailure(session, path, false, error);
        return false;
    }
    reportFileDone(session, FileAction::Saved, 0, path);
    return true;
}

void SiteDialog::writeReport(const QString &path)
{
    m_lastFolder = QFileInfo(path).absolutePath();
    if (writeReportFile(m_session, report(), path))
        logLine(QStringLiteral("report of %1 gateway(s) written to %2").arg(m_rows.size()).arg(path));
}

// --- Add... ---------------------------------------------------------------------------------

SiteAddDialog::SiteAddDialog(const GatewayLink &start, QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("SiteAddDialog"));
    setWindowTitle(QStringLiteral("Add gateway"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("Edit_siteAddName"));
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("Combo_siteAddLink"));
    m_kind->addItems({QStringLiteral("TCP"), QStringLiteral("Serial")});
    m_kind->setCurrentIndex(start.tcp ? 0 : 1);
    m_host = new QLineEdit(start.host, this);
    m_host->setObjectName(QStringLiteral("Edit_siteAddHost"));
    m_port = new QLineEdit(QString::number(start.port), this);
    m_port->setObjectName(QStringLiteral("Edit_siteAddPort"));
    m_serial = new QLineEdit(start.serialPort, this);
    m_serial->setObjectName(QStringLiteral("Edit_siteAddSerial"));
    m_baud = new QComboBox(this);
    m_baud->setObjectName(QStringLiteral("Combo_siteAddBaud"));
    for (int b : scanBaudOrder())
        m_baud->addItem(QString::number(b));
    m_baud->setCurrentText(QString::number(start.baud));
    m_parity = new QComboBox(this);
    m_parity->setObjectName(QStringLiteral("Combo_siteAddParity"));
    m_parity->addItems({QStringLiteral("Even"), QStringLiteral("None"), QStringLiteral("Odd")});
    m_parity->setCurrentText(parityCaption(start.parity));
    m_unit = new QSpinBox(this);
    m_unit->setObjectName(QStringLiteral("UD_siteAddUnit"));
    m_unit->setRange(1, 247);
    m_unit->setValue(qBound(1, start.unit, 247));
    m_profile = new QLineEdit(this);
    m_profile->setObjectName(QStringLiteral("Edit_siteAddProfile"));
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("Label_siteAddError"));
    m_error->setWordWrap(true);
    auto *add = namedButton("Butt_siteAddGateway", QStringLiteral("Add"), this);
    auto *close = namedButton("Butt_siteAddClose", QStringLiteral("Close"), this);

    auto *form = new QFormLayout;
    auto row = [&](const QString &text, QWidget *field) { form->addRow(labelFor(text, field, this), field); };
    row(QStringLiteral("Name"), m_name);
    row(QStringLiteral("Link"), m_kind);
    row(QStringLiteral("TCP host"), m_host);
    row(QStringLiteral("TCP port"), m_port);
    row(QStringLiteral("Serial port"), m_serial);
    row(QStringLiteral("Baud rate"), m_baud);
    row(QStringLiteral("Parity"), m_parity);
    row(QStringLiteral("Unit"), m_unit);
    row(QStringLiteral("Profile file"), m_profile);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(add);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addLayout(buttons);
    connect(add, &QPushButton::clicked, this, &SiteAddDialog::AddClick);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
}

std::optional<SiteGateway> SiteAddDialog::gateway(QString *error) const
{
    // The fields as a site line's options: the same checks as a file's line.
    GatewayLink link;
    auto apply = [&](const char *name, const QString &value) {
        if (const auto e = applyLinkOption(link, QLatin1String(name), value)) {
            *error = *e;
            return false;
        }
        return true;
    };
    const bool tcp = m_kind->currentIndex() == 0;
    const bool ok = tcp ? apply("tcp", m_host->text().trimmed() + QLatin1Char(':') + m_port->text().trimmed())
                        : apply("serial", m_serial->text().trimmed()) && apply("baud", m_baud->currentText()) &&
                              apply("parity", m_parity->currentText().toLower());
    if (!ok || !apply("unit", QString::number(m_unit->value())))
        return std::nullopt;
    SiteGateway g;
    g.link = link;
    g.name = m_name->text().trimmed();
    g.profile = m_profile->text().trimmed();
    return g;
}

void SiteAddDialog::AddClick()
{
    QString error;
    const std::optional<SiteGateway> g = gateway(&error);
    m_error->setText(error);
    if (g)
        emit added(*g);
}

} // namespace qvx
