// A real serial port (QSerialPort) as a byte channel, and Modbus RTU on it.
#pragma once

#include "sim/link_common.h"
#include "sim/rtu_server.h"

#include <QSerialPort>

namespace qvxsim {

class SerialChannel : public ByteChannel {
    Q_OBJECT
public:
    explicit SerialChannel(const QString &name = QStringLiteral("serial"), QObject *parent = nullptr);

    bool open(const QString &device, const LineSettings &line, QString *error);
    void close() { port_.close(); }
    void write(const QByteArray &bytes) override { port_.write(bytes); }
    void applyLine(const LineSettings &line) override;
    QString name() const override { return name_ + QLatin1Char(' ') + port_.portName(); }
    QSerialPort &port() { return port_; }

private:
    QString name_;
    QSerialPort port_;
    LineSettings pendingLine_;
    bool linePending_ = false;
};

// Modbus RTU on a serial port at the device's RTU settings (32786); when
// those change, the port follows once the acknowledgement has left.
class SerialLink : public QObject {
    Q_OBJECT
public:
    SerialLink(Device &device, const LinkOptions &options = {}, QObject *parent = nullptr);

    bool open(const QString &device);
    void close() { channel_.close(); }
    QString errorString() const { return error_; }
    RtuServer &server() { return server_; }

private:
    Device &device_;
    SerialChannel channel_;
    RtuServer server_;
    QString error_;
};

} // namespace qvxsim
