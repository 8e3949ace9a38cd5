#include "monitor/trend_data.h"

#include "iec/obis.h"

#include <algorithm>
#include <cmath>
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

namespace {

std::optional<QDateTime> readStamp(const QString &line, const QStringList &timeFormats,
                                   const QStringList &dateFormats)
{
    const qsizetype comma = line.lastIndexOf(QLatin1Char(','));
    if (comma <= 0)
        return std::nullopt;
    const QString t = line.left(comma).trimmed();
    const QString d = line.mid(comma + 1).trimmed();
    static const QStringList commonTimes = {QStringLiteral("HH:mm:ss"), QStringLiteral("H:mm:ss"),
                                            QStringLiteral("h:mm:ss AP"), QStringLiteral("h:mm:ss ap")};
    static const QStringList commonDates = {QStringLiteral("dd.MM.yyyy"), QStringLiteral("d.M.yyyy"),
                                            QStringLiteral("dd/MM/yyyy"), QStringLiteral("M/d/yyyy"),
                                            QStringLiteral("yyyy-MM-dd"), QStringLiteral("dd.MM.yy"),
                                            QStringLiteral("M/d/yy"),     QStringLiteral("d/M/yy")};
    QTime time;
    for (const QString &f : timeFormats + commonTimes) {
        time = QTime::fromString(t, f);
        if (time.isValid())
            break;
    }
    if (!time.isValid())
        return std::nullopt;
    QDate date;
    for (const QString &f : dateFormats + commonDates) {
        date = QDate::fromString(d, f);
        if (date.isValid()) {
            // Two-digit years read as the 1900s.
            if (!f.contains(QLatin1String("yyyy")) && date.year() < 1970)
                date = date.addYears(100);
            break;
        }
    }
    if (!date.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

} // namespace

ValuesLogContent readValuesLog(const QByteArray &text, const QStringList &timeFormats,
                               const QStringList &dateFormats)
{
    ValuesLogContent out;
    QList<QByteArray> block;
    auto finish = [&] {
        if (block.isEmpty())
            return;
        const QList<QByteArray> lines = std::exchange(block, {});
        const std::optional<QDateTime> stamp =
            readStamp(QString::fromLatin1(lines.first()), timeFormats, dateFormats);
        ValuesLogReading reading;
        bool good = stamp.has_value();
        for (qsizetype i = 1; good && i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines.at(i).split(';');
            bool okRow = false;
            const int row = fields.first().trimmed().toInt(&okRow);
            if (fields.size() < 2 || !okRow || row < 1 || row > 64) {
                good = false;
                break;
            }
            bool okValue = false;
            const qint64 v = fields.at(1).trimmed().toLongLong(&okValue);
            if (reading.values.size() < row)
                reading.values.resize(row);
            reading.values[row - 1] = okValue ? std::optional<qint64>(v) : std::nullopt;
        }
        if (!good) {
            ++out.blocksSkipped;
            return;
        }
        reading.time = *stamp;
        out.readings << reading;
        ++out.blocksRead;
    };
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            finish();
        else
            block << line;
    }
    finish();
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
