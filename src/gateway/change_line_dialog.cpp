#include "gateway/change_line_dialog.h"

#include "gateway/find_device_dialog.h"
#include "transport/session.h"
#include "widgets/named_button.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qvx {
namespace {

void addLabelled(QFormLayout *form, const QString &label, QWidget *field)
{
    auto *caption = new QLabel(label, field->parentWidget());
    caption->setBuddy(field);
    field->setAccessibleName(label);
    form->addRow(caption, field);
}

QString where(const GatewayLink &l)
{
    return l.tcp ? QStringLiteral("unit %1 on %2:%3").arg(l.unit).arg(l.host).arg(l.port)
                 : QStringLiteral("unit %1 at %2 %3 on %4")
                       .arg(l.unit)
                       .arg(l.baud)
                       .arg(parityCaption(l.parity), l.serialPort);
}

} // namespace

ChangeLineDialog::ChangeLineDialog(Session &session, QWidget *window, FindDeviceDialog *find)
    : QWidget(window, Qt::Window), m_session(session), m_fields(LinkFields::find(window)), m_find(find)
{
    setObjectName(QStringLiteral("ChangeLineDialog"));
    setWindowTitle(QStringLiteral("Change address or baud safely"));

    m_current = new QLabel(this);
    m_current->setObjectName(QStringLiteral("Label_changeCurrent"));
    m_unit = new QSpinBox(this);
    m_unit->setObjectName(QStringLiteral("UD_changeUnit"));
    m_unit->setRange(1, 247);
    m_baud = new QComboBox(this);
    m_baud->setObjectName(QStringLiteral("Combo_changeBaud"));
    for (int baud : {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
        m_baud->addItem(QString::number(baud), baud);
    m_parity = new QComboBox(this);
    m_parity->setObjectName(QStringLiteral("Combo_changeParity"));
    for (const char *p : {"even", "odd", "none"})
        m_parity->addItem(parityCaption(QLatin1String(p)), QLatin1String(p));
    m_verify = new QSpinBox(this);
    m_verify->setObjectName(QStringLiteral("UD_changeVerify"));
    m_verify->setRange(1, 120);
    m_verify->setValue(5);
    m_verify->setSuffix(QStringLiteral(" s"));

    m_start = namedButton("Butt_changeStart", QStringLiteral("Change"), this);
    m_cancel = namedButton("Butt_changeCancel", QStringLiteral("Cancel"), this);
    m_findButton = namedButton("Butt_changeFind", QStringLiteral("Find device..."), this);
    auto *close = namedButton("Butt_changeClose", QStringLiteral("Close"), this);
    // Each says what it waits for while it is disabled.
    m_start->setToolTip(QStringLiteral("Writes the new settings and talks to the gateway there (not while a "
                                       "change runs)"));
    m_cancel->setToolTip(QStringLiteral("Stops the change at its next request (while one runs)"));
    m_findButton->setToolTip(QStringLiteral("Searches for the gateway with the new and the old settings "
                                            "(offered when a change lost it)"));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar_change"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Label_changeStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *form = new QFormLayout;
    addLabelled(form, QStringLiteral("Now"), m_current);
    addLabelled(form, QStringLiteral("New unit address"), m_unit);
    addLabelled(form, QStringLiteral("New RTU baud rate"), m_baud);
    addLabelled(form, QStringLiteral("New RTU parity"), m_parity);
    addLabelled(form, QStringLiteral("Answer within"), m_verify);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {m_start, m_cancel, m_findButton, close})
        buttons->addWidget(b);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    auto *progress = new QFormLayout;
    addLabelled(progress, QStringLiteral("Progress"), m_progress);
    layout->addLayout(progress);
    layout->addWidget(m_status, 1);

    connect(m_start, &QPushButton::clicked, this, &ChangeLineDialog::start);
    connect(m_cancel, &QPushButton::clicked, this, &ChangeLineDialog::cancel);
    connect(m_findButton, &QPushButton::clicked, this, &ChangeLineDialog::openFind);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    m_findButton->setEnabled(false);
    setRunning(false);
    resize(460, 320);
}

ChangeLineDialog::~ChangeLineDialog()
{
    if (m_client)
        m_client->cancel();
}

void ChangeLineDialog::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_job)
        refresh();
}

void ChangeLineDialog::refresh()
{
    const GatewayLink now = m_fields.current(m_session);
    m_current->setText(m_session.linkOpen() ? where(now) : QStringLiteral("no link open"));
    m_unit->setValue(now.unit);
    m_baud->setCurrentIndex(qMax(0, m_baud->findData(now.baud)));
    m_parity->setCurrentIndex(qMax(0, m_parity->findData(now.parity)));
    // Over TCP the gateway's RTU port is not the tool's link: only the unit.
    m_baud->setEnabled(!now.tcp);
    m_parity->setEnabled(!now.tcp);
}

void ChangeLineDialog::setRunning(bool running)
{
    m_start->setEnabled(!running);
    m_cancel->setEnabled(running);
    m_unit->setEnabled(!running);
    m_verify->setEnabled(!running);
    if (running) {
        m_baud->setEnabled(false);
        m_parity->setEnabled(false);
        m_findButton->setEnabled(false);
    }
}

void ChangeLineDialog::start()
{
    if (m_job)
        return;
    if (m_find && m_find->running()) {
        m_status->setText(QStringLiteral("Wait until \"Find device...\" has ended."));
        return;
    }
    // A read sequence of a tab or another tool's job has the link until it ends.
    if (m_session.exchange().sequenceRunning()) {
        m_status->setText(QStringLiteral("Wait until the read or tool that uses the link has ended."));
        return;
    }
    if (!m_session.linkOpen()) {
        m_status->setText(QStringLiteral("Open the serial port or connect over TCP first."));
        m_session.log(QStringLiteral("Change address or baud: no link open"));
        return;
    }
    m_before = m_fields.current(m_session);
    m_settingsBefore = m_session.exchange().settings();
    m_change = {};
    m_change.unit = m_unit->value();
    if (!m_before.tcp) {
        m_change.baud = m_baud->currentData().toInt();
        m_change.parity = m_parity->currentData().toString();
    }
    m_change.verifyMs = m_verify->value() * 1000;
    m_result = {};
    m_result.before = m_before;
    m_steps.clear();
    m_client = new GatewayClient(m_session, this);
    m_client->adoptLink(m_before);
    m_session.log(QStringLiteral("Change address or baud: from %1").arg(where(m_before)));
    const LineChange change = m_change;
    m_job = new GatewayJob(
        *m_client,
        [this, change](GatewayClient &client, GatewayJob &) {
            m_result = changeGatewayLine(client, change, [this](const QString &line) {
                m_steps << line;
                m_status->setText(line);
                m_session.log(QStringLiteral("Change address or baud: ") + line);
            });
        },
        this);
    connect(m_job, &GatewayJob::finished, this, &ChangeLineDialog::finish);
    m_progress->setRange(0, 0);
    m_status->setText(QStringLiteral("Starting..."));
    setRunning(true);
    m_job->start();
}

void ChangeLineDialog::cancel()
{
    if (m_job)
        m_job->cancel();
}

void ChangeLineDialog::finish(bool ok, const QString &error)
{
    // The window's fields follow the client to wherever it ended.
    GatewayLink now = m_client->linkSettings();
    now.serialPort = m_before.serialPort;
    now.host = m_before.host;
    now.port = m_before.port;
    // The window's own time-out and option again; the unit is the one the
    // gateway answers at, through the unit field.
    RequestSettings &settings = m_session.exchange().settings();
    settings.timeoutMs = m_settingsBefore.timeoutMs;
    settings.endOnCompleteReply = m_settingsBefore.endOnCompleteReply;
    m_fields.show(now);
    settings.unit = uint8_t(now.unit);
    GatewayLink wanted = m_before;
    wanted.unit = m_change.unit;
    if (!m_before.tcp) {
        wanted.baud = m_change.baud;
        wanted.parity = m_change.parity;
    }
    QString text;
    bool lost = false;
    if (!ok) {
        const bool cancelled = m_job->errorKind() == GatewayError::Cancelled;
        const QString done = m_steps.isEmpty()
                                 ? QStringLiteral("nothing was written")
                                 : QStringLiteral("done so far: ") + m_steps.join(QStringLiteral("; "));
        text = QStringLiteral("%1 (%2). The tool now uses %3.")
                   .arg(cancelled ? QStringLiteral("Cancelled") : QStringLiteral("Stopped: ") + error, done,
                        where(now));
        lost = !m_steps.isEmpty();
    } else if (m_result.verified) {
        text = QStringLiteral("The gateway answers at %1; the port and unit fields follow.").arg(where(now));
    } else if (m_result.answersAt) {
        text = QStringLiteral("The gateway did not answer at %1. It answers at %2: the tool uses that now.")
                   .arg(where(wanted), where(now));
    } else {
        lost = true;
        text = QStringLiteral("The gateway answers nowhere that was tried (%1, %2). The tool is back at %2; "
                              "\"Find device...\" looks for it.")
                   .arg(where(wanted), where(m_before));
    }
    m_session.log(QStringLiteral("Change address or baud: ") + text);
    m_status->setText(text);
    m_progress->setRange(0, 1);
    m_progress->setValue(1);
    m_job->deleteLater();
    m_client->deleteLater();
    m_job = nullptr;
    m_client = nullptr;
    setRunning(false);
    m_current->setText(where(now));
    m_baud->setEnabled(!now.tcp);
    m_parity->setEnabled(!now.tcp);
    m_findButton->setEnabled(lost && m_find);
    emit runFinished();
}

void ChangeLineDialog::openFind()
{
    if (!m_find)
        return;
    GatewayLink wanted = m_before;
    wanted.unit = m_change.unit ? m_change.unit : m_before.unit;
    if (m_change.baud) {
        wanted.baud = m_change.baud;
        wanted.parity = m_change.parity;
    }
    m_find->preset({wanted.baud, m_before.baud}, {wanted.parity, m_before.parity},
                   qMin(wanted.unit, m_before.unit), qMax(wanted.unit, m_before.unit));
    m_find->show();
    m_find->raise();
    m_find->activateWindow();
}

} // namespace qvx
