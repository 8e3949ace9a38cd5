// The simulated electricity meter on a line: it waits for the IEC 62056-21
// sign-on "/?" + address + "!" CR LF and, for its own address or an empty
// one, answers with its identification line and data block after a short
// response time, at the pace of its line.  In mode C it sends the
// identification line alone, at the rate the sign-on came at, waits for the
// acknowledgement and sends the data block at the rate that asks for.  Its readings are those of
// the meter with the same ID behind the simulated gateway.
#pragma once

#include "sim/link_common.h"
#include "sim/meter.h"

#include <memory>

namespace qvxsim {

struct MeterOptions {
    QString address = QStringLiteral("12345678");
    // 9600 baud, 7 data bits, even parity: 10 bits a character.
    LineSettings line{9600, 'E', 7, 1};
    // Time between the end of the request and the first byte of the answer.
    int responseMs = 200;
    // The fifth character is the baud character: '5' announces 9600 baud.
    QByteArray identification = "/QVX5SIMMETER";
    AnswerStyle style;
    // Billing history lines added before the last line ("1.8.0*01(...)"),
    // for readouts of a realistic length.
    int historyLines = 0;
    // Data sets of other shapes, added before the last line: a maximum demand
    // with its time stamp, a billing value with its date, '&' sub-values.
    bool demandLine = false;
    bool billingLine = false;
    bool subValueLine = false;
    // Sends its answer by itself every pushSeconds (0: only when asked).
    int pushSeconds = 0;
    // Mode C: wait for the acknowledgement after the identification line.
    bool modeC = false;
    // How long it waits for the acknowledgement before it gives up.
    int ackTimeoutMs = 2000;
    // Characters go out with their parity bit as the top bit, as a client
    // reading 8 data bits without parity sees a 7E1 or 7O1 meter (a
    // pseudo-terminal has no framing of its own).
    bool parityOnWire = false;
    FrameMonitor monitor;
};

class MeterLink : public QObject {
    Q_OBJECT
public:
    MeterLink(Device &device, const MeterOptions &options = {}, QObject *parent = nullptr);
    ~MeterLink() override;

    bool openPty(const QString &symlinkPath = QString());
    bool openSerial(const QString &device);
    void close();
    // The pseudo-terminal's slave device (empty on a serial port).
    QString slavePath() const;
    QString errorString() const { return error_; }
    // Sign-ons answered so far.
    int answers() const { return answers_; }

    // The answer this meter gives now.
    QByteArray answer();
    // The rates the client had set, as the meter saw them: at each sign-on
    // and, in mode C, when the data block starts after the acknowledgement
    // (0 where the channel cannot tell).
    const QList<int> &clientRates() const { return clientRates_; }
    // Acknowledgements received (mode C).
    int acks() const { return acks_; }

private:
    void attach(ByteChannel *channel);
    void onReceived(const QByteArray &bytes);
    void onAck(const AckRequest &ack);
    QList<QByteArray> dataLines();
    // The pace of the line at a rate, or at the line's own rate for 0.
    qint64 charTimeUs(int baud) const;
    QByteArray onWire(const QByteArray &bytes) const;

    Device &device_;
    MeterOptions options_;
    std::unique_ptr<ByteChannel> channel_;
    std::unique_ptr<Transmitter> transmitter_;
    QByteArray buffer_;
    QString error_;
    int answers_ = 0;
    int acks_ = 0;
    QList<int> clientRates_;
    // Mode C: the identification line has gone, the acknowledgement is due.
    bool awaitingAck_ = false;
    QTimer ackTimer_;
    QTimer pushTimer_;
};

} // namespace qvxsim
