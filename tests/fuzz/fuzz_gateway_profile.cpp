// The gateway profile: any bytes parse or give an error; a profile that
// parses writes out to one that parses to the same thing.
#include "gateway/gateway_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qvx::ProfileParse p = qvx::parseProfile(bytes);
    if (!p.profile)
        return 0;
    const qvx::ProfileParse again = qvx::parseProfile(qvx::profileToJson(*p.profile));
    if (!again.profile || !qvx::profileDifferences(*p.profile, *again.profile, true, true).isEmpty())
        std::abort();
    return 0;
}
