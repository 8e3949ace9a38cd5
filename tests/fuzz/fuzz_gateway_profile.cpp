// The gateway profile: any bytes parse or give an error; a profile that
// parses writes out to one that parses to the same thing, holds only values
// the gateway takes (a readout period of 1..1440 minutes, IDs that come back
// as written) and names every refused field.
#include "gateway/gateway_format.h"
#include "meters/meter_codec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qvx::ProfileParse p = qvx::parseProfile(bytes);
    if (!p.profile) {
        if (p.errors.isEmpty())
            std::abort();
        return 0;
    }
    const qvx::GatewayProfile &g = *p.profile;
    if (g.info.readoutMinutes < 1 || g.info.readoutMinutes > 1440 || g.unit < 1 || g.unit > 247)
        std::abort();
    const int digits = qvx::flagSet(g.info.flags, 5) ? 16 : 8;
    for (int s : qvx::profileSlots(g))
        if (qvx::DecodeMeterId(qvx::EncodeMeterId(g.table.id(s), digits), 0, digits) != g.table.id(s))
            std::abort();
    const qvx::ProfileParse again = qvx::parseProfile(qvx::profileToJson(g));
    if (!again.profile || !qvx::profileDifferences(g, *again.profile, true, true, true).isEmpty() ||
        again.profile->meterSlots != qvx::profileSlots(g) || again.profile->rtu != g.rtu)
        std::abort();
    return 0;
}
