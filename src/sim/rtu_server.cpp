#include "sim/rtu_server.h"

namespace qvxsim {

RtuServer::RtuServer(Device &device, ByteChannel *channel, const LinkOptions &options, QObject *parent)
    : QObject(parent), device_(device), channel_(channel), options_(options),
      transmitter_([this](const QByteArray &bytes) { channel_->write(bytes); }), applied_(device.rtuLine())
{
    silence_.setSingleShot(true);
    silence_.setInterval(SilenceMs);
    connect(&silence_, &QTimer::timeout, this, [this] { framer_.clear(); });
    connect(channel_, &ByteChannel::received, this, &RtuServer::onReceived);
    connect(&transmitter_, &Transmitter::idle, this, &RtuServer::afterSend);
    connect(&transmitter_, &Transmitter::chunkSent, this, [this](const QByteArray &bytes) {
        if (options_.monitor)
            options_.monitor(channel_->name(), QStringLiteral("TX"), bytes);
    });
}

void RtuServer::onReceived(const QByteArray &bytes)
{
    silence_.start();
    const QList<QByteArray> frames = framer_.feed(bytes);
    for (const QByteArray &frame : frames)
        handleFrame(frame);
}

void RtuServer::handleFrame(const QByteArray &frame)
{
    if (options_.monitor)
        options_.monitor(channel_->name(), QStringLiteral("RX"), frame);
    const auto unit = static_cast<uint8_t>(frame[0]);
    if (unit == 0) {
        handleRtuFrame(device_, frame); // broadcast: carried out, never answered
        return;
    }
    if (unit != device_.unitAddress())
        return;
    // The reply goes out at the settings the request came in with.
    const LineSettings line = device_.rtuLine();
    const Faults faults = options_.faults.forReply(++replies_);
    const QByteArray pdu = frame.mid(1, frame.size() - 3);
    const QByteArray reply = faults.exceptionFor(pdu) ? QByteArray() : handleRtuFrame(device_, frame);
    const QByteArray wire = applyByteFaults(faults, Framing::Rtu, frame, reply);
    // An empty plan (dropped reply) still reports idle, so a settings
    // change is applied either way.
    transmitter_.send(planReply(faults, wire), options_.pace ? line.charTimeUs() : 0);
}

void RtuServer::afterSend()
{
    const LineSettings now = device_.rtuLine();
    if (!(now == applied_)) {
        applied_ = now;
        channel_->applyLine(now);
    }
}

} // namespace qvxsim
