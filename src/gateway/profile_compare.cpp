#include "gateway/profile_compare.h"

#include "meters/meter_codec.h"

#include <QJsonObject>
#include <QRegularExpression>

namespace qvx {
namespace {

constexpr int IdDigitsBit = 5;
constexpr int LongObisBit = 6;

int slotCount(const GatewayProfile &p)
{
    return flagSet(p.info.flags, IdDigitsBit) ? 30 : 32;
}

QString dottedText(const std::array<uint8_t, 4> &a)
{
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

QString plural(int n, const char *word)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(word)).arg(n == 1 ? "" : "s");
}

bool unprogrammedId(const QString &id)
{
    return id.count(QLatin1Char('F')) == id.size();
}

bool unprogrammedCode(const QString &code)
{
    return code.isEmpty() || code.startsWith(QLatin1String("255."));
}

} // namespace

QVector<ProfileSetting> profileSettings(const GatewayProfile &p)
{
    const GatewayInfo &i = p.info;
    QVector<ProfileSetting> rows{{QStringLiteral("ip"), dottedText(i.ip)},
                                 {QStringLiteral("gateway"), dottedText(i.gateway)},
                                 {QStringLiteral("mask"), dottedText(i.mask)},
                                 {QStringLiteral("tcp_idle_ms"), QString::number(i.tcpIdleMs)}};
    for (const GatewayFlag &f : gatewayFlags())
        rows.append({QStringLiteral("flags.") + QLatin1String(f.key),
                     flagSet(i.flags, f.bit) ? QStringLiteral("on") : QStringLiteral("off")});
    const QJsonObject iec = infoToJson(i).value(QLatin1String("iec")).toObject();
    rows.append({QStringLiteral("iec"), QStringLiteral("%1 %2 %3")
                                            .arg(iec.value(QLatin1String("baud")).toInt())
                                            .arg(iec.value(QLatin1String("parity")).toString())
                                            .arg(iec.value(QLatin1String("data_bits")).toInt())});
    rows.append({QStringLiteral("readout_minutes"), QString::number(i.readoutMinutes)});
    rows.append({QStringLiteral("unit"), QString::number(p.unit)});
    rows.append({QStringLiteral("firmware"), i.firmware});
    return rows;
}

GatewayProfile normalizedProfile(const GatewayProfile &file)
{
    GatewayProfile p = file;
    QVector<int> all;
    for (int s = 1; s <= slotCount(p); ++s)
        all << s;
    normalizeMeterTable(p.table, all, flagSet(p.info.flags, IdDigitsBit), flagSet(p.info.flags, LongObisBit));
    return p;
}

QString ProfileComparison::heading() const
{
    return QStringLiteral("%1 and %2 differ")
        .arg(plural(int(settings.size()), "setting"), plural(int(meterSlots.size()), "slot"));
}

ProfileComparison compareProfiles(const GatewayProfile &device, const GatewayProfile &file, bool network,
                                  bool unit)
{
    static const QRegularExpression slotLine(QStringLiteral("^slot (\\d+) (?:id|row (\\d+)):"));
    ProfileComparison c;
    c.differences = profileDifferences(device, normalizedProfile(file), network, unit);
    for (const QString &line : std::as_const(c.differences)) {
        const QRegularExpressionMatch m = slotLine.match(line);
        if (m.hasMatch()) {
            const int slot = m.captured(1).toInt();
            c.meterSlots.insert(slot);
            c.rows.insert({slot, m.captured(2).isEmpty() ? 0 : m.captured(2).toInt()});
        } else {
            c.settings.insert(line.section(QLatin1Char(':'), 0, 0));
        }
    }
    return c;
}

QVector<int> usedSlots(const GatewayProfile &p)
{
    QVector<int> out;
    for (int s = 1; s <= slotCount(p); ++s) {
        if (!unprogrammedId(p.table.id(s)) || lastProgrammedRow(p.table, s) > 0)
            out << s;
    }
    return out;
}

int lastProgrammedRow(const MeterTable &table, int slot)
{
    for (int r = ObisListRows; r >= 1; --r)
        if (!unprogrammedCode(table.code(slot, r)))
            return r;
    return 0;
}

} // namespace qvx
