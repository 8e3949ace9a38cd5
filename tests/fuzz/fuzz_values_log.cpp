// The lenient values log reader on any file.  Properties: every block is
// either read or skipped, each reading has a valid time, and no row lies
// outside 1..64.
#include "monitor/trend_data.h"

#include <cstddef>
#include <cstdint>

namespace {
void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qvx::ValuesLogContent c =
        qvx::readValuesLog(text, {QStringLiteral("HH:mm:ss")}, {QStringLiteral("dd.MM.yyyy")});
    check(c.readings.size() == c.blocksRead && c.blocksSkipped >= 0);
    for (const qvx::ValuesLogReading &r : c.readings) {
        check(r.time.isValid());
        check(r.values.size() <= 64);
    }
    return 0;
}
