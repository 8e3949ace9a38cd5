#include "sim/frames.h"

#include "transport/modbus.h"

#include <array>

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

namespace {

// Length of the request at head (size bytes there): see rtuRequestLength.
int requestLength(const char *head, qsizetype size)
{
    if (size < 2)
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
        return size < 7 ? 0 : 9 + static_cast<uint8_t>(head[6]);
    case 0x16:
        return 10;
    case 0x17: {
        if (size < 11)
            return 0;
        // A byte count over 251 would make it longer than any request.
        const int length = 13 + static_cast<uint8_t>(head[10]);
        return length <= RtuFramer::MaxFrame ? length : -1;
    }
    case 0x2B:
        if (size < 3)
            return 0;
        return static_cast<uint8_t>(head[2]) == 0x0E ? 7 : -1;
    default:
        return -1;
    }
}

// The Modbus CRC a byte at a time (the same register as qvx::ModbusCrc16).
constexpr std::array<uint16_t, 256> CrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
        table[static_cast<size_t>(i)] = crc;
    }
    return table;
}();

uint16_t crcStep(uint16_t crc, char byte)
{
    return static_cast<uint16_t>((crc >> 8) ^ CrcTable[(crc ^ static_cast<uint8_t>(byte)) & 0xFF]);
}

// The CRC a frame states in its last two bytes (at p), low byte first.
uint16_t statedCrc(const char *p)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
}

// A request of known length at p (size bytes there): its length when
// complete with a good CRC, 0 when it may still become one, -1 when it
// cannot (a bad CRC, or a function that does not tell the length).
int knownLengthFrameAt(const char *p, qsizetype size)
{
    const int len = requestLength(p, size);
    if (len <= 0)
        return len;
    if (size < len)
        return 0;
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < len - 2; ++i)
        crc = crcStep(crc, p[i]);
    return crc == statedCrc(p + len - 2) ? len : -1;
}

} // namespace

int rtuRequestLength(const QByteArray &head)
{
    return requestLength(head.constData(), head.size());
}

void RtuFramer::clear()
{
    buffer_.clear();
    start_ = 0;
    scanned_ = 0;
    crc_ = 0xFFFF;
    cannotStart_.clear();
    searchFrom_ = 0;
}

void RtuFramer::consume(qsizetype n)
{
    start_ += n;
    scanned_ = 0;
    crc_ = 0xFFFF;
}

int RtuFramer::unknownLengthFrameAtHead()
{
    // The shortest length from 4 up to MaxFrame whose last two bytes are the
    // CRC of the bytes before them.  The register takes each byte once; a
    // head still short of MaxFrame waits for more (0), one that has reached
    // it without a match is not a frame (-1).
    const char *head = buffer_.constData() + start_;
    const qsizetype size = pending();
    uint16_t crc = crc_;
    qsizetype k = scanned_; // crc holds head[0, k); the length tried next is k + 2
    for (; k < 2 && k < size; ++k)
        crc = crcStep(crc, head[k]);
    int found = 0;
    if (k >= 2) {
        const qsizetype lastK = qMin<qsizetype>(size, MaxFrame) - 2;
        for (; k <= lastK; ++k) {
            if (crc == statedCrc(head + k)) {
                found = static_cast<int>(k + 2);
                break;
            }
            crc = crcStep(crc, head[k]);
        }
        if (found == 0 && k + 2 > MaxFrame)
            found = -1;
    }
    crc_ = crc;
    scanned_ = k;
    return found;
}

qsizetype RtuFramer::nextKnownFrame()
{
    // What a position can say depends only on the bytes from it on, so a
    // position found unable to start a frame is never looked at again; one
    // still waiting for bytes is looked at again (in constant time) until it
    // settles.  Only the bytes after a head shorter than MaxFrame are
    // searched, so a call costs at most MaxFrame such looks.
    const qsizetype end = buffer_.size();
    if (qsizetype(cannotStart_.size()) < end)
        cannotStart_.resize(size_t(end), 0);
    searchFrom_ = qMax(searchFrom_, start_ + 1);
    while (searchFrom_ < end && cannotStart_[size_t(searchFrom_)])
        ++searchFrom_;
    for (qsizetype p = searchFrom_; p < end; ++p) {
        if (cannotStart_[size_t(p)])
            continue;
        const int n = knownLengthFrameAt(buffer_.constData() + p, end - p);
        if (n > 0)
            return p;
        if (n < 0)
            cannotStart_[size_t(p)] = 1;
    }
    return -1;
}

QList<QByteArray> RtuFramer::feed(const QByteArray &bytes)
{
    buffer_.append(bytes);
    QList<QByteArray> frames;
    while (start_ < buffer_.size()) {
        const int len = requestLength(buffer_.constData() + start_, pending());
        const int n = len < 0 ? unknownLengthFrameAtHead()
                              : knownLengthFrameAt(buffer_.constData() + start_, pending());
        if (n > 0) {
            frames.append(buffer_.mid(start_, n));
            consume(n);
            continue;
        }
        if (n < 0) {
            consume(1);
            continue;
        }
        // An incomplete head of unknown length may be noise: if a request of
        // known length lines up further on, the head was noise.  (A head of
        // known length just waits; the silence after it clears it.)
        if (len != -1)
            break;
        const qsizetype next = nextKnownFrame();
        if (next < 0)
            break;
        consume(next - start_);
    }
    // What is left is less than a frame: move it to the front.
    if (start_ > 0) {
        buffer_.remove(0, start_);
        cannotStart_.erase(cannotStart_.begin(),
                           cannotStart_.begin() + qMin<qsizetype>(start_, qsizetype(cannotStart_.size())));
        searchFrom_ = qMax<qsizetype>(0, searchFrom_ - start_);
        start_ = 0;
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
