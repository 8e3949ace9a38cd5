#include "ctl/iec_rows.h"

#include "config/grid_csv.h"
#include "iec/iec_datasets.h"
#include "iec/iec_protocol.h"
#include "iec/obis.h"

namespace qvx {
namespace {

struct Row {
    QString obis, address, value, unit, unitFromTable, name, values;
    int line = 0;
    QJsonArray groups;
};

QList<Row> rows(const QByteArray &capture)
{
    QList<Row> out;
    for (const IecDataSet &s : ParseIecDataSets(capture).sets) {
        Row r;
        r.obis = s.code;
        r.address = s.address;
        r.value = s.groups.first().value;
        r.unit = s.groups.first().unit;
        r.line = s.line;
        if (const ObisInfo *info = FindObisInfo(s.code)) {
            r.name = QLatin1String(info->name);
            r.unitFromTable = QLatin1String(info->unit);
        }
        for (const IecValueGroup &g : s.groups) {
            QJsonObject o{{QStringLiteral("value"), g.value},
                          {QStringLiteral("unit"), g.unit},
                          {QStringLiteral("text"), g.text}};
            if (g.parts.size() > 1)
                o.insert(QStringLiteral("parts"), QJsonArray::fromStringList(g.parts));
            r.groups.append(o);
            r.values += QLatin1Char('(') + g.text + QLatin1Char(')');
        }
        out.append(r);
    }
    return out;
}

QString hex4(uint16_t v)
{
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QJsonArray IecDataSetRowsJson(const QByteArray &capture)
{
    QJsonArray a;
    for (const Row &r : rows(capture))
        a.append(QJsonObject{{QStringLiteral("obis"), r.obis},
                             {QStringLiteral("address"), r.address},
                             {QStringLiteral("value"), r.value},
                             {QStringLiteral("unit"), r.unit},
                             {QStringLiteral("unit_from_table"), r.unitFromTable},
                             {QStringLiteral("name"), r.name},
                             {QStringLiteral("values"), r.groups},
                             {QStringLiteral("line"), r.line}});
    return a;
}

QByteArray IecDataSetRowsCsv(const QByteArray &capture)
{
    const QList<Row> all = rows(capture);
    static const char *const Header[] = {"obis", "address", "value", "unit", "unit_from_table",
                                         "name", "values",  "line"};
    return GridCsvBytes(int(all.size()) + 1, 8, [&](int col, int row) -> QString {
        if (row == 0)
            return QLatin1String(Header[col]);
        const Row &r = all.at(row - 1);
        switch (col) {
        case 0:
            return r.obis;
        case 1:
            return r.address;
        case 2:
            return r.value;
        case 3:
            return r.unit;
        case 4:
            return r.unitFromTable;
        case 5:
            return r.name;
        case 6:
            return r.values;
        default:
            return QString::number(r.line);
        }
    });
}

void AddIecCrcJson(QJsonObject &result, const QByteArray &capture)
{
    const std::optional<IecP1Crc> crc = FindIecP1Crc(capture);
    result.insert(QStringLiteral("crc"), !crc        ? QStringLiteral("none")
                                         : crc->ok() ? QStringLiteral("ok")
                                                     : QStringLiteral("error"));
    if (crc) {
        result.insert(QStringLiteral("crc_computed"), hex4(crc->computed));
        result.insert(QStringLiteral("crc_received"), hex4(crc->received));
    }
}

bool IecListenSucceeded(IecReadoutRun::Outcome outcome)
{
    using O = IecReadoutRun::Outcome;
    return outcome == O::TelegramEnd || outcome == O::CrcOk || outcome == O::BccOk;
}

} // namespace qvx
