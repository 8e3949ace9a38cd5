#include "transport/session.h"

#include "core/errors.h"

namespace qvx {

Session::Session(QObject *parent) : QObject(parent), m_comm2(this), m_socket(this), m_exchange(new Exchange(*this))
{
    connect(&m_comm2, &Comm2::rxChar, this, &Session::Comm2RxChar);
    connect(&m_socket, &XportSocket::readReady, this, &Session::Xport_socketRead);
}

void Session::appendCapped(QByteArray &buffer, const QByteArray &bytes)
{
    buffer.append(bytes);
    if (buffer.size() > RxBufferLimit)
        buffer.remove(0, buffer.size() - RxBufferLimit);
}

QByteArray Session::takeReply()
{
    if (TransportMode == TransportModeKind::Tcp) {
        const TcpToRtuResult r = TcpReplyToRtu(TcpRxBuffer);
        if (!r.logLine.isEmpty())
            log(r.logLine);
        return r.rtu;
    }
    return RxBuffer;
}

void Session::setStatus(int panel, const QString &text)
{
    m_status.at(static_cast<size_t>(panel)) = text;
    emit statusChanged(panel, text);
}

QByteArray Session::buildFrame(uint8_t unit, const QByteArray &pdu)
{
    if (TransportMode == TransportModeKind::Tcp) {
        const auto id = static_cast<uint16_t>(TransactionId & 0xFFFF);
        ++TransactionId;
        return tcpFrame(id, unit, pdu);
    }
    return rtuFrame(unit, pdu);
}

void Session::tcpSend(const QByteArray &frame, const QString &sentPrefix)
{
    try {
        m_socket.send(frame);
    } catch (const QvxError &e) {
        log(QStringLiteral("Exception socket - ") + e.message());
        return;
    } catch (const std::exception &e) {
        log(QStringLiteral("Exception socket - ") + QString::fromLocal8Bit(e.what()));
        return;
    }
    if (!sentPrefix.isEmpty())
        log(sentPrefix + hexBytes(frame));
}

void Session::rtsLoweredOnError(const std::function<void()> &write)
{
    // A write that fails (the full output queue) still ends the caller's
    // handler, but must not leave an RS-485 driver keyed: a raised RTS would
    // hold the bus and swallow every reply after it.
    try {
        write();
    } catch (...) {
        try {
            m_comm2.setRts(false);
        } catch (...) {
            // The write's error is the one to report.
        }
        throw;
    }
}

void Session::writeBytesSingly(const QByteArray &frame)
{
    for (char c : frame)
        m_comm2.writeByte(static_cast<uint8_t>(c));
}

void Session::SendReadHolding(uint8_t unit, int start, int count)
{
    const QByteArray frame = buildFrame(unit, pduReadHolding(start, count));
    if (TransportMode == TransportModeKind::Tcp) {
        tcpSend(frame);
        return;
    }
    if (!SerialPortOpen)
        return;
    try {
        m_comm2.blockWrite(frame);
    } catch (const QvxError &e) {
        log(QStringLiteral("Exception sending command - ") + e.message());
    }
}

void Session::SendReadInput(uint8_t unit, int start, int count)
{
    const QByteArray frame = buildFrame(unit, pduReadInput(start, count));
    if (TransportMode == TransportModeKind::Tcp) {
        tcpSend(frame, QStringLiteral("SENT:"));
        return;
    }
    log(QStringLiteral("SENT:") + hexBytes(frame));
    m_comm2.blockWrite(frame);
}

void Session::SendWriteSingle(uint8_t unit, int address, uint8_t valueHigh, uint8_t valueLow)
{
    const QByteArray frame = buildFrame(unit, pduWriteSingle(address, valueHigh, valueLow));
    if (TransportMode == TransportModeKind::Tcp) {
        tcpSend(frame, QStringLiteral("SENT:"));
        return;
    }
    writeBytesSingly(frame);
    log(QStringLiteral("SENT:") + hexBytes(frame));
}

void Session::SendWriteMultiple(uint8_t unit, int address, uint8_t byteCount, const QByteArray &data)
{
    const QByteArray frame = buildFrame(unit, pduWriteMultiple(address, byteCount, data));
    if (TransportMode == TransportModeKind::Tcp) {
        tcpSend(frame, QStringLiteral("SENT: "));
        return;
    }
    // RS-485 adapters that key the driver from RTS: raised before the first
    // byte, lowered once the bytes are queued (not once they have left).
    m_comm2.setRts(true);
    rtsLoweredOnError([&] { writeBytesSingly(frame); });
    log(QStringLiteral("SENT: ") + hexBytes(frame));
    m_comm2.setRts(false);
}

void Session::SendReadDeviceId(uint8_t unit, uint8_t code)
{
    const QByteArray frame = buildFrame(unit, pduReadDeviceId(code));
    if (TransportMode == TransportModeKind::Tcp) {
        tcpSend(frame);
        return;
    }
    m_comm2.setRts(true);
    rtsLoweredOnError([&] { m_comm2.blockWrite(frame); });
    m_comm2.setRts(false);
}

void Session::Comm2RxChar(int count)
{
    // The announced count is only where reading starts: the work area takes
    // 1024 bytes at a time, and reading goes on while the component holds
    // more, so a burst larger than the area, or bytes that came in while this
    // ran, reach RxBuffer whole and in order.
    Q_UNUSED(count);
    for (qint64 waiting = m_comm2.bytesWaiting(); waiting > 0; waiting = m_comm2.bytesWaiting()) {
        const QByteArray chunk = m_comm2.read(qMin<qint64>(waiting, 1024));
        if (chunk.isEmpty())
            break;
        appendCapped(RxBuffer, chunk);
        if (ReadoutCaptureActive)
            emit readoutBytes(chunk);
    }
    emit received();
}

void Session::Xport_socketRead()
{
    try {
        appendCapped(TcpRxBuffer, m_socket.receiveAll());
        emit received();
    } catch (const std::exception &e) {
        log(QStringLiteral("Exception - ") + QString::fromLocal8Bit(e.what()));
    }
}

} // namespace qvx
