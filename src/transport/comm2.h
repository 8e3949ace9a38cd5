// The serial-port component: a small layer over QSerialPort that offers the
// operations the program relies on (block and single-byte writes through a
// bounded queue, text write, RTS, purge, receive event) and nothing
// platform-specific.  Everything runs on the thread that owns it (the UI
// thread); QSerialPort's own notifier replaces the watcher and writer threads.
#pragma once

#include "core/link_errors.h"
#include "transport/port_name.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace qvx {

class Comm2 : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 TransmitQueueSize = 2048;
    static constexpr qint64 ReceiveQueueSize = 4096;
    static constexpr int FullQueueWaitMs = 1000;

    struct LineSettings {
        qint32 baudRate = 19200;
        QSerialPort::Parity parity = QSerialPort::EvenParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
        bool operator==(const LineSettings &) const = default;
    };

    explicit Comm2(QObject *parent = nullptr);
    ~Comm2() override;

    void setDevicePath(const QString &path) { m_path = path; }
    QString devicePath() const { return m_path; }
    void setLineSettings(const LineSettings &s) { m_settings = s; }
    LineSettings lineSettings() const { return m_settings; }
    // The settings the open port runs with now: lineSettings() unless
    // applyLine() changed them for a while.
    LineSettings activeLine() const { return m_active; }
    // Changes the rate and framing of the open port without closing it (an
    // IEC readout that starts at 300 baud or switches after its
    // acknowledgement); lineSettings() stays as it is, so that
    // applyLine(lineSettings()) goes back.  A line without framing of its own
    // refuses parity and 7 data bits as open() describes; false when any
    // other setting failed or the port is closed.
    bool applyLine(const LineSettings &s);

    // Opens the device exclusively for reading and writing and releases it at
    // once; false when it is missing, held by another program or refused.
    bool testOpen() { return probeOpen() == PortOpenFailure::None; }
    // The same test, saying why it failed.
    PortOpenFailure probeOpen();
    // The system's error number of the last failed probeOpen() (0 when the
    // system let this user open it and only a lock held by another program
    // refused it).
    int probeSystemError() const { return m_probeError; }
    // Opens the device and applies the line settings; raises QvxError with
    // the reason when any step fails (the port then stays closed).
    //
    // A line without modem-control lines (a pseudo-terminal such as a socat
    // or ser2net virtual port, some serial-over-network drivers) has no
    // framing of its own: the Linux pty refuses even parity and 7 data bits
    // outright.  Such a refusal is not an error there; the port opens with
    // whatever framing the device keeps.  A real UART that refuses a setting
    // still fails the open.
    void open();
    void close();
    bool isOpen() const;
    // True while the open port has no modem-control lines (see open()).
    bool isVirtualLine() const { return m_virtualLine; }

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

    // The ports the system reports (short names such as "ttyUSB0", taken
    // under /dev/), then the stable /dev/serial/by-id paths, without the
    // standard ttyS ports that "COM1" .. "COM20" already name.
    static QStringList systemPortNames();

signals:
    // Bytes have arrived; count is how many wait in the receive queue (> 0).
    void rxChar(int count);
    // The open device went away (hang-up, I/O error, adapter unplugged).  The
    // component has already stopped reading and released the device; reason
    // says it in plain words, the system's text after them.  Emitted once per
    // loss.
    void deviceLost(const QString &reason);
    // The port opened, closed, or runs at other settings now (activeLine()).
    void lineInUseChanged();
    // Taps for the traffic monitor: every block handed to the port, and every
    // chunk taken from it (purged bytes included), with the time they passed
    // in microseconds since the epoch.
    void bytesWrittenTap(const QByteArray &bytes, qint64 usec);
    void bytesReadTap(const QByteArray &bytes, qint64 usec);

private:
    [[noreturn]] void failOpen(int err);
    // Applies s to the open port; the error number of the first refused
    // setting, or 0.
    int applySettings(const LineSettings &s);
    void onPortError(QSerialPort::SerialPortError error);
    bool hasModemLines();

    QSerialPort *m_port = nullptr;
    QString m_path;
    LineSettings m_settings;
    LineSettings m_active;
    bool m_virtualLine = false;
    // Set while open() runs: its own failures are reported by open() itself.
    bool m_opening = false;
    // A loss was seen and its release is queued.
    bool m_lossPending = false;
    int m_probeError = 0;
};

// True when a serial port error means the device is gone (or no longer
// usable at all) rather than a passing condition: a read or write failure
// other than "try again", or the device disappearing.
bool isDeviceLossError(QSerialPort::SerialPortError error);

// The kind of a serial port failure, from the system's error number when it
// tells (errno), else from QSerialPort's own class of error.
LinkErrorKind serialErrorKind(QSerialPort::SerialPortError error, int systemError);

// The ten rates of the Speed box, in their order.
inline constexpr std::array<qint32, 10> StandardBaudRates = {300,   1200,  2400,  4800,  9600,
                                                             19200, 28800, 38400, 57600, 115200};

// Line settings from the texts of the four boxes: a rate only when the text is
// one of the ten items (19200 otherwise), a parity only when the text is one
// of "None", "Even", "Odd", "Mark", "Space" exactly (Even otherwise), 7 data
// bits only for "7", 2 stop bits only for "2".
Comm2::LineSettings lineSettingsFromTexts(const QString &speed, const QString &parity,
                                          const QString &dataBits, const QString &stopBits);

// The serial status panel of an open port: name " - " speed "," data bits ","
// parity, each as its box shows it while the box describes the line in use
// (a typed 14400 runs at 19200 and still reads 14400), else as the port runs
// now, whoever changed it (a gateway tool that moved the line, a box changed
// while the port is open, which takes effect only at the next opening).
// devicePath is the port's device; a name box that names another device
// gives way to it.
QString serialStatusText(const QString &name, const QString &speed, const QString &dataBits,
                         const QString &parity, const QString &devicePath, const Comm2::LineSettings &inUse);

} // namespace qvx
