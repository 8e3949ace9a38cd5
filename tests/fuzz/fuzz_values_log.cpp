// The lenient values log reader on any file.  Properties: every block is
// either read or skipped, each reading has a valid time, no row lies outside
// 1..64, and the text fed in pieces (cut where the input's first byte says)
// reads exactly as the whole text.
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
    const QStringList times{QStringLiteral("HH:mm:ss")}, dates{QStringLiteral("dd.MM.yyyy")};
    const qvx::ValuesLogContent c = qvx::readValuesLog(text, times, dates);
    check(c.readings.size() == c.blocksRead && c.blocksSkipped >= 0);
    for (const qvx::ValuesLogReading &r : c.readings) {
        check(r.time.isValid());
        check(r.values.size() <= 64);
    }

    const qsizetype piece = size > 0 ? 1 + data[0] % 97 : 1;
    QList<qvx::ValuesLogReading> got;
    qvx::ValuesLogParser parser([&](qvx::ValuesLogReading &&r) { got << r; }, times, dates);
    for (qsizetype at = 0; at < text.size(); at += piece)
        parser.feed(QByteArrayView(text).sliced(at, std::min(piece, text.size() - at)));
    parser.finish();
    check(parser.blocksRead() == c.blocksRead && parser.blocksSkipped() == c.blocksSkipped);
    check(got.size() == c.readings.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        check(got.at(i).time == c.readings.at(i).time && got.at(i).values == c.readings.at(i).values);

    qvx::ValuesLogColumns columns;
    for (const qvx::ValuesLogReading &r : got)
        columns.add(r);
    qsizetype points = 0;
    for (const qvx::ValuesLogColumns::RowPoints &p : columns.takeRows()) {
        check(p.row >= 1 && p.row <= 64 && p.xs.size() == p.ys.size() && !p.xs.isEmpty());
        check(std::is_sorted(p.xs.cbegin(), p.xs.cend()));
        points += p.xs.size();
    }
    qsizetype values = 0;
    for (const qvx::ValuesLogReading &r : got)
        for (const std::optional<qint64> &v : r.values)
            values += v.has_value();
    check(points == values);
    return 0;
}
