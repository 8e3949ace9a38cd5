// The gateway's operations as the command line and the window's tools run
// them: open a link, run requests through the Exchange one at a time, and
// read or write settings, registers, the meter table and values with the same
// encoders and decoders the window uses.
//
// GatewayClient runs each request to its end before it returns (a local event
// loop waits for the reply window), so a runner reads as a plain sequence of
// steps.  GatewayJob wraps a runner for a caller that must not wait: it starts
// on the event loop, reports progress and ends with finished(); cancel() ends
// the request in flight and stops the runner before its next request.
#pragma once

#include "gateway/gateway_format.h"
#include "meters/meter_table.h"
#include "transport/request.h"
#include "transport/session.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace qvx {

class ReplyTimer;

// Why a runner stopped.
class GatewayError : public std::runtime_error {
public:
    enum Kind {
        LinkFailed, // the link could not be opened
        NoAnswer,   // silence, a broken frame, or a reply to something else
        Exception,  // the gateway answered with an exception
        Mismatch,   // a read-back or diff found a difference
        Cancelled,
    };
    GatewayError(Kind kind, const QString &message)
        : std::runtime_error(message.toStdString()), m_kind(kind), m_message(message)
    {}
    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }

private:
    Kind m_kind;
    QString m_message;
};

class GatewayClient : public QObject {
    Q_OBJECT
public:
    // With a Session of its own (the command line) ...
    explicit GatewayClient(QObject *parent = nullptr);
    // ... or on the window's Session, whose link the window's panels opened:
    // open() and close() are then not used.
    explicit GatewayClient(Session &shared, QObject *parent = nullptr);
    ~GatewayClient() override;

    Session &session() { return *m_session; }

    // Opens the link it names and sets the request settings (unit,
    // time-out, windows end on a complete reply).  Raises LinkFailed.
    void open(const GatewayLink &link);
    void close();
    // On a shared Session: takes link as the description of the link the
    // window's panels opened (the line, the unit, the time-out), without
    // opening anything.
    void adoptLink(const GatewayLink &link);
    // The serial line's settings while open (scan changes them).
    void setSerialLine(int baud, const QString &parity);
    void setUnit(int unit);
    void setTimeoutMs(int ms);
    const GatewayLink &linkSettings() const { return m_link; }

    // Runs one request to the end of its window.  Returns the checked reply
    // frame (RTU form).  Raises NoAnswer, Exception or Cancelled.  A request
    // that is safe to repeat (RequestSafeToRepeat) whose reply was lost or
    // broken is sent again, up to retryLimit() times; an exception reply is
    // an answer and is never repeated.
    QByteArray transact(const ModbusRequest &request);
    // Number of requests sent since open, retries included.
    int requests() const { return m_requests; }
    // How often a request is sent again (2 unless told otherwise), and how
    // many times one was.
    void setRetryLimit(int n) { m_retryLimit = qMax(0, n); }
    int retryLimit() const { return m_retryLimit; }
    int retries() const { return m_retries; }
    // Replies that failed their CRC check since open (sent again or not).
    int crcErrors() const { return m_crcErrors; }
    // Sets the retry limit for as long as it lives (a probe whose silence is
    // the normal answer, a loop that has its own deadline).
    class RetryLimit {
    public:
        RetryLimit(GatewayClient &client, int n) : m_client(client), m_before(client.retryLimit())
        {
            client.setRetryLimit(n);
        }
        ~RetryLimit() { m_client.setRetryLimit(m_before); }
        RetryLimit(const RetryLimit &) = delete;
        RetryLimit &operator=(const RetryLimit &) = delete;

    private:
        GatewayClient &m_client;
        int m_before;
    };
    // What the last request's window ended on: the bytes received (without
    // a dropped echo), and whether they started with the request's own
    // frame (an echo that is not dropped: not counted in bytes).
    int lastReplyBytes() const { return m_lastReplyBytes; }
    bool lastReplyStartedWithRequest() const { return m_lastStartsWithRequest; }
    // The serial adapter echoes what it sends (the request path drops the
    // echo); kept in the Session's request settings.
    void setAdapterEchoes(bool on);

    // Ends the request in flight at once; every later request raises Cancelled.
    void cancel();
    bool cancelled() const { return m_cancelled; }

    // --- operations ------------------------------------------------------------
    QVector<uint16_t> readRegisters(bool input, int start, int count);
    // One value with function 6, several with function 16.
    void writeRegisters(int start, const QVector<uint16_t> &values);
    QString readFirmware();
    GatewayInfo readInfo();
    // The meter table for slots first..last (last clipped to 30 with 16-digit
    // IDs).  progress(slot) is called before each slot's list.
    void readMeterTable(MeterTable &table, bool sixteenDigits, bool longObis, int first, int last,
                        const std::function<void(int)> &progress = {});
    void writeMeterSlot(const MeterTable &table, int slot, bool sixteenDigits, bool longObis);
    // Rows of a slot's collected values (element 0 is row 1).
    QVector<std::optional<qint64>> readValues(int slot, bool sixtyFourBit);
    // Register 7, the readout period, the IEC line, network and unit writes.
    void writeFlag(int bit, bool set);
    void writeReadoutMinutes(int minutes);
    void writeIecLine(uint8_t line);
    void writeNetwork(const GatewayInfo &info);
    void writeUnitAddress(int unit);

signals:
    // One frame in either direction, for a trace.
    void frame(bool sent, const QByteArray &bytes);
    // A request goes out again: why, and the retry's number of limit.
    void retrying(const QString &why, int retry, int limit);

private:
    QByteArray transactOnce(const ModbusRequest &request, bool &lost);
    // Register 7 at the unit now set answers (for a unit address write whose
    // reply was lost).
    bool answersAtUnit();

    std::unique_ptr<Session> m_owned;
    Session *m_session;
    ReplyTimer *m_window;
    GatewayLink m_link;
    bool m_cancelled = false;
    int m_requests = 0;
    int m_retryLimit = 2;
    int m_retries = 0;
    int m_crcErrors = 0;
    int m_lastReplyBytes = 0;
    bool m_lastStartsWithRequest = false;
    // How the advice to drop echoes is put: the command line's option, or
    // the window's Options box.
    QString m_echoAdvice;
};

// A runner started on the event loop, for callers that must stay responsive.
class GatewayJob : public QObject {
    Q_OBJECT
public:
    using Runner = std::function<void(GatewayClient &, GatewayJob &)>;
    GatewayJob(GatewayClient &client, Runner runner, QObject *parent = nullptr);

    void start();
    void cancel();
    // For the runner: reports a step.
    void reportProgress(int done, int total, const QString &what) { emit progress(done, total, what); }

    bool ok() const { return m_ok; }
    std::optional<GatewayError::Kind> errorKind() const { return m_kind; }
    QString error() const { return m_error; }

    // Runs runner on client to its end and returns when it has finished.
    static void runSync(GatewayClient &client, const Runner &runner);

signals:
    void progress(int done, int total, const QString &what);
    void finished(bool ok, const QString &error);

private:
    void run();
    GatewayClient &m_client;
    Runner m_runner;
    bool m_ok = false;
    std::optional<GatewayError::Kind> m_kind;
    QString m_error;
};

} // namespace qvx
