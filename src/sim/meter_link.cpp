#include "sim/meter_link.h"

#include "sim/pty_link.h"
#include "sim/serial_link.h"

namespace qvxsim {

MeterLink::MeterLink(Device &device, const MeterOptions &options, QObject *parent)
    : QObject(parent), device_(device), options_(options)
{}

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
}

QByteArray MeterLink::answer()
{
    SimMeter &meter = device_.meters().meter(options_.address);
    meter.advanceTo(device_.meters().now());
    return buildMeterAnswer(options_.identification, meter.dataLines(QDateTime::currentDateTime()));
}

void MeterLink::onReceived(const QByteArray &bytes)
{
    buffer_.append(bytes);
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
        transmitter_->send({Chunk{options_.responseMs, answer()}}, options_.line.charTimeUs());
    }
}

} // namespace qvxsim
