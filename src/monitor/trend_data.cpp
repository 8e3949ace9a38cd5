#include "monitor/trend_data.h"

#include "iec/obis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace qvx {

QString obisCodeName(const QString &code)
{
    const ObisInfo *info = FindObisInfo(code);
    return info ? QString::fromLatin1(info->name) : QString();
}

QString obisQuantity(const QString &code)
{
    QString c = code.trimmed();
    if (const qsizetype colon = c.indexOf(QLatin1Char(':')); colon >= 0)
        c = c.mid(colon + 1);
    const QStringList parts = c.split(QLatin1Char('.'));
    if (parts.size() < 2)
        return {};
    bool okC = false, okD = false;
    const int groupC = parts.at(0).toInt(&okC);
    const int groupD = parts.at(1).toInt(&okD);
    if (!okC || !okD || groupC < 1 || groupC > 80)
        return {};
    const int base = groupC > 20 ? (groupC - 1) % 20 + 1 : groupC; // phases L1..L3 at +20/+40/+60
    switch (base) {
    case 11:
        return QStringLiteral("current");
    case 12:
        return QStringLiteral("voltage");
    case 13:
        return QStringLiteral("power factor");
    case 14:
        return QStringLiteral("frequency");
    default:
        break;
    }
    if (base <= 10 || base == 15 || base == 16) {
        if (groupD == 8 || groupD == 9 || groupD == 10 || groupD == 29)
            return QStringLiteral("energy");
        if (groupD == 4 || groupD == 5 || groupD == 6 || groupD == 7 || groupD == 24 || groupD == 25)
            return QStringLiteral("power");
    }
    return {};
}

ValuesLogParser::ValuesLogParser(Sink sink, const QStringList &timeFormats, const QStringList &dateFormats)
    : m_sink(std::move(sink))
{
    static const QStringList commonTimes = {QStringLiteral("HH:mm:ss"), QStringLiteral("H:mm:ss"),
                                            QStringLiteral("h:mm:ss AP"), QStringLiteral("h:mm:ss ap")};
    static const QStringList commonDates = {QStringLiteral("dd.MM.yyyy"), QStringLiteral("d.M.yyyy"),
                                            QStringLiteral("dd/MM/yyyy"), QStringLiteral("M/d/yyyy"),
                                            QStringLiteral("yyyy-MM-dd"), QStringLiteral("dd.MM.yy"),
                                            QStringLiteral("M/d/yy"),     QStringLiteral("d/M/yy")};
    m_timeFormats = timeFormats + commonTimes;
    m_dateFormats = dateFormats + commonDates;
}

std::optional<QDateTime> ValuesLogParser::stamp(const QString &line)
{
    const qsizetype comma = line.lastIndexOf(QLatin1Char(','));
    if (comma <= 0)
        return std::nullopt;
    const QString t = line.left(comma).trimmed();
    const QString d = line.mid(comma + 1).trimmed();
    QTime time;
    for (const QString &f : std::as_const(m_timeFormats)) {
        time = QTime::fromString(t, f);
        if (time.isValid())
            break;
    }
    if (!time.isValid())
        return std::nullopt;
    if (d != m_lastDateText || m_lastDateText.isNull()) {
        QDate date;
        for (const QString &f : std::as_const(m_dateFormats)) {
            date = QDate::fromString(d, f);
            if (date.isValid()) {
                // Two-digit years read as the 1900s.
                if (!f.contains(QLatin1String("yyyy")) && date.year() < 1970)
                    date = date.addYears(100);
                break;
            }
        }
        m_lastDateText = d.isNull() ? QStringLiteral("") : d;
        m_lastDate = date;
    }
    if (!m_lastDate.isValid())
        return std::nullopt;
    return QDateTime(m_lastDate, time);
}

void ValuesLogParser::feed(QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qsizetype nl = bytes.indexOf('\n');
        const QByteArrayView piece = nl < 0 ? bytes : bytes.first(nl);
        // The part of a line that fits is kept; beyond that only whether it
        // is all blanks.
        if (!m_partialTooLong && m_partial.size() + piece.size() <= MaxLineBytes) {
            if (nl >= 0 && m_partial.isEmpty()) {
                line(piece, false); // the common case: no copy
                bytes = bytes.sliced(nl + 1);
                continue;
            }
            m_partial.append(piece);
        } else {
            if (!m_partialTooLong)
                m_partialBlank = m_partial.trimmed().isEmpty();
            m_partialTooLong = true;
            m_partial.clear();
            m_partialBlank = m_partialBlank && piece.trimmed().isEmpty();
        }
        if (nl < 0)
            return;
        if (m_partialTooLong)
            line(m_partialBlank ? QByteArrayView() : QByteArrayView("x"), true);
        else
            line(m_partial, false);
        m_partial.clear();
        m_partialTooLong = false;
        m_partialBlank = true;
        bytes = bytes.sliced(nl + 1);
    }
}

void ValuesLogParser::finish()
{
    if (m_partialTooLong)
        line(m_partialBlank ? QByteArrayView() : QByteArrayView("x"), true);
    else if (!m_partial.isEmpty())
        line(m_partial, false);
    m_partial.clear();
    m_partial.squeeze();
    m_partialTooLong = false;
    m_partialBlank = true;
    endBlock();
}

void ValuesLogParser::line(QByteArrayView text, bool tooLong)
{
    if (text.endsWith('\r'))
        text.chop(1);
    if (text.trimmed().isEmpty()) {
        endBlock();
        return;
    }
    if (!m_inBlock) {
        m_inBlock = true;
        m_reading = {};
        const std::optional<QDateTime> t = tooLong ? std::nullopt : stamp(QString::fromLatin1(text));
        m_good = t.has_value();
        if (m_good)
            m_reading.time = *t;
        return;
    }
    if (!m_good)
        return;
    if (tooLong) {
        m_good = false;
        return;
    }
    const qsizetype semi = text.indexOf(';');
    bool okRow = false;
    const int row = (semi < 0 ? text : text.first(semi)).trimmed().toInt(&okRow);
    if (semi < 0 || !okRow || row < 1 || row > 64) {
        m_good = false;
        return;
    }
    QByteArrayView value = text.sliced(semi + 1);
    if (const qsizetype end = value.indexOf(';'); end >= 0)
        value = value.first(end);
    bool okValue = false;
    const qint64 v = value.trimmed().toLongLong(&okValue);
    if (m_reading.values.size() < row)
        m_reading.values.resize(row);
    m_reading.values[row - 1] = okValue ? std::optional<qint64>(v) : std::nullopt;
}

void ValuesLogParser::endBlock()
{
    if (!m_inBlock)
        return;
    m_inBlock = false;
    if (!m_good) {
        ++m_skipped;
        return;
    }
    ++m_read;
    if (m_sink)
        m_sink(std::exchange(m_reading, {}));
}

ValuesLogContent readValuesLog(const QByteArray &text, const QStringList &timeFormats,
                               const QStringList &dateFormats)
{
    ValuesLogContent out;
    ValuesLogParser parser([&](ValuesLogReading &&r) { out.readings << std::move(r); }, timeFormats,
                           dateFormats);
    parser.feed(text);
    parser.finish();
    out.blocksRead = parser.blocksRead();
    out.blocksSkipped = parser.blocksSkipped();
    return out;
}

void ValuesLogColumns::add(const ValuesLogReading &reading)
{
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    const qsizetype before = m_times.size();
    m_times.append(static_cast<double>(reading.time.toMSecsSinceEpoch()));
    if (m_rows.size() < reading.values.size())
        m_rows.resize(reading.values.size());
    for (qsizetype r = 0; r < m_rows.size(); ++r) {
        QVector<double> &column = m_rows[r];
        const bool has = r < reading.values.size() && reading.values.at(r).has_value();
        if (column.isEmpty()) {
            if (!has)
                continue;
            column.fill(none, before);
        }
        column.append(has ? static_cast<double>(*reading.values.at(r)) : none);
    }
}

qsizetype ValuesLogColumns::bytesHeld() const
{
    qsizetype bytes = m_times.capacity() * qsizetype(sizeof(double)) +
                      m_rows.capacity() * qsizetype(sizeof(QVector<double>));
    for (const QVector<double> &c : m_rows)
        bytes += c.capacity() * qsizetype(sizeof(double));
    return bytes;
}

QList<ValuesLogColumns::RowPoints> ValuesLogColumns::takeRows()
{
    QList<RowPoints> out;
    QVector<double> times = std::exchange(m_times, {});
    QVector<QVector<double>> rows = std::exchange(m_rows, {});
    if (!std::is_sorted(times.cbegin(), times.cend())) {
        // A clock set back: the readings go into time order, all columns alike.
        QVector<qsizetype> order(times.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return times[a] < times[b]; });
        auto reorder = [&](QVector<double> &v) {
            if (v.isEmpty())
                return;
            QVector<double> sorted;
            sorted.reserve(v.size());
            for (qsizetype i : std::as_const(order))
                sorted.append(v.at(i));
            v = std::move(sorted);
        };
        reorder(times);
        for (QVector<double> &c : rows)
            reorder(c);
    }
    times.squeeze();
    for (qsizetype r = 0; r < rows.size(); ++r) {
        QVector<double> column = std::exchange(rows[r], {});
        if (column.isEmpty())
            continue;
        RowPoints p;
        p.row = static_cast<int>(r + 1);
        if (std::none_of(column.cbegin(), column.cend(), [](double v) { return std::isnan(v); })) {
            p.xs = times; // shared, not copied
            column.squeeze();
            p.ys = std::move(column);
        } else {
            for (qsizetype i = 0; i < column.size(); ++i) {
                if (std::isnan(column.at(i)))
                    continue;
                p.xs.append(times.at(i));
                p.ys.append(column.at(i));
            }
            p.xs.squeeze();
            p.ys.squeeze();
        }
        out << std::move(p);
    }
    return out;
}

QList<QPointF> thinSeries(const QVector<double> &xs, const QVector<double> &ys, double x0, double x1,
                          int buckets)
{
    QList<QPointF> out;
    const qsizetype n = std::min(xs.size(), ys.size());
    if (n == 0 || !(x1 >= x0))
        return out;
    auto lo = std::lower_bound(xs.begin(), xs.begin() + n, x0) - xs.begin();
    auto hi = std::upper_bound(xs.begin(), xs.begin() + n, x1) - xs.begin();
    lo = std::max<qsizetype>(0, lo - 1);
    hi = std::min<qsizetype>(n, hi + 1);
    buckets = std::max(1, buckets);
    if (hi - lo <= 4 * buckets) {
        for (qsizetype i = lo; i < hi; ++i)
            out << QPointF(xs.at(i), ys.at(i));
        return out;
    }
    const double width = (x1 - x0) / buckets;
    qsizetype i = lo;
    while (i < hi) {
        const double bucket = width > 0 ? std::floor((xs.at(i) - x0) / width) : 0;
        qsizetype j = i, minAt = i, maxAt = i;
        while (j < hi && (width > 0 ? std::floor((xs.at(j) - x0) / width) : 0) == bucket) {
            if (ys.at(j) < ys.at(minAt))
                minAt = j;
            if (ys.at(j) > ys.at(maxAt))
                maxAt = j;
            ++j;
        }
        qsizetype picks[4] = {i, std::min(minAt, maxAt), std::max(minAt, maxAt), j - 1};
        qsizetype last = -1;
        for (qsizetype p : picks) {
            if (p != last)
                out << QPointF(xs.at(p), ys.at(p));
            last = p;
        }
        i = j;
    }
    return out;
}

} // namespace qvx
