#include "sim/meter_link.h"

#include "sim/pty_link.h"
#include "sim/serial_link.h"
#include "iec/iec_protocol.h"

namespace qvxsim {

MeterLink::MeterLink(Device &device, const MeterOptions &options, QObject *parent)
    : QObject(parent), device_(device), options_(options)
{
    ackTimer_.setSingleShot(true);
    connect(&ackTimer_, &QTimer::timeout, this, [this] { awaitingAck_ = false; });
    // A meter that pushes (mode D, a P1 port) talks whether anyone listens;
    // a telegram still going out is not interrupted.
    connect(&pushTimer_, &QTimer::timeout, this, [this] {
        if (channel_ && transmitter_ && !transmitter_->busy())
            transmitter_->send({Chunk{0, onWire(answer())}}, options_.line.charTimeUs());
    });
}

MeterLink::~MeterLink()
{
    close();
}

bool MeterLink::openPty(const QString &symlinkPath)
{
    auto pty = std::make_unique<PtyChannel>(QStringLiteral("meter"));
    if (!pty->open(symlinkPath, &error_))
        return false;
    attach(pty.release());
    return true;
}

bool MeterLink::openSerial(const QString &device)
{
    auto port = std::make_unique<SerialChannel>(QStringLiteral("meter"));
    if (!port->open(device, options_.line, &error_))
        return false;
    attach(port.release());
    return true;
}

void MeterLink::close()
{
    transmitter_.reset();
    channel_.reset();
    buffer_.clear();
    awaitingAck_ = false;
    ackTimer_.stop();
    pushTimer_.stop();
}

QString MeterLink::slavePath() const
{
    const auto *pty = qobject_cast<const PtyChannel *>(channel_.get());
    return pty ? pty->slavePath() : QString();
}

void MeterLink::attach(ByteChannel *channel)
{
    close();
    channel_.reset(channel);
    transmitter_ = std::make_unique<Transmitter>([this](const QByteArray &bytes) { channel_->write(bytes); });
    connect(transmitter_.get(), &Transmitter::chunkSent, this, [this](const QByteArray &bytes) {
        if (options_.monitor)
            options_.monitor(channel_->name(), QStringLiteral("TX"), bytes);
    });
    connect(channel_.get(), &ByteChannel::received, this, &MeterLink::onReceived);
    if (options_.pushSeconds > 0)
        pushTimer_.start(options_.pushSeconds * 1000);
}

QList<QByteArray> MeterLink::dataLines()
{
    SimMeter &meter = device_.meters().meter(options_.address);
    meter.advanceTo(device_.meters().now());
    QList<QByteArray> lines = meter.dataLines(QDateTime::currentDateTime());
    // Earlier billing periods of the energy registers, newest first.
    QList<const MeterRegister *> energies;
    for (const MeterRegister &r : meter.registers())
        if (r.d == 8)
            energies.append(&r);
    QList<QByteArray> history;
    for (int i = 0; i < options_.historyLines && !energies.isEmpty(); ++i) {
        const MeterRegister &r = *energies.at(i % energies.size());
        const int period = i / int(energies.size()) + 1;
        history.append((r.code() + QStringLiteral("*%1(").arg(period % 100, 2, 10, QLatin1Char('0')) +
                        r.formatted() + QLatin1Char(')'))
                           .toLatin1());
    }
    if (options_.demandLine)
        history.append("1.6.0(02.468*kW)(2403100930)");
    if (options_.billingLine)
        history.append("0.1.2*04(24-03-01 00:00)");
    if (options_.subValueLine)
        history.append("9.4(088*C&082*C)");
    const QByteArray last = lines.takeLast();
    return lines + history + QList<QByteArray>{last};
}

QByteArray MeterLink::answer()
{
    return buildMeterAnswer(options_.identification, dataLines(), options_.style);
}

qint64 MeterLink::charTimeUs(int baud) const
{
    LineSettings line = options_.line;
    if (baud > 0)
        line.baud = baud;
    return line.charTimeUs();
}

QByteArray MeterLink::onWire(const QByteArray &bytes) const
{
    if (!options_.parityOnWire || options_.line.dataBits != 7 || options_.line.parity == 'N')
        return bytes;
    return withParityBit(bytes, options_.line.parity);
}

void MeterLink::onAck(const AckRequest &ack)
{
    if (options_.monitor)
        options_.monitor(channel_->name(), QStringLiteral("RX"),
                         QByteArray("\x06"
                                    "0") +
                             ack.baudChar + ack.mode);
    if (!awaitingAck_)
        return;
    awaitingAck_ = false;
    ackTimer_.stop();
    ++acks_;
    // Only the data readout is simulated; programming mode is not offered.
    if (ack.mode != '0')
        return;
    const int baud = qvx::IecModeCBaud(ack.baudChar);
    const QByteArray block = onWire(buildDataMessage(dataLines(), options_.style));
    // On a pseudo-terminal the acknowledgement arrives at once; on a line it
    // takes its six characters' time at the old rate, and the client switches
    // its port after that.  The meter waits that long plus its response time
    // and reads the client's rate when the block starts.
    const int ackWireMs = int(6 * charTimeUs(channel_->clientBaud()) / 1000);
    QTimer::singleShot(ackWireMs + options_.responseMs, this, [this, baud, block] {
        if (!channel_)
            return;
        clientRates_.append(channel_->clientBaud());
        transmitter_->send({Chunk{0, block}}, charTimeUs(baud));
    });
}

void MeterLink::onReceived(const QByteArray &bytes)
{
    buffer_.append(bytes);
    if (awaitingAck_) {
        const AckRequest ack = parseAck(buffer_);
        if (ack.found) {
            buffer_.remove(0, ack.consumed);
            onAck(ack);
            return;
        }
        // An incomplete acknowledgement waits for its other bytes.
        if (ack.consumed < buffer_.size() && buffer_.at(ack.consumed) == '\x06')
            return;
    }
    for (;;) {
        const SignOn s = parseSignOn(buffer_);
        buffer_.remove(0, s.consumed);
        if (!s.found)
            break;
        if (options_.monitor)
            options_.monitor(channel_->name(), QStringLiteral("RX"),
                             s.address.isEmpty() ? "/?!" : "/?" + s.address + "!");
        // A meter that is still talking does not listen; other addresses are
        // for other meters on the bus.
        if (transmitter_->busy())
            continue;
        if (!s.address.isEmpty() && s.address != options_.address.toLatin1())
            continue;
        ++answers_;
        const int clientBaud = channel_->clientBaud();
        clientRates_.append(clientBaud);
        if (!options_.modeC) {
            transmitter_->send({Chunk{options_.responseMs, onWire(answer())}}, options_.line.charTimeUs());
            continue;
        }
        // Mode C: the identification line at the rate the sign-on came at.
        const QByteArray id = onWire(buildIdentificationLine(options_.identification, options_.style));
        transmitter_->send({Chunk{options_.responseMs, id}}, charTimeUs(clientBaud));
        awaitingAck_ = true;
        ackTimer_.start(options_.responseMs + int(id.size() * charTimeUs(clientBaud) / 1000) +
                        options_.ackTimeoutMs);
    }
}

} // namespace qvxsim
