// The site file: any bytes give gateways or errors naming their lines, never
// both and never a crash; saving what was read and reading it again gives
// the same gateways (names, profiles and links), and saving that again gives
// the same bytes.
#include "gateway/site_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qvx::SiteFile site = qvx::ParseSiteFile(bytes);
    if (!site.errors.isEmpty() && !site.gateways.isEmpty())
        std::abort();
    for (const QString &e : site.errors)
        if (!e.startsWith(QLatin1String("line ")))
            std::abort();
    if (!site.ok())
        return 0;
    const QByteArray saved = qvx::SiteFileBytes(site);
    const qvx::SiteFile again = qvx::ParseSiteFile(saved);
    if (!again.ok() || again.gateways.size() != site.gateways.size())
        std::abort();
    for (qsizetype i = 0; i < site.gateways.size(); ++i) {
        const qvx::SiteGateway &a = site.gateways.at(i), &b = again.gateways.at(i);
        if (a.name != b.name || a.profile != b.profile || qvx::gatewayKey(a.link) != qvx::gatewayKey(b.link))
            std::abort();
    }
    if (qvx::SiteFileBytes(again) != saved)
        std::abort();
    return 0;
}
