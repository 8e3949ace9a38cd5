// The simulator's RTU side on any byte stream: the framer, fed in pieces,
// yields only frames with a good CRC and never holds more than a frame's
// worth of bytes; each frame goes through the device, whose reply (if any)
// is a whole RTU frame with a good CRC for the request's unit.
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
        for (const QByteArray &frame : framer.feed(piece)) {
            if (!goodCrc(frame) || frame.size() > qvxsim::RtuFramer::MaxFrame)
                __builtin_trap();
            const uint8_t unit = uint8_t(frame.at(0));
            const QByteArray reply = qvxsim::handleRtuFrame(device, frame);
            if (!reply.isEmpty() && (!goodCrc(reply) || uint8_t(reply.at(0)) != unit || reply.size() > 256))
                __builtin_trap();
        }
        if (framer.pending() > 2 * qvxsim::RtuFramer::MaxFrame)
            __builtin_trap();
    }
    return 0;
}
