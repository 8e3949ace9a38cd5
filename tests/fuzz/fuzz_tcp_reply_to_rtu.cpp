// The TCP-to-RTU conversion of a reply on any bytes: a reply of eight bytes
// or more becomes everything after the MBAP header plus a valid CRC; a
// shorter one becomes nothing and one log line that shows all its bytes.
#include "transport/modbus.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray tcp(reinterpret_cast<const char *>(data), qsizetype(size));
    const qvx::TcpToRtuResult r = qvx::TcpReplyToRtu(tcp);
    if (tcp.size() >= 8) {
        if (!r.logLine.isEmpty() || r.rtu.size() != tcp.size() - 6 + 2 || !r.rtu.startsWith(tcp.mid(6)))
            __builtin_trap();
        const uint16_t crc = qvx::ModbusCrc16(r.rtu.constData(), r.rtu.size() - 2);
        if (uint8_t(r.rtu.at(r.rtu.size() - 2)) != (crc & 0xFF) ||
            uint8_t(r.rtu.at(r.rtu.size() - 1)) != (crc >> 8))
            __builtin_trap();
    } else {
        if (!r.rtu.isEmpty())
            __builtin_trap();
        if (tcp.isEmpty() != r.logLine.isEmpty())
            __builtin_trap();
        if (!tcp.isEmpty() && !r.logLine.endsWith(qvx::hexBytes(tcp)))
            __builtin_trap();
    }
    return 0;
}
