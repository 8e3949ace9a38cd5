// The reply checks and the register decoder on any bytes: no crash, no read
// past the reply, and what passes is consistent with the frame it came from.
#include "transport/reply_check.h"
#include "transport/modbus.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first two bytes choose the first register address.
    const int first = size >= 2 ? (data[0] << 8 | data[1]) : 0;
    const QByteArray reply =
        size >= 2 ? QByteArray(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2)) : QByteArray();

    for (qvx::ReplyReporting how : {qvx::ReplyReporting::Full, qvx::ReplyReporting::FirmwareVersion}) {
        const qvx::ReplyCheck c = qvx::CheckReply(reply, how);
        if (c.pass) {
            if (c.failure != qvx::ReplyFailure::None || c.frame.size() < 4 || !reply.startsWith(c.frame))
                __builtin_trap();
            const uint16_t crc = qvx::ModbusCrc16(c.frame.constData(), c.frame.size() - 2);
            if (uint8_t(c.frame.at(c.frame.size() - 2)) != (crc & 0xFF) ||
                uint8_t(c.frame.at(c.frame.size() - 1)) != (crc >> 8))
                __builtin_trap();
            if (uint8_t(c.frame.at(0)) == 0 || uint8_t(c.frame.at(1)) >= 0x80)
                __builtin_trap();
        } else if (c.failure == qvx::ReplyFailure::None) {
            __builtin_trap();
        }
        if (reply.isEmpty() && (c.failure != qvx::ReplyFailure::Empty || !c.logLines.isEmpty()))
            __builtin_trap();
    }

    const qvx::RegisterReply r = qvx::DecodeRegisterReply(first, reply);
    if (!r.check.pass && !r.registers.isEmpty())
        __builtin_trap();
    const QByteArray &f = r.check.frame;
    // Only bytes between the byte count and the CRC become registers.
    if (r.registers.size() * 2 > qMax<qsizetype>(0, f.size() - 5))
        __builtin_trap();
    for (qsizetype k = 0; k < r.registers.size(); ++k) {
        const qvx::RegisterValue &v = r.registers.at(k);
        if (v.address != first + int(k) || v.high != uint8_t(f.at(3 + 2 * k)) ||
            v.low != uint8_t(f.at(4 + 2 * k)))
            __builtin_trap();
    }
    return 0;
}
