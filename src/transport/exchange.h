// The one request path.  Every operation of every area runs its request
// through the Exchange: the link check, emptying the shared receive buffers,
// WritePending, the purge, the send, the reply window, taking the reply and
// checking that it answers the request before anything decodes it.
//
// A reply window is one of the operations' named one-shot timers (a
// ReplyTimer such as Timer_modbus or Timer_status); its timeout handler stays
// the operation's entry point and calls end() to take the reply.  The
// Exchange remembers the request sent last in each window, so it knows what
// the reply must look like: with "end reply windows on a complete reply" on,
// a window ends as soon as the buffer holds a whole reply to its request;
// either way, a reply that does not answer its request is never decoded.
//
// Sequences (the settings readout, the read of all meters) are tables of
// steps run by a Sequence over one window; while one runs, periodic reads wait
// for it to end (sequenceFinished).
#pragma once

#include "transport/request.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

namespace qvx {

class ReplyTimer;
class Session;

// The request settings every requester uses: the window's unit address and
// Modbus time-out fields write them here, every operation reads them here.
struct RequestSettings {
    // The device's factory address and a one-second window until the
    // window's fields say otherwise.
    uint8_t unit = 1;
    int timeoutMs = 1000;
    // Off: every window lasts its full length, as the operator's manual
    // describes.  On: a window ends on the first whole reply to its request.
    bool endOnCompleteReply = false;
    // The serial adapter hands back what it sends (a two-wire RS-485
    // adapter): the request's own bytes at the start of what is received are
    // dropped before the reply is looked at.
    bool adapterEchoes = false;
};

// What a window ended on.
struct WindowReply {
    // In RTU form (a TCP reply converted), as the decoders take it.
    QByteArray bytes;
    // Set when the TCP header does not fit the request (its log line).
    std::optional<QString> headerMismatch;
    // RTU, echoes not dropped: the bytes start with the request's own frame,
    // as from an adapter that echoes what it sends.
    bool startsWithRequest = false;
    // RTU, echoes dropped: the request's frame came back and nothing after it.
    bool echoOnly = false;
    bool isEmpty() const { return bytes.isEmpty(); }
};

class Exchange : public QObject {
    Q_OBJECT
public:
    explicit Exchange(Session &session);
    ~Exchange() override;

    Session &session() { return m_session; }
    RequestSettings &settings() { return m_settings; }
    const RequestSettings &settings() const { return m_settings; }

    // Timer_modbus: the 1000 ms window of register-browser reads and of every
    // device write, whichever area starts them.
    ReplyTimer &modbusWindow() { return *m_modbusWindow; }

    // --- before the send -------------------------------------------------------------
    // The link check: false, after its log line, when no link is open.
    bool checkLink();
    // A read: empty both buffers, clear WritePending, purge the serial port.
    void beginRead();
    // A device write, whose reply is only logged: set WritePending, empty both
    // buffers (no purge).
    void beginWrite();

    // --- the send and the window ---------------------------------------------------------
    // Sends request through the link in use (framing, the "SENT:" lines and
    // the link's errors as each request operation has them), remembers it as
    // the request of window, and enables window (an open window is not
    // restarted).  An error raised by the link ends the call before the
    // window is enabled.
    void send(ReplyTimer &window, const ModbusRequest &request);
    // Forgets what window waits for: the next reply it ends on is not checked
    // against an earlier request (raw commands).
    void forget(ReplyTimer &window);

    // --- the end of the window ----------------------------------------------------------
    // Disables window and takes the reply as the buffers hold it (over RTU
    // with adapterEchoes, without the echo of the request).  Nothing
    // (std::nullopt) when linkRequired and the link went away meanwhile: the
    // window ends silently.
    std::optional<WindowReply> end(ReplyTimer &window, bool linkRequired = true);
    // The "Respond:" line with the reply's bytes.
    void logRespond(const WindowReply &reply);
    // True when reply may be decoded as the answer to the request of window.
    // A reply that fails the common checks is left to its decoder, which
    // reports it as always; one that passes them but does not answer the
    // request (another unit, another function, another byte count, a TCP
    // header of another transaction) gives one log line and false.
    bool answers(ReplyTimer &window, const WindowReply &reply);

    // --- sequences ---------------------------------------------------------------------
    bool sequenceRunning() const { return m_runningSequences > 0; }

    // A run of requests that is not a Sequence (a gateway tool's job) holds
    // periodic reads off for its lifetime, as a running sequence does.
    class Hold {
    public:
        explicit Hold(Exchange &exchange) : m_exchange(&exchange)
        {
            ++exchange.m_holds;
            exchange.sequenceStarted();
        }
        ~Hold()
        {
            if (m_exchange) {
                --m_exchange->m_holds;
                m_exchange->sequenceEnded();
            }
        }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        // Cleared when the window's Session goes first.
        QPointer<Exchange> m_exchange;
    };

signals:
    // The last running sequence has ended: a periodic read that waited may go.
    void sequenceFinished();

private:
    friend class Sequence;
    struct Pending {
        ModbusRequest request;
        uint16_t transactionId = 0;
        bool tcp = false;
        quint64 generation = 0;
        // The RTU frame as sent, for the echo an adapter may hand back.
        QByteArray frame;
    };
    void received();
    void sequenceStarted();
    void sequenceEnded();

    Session &m_session;
    RequestSettings m_settings;
    ReplyTimer *m_modbusWindow;
    QHash<const ReplyTimer *, Pending> m_pending;
    // The window whose request left last: the only one a complete reply in
    // the shared buffers can belong to.
    QPointer<ReplyTimer> m_latest;
    quint64 m_generation = 0;
    int m_runningSequences = 0;
    // Holds of gateway tools' jobs: the tabs' operations wait for them.
    int m_holds = 0;
};

// One step of a sequence: the request it sends (none: the step only waits
// one window) and the decoder of the reply its window ends on.
struct SequenceStep {
    std::function<std::optional<ModbusRequest>()> request;
    // Called with a non-empty reply that answers the request.
    std::function<void(const WindowReply &)> decode;
    // Runs just before the step's request leaves (progress, log lines).
    std::function<void()> begin;
};

// Runs a table of steps over one reply window: at each end of the window the
// owner's handler takes the reply and calls next(), which decodes it with the
// current step, moves on and sends the next step's request.
class Sequence : public QObject {
    Q_OBJECT
public:
    Sequence(Exchange &exchange, ReplyTimer &window, QObject *parent = nullptr);
    ~Sequence() override;

    enum class Start {
        // The first step's request leaves now.
        SendFirst,
        // The first request leaves at the end of the window (an open window
        // is not restarted): a sequence pressed again starts over there.
        AfterWindow,
    };
    void start(QVector<SequenceStep> steps, Start how);
    // Decodes reply with the current step (when non-empty and it answers),
    // then sends the next step's request or ends the sequence.
    void next(const WindowReply &reply);
    // Ends the sequence without another request (the link went away).
    void stop();

    bool running() const { return m_running; }
    // The step whose window is open: -1 while the first window only waits.
    int index() const { return m_index; }
    int size() const { return static_cast<int>(m_steps.size()); }

signals:
    void finished();

private:
    void sendCurrent();
    void setRunning(bool on);

    Exchange &m_exchange;
    // Cleared when the Session goes before the tab that holds the sequence
    // (the main window's members are destroyed before its child widgets).
    QPointer<Exchange> m_exchangeAlive;
    ReplyTimer &m_window;
    QVector<SequenceStep> m_steps;
    int m_index = -1;
    bool m_running = false;
};

} // namespace qvx
