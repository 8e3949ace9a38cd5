// The simulator's RTU side on any byte stream: the framer, fed in pieces and
// fed the same bytes as one burst of noise, yields only frames with a good
// CRC and never holds more than a frame's worth of bytes; each frame goes
// through the device, whose reply (if any) is a whole RTU frame with a good
// CRC for the request's unit; and after the silence that ends the noise, a
// request comes out whole.
#include "sim/device.h"
#include "sim/frames.h"
#include "transport/modbus.h"

#include <cstddef>
#include <cstdint>

namespace {

bool goodCrc(const QByteArray &frame)
{
    if (frame.size() < 4)
        return false;
    const uint16_t crc = qvx::ModbusCrc16(frame.constData(), frame.size() - 2);
    return uint8_t(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           uint8_t(frame.at(frame.size() - 1)) == (crc >> 8);
}

// Every frame the framer yields has a good CRC and a frame's length, and the
// device's reply to it (if any) is a good frame for the request's unit.
void checkFrames(qvxsim::Device &device, const QList<QByteArray> &frames)
{
    for (const QByteArray &frame : frames) {
        if (!goodCrc(frame) || frame.size() > qvxsim::RtuFramer::MaxFrame)
            __builtin_trap();
        const uint8_t unit = uint8_t(frame.at(0));
        const QByteArray reply = qvxsim::handleRtuFrame(device, frame);
        if (!reply.isEmpty() && (!goodCrc(reply) || uint8_t(reply.at(0)) != unit || reply.size() > 256))
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static qvxsim::Device device;
    qvxsim::RtuFramer framer;
    qsizetype at = 0;
    while (at < qsizetype(size)) {
        // Each piece is led by its length byte, as reads arrive in pieces.
        const qsizetype n = qMin<qsizetype>(data[at] % 64 + 1, qsizetype(size) - at - 1);
        const QByteArray piece(reinterpret_cast<const char *>(data + at + 1), qMax<qsizetype>(0, n));
        at += 1 + qMax<qsizetype>(0, n);
        checkFrames(device, framer.feed(piece));
        if (framer.pending() > 2 * qvxsim::RtuFramer::MaxFrame)
            __builtin_trap();
    }

    // The same bytes as line noise in one piece, as a burst arrives: the
    // framer works through all of it in one call (a whole burst of noise
    // once took it seconds) and keeps no more than a frame's worth.
    qvxsim::RtuFramer burst;
    checkFrames(device, burst.feed(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))));
    if (burst.pending() > 2 * qvxsim::RtuFramer::MaxFrame)
        __builtin_trap();

    // After the silence that ends the noise, a request comes out whole.
    static const QByteArray request = qvx::rtuFrame(1, qvx::pduReadHolding(100, 1));
    for (qvxsim::RtuFramer *f : {&framer, &burst}) {
        f->clear();
        if (f->feed(request) != QList<QByteArray>{request} || f->pending() != 0)
            __builtin_trap();
    }
    return 0;
}
