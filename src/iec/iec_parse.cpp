#include "iec/iec_parse.h"

namespace qvx {

QList<IecRow> SplitIecLines(const QStringList &lines)
{
    QList<IecRow> rows;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line.size() <= 4)
            continue;
        // The scan ends before the last character.
        const qsizetype end = line.size() - 1;
        IecRow row;
        const qsizetype open = line.indexOf(QLatin1Char('('));
        if (open < 0 || open >= end) {
            row.obis = line.left(end);
        } else {
            row.obis = line.left(open);
            qsizetype close = line.indexOf(QLatin1Char(')'), open + 1);
            if (close < 0 || close >= end)
                close = end;
            row.value = line.mid(open + 1, close - open - 1);
        }
        rows.append(row);
    }
    return rows;
}

QString NormalizeIecValue(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('*'), QLatin1Char(' '));
    return out;
}

} // namespace qvx
