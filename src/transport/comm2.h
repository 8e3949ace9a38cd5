// The serial-port component: a small layer over QSerialPort that offers the
// operations the program relies on (block and single-byte writes through a
// bounded queue, text write, RTS, purge, receive event) and nothing
// platform-specific.  Everything runs on the thread that owns it (the UI
// thread); QSerialPort's own notifier replaces the watcher and writer threads.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <cstdint>

namespace qvx {

class Comm2 : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 TransmitQueueSize = 2048;
    static constexpr qint64 ReceiveQueueSize = 4096;

    struct LineSettings {
        qint32 baudRate = 19200;
        QSerialPort::Parity parity = QSerialPort::EvenParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    };

    explicit Comm2(QObject *parent = nullptr);
    ~Comm2() override;

    void setDevicePath(const QString &path) { m_path = path; }
    QString devicePath() const { return m_path; }
    void setLineSettings(const LineSettings &s) { m_settings = s; }
    LineSettings lineSettings() const { return m_settings; }

    // Opens the device exclusively for reading and writing and releases it at
    // once; false when it is missing or held by another program.
    bool testOpen();
    // Opens the device and applies the line settings; raises QvxError with
    // the reason when any step fails (the port then stays closed).
    void open();
    void close();
    bool isOpen() const;

    // Queues bytes for writing.  When the queue cannot take them, waits up to
    // 1000 ms for room, then raises "Output buffer is full. Please check comm
    // status.".  Does nothing while the port is closed.
    void blockWrite(const QByteArray &bytes);
    void writeByte(uint8_t byte) { blockWrite(QByteArray(1, static_cast<char>(byte))); }
    // Like blockWrite, but reports a full queue as false instead of raising.
    bool writeText(const QByteArray &text);
    // Raises or lowers RTS.  A port without an RTS line (pseudo-terminals,
    // some adapters) reports the change as unsupported: that counts as done.
    // Any other failure raises "Error calling comm function (%d), %s".
    void setRts(bool on);
    // Discards everything not yet read or written.
    void purge();
    // Up to count waiting bytes.
    QByteArray read(qint64 count);
    qint64 bytesWaiting() const;

signals:
    // Bytes have arrived; count is how many wait in the receive queue (> 0).
    void rxChar(int count);

private:
    QSerialPort *m_port = nullptr;
    QString m_path;
    LineSettings m_settings;
};

} // namespace qvx
