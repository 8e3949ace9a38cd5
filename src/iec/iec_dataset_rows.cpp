#include "iec/iec_dataset_rows.h"

#include "iec/obis.h"

namespace qvx {
namespace {
// Never ";" (the CSV file's separator) nor "&" (part of a value).
const QString FurtherSeparator = QStringLiteral(" | ");
} // namespace

QStringList IecDataSetColumns()
{
    return {QStringLiteral("Line"),  QStringLiteral("Code"), QStringLiteral("Sent as"),
            QStringLiteral("Name"),  QStringLiteral("Value"), QStringLiteral("Unit"),
            QStringLiteral("Further values")};
}

QString IecDataSetCell(const IecDataSetRow &row, int col)
{
    switch (col) {
    case 0:
        return QString::number(row.line);
    case 1:
        return row.code;
    case 2:
        return row.address;
    case 3:
        return row.name;
    case 4:
        return row.value;
    case 5:
        return row.unit;
    case 6:
        return row.further;
    default:
        return {};
    }
}

QString IecGroupText(const IecValueGroup &group)
{
    return group.unit.isEmpty() ? group.value : group.value + QLatin1Char(' ') + group.unit;
}

QList<IecDataSetRow> IecDataSetRows(const IecDataBlock &block)
{
    QList<IecDataSetRow> rows;
    rows.reserve(block.sets.size());
    for (const IecDataSet &set : block.sets) {
        IecDataSetRow row;
        row.line = set.line;
        row.code = set.code;
        row.address = set.address;
        row.name = ObisDescription(set.code);
        QStringList further;
        for (qsizetype g = 0; g < set.groups.size(); ++g) {
            const IecValueGroup &group = set.groups.at(g);
            if (g == 0) {
                row.value = group.value;
                row.unit = group.unit;
            } else {
                further << IecGroupText(group);
            }
            // An "&" value is offered split too: its parts, in order.
            if (group.parts.size() > 1) {
                QStringList parts;
                for (const QString &part : group.parts)
                    parts << QString(part).replace(QLatin1Char('*'), QLatin1Char(' '));
                further << parts.join(QStringLiteral(" & "));
            }
        }
        row.further = further.join(FurtherSeparator);
        rows.append(row);
    }
    return rows;
}

QString IecDataBlockSummary(const IecDataBlock &block)
{
    QString text = block.hasIdentification ? QStringLiteral("Identification ") + block.identification
                                           : QStringLiteral("No identification line");
    text += QStringLiteral(", %1 data sets").arg(block.sets.size());
    if (!block.unparsedLines.isEmpty()) {
        QStringList lines;
        for (int line : block.unparsedLines)
            lines << QString::number(line);
        text += QStringLiteral(", no data set read on line %1").arg(lines.join(QStringLiteral(", ")));
    }
    if (!block.endSeen)
        text += QStringLiteral(", no end of the data (\"!\")");
    return text;
}

} // namespace qvx
