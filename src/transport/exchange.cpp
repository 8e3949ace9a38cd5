#include "transport/exchange.h"

#include "transport/adapter_echo.h"
#include "transport/reply_check.h"
#include "transport/reply_timer.h"
#include "transport/session.h"

#include <QTimer>

namespace qvx {

Exchange::Exchange(Session &session)
    : QObject(&session), m_session(session), m_modbusWindow(new ReplyTimer(1000, this))
{
    setObjectName(QStringLiteral("Exchange"));
    m_modbusWindow->setObjectName(QStringLiteral("Timer_modbus"));
    connect(&m_session, &Session::received, this, &Exchange::received);
}

Exchange::~Exchange() = default;

bool Exchange::checkLink()
{
    // A tool's job sends its own requests on this link; one more from a tab
    // would take the reply the job waits for.
    if (m_holds > 0 && m_session.linkOpen()) {
        m_session.log(
            QStringLiteral("A gateway tool is using the link: wait until it has ended, or cancel it"));
        return false;
    }
    return m_session.checkLink();
}

void Exchange::beginRead()
{
    m_session.clearBuffers();
    m_session.WritePending = false;
    m_session.purge();
}

void Exchange::beginWrite()
{
    m_session.WritePending = true;
    m_session.clearBuffers();
}

void Exchange::send(ReplyTimer &window, const ModbusRequest &r)
{
    Pending pending;
    pending.request = r;
    pending.tcp = m_session.TransportMode == TransportModeKind::Tcp;
    pending.transactionId = static_cast<uint16_t>(m_session.TransactionId & 0xFFFF);
    pending.generation = ++m_generation;
    if (!pending.tcp)
        pending.frame = RtuRequestFrame(r);
    // Remembered before the send: a send that raises still leaves its frame
    // (or part of it) on the line, and a reply to it is not the earlier one's.
    m_pending.insert(&window, pending);
    m_latest = &window;
    switch (r.function) {
    case ModbusFunction::ReadHolding:
        m_session.SendReadHolding(r.unit, r.address, r.count);
        break;
    case ModbusFunction::ReadInput:
        m_session.SendReadInput(r.unit, r.address, r.count);
        break;
    case ModbusFunction::WriteSingle:
        m_session.SendWriteSingle(r.unit, r.address, r.valueHigh, r.valueLow);
        break;
    case ModbusFunction::WriteMultiple:
        m_session.SendWriteMultiple(r.unit, r.address, r.byteCount, r.data);
        break;
    case ModbusFunction::ReadDeviceId:
        m_session.SendReadDeviceId(r.unit, r.valueLow);
        break;
    }
    window.enable();
}

void Exchange::forget(ReplyTimer &window)
{
    m_pending.remove(&window);
    if (m_latest == &window)
        m_latest = nullptr;
}

std::optional<WindowReply> Exchange::end(ReplyTimer &window, bool linkRequired)
{
    window.disable();
    if (linkRequired && !m_session.linkOpen())
        return std::nullopt;
    WindowReply reply;
    const auto pending = m_pending.constFind(&window);
    if (m_session.TransportMode == TransportModeKind::Tcp && pending != m_pending.cend() && pending->tcp)
        reply.headerMismatch = TcpHeaderMismatch(pending->transactionId, m_session.TcpRxBuffer);
    reply.bytes = m_session.takeReply();
    if (m_session.TransportMode != TransportModeKind::Tcp && pending != m_pending.cend() && !pending->tcp &&
        !reply.bytes.isEmpty()) {
        if (m_settings.adapterEchoes) {
            reply.bytes = StripRequestEcho(reply.bytes, pending->frame);
            reply.echoOnly = reply.bytes.isEmpty();
        } else {
            reply.startsWithRequest = StartsWithRequestEcho(reply.bytes, pending->request);
        }
    }
    return reply;
}

void Exchange::logRespond(const WindowReply &reply)
{
    m_session.log(QStringLiteral("Respond:") + hexBytes(reply.bytes));
}

bool Exchange::answers(ReplyTimer &window, const WindowReply &reply)
{
    if (reply.isEmpty())
        return false;
    const auto pending = m_pending.constFind(&window);
    if (pending == m_pending.cend())
        return true;
    if (reply.headerMismatch) {
        m_session.log(*reply.headerMismatch);
        return false;
    }
    // A reply that fails the common checks goes to its decoder, which
    // reports the failure in the words the operator knows.
    const ReplyCheck check = CheckReply(reply.bytes);
    if (!check.pass && check.failure != ReplyFailure::Exception)
        return true;
    if (const std::optional<QString> mismatch = ReplyMismatch(pending->request, check.frame)) {
        m_session.log(*mismatch);
        return false;
    }
    return true;
}

void Exchange::received()
{
    if (!m_settings.endOnCompleteReply || !m_latest || !m_latest->isEnabled())
        return;
    const auto pending = m_pending.constFind(m_latest.data());
    if (pending == m_pending.cend())
        return;
    const bool tcp = m_session.TransportMode == TransportModeKind::Tcp;
    if (tcp != pending->tcp)
        return;
    qsizetype whole = 0;
    if (tcp)
        whole = CompleteTcpReplyLength(m_session.TcpRxBuffer);
    else if (m_settings.adapterEchoes)
        whole =
            CompleteRtuReplyLength(pending->request, StripRequestEcho(m_session.RxBuffer, pending->frame));
    else
        whole = CompleteRtuReplyLength(pending->request, m_session.RxBuffer);
    if (whole == 0)
        return;
    // The window ends from the event loop, not from inside the receive
    // handler, and only if nothing was sent in it meanwhile.
    QPointer<ReplyTimer> window = m_latest;
    const quint64 generation = pending->generation;
    QTimer::singleShot(0, this, [this, window, generation] {
        if (!window || !window->isEnabled())
            return;
        const auto p = m_pending.constFind(window.data());
        if (p != m_pending.cend() && p->generation == generation)
            window->fireNow();
    });
}

void Exchange::sequenceStarted()
{
    ++m_runningSequences;
}

void Exchange::sequenceEnded()
{
    if (--m_runningSequences == 0)
        emit sequenceFinished();
}

// --- Sequence ---------------------------------------------------------------------------

Sequence::Sequence(Exchange &exchange, ReplyTimer &window, QObject *parent)
    : QObject(parent), m_exchange(exchange), m_exchangeAlive(&exchange), m_window(window)
{}

Sequence::~Sequence()
{
    if (m_running && m_exchangeAlive)
        m_exchange.sequenceEnded();
}

void Sequence::setRunning(bool on)
{
    if (on == m_running)
        return;
    m_running = on;
    if (on) {
        m_exchange.sequenceStarted();
    } else {
        emit finished();
        m_exchange.sequenceEnded();
    }
}

void Sequence::start(QVector<SequenceStep> steps, Start how)
{
    m_steps = std::move(steps);
    setRunning(true);
    if (how == Start::AfterWindow) {
        m_index = -1;
        // What was asked in the open window is no longer awaited.
        m_exchange.forget(m_window);
        m_window.enable();
        return;
    }
    m_index = 0;
    sendCurrent();
}

void Sequence::sendCurrent()
{
    const SequenceStep &step = m_steps.at(m_index);
    if (step.begin)
        step.begin();
    if (const std::optional<ModbusRequest> request = step.request ? step.request() : std::nullopt)
        m_exchange.send(m_window, *request);
    else
        m_window.enable();
}

void Sequence::next(const WindowReply &reply)
{
    if (!m_running)
        return;
    if (m_index >= 0 && m_index < size() && !reply.isEmpty() && m_exchange.answers(m_window, reply)) {
        const SequenceStep &step = m_steps.at(m_index);
        if (step.decode)
            step.decode(reply);
    }
    if (!m_running)
        return;
    ++m_index;
    if (m_index >= size()) {
        setRunning(false);
        return;
    }
    sendCurrent();
}

void Sequence::stop()
{
    m_window.disable();
    setRunning(false);
}

} // namespace qvx
