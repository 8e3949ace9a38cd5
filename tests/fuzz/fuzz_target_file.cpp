// The target file of qvxctl --targets: any bytes give targets or one error
// line, never a crash; every target has a link and a unit in range.
#include "gateway/gateway_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qvx::TargetList list = qvx::parseTargetFile(bytes, qvx::GatewayLink{});
    if (list.error && !list.targets.isEmpty())
        std::abort();
    for (const qvx::GatewayLink &t : list.targets)
        if ((!t.tcp && t.serialPort.isEmpty()) || t.unit < 1 || t.unit > 247 || t.port < 1 || t.port > 65535)
            std::abort();
    return 0;
}
