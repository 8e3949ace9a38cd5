// The echo rule over arbitrary bytes: what is left after dropping the echo is
// always the end of what was received, and whatever is dropped is the start
// of the request's own frame; received bytes that carry the whole frame in
// front lose exactly that frame.
#include "transport/adapter_echo.h"

#include <cstdint>
#include <cstdlib>

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    static const ModbusFunction functions[] = {ModbusFunction::ReadHolding, ModbusFunction::ReadInput,
                                               ModbusFunction::WriteSingle, ModbusFunction::WriteMultiple,
                                               ModbusFunction::ReadDeviceId};
    ModbusRequest request;
    request.function = functions[data[0] % 5];
    request.unit = data[1];
    request.address = data[2] << 8 | data[3];
    request.count = data[4] % 127;
    request.valueHigh = data[2];
    request.valueLow = data[3];
    request.byteCount = data[4];
    request.data = QByteArray(reinterpret_cast<const char *>(data), qsizetype(qMin<size_t>(size, 254)));
    const QByteArray frame = RtuRequestFrame(request);
    // Half the inputs start with the real echo, so that branch is reached.
    QByteArray received(reinterpret_cast<const char *>(data + 5), qsizetype(size - 5));
    if (data[0] & 0x80)
        received.prepend(frame.left(data[1] % (frame.size() + 1)));

    const QByteArray rest = StripRequestEcho(received, frame);
    if (!received.endsWith(rest))
        std::abort();
    const qsizetype dropped = received.size() - rest.size();
    if (dropped > 0 && !frame.startsWith(received.left(dropped)))
        std::abort();
    if (received.startsWith(frame) && rest != received.mid(frame.size()))
        std::abort();
    if (StartsWithRequestEcho(received, request) && !received.startsWith(frame))
        std::abort();
    return 0;
}
