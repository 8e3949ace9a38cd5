#include "config/settings_readout.h"

#include "config/device_codec.h"
#include "transport/exchange.h"
#include "transport/reply_timer.h"
#include "transport/session.h"
#include "widgets/guard.h"

#include <QCheckBox>
#include <QPushButton>

namespace qvx {

namespace {

// Steps 7..13 of the device's readout, in the codec's numbering.
constexpr int FirstReadStep = 7;
constexpr int LastReadStep = 13;
// The status bar's panel that shows how far a sequence has got.
constexpr int StatusPanelProgress = 3;
// The readout's windows: the first only waits, then one per read step.
constexpr int ReadoutWindows = LastReadStep - FirstReadStep + 2;

} // namespace

SettingsReadout::SettingsReadout(Session &session, QWidget *buttonParent)
    : QObject(buttonParent), m_session(session),
      m_timerStatus(new ReplyTimer(session.exchange().settings().timeoutMs, this)),
      m_sequence(new Sequence(session.exchange(), *m_timerStatus, this)),
      m_button(new QPushButton(QStringLiteral("Read settings "), buttonParent))
{
    m_timerStatus->setObjectName(QStringLiteral("Timer_status"));
    m_button->setObjectName(QStringLiteral("Butt_status"));
    connect(m_button, &QPushButton::clicked, this, &SettingsReadout::Butt_statusClick);
    connect(m_timerStatus, &ReplyTimer::timeout, this, &SettingsReadout::Timer_statusTimer);
    connect(m_sequence, &Sequence::finished, this, [this] { showProgress(0); });
}

void SettingsReadout::showProgress(int window)
{
    // Only what this readout put there is taken away again.
    if (window == 0 && !m_progressShown)
        return;
    m_progressShown = window > 0;
    m_session.setStatus(StatusPanelProgress,
                        window > 0 ? QStringLiteral("%1/%2").arg(window).arg(ReadoutWindows) : QString());
}

void SettingsReadout::setOptionBoxes(QCheckBox *check64bit, QCheckBox *check16digit, QCheckBox *checkLongObis)
{
    m_check64bit = check64bit;
    m_check16digit = check16digit;
    m_checkLongObis = checkLongObis;
}

bool SettingsReadout::running() const
{
    return m_sequence->running();
}

void SettingsReadout::Butt_statusClick()
{
    guard(
        [this] {
            Exchange &exchange = m_session.exchange();
            if (!exchange.checkLink())
                return;
            m_session.clearBuffers();
            if (m_session.SerialPortOpen)
                m_session.purge();
            m_session.log(QStringLiteral("Reading current settings..."));
            QVector<SequenceStep> steps;
            for (int step = FirstReadStep; step <= LastReadStep; ++step) {
                SequenceStep s;
                s.begin = [this, step] { showProgress(step - FirstReadStep + 2); };
                // The link is not checked between steps: a closed link sends
                // nothing and the remaining windows show nothing.
                s.request = [this, step]() -> std::optional<ModbusRequest> {
                    const std::optional<StepRequest> r = settingsStepRequest(step);
                    return ModbusRequest::readHolding(m_session.exchange().settings().unit, r->address,
                                                      r->count);
                };
                s.decode = [this, step](const WindowReply &reply) {
                    const SettingsStepResult r = decodeSettingsStep(step, reply.bytes);
                    r.check.reportTo(m_session);
                    for (const QString &line : r.lines)
                        m_session.log(line);
                    decodeFlags(r);
                };
                steps.append(s);
            }
            m_timerStatus->setInterval(exchange.settings().timeoutMs);
            // Pressed again while a sequence runs: it starts over at the next
            // expiry, without restarting the running window.
            m_sequence->start(steps, Sequence::Start::AfterWindow);
            showProgress(1);
        },
        m_button);
}

void SettingsReadout::readFirmware()
{
    Exchange &exchange = m_session.exchange();
    m_session.clearBuffers();
    if (m_session.SerialPortOpen)
        m_session.purge();
    // The query replaces a readout that was still running.
    showProgress(0);
    SequenceStep step;
    step.begin = [this] { m_session.log(QStringLiteral("Reading firmware version of QVX-24S...")); };
    step.request = [this]() -> std::optional<ModbusRequest> {
        return ModbusRequest::readDeviceId(m_session.exchange().settings().unit, 2);
    };
    step.decode = [this](const WindowReply &reply) {
        const ReplyCheck check = CheckReply(reply.bytes, ReplyReporting::FirmwareVersion);
        check.reportTo(m_session);
        if (check.pass)
            m_session.log(firmwareText(check));
    };
    m_timerStatus->setInterval(exchange.settings().timeoutMs);
    m_sequence->start({step}, Sequence::Start::SendFirst);
}

void SettingsReadout::Timer_statusTimer()
{
    guard(
        [this] {
            const std::optional<WindowReply> reply = m_session.exchange().end(*m_timerStatus, false);
            if (m_session.SerialPortOpen)
                m_session.purge();
            m_session.clearBuffers();
            m_sequence->next(*reply);
        },
        m_button);
}

void SettingsReadout::decodeFlags(const SettingsStepResult &r)
{
    // A reply that failed its checks leaves the boxes as they were: they
    // decide how values are decoded afterwards.
    if (!r.flags)
        return;
    // A box set to the state it has does nothing; a change runs the box's
    // own handling (the meter ID's length limit follows "Enable 16-digit ID").
    if (m_check64bit)
        m_check64bit->setChecked(r.flags->values64bit);
    if (m_check16digit)
        m_check16digit->setChecked(r.flags->sixteenDigitId);
    if (m_checkLongObis)
        m_checkLongObis->setChecked(r.flags->longObis);
}

} // namespace qvx
