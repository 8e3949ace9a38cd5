#include "config/settings_readout.h"

#include "widgets/guard.h"
#include "config/device_codec.h"
#include "config/register_browser.h"
#include "transport/reply_timer.h"
#include "transport/session.h"

#include <QCheckBox>
#include <QPushButton>

namespace qvx {

SettingsReadout::SettingsReadout(Session &session, RegisterBrowser &browser, QWidget *buttonParent)
    : QObject(buttonParent), m_session(session), m_browser(browser),
      m_timerStatus(new ReplyTimer(browser.modbusTimeout(), this)),
      m_button(new QPushButton(QStringLiteral("Read settings "), buttonParent))
{
    m_timerStatus->setObjectName(QStringLiteral("Timer_status"));
    m_button->setObjectName(QStringLiteral("Butt_status"));
    connect(m_button, &QPushButton::clicked, this, &SettingsReadout::Butt_statusClick);
    connect(m_timerStatus, &ReplyTimer::timeout, this, &SettingsReadout::Timer_statusTimer);
}

void SettingsReadout::setOptionBoxes(QCheckBox *check64bit, QCheckBox *check16digit, QCheckBox *checkLongObis)
{
    m_check64bit = check64bit;
    m_check16digit = check16digit;
    m_checkLongObis = checkLongObis;
}

void SettingsReadout::Butt_statusClick()
{
    guard(
        [this] {
            if (!m_session.checkLink())
                return;
            m_session.clearBuffers();
            if (m_session.SerialPortOpen)
                m_session.purge();
            m_session.log(QStringLiteral("Reading current settings..."));
            // Pressed again while a sequence runs: it starts over at the
            // next expiry, without restarting the running window.
            StatusStep = FirstStep;
            m_timerStatus->setInterval(m_browser.modbusTimeout());
            // The first request leaves at the first expiry.
            m_timerStatus->enable();
        },
        m_button);
}

void SettingsReadout::Timer_statusTimer()
{
    guard(
        [this] {
            m_timerStatus->disable();
            const QByteArray reply = m_session.takeReply();
            if (!reply.isEmpty()) {
                if (StatusStep == FirmwareStep) {
                    showFirmware(reply);
                    // The firmware window ends the sequence here.
                    if (m_session.SerialPortOpen)
                        m_session.purge();
                    m_session.clearBuffers();
                    return;
                }
                if (StatusStep > FirstStep && StatusStep <= LastStep)
                    decodeStep(reply);
            }
            ++StatusStep;
            endOfWindow();
        },
        m_button);
}

void SettingsReadout::showFirmware(const QByteArray &reply)
{
    const ReplyCheck check = CheckReply(reply, ReplyReporting::FirmwareVersion);
    check.reportTo(m_session);
    if (check.pass)
        m_session.log(firmwareText(check));
}

void SettingsReadout::decodeStep(const QByteArray &reply)
{
    const SettingsStepResult r = decodeSettingsStep(StatusStep, reply);
    r.check.reportTo(m_session);
    for (const QString &line : r.lines)
        m_session.log(line);
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

void SettingsReadout::endOfWindow()
{
    if (m_session.SerialPortOpen)
        m_session.purge();
    m_session.clearBuffers();
    // Past the last step, or back at 6 after a firmware query that got no
    // reply: the sequence is over.
    const std::optional<StepRequest> next = settingsStepRequest(StatusStep);
    if (!next)
        return;
    // The link is not checked between steps: a closed link sends nothing
    // and the remaining windows show nothing.
    m_session.SendReadHolding(m_browser.unitAddress(), next->address, next->count);
    m_timerStatus->enable();
}

} // namespace qvx
