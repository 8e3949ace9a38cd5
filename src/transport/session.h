// The link state that every area shares, the two links, and the five Modbus
// request operations.  One Session is created by the main window and handed
// to every area by reference; nothing here is a process-wide global.
#pragma once

#include "transport/comm2.h"
#include "transport/exchange.h"
#include "transport/modbus.h"
#include "transport/xport_socket.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace qvx {

class Session : public QObject {
    Q_OBJECT
public:
    // The receive buffers keep only their newest bytes: a chatty line must not
    // grow memory without bound, and no reply evaluated is near this long.
    static constexpr qsizetype RxBufferLimit = 64 * 1024;

    explicit Session(QObject *parent = nullptr);

    // --- link state ---------------------------------------------------------
    TransportModeKind TransportMode = TransportModeKind::Rtu;
    int32_t TransactionId = 0;
    bool SerialPortOpen = false;
    bool WritePending = false;
    // Set while an IEC readout captures the serial line.
    bool ReadoutCaptureActive = false;
    QByteArray RxBuffer;
    QByteArray TcpRxBuffer;

    // --- shared context -------------------------------------------------------
    // The program's folder (ends in a separator): the settings file, the user
    // manual and the log files live there.  "--data-dir" can name another.
    QString ProgramDir;
    // Folder in which the CSV save dialog opens; from the settings file.
    QString WorkDir;

    // The link state when a link opens or closes, the same for the window's
    // panels and for every other requester.
    void setSerialPortOpen(bool open)
    {
        if (SerialPortOpen == open)
            return;
        SerialPortOpen = open;
        emit serialPortOpenChanged(open);
    }
    // A TCP connection made (transaction identifiers start again at 1000) or
    // lost.
    void setTcpConnected(bool connected)
    {
        TransportMode = connected ? TransportModeKind::Tcp : TransportModeKind::Rtu;
        if (connected)
            TransactionId = 1000;
    }

    Comm2 &comm2() { return m_comm2; }
    // The one request path every operation runs its requests through.
    Exchange &exchange() { return *m_exchange; }
    XportSocket &socket() { return m_socket; }

    // True when a request may be sent: the serial port is open or a TCP
    // connection exists.
    bool linkOpen() const { return SerialPortOpen || TransportMode == TransportModeKind::Tcp; }
    // The link check every device operation starts with: false, after logging
    // "Serial or TCP port for modbus is not open...", when no link is open.
    bool checkLink()
    {
        if (linkOpen())
            return true;
        log(QStringLiteral("Serial or TCP port for modbus is not open..."));
        return false;
    }
    void clearBuffers()
    {
        RxBuffer.clear();
        TcpRxBuffer.clear();
    }
    // Purges the serial port (nothing when it is closed).
    void purge() { m_comm2.purge(); }
    // The reply as the windows see it: in TCP mode the RTU form of a copy of
    // TcpRxBuffer (logging the raw-data line for a runt), else a copy of
    // RxBuffer.  The buffers are left as they are.
    QByteArray takeReply();

    static void appendCapped(QByteArray &buffer, const QByteArray &bytes);

    // --- operator log and status bar ------------------------------------------
    void log(const QString &line) { emit logLine(line); }
    void setStatus(int panel, const QString &text);
    QString status(int panel) const { return m_status.at(static_cast<size_t>(panel)); }
    // A passing word for the status bar about what just happened (a file
    // written, why a write failed); the window shows it for a few seconds.
    // Never a replacement for a log line the operator relies on.
    void notify(const QString &text) { emit notice(text); }

    // --- request operations ---------------------------------------------------
    // In RTU framing the serial component's errors (for instance the full
    // output queue) propagate to the caller, except for SendReadHolding, which
    // logs them.
    void SendReadHolding(uint8_t unit, int start, int count);
    void SendReadInput(uint8_t unit, int start, int count);
    void SendWriteSingle(uint8_t unit, int address, uint8_t valueHigh, uint8_t valueLow);
    void SendWriteMultiple(uint8_t unit, int address, uint8_t byteCount, const QByteArray &data);
    void SendReadDeviceId(uint8_t unit, uint8_t code);

    // --- receive events ----------------------------------------------------------
    // Serial receive handler: appends every waiting byte to RxBuffer and, while
    // a readout capture runs, hands the same bytes to it.
    void Comm2RxChar(int count);
    // TCP receive handler.
    void Xport_socketRead();

signals:
    void logLine(const QString &line);
    void statusChanged(int panel, const QString &text);
    // SerialPortOpen changed (whoever opened or closed the port: the toggle,
    // a gateway tool, a lost device).
    void serialPortOpenChanged(bool open);
    void notice(const QString &text);
    // Bytes were appended to RxBuffer or TcpRxBuffer.
    void received();
    // The bytes of one serial receive event while ReadoutCaptureActive is set.
    void readoutBytes(const QByteArray &bytes);

private:
    // Builds the frame for the current transport mode; TCP takes and advances
    // TransactionId.
    QByteArray buildFrame(uint8_t unit, const QByteArray &pdu);
    // TCP send of a whole frame; a raised error becomes "Exception socket -
    // ..." and no further line.  Otherwise sentPrefix (when given) starts the
    // line that shows the frame.
    void tcpSend(const QByteArray &frame, const QString &sentPrefix = {});
    void writeBytesSingly(const QByteArray &frame);
    // Runs a serial write inside a request that raised RTS; lowers RTS again
    // if the write raises, then lets the error go on.
    void rtsLoweredOnError(const std::function<void()> &write);

    Comm2 m_comm2;
    XportSocket m_socket;
    std::array<QString, 4> m_status;
    Exchange *m_exchange;
};

} // namespace qvx
