// Plain pieces of the value trends: the values log read back leniently (piece
// by piece, so a long log is never held as text), the readings held as
// columns, the kind of quantity an OBIS code names (one chart axis per kind),
// the name of an OBIS code, and the thinning of a long series to what a chart
// can show.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
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
// number counts as no value.  A line longer than MaxLineBytes is not kept: it
// spoils its block (or ends it when it is all blanks).
//
// The text comes in pieces of any size (feed), cut anywhere; each block is
// handed to the sink as soon as the line after it shows it is complete, so
// the parser holds one line and one reading at most.  finish() ends the last
// block.
class ValuesLogParser {
public:
    static constexpr qsizetype MaxLineBytes = 4096;
    using Sink = std::function<void(ValuesLogReading &&)>;

    explicit ValuesLogParser(Sink sink, const QStringList &timeFormats = {},
                             const QStringList &dateFormats = {});
    void feed(QByteArrayView bytes);
    void finish();
    int blocksRead() const { return m_read; }
    int blocksSkipped() const { return m_skipped; }

private:
    void line(QByteArrayView text, bool tooLong);
    void endBlock();
    std::optional<QDateTime> stamp(const QString &line);

    Sink m_sink;
    QStringList m_timeFormats;
    QStringList m_dateFormats;
    QByteArray m_partial; // the line the last piece ended in
    bool m_partialTooLong = false;
    bool m_partialBlank = true; // only blanks so far in an over-long line
    bool m_inBlock = false;
    bool m_good = false;
    ValuesLogReading m_reading;
    int m_read = 0;
    int m_skipped = 0;
    // A log has thousands of blocks a day with the same date: it is read once.
    QString m_lastDateText;
    QDate m_lastDate;
};

// The whole text at once.
ValuesLogContent readValuesLog(const QByteArray &text, const QStringList &timeFormats = {},
                               const QStringList &dateFormats = {});

// Readings held as columns while a log is read: one time per reading (ms
// since the epoch) and per row one value per reading, NaN where the reading
// has none.  A long log then costs one double per value and one per reading.
class ValuesLogColumns {
public:
    struct RowPoints {
        int row = 0;        // 1..64
        QVector<double> xs; // ascending
        QVector<double> ys;
    };

    void add(const ValuesLogReading &reading);
    qsizetype readingCount() const { return m_times.size(); }
    // The bytes the columns hold (their capacity).
    qsizetype bytesHeld() const;
    // The rows that have a value, in row order, their points in time order
    // (readings of equal time keep the order of the log); the columns are
    // empty afterwards.  Rows with a value in every reading share one copy of
    // the times.
    QList<RowPoints> takeRows();

private:
    QVector<double> m_times;
    QVector<QVector<double>> m_rows; // an empty column: the row has had no value yet
};

// The points of a series between x0 and x1 (plus the nearest point on either
// side, so the line reaches the edges) thinned to at most about 4 points per
// bucket: the first, lowest, highest and last point of each of `buckets`
// equal slices of the range.  xs must be ascending.
QList<QPointF> thinSeries(const QVector<double> &xs, const QVector<double> &ys, double x0, double x1,
                          int buckets);

} // namespace qvx
