#include "gateway/find_device_dialog.h"

#include "gateway/change_line_dialog.h"
#include "transport/session.h"
#include "widgets/named_button.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace qvx {
namespace {

QSpinBox *spin(const char *name, int min, int max, int value, QWidget *parent)
{
    auto *s = new QSpinBox(parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    s->setValue(value);
    return s;
}

// A caption whose text is also the field's accessible name.
QLabel *labelFor(const QString &text, QWidget *field)
{
    auto *l = new QLabel(text, field->parentWidget());
    l->setBuddy(field);
    field->setAccessibleName(text);
    return l;
}

QString timeText(qint64 ms)
{
    const qint64 s = (ms + 999) / 1000;
    return s >= 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60) : QStringLiteral("%1 s").arg(s);
}

} // namespace

FindDeviceDialog::FindDeviceDialog(Session &session, QWidget *window)
    : QWidget(window, Qt::Window), m_session(session), m_fields(LinkFields::find(window))
{
    setObjectName(QStringLiteral("FindDeviceDialog"));
    setWindowTitle(QStringLiteral("Find device"));

    auto *units = new QGroupBox(QStringLiteral("Units"), this);
    m_firstUnit = spin("UD_findFirstUnit", 1, 247, 1, units);
    m_lastUnit = spin("UD_findLastUnit", 1, 247, 247, units);
    auto *unitsGrid = new QGridLayout(units);
    unitsGrid->addWidget(labelFor(QStringLiteral("First unit"), m_firstUnit), 0, 0);
    unitsGrid->addWidget(m_firstUnit, 0, 1);
    unitsGrid->addWidget(labelFor(QStringLiteral("Last unit"), m_lastUnit), 1, 0);
    unitsGrid->addWidget(m_lastUnit, 1, 1);

    auto *rates = new QGroupBox(QStringLiteral("Baud rates"), this);
    auto *ratesGrid = new QGridLayout(rates);
    int i = 0;
    for (int baud : scanBaudOrder()) {
        auto *c = new QCheckBox(QString::number(baud), rates);
        c->setObjectName(QStringLiteral("Check_findBaud%1").arg(baud));
        c->setChecked(true);
        m_bauds.insert(baud, c);
        ratesGrid->addWidget(c, i / 3, i % 3);
        ++i;
    }

    auto *parities = new QGroupBox(QStringLiteral("Parities"), this);
    auto *paritiesBox = new QVBoxLayout(parities);
    for (const char *p : {"even", "none", "odd"}) {
        const QString key = QLatin1String(p);
        auto *c = new QCheckBox(parityCaption(key), parities);
        c->setObjectName(QStringLiteral("Check_findParity") + parityCaption(key));
        c->setChecked(true);
        m_parities.insert(key, c);
        paritiesBox->addWidget(c);
    }

    m_timeout = spin("UD_findTimeout", 10, 5000, 50, this);
    m_all = new QCheckBox(QStringLiteral("Find all"), this);
    m_all->setObjectName(QStringLiteral("Check_findAll"));
    auto *options = new QHBoxLayout;
    options->addWidget(labelFor(QStringLiteral("Time-out per probe (ms)"), m_timeout));
    options->addWidget(m_timeout);
    options->addWidget(m_all);
    options->addStretch(1);

    m_start = namedButton("Butt_findStart", QStringLiteral("Find"), this);
    m_cancel = namedButton("Butt_findCancel", QStringLiteral("Cancel"), this);
    m_use = namedButton("Butt_findUse", QStringLiteral("Use"), this);
    auto *close = namedButton("Butt_findClose", QStringLiteral("Close"), this);
    // Each says what it waits for while it is disabled.
    m_start->setToolTip(QStringLiteral("Starts a search (not while one runs)"));
    m_cancel->setToolTip(QStringLiteral("Stops the search within one probe (while one runs)"));
    m_use->setToolTip(QStringLiteral("Puts the selected gateway's settings into the window's link fields "
                                     "(once a search has found one)"));
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {m_start, m_cancel, m_use, close})
        buttons->addWidget(b);
    buttons->addStretch(1);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar_find"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Label_findStatus"));
    m_status->setWordWrap(true);
    m_activityLabel = new QLabel(this);
    m_activityLabel->setObjectName(QStringLiteral("Label_findActivity"));
    m_activityLabel->setWordWrap(true);

    m_results = new QTableWidget(0, 5, this);
    m_results->setObjectName(QStringLiteral("Grid_findResults"));
    m_results->setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("Baud rate"),
                                          QStringLiteral("Parity"), QStringLiteral("Unit"),
                                          QStringLiteral("Firmware identification")});
    m_results->horizontalHeader()->setStretchLastSection(true);
    m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto *top = new QHBoxLayout;
    top->addWidget(units);
    top->addWidget(rates);
    top->addWidget(parities);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(options);
    layout->addLayout(buttons);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(labelFor(QStringLiteral("Progress"), m_progress));
    progressRow->addWidget(m_progress, 1);
    layout->addLayout(progressRow);
    layout->addWidget(m_status);
    layout->addWidget(m_activityLabel);
    layout->addWidget(labelFor(QStringLiteral("Results"), m_results));
    layout->addWidget(m_results, 1);

    connect(m_start, &QPushButton::clicked, this, &FindDeviceDialog::start);
    connect(m_cancel, &QPushButton::clicked, this, &FindDeviceDialog::cancel);
    connect(m_use, &QPushButton::clicked, this, &FindDeviceDialog::useSelected);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    setRunning(false);
    resize(640, 520);
}

FindDeviceDialog::~FindDeviceDialog()
{
    if (m_client)
        m_client->cancel();
}

void FindDeviceDialog::preset(const QVector<int> &bauds, const QStringList &parities, int firstUnit,
                              int lastUnit)
{
    for (auto it = m_bauds.begin(); it != m_bauds.end(); ++it)
        it.value()->setChecked(bauds.contains(it.key()));
    for (auto it = m_parities.begin(); it != m_parities.end(); ++it)
        it.value()->setChecked(parities.contains(it.key()));
    m_firstUnit->setValue(qMin(firstUnit, lastUnit));
    m_lastUnit->setValue(qMax(firstUnit, lastUnit));
}

void FindDeviceDialog::setRunning(bool running)
{
    m_start->setEnabled(!running);
    m_cancel->setEnabled(running);
    m_use->setEnabled(!running && m_results->rowCount() > 0);
}

void FindDeviceDialog::start()
{
    if (m_job)
        return;
    // One gateway tool at a time: both drive the same link.
    for (const ChangeLineDialog *other : parentWidget()->findChildren<ChangeLineDialog *>())
        if (other->running()) {
            m_status->setText(QStringLiteral("Wait until the change of address or baud has ended."));
            return;
        }
    // A read sequence of a tab or another tool's job has the link until it ends.
    if (m_session.exchange().sequenceRunning()) {
        m_status->setText(QStringLiteral("Wait until the read or tool that uses the link has ended."));
        return;
    }
    const bool tcp = m_session.TransportMode == TransportModeKind::Tcp;
    QVector<int> bauds;
    for (int baud : scanBaudOrder())
        if (m_bauds.value(baud)->isChecked())
            bauds << baud;
    QStringList parities;
    for (const char *p : {"even", "none", "odd"})
        if (m_parities.value(QLatin1String(p))->isChecked())
            parities << QLatin1String(p);
    if (!tcp && (bauds.isEmpty() || parities.isEmpty())) {
        m_status->setText(QStringLiteral("Tick at least one baud rate and one parity."));
        return;
    }
    m_found = m_fields.current(m_session);
    m_settingsBefore = m_session.exchange().settings();
    m_portName = tcp ? QStringLiteral("%1:%2").arg(m_found.host).arg(m_found.port) : m_found.serialPort;
    m_client = new GatewayClient(m_session, this);
    m_openedPort = false;
    try {
        if (!tcp && !m_session.SerialPortOpen) {
            // The operator's closed port is opened for the sweep only.
            m_client->open(m_found);
            m_openedPort = true;
        } else {
            m_client->adoptLink(m_found);
        }
        // A probe that is answered ends at once, as on the command line (the
        // window's own setting comes back at the end).
        m_session.exchange().settings().endOnCompleteReply = true;
    } catch (const GatewayError &e) {
        m_status->setText(e.message());
        m_session.log(QStringLiteral("Find device: %1").arg(e.message()));
        delete m_client;
        return;
    }
    ScanPlan plan;
    plan.bauds = scanBaudsPreferring(bauds, m_activity);
    plan.parities = parities;
    plan.firstUnit = qMin(m_firstUnit->value(), m_lastUnit->value());
    plan.lastUnit = qMax(m_firstUnit->value(), m_lastUnit->value());
    plan.timeoutMs = m_timeout->value();
    plan.all = m_all->isChecked();
    // The likely units first (1, the window's unit, 247, 2-10), at every
    // rate and parity; then the rest, busy rates first.
    plan.fieldUnit = m_found.unit;
    plan.activity = m_activity;
    m_result = {};
    m_hits.clear();
    m_results->setRowCount(0);
    const int probes =
        int(tcp ? 1 : plan.bauds.size() * plan.parities.size()) * (plan.lastUnit - plan.firstUnit + 1);
    m_session.log(tcp ? QStringLiteral("Find device: units %1-%2 on %3, %4 probes")
                            .arg(plan.firstUnit)
                            .arg(plan.lastUnit)
                            .arg(m_portName)
                            .arg(probes)
                      : QStringLiteral("Find device: units %1-%2 at %3, parity %4 on %5, %6 probes")
                            .arg(plan.firstUnit)
                            .arg(plan.lastUnit)
                            .arg([&] {
                                QStringList t;
                                for (int b : plan.bauds)
                                    t << QString::number(b);
                                return t.join(QLatin1Char(','));
                            }())
                            .arg(plan.parities.join(QLatin1Char(',')), m_portName)
                            .arg(probes));
    m_job = new GatewayJob(
        *m_client,
        [this, plan](GatewayClient &client, GatewayJob &job) {
            m_result = scanGateways(client, plan, [this, &job](const ScanStep &step) {
                // The time left first: the progress line shows it.
                m_msLeft = step.msLeft;
                job.reportProgress(step.done, step.total, step.what);
            });
        },
        this);
    connect(m_job, &GatewayJob::progress, this, &FindDeviceDialog::showProgress);
    connect(m_job, &GatewayJob::finished, this, &FindDeviceDialog::finish);
    m_progress->setRange(0, qMax(1, probes));
    m_progress->setValue(0);
    m_status->setText(QStringLiteral("Starting..."));
    setRunning(true);
    m_job->start();
}

void FindDeviceDialog::showProgress(int done, int total, const QString &what)
{
    m_status->setText(QStringLiteral("Trying %1 (%2 of %3), about %4 left")
                          .arg(what)
                          .arg(done + 1)
                          .arg(total)
                          .arg(timeText(m_msLeft)));
    m_progress->setRange(0, qMax(1, total));
    m_progress->setValue(done);
}

void FindDeviceDialog::cancel()
{
    if (m_job)
        m_job->cancel();
}

void FindDeviceDialog::finish(bool ok, const QString &error)
{
    // The link as it was found: the line and unit back, or the port closed.
    try {
        if (m_openedPort) {
            m_client->close();
        } else if (m_session.linkOpen()) {
            if (!m_found.tcp)
                m_client->setSerialLine(m_found.baud, m_found.parity);
        }
    } catch (const GatewayError &e) {
        m_session.log(QStringLiteral("Find device: the port could not be set back: %1").arg(e.message()));
    }
    m_session.exchange().settings() = m_settingsBefore;
    m_hits = m_result.found;
    for (const ScanHit &h : std::as_const(m_hits)) {
        const int row = m_results->rowCount();
        m_results->insertRow(row);
        const QStringList cells{m_portName, h.baud ? QString::number(h.baud) : QString(),
                                parityCaption(h.parity), QString::number(h.unit), h.firmware};
        for (int c = 0; c < cells.size(); ++c)
            m_results->setItem(row, c, new QTableWidgetItem(cells.at(c)));
        m_session.log(m_found.tcp ? QStringLiteral("Find device: unit %1 answers on %2 (%3)")
                                        .arg(h.unit)
                                        .arg(m_portName, h.firmware)
                                  : QStringLiteral("Find device: unit %1 answers at %2 %3 on %4 (%5)")
                                        .arg(h.unit)
                                        .arg(h.baud)
                                        .arg(parityCaption(h.parity), m_portName, h.firmware));
    }
    if (!m_hits.isEmpty())
        m_results->selectRow(0);
    QStringList busy;
    for (auto it = m_result.activity.cbegin(); it != m_result.activity.cend(); ++it) {
        m_activity[it.key()] += it.value();
        busy << QStringLiteral("%1 bytes at %2").arg(it.value()).arg(it.key());
        m_session.log(QStringLiteral("Find device: line activity at %1: %2 bytes that were no reply")
                          .arg(it.key())
                          .arg(it.value()));
    }
    for (const ScanCandidate &c : std::as_const(m_result.unconfirmed))
        m_session.log(m_found.tcp
                          ? QStringLiteral("Find device: unit %1 %2; not counted").arg(c.unit).arg(c.reason)
                          : QStringLiteral("Find device: unit %1 at %2 %3 %4; not counted")
                                .arg(c.unit)
                                .arg(c.baud)
                                .arg(parityCaption(c.parity), c.reason));
    m_activityLabel->setText(busy.isEmpty() ? QString()
                                            : QStringLiteral("Line activity at this rate (tried first next "
                                                             "time): ") +
                                                  busy.join(QStringLiteral(", ")));
    QString text;
    if (!ok && m_job->errorKind() == GatewayError::Cancelled)
        text = QStringLiteral("Cancelled after %1 probes; the link is as it was.").arg(m_result.probes);
    else if (!ok)
        text = QStringLiteral("Stopped: %1; the link is as it was.").arg(error);
    else if (m_hits.isEmpty() && m_result.echoes > 0 && !m_session.exchange().settings().adapterEchoes)
        text = QStringLiteral(
                   "No gateway answered in %1 probes; the replies start with the request's own bytes: "
                   "if the adapter echoes what it sends, tick Tools > Options... \"The adapter echoes "
                   "what it sends\".")
                   .arg(m_result.probes);
    else if (m_hits.isEmpty() && !m_result.activity.isEmpty())
        text = QStringLiteral("No gateway answered in %1 probes; the line carries other traffic (%2).")
                   .arg(m_result.probes)
                   .arg(busy.join(QStringLiteral(", ")));
    else if (m_hits.isEmpty())
        text = QStringLiteral("No gateway answered in %1 probes.").arg(m_result.probes);
    else
        text = QStringLiteral("Found %1 in %2 probes.")
                   .arg(m_hits.size() == 1 ? QStringLiteral("1 gateway")
                                           : QStringLiteral("%1 gateways").arg(m_hits.size()))
                   .arg(m_result.probes);
    if (!ok || m_hits.isEmpty())
        m_session.log(QStringLiteral("Find device: ") + text);
    m_status->setText(text);
    m_progress->setValue(m_progress->maximum());
    m_job->deleteLater();
    m_client->deleteLater();
    m_job = nullptr;
    m_client = nullptr;
    setRunning(false);
    emit runFinished();
}

void FindDeviceDialog::useSelected()
{
    const int row = m_results->currentRow() >= 0 ? m_results->currentRow() : 0;
    if (row >= m_hits.size() || m_job)
        return;
    const ScanHit &hit = m_hits.at(row);
    GatewayLink link = m_fields.current(m_session);
    if (!link.tcp) {
        link.baud = hit.baud;
        link.parity = hit.parity;
    }
    link.unit = hit.unit;
    m_fields.show(link);
    // An open port takes the line at once; a closed one stays closed.
    if (!link.tcp && m_session.SerialPortOpen) {
        GatewayClient client(m_session);
        try {
            client.setSerialLine(link.baud, link.parity);
        } catch (const GatewayError &e) {
            m_session.log(QStringLiteral("Find device: %1").arg(e.message()));
        }
    }
    m_session.log(link.tcp ? QStringLiteral("Find device: using unit %1").arg(link.unit)
                           : QStringLiteral("Find device: using unit %1 at %2 %3")
                                 .arg(link.unit)
                                 .arg(link.baud)
                                 .arg(parityCaption(link.parity)));
}

} // namespace qvx
