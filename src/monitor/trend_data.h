// Plain pieces of the value trends: the values log read back leniently, the
// kind of quantity an OBIS code names (one chart axis per kind), the name of
// an OBIS code, and the thinning of a long series to what a chart can show.
#pragma once

#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace qvx {

// The readable name of an OBIS code ("Active energy import" for "1.8.0"),
// or an empty text when no name is known.  The chart then shows the code.
QString obisCodeName(const QString &code);

// The kind of quantity an OBIS code names, by its value group C and D:
// "energy", "power", "current", "voltage", "power factor", "frequency", or an
// empty text when the code says nothing the chart can use.
QString obisQuantity(const QString &code);

struct ValuesLogReading {
    QDateTime time;
    QVector<std::optional<qint64>> values; // element 0 is row 1
};

struct ValuesLogContent {
    QList<ValuesLogReading> readings;
    int blocksRead = 0;
    int blocksSkipped = 0;
};

// Reads a values log: blocks of a time-stamp line ("time,date" in the
// regional formats the tool wrote them with) and "row;value;" lines,
// separated by empty lines.  A block is skipped when its time stamp does not
// read in any of the formats given or of the common ones, or when a line of it
// is not "row;value;" with a row of 1 to 64; a value that is not a whole
// number counts as no value.
ValuesLogContent readValuesLog(const QByteArray &text, const QStringList &timeFormats = {},
                               const QStringList &dateFormats = {});

// The points of a series between x0 and x1 (plus the nearest point on either
// side, so the line reaches the edges) thinned to at most about 4 points per
// bucket: the first, lowest, highest and last point of each of `buckets`
// equal slices of the range.  xs must be ascending.
QList<QPointF> thinSeries(const QVector<double> &xs, const QVector<double> &ys, double x0, double x1,
                          int buckets);

} // namespace qvx
