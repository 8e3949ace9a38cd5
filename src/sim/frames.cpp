#include "sim/frames.h"

#include "transport/modbus.h"

namespace qvxsim {

namespace {
bool crcOk(const QByteArray &frame)
{
    if (frame.size() < 4)
        return false;
    const uint16_t crc = qvx::ModbusCrc16(frame.constData(), frame.size() - 2);
    return static_cast<uint8_t>(frame[frame.size() - 2]) == (crc & 0xFF) &&
           static_cast<uint8_t>(frame[frame.size() - 1]) == (crc >> 8);
}
} // namespace

QByteArray handleRtuFrame(Device &device, const QByteArray &frame)
{
    if (!crcOk(frame))
        return {};
    const auto unit = static_cast<uint8_t>(frame[0]);
    if (unit != 0 && unit != device.unitAddress())
        return {};
    const QByteArray reply = device.handlePdu(frame.mid(1, frame.size() - 3));
    if (unit == 0 || reply.isEmpty())
        return {};
    return qvx::rtuFrame(unit, reply);
}

QByteArray handleTcpAdu(Device &device, const QByteArray &adu)
{
    if (adu.size() < 8 || adu[2] != 0 || adu[3] != 0)
        return {};
    const auto unit = static_cast<uint8_t>(adu[6]);
    if (unit != device.unitAddress() && unit != 0 && unit != 255)
        return {};
    const QByteArray reply = device.handlePdu(adu.mid(7));
    if (reply.isEmpty())
        return {};
    const uint16_t tid =
        static_cast<uint16_t>((static_cast<uint8_t>(adu[0]) << 8) | static_cast<uint8_t>(adu[1]));
    return qvx::tcpFrame(tid, unit, reply);
}

int rtuRequestLength(const QByteArray &head)
{
    if (head.size() < 2)
        return 0;
    switch (static_cast<uint8_t>(head[1])) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08:
        return 8;
    case 0x07:
    case 0x0B:
    case 0x0C:
    case 0x11:
        return 4;
    case 0x0F:
    case 0x10:
        return head.size() < 7 ? 0 : 9 + static_cast<uint8_t>(head[6]);
    case 0x16:
        return 10;
    case 0x17:
        return head.size() < 11 ? 0 : 13 + static_cast<uint8_t>(head[10]);
    case 0x2B:
        if (head.size() < 3)
            return 0;
        return static_cast<uint8_t>(head[2]) == 0x0E ? 7 : -1;
    default:
        return -1;
    }
}

namespace {
// A frame at the start of view: its length when complete with a good CRC,
// 0 when it may still become one, -1 when it cannot.
int frameAt(const QByteArray &view, bool knownLengthOnly)
{
    const int len = rtuRequestLength(view);
    if (len == 0)
        return 0;
    if (len > 0) {
        if (view.size() < len)
            return 0;
        return crcOk(view.left(len)) ? len : -1;
    }
    if (knownLengthOnly)
        return -1;
    for (int n = 4; n <= qMin<qsizetype>(view.size(), RtuFramer::MaxFrame); ++n)
        if (crcOk(view.left(n)))
            return n;
    return view.size() >= RtuFramer::MaxFrame ? -1 : 0;
}
} // namespace

QList<QByteArray> RtuFramer::feed(const QByteArray &bytes)
{
    buffer_.append(bytes);
    QList<QByteArray> frames;
    while (!buffer_.isEmpty()) {
        const int n = frameAt(buffer_, false);
        if (n > 0) {
            frames.append(buffer_.left(n));
            buffer_.remove(0, n);
            continue;
        }
        if (n < 0) {
            buffer_.remove(0, 1);
            continue;
        }
        // An incomplete head of unknown length may be noise: if a request of
        // known length lines up further on, the head was noise.  (A head of
        // known length just waits; the silence after it clears it.)
        if (rtuRequestLength(buffer_) != -1)
            break;
        qsizetype next = -1;
        for (qsizetype i = 1; i < buffer_.size() && next < 0; ++i)
            if (frameAt(buffer_.mid(i), true) > 0)
                next = i;
        if (next < 0)
            break;
        buffer_.remove(0, next);
    }
    return frames;
}

bool TcpFramer::feed(const QByteArray &bytes, QList<QByteArray> *adus)
{
    buffer_.append(bytes);
    while (buffer_.size() >= 6) {
        const int length = (static_cast<uint8_t>(buffer_[4]) << 8) | static_cast<uint8_t>(buffer_[5]);
        if (length < 2 || length > 300)
            return false;
        if (buffer_.size() < 6 + length)
            break;
        adus->append(buffer_.left(6 + length));
        buffer_.remove(0, 6 + length);
    }
    return true;
}

} // namespace qvxsim
