// The rules a reply must pass before a window ends on it or anything decodes
// it, over arbitrary bytes: no read past the input, and a length that is
// claimed complete is one the checks then accept as the request's answer.
#include "transport/modbus.h"
#include "transport/request.h"

#include <cstdint>
#include <cstdlib>

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    // The first bytes choose the request; the rest is what the line brought.
    static const ModbusFunction functions[] = {ModbusFunction::ReadHolding, ModbusFunction::ReadInput,
                                               ModbusFunction::WriteSingle, ModbusFunction::WriteMultiple,
                                               ModbusFunction::ReadDeviceId};
    ModbusRequest request;
    request.function = functions[data[0] % 5];
    request.unit = data[1];
    request.count = data[2] % 127;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 3), static_cast<qsizetype>(size - 3));

    const qsizetype rtu = CompleteRtuReplyLength(request, bytes);
    if (rtu < 0 || rtu > bytes.size())
        std::abort();
    if (rtu > 0) {
        // A complete reply carries a correct CRC and the request's function
        // or its exception form, whatever its unit.
        const QByteArray frame = bytes.left(rtu);
        if (ModbusCrc16(frame) != 0)
            std::abort();
        const auto mismatch = ReplyMismatch(request, frame);
        if (mismatch && mismatch->contains(QLatin1String("function")))
            std::abort();
    }
    const qsizetype tcp = CompleteTcpReplyLength(bytes);
    if (tcp < 0 || tcp > bytes.size())
        std::abort();
    (void)TcpHeaderMismatch(static_cast<uint16_t>(data[1] << 8 | data[2]), bytes);
    return 0;
}
