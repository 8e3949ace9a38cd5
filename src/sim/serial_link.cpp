#include "sim/serial_link.h"

namespace qvxsim {

namespace {
void configure(QSerialPort &port, const LineSettings &line)
{
    port.setBaudRate(line.baud);
    port.setDataBits(line.dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8);
    port.setParity(line.parity == 'E'   ? QSerialPort::EvenParity
                   : line.parity == 'O' ? QSerialPort::OddParity
                                        : QSerialPort::NoParity);
    port.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}
} // namespace

SerialChannel::SerialChannel(const QString &name, QObject *parent) : ByteChannel(parent), name_(name)
{
    connect(&port_, &QSerialPort::readyRead, this, [this] { emit received(port_.readAll()); });
    // A new line setting waits until the bytes before it have left the port.
    connect(&port_, &QSerialPort::bytesWritten, this, [this] {
        if (linePending_ && port_.bytesToWrite() == 0) {
            linePending_ = false;
            configure(port_, pendingLine_);
        }
    });
}

bool SerialChannel::open(const QString &device, const LineSettings &line, QString *error)
{
    port_.setPortName(device);
    configure(port_, line);
    if (!port_.open(QIODevice::ReadWrite)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(device, port_.errorString());
        return false;
    }
    configure(port_, line);
    return true;
}

void SerialChannel::applyLine(const LineSettings &line)
{
    if (port_.bytesToWrite() > 0) {
        pendingLine_ = line;
        linePending_ = true;
    } else {
        configure(port_, line);
    }
}

SerialLink::SerialLink(Device &device, const LinkOptions &options, QObject *parent)
    : QObject(parent), device_(device), channel_(QStringLiteral("serial")),
      server_(device, &channel_, options)
{}

bool SerialLink::open(const QString &device)
{
    return channel_.open(device, device_.rtuLine(), &error_);
}

} // namespace qvxsim
