// The meter data file read from any bytes.  Properties: no more lines than a
// load looks at, none holding a line end, nothing read beyond the input; and
// whatever a load left in the table survives a save and a load again (IDs
// always, codes unless they hold the field separator).
#include "meters/meter_data_file.h"

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
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList lines = qvx::splitTextLines(bytes, qvx::MeterDataFileLines);
    check(lines.size() <= qvx::MeterDataFileLines);
    qsizetype chars = 0;
    for (const QString &line : lines) {
        check(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        chars += line.size();
    }
    check(chars <= bytes.size());

    qvx::MeterTable table;
    (void)qvx::loadMeterDataLines(lines, table);

    qvx::MeterTable again;
    const QStringList saved = qvx::splitTextLines(qvx::meterDataFileBytes(table));
    check(saved.size() == qvx::MeterDataFileLines);
    check(!qvx::loadMeterDataLines(saved, again));
    for (int s = 1; s <= qvx::MeterTable::Slots; ++s) {
        check(again.id(s) == table.id(s));
        for (int r = 1; r <= qvx::MeterDataSavedRows; ++r)
            if (!table.code(s, r).contains(QLatin1Char(';')))
                check(again.code(s, r) == table.code(s, r));
    }
    return 0;
}
