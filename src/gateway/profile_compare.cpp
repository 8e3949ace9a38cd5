#include "gateway/profile_compare.h"

#include "config/device_codec.h"
#include "meters/meter_codec.h"

#include <QJsonObject>
#include <QRegularExpression>

namespace qvx {
namespace {

constexpr int IdDigitsBit = 5;
constexpr int LongObisBit = 6;

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
    const QString idle = i.tcpIdleMs % 1000 == 0 ? QStringLiteral("%1 s").arg(i.tcpIdleMs / 1000)
                                                 : QStringLiteral("%1 ms").arg(i.tcpIdleMs);
    QVector<ProfileSetting> rows{
        {QStringLiteral("ip"), QStringLiteral("Static IPv4"), dottedText(i.ip)},
        {QStringLiteral("gateway"), QStringLiteral("Gateway"), dottedText(i.gateway)},
        {QStringLiteral("mask"), QStringLiteral("Mask"), dottedText(i.mask)},
        {QStringLiteral("tcp_idle_ms"), QStringLiteral("TCP Idle time"), idle}};
    // The flags as the Settings tab's flag box lists them (flag number = bit + 1).
    const QStringList items = flagItems();
    for (const GatewayFlag &f : gatewayFlags()) {
        QString caption = QLatin1String(f.key);
        for (const QString &item : items)
            if (flagNumber(item) == f.bit + 1)
                caption = item;
        rows.append({QStringLiteral("flags.") + QLatin1String(f.key), caption,
                     flagSet(i.flags, f.bit) ? QStringLiteral("on") : QStringLiteral("off")});
    }
    const QString iecPrefix = QStringLiteral("IEC serial settings: ");
    rows.append(
        {QStringLiteral("iec"), QStringLiteral("IEC serial settings"),
         iecSerialLine(QByteArray(1, '\0') + char(i.iecLine)).value_or(iecPrefix).mid(iecPrefix.size())});
    static const char *const parities[] = {"Even", "Odd", "None"};
    QString rtu = QStringLiteral("not known");
    if (p.rtu.known()) {
        const int parity = p.rtu.parity == QLatin1String("odd")    ? 1
                           : p.rtu.parity == QLatin1String("none") ? 2
                                                                   : 0;
        rtu = QStringLiteral("%1bps, %2").arg(p.rtu.baud).arg(QLatin1String(parities[parity]));
    }
    rows.append({QStringLiteral("rtu"), QStringLiteral("RTU serial settings"), rtu});
    rows.append({QStringLiteral("readout_minutes"), QStringLiteral("IEC readout interval"),
                 QStringLiteral("%1 minutes").arg(i.readoutMinutes)});
    rows.append({QStringLiteral("unit"), QStringLiteral("Modbus address"), QString::number(p.unit)});
    rows.append({QStringLiteral("firmware"), QStringLiteral("Firmware version"), i.firmware});
    return rows;
}

GatewayProfile normalizedProfile(const GatewayProfile &file)
{
    GatewayProfile p = file;
    normalizeMeterTable(p.table, profileSlots(p), flagSet(p.info.flags, IdDigitsBit),
                        flagSet(p.info.flags, LongObisBit));
    return p;
}

QString ProfileComparison::heading() const
{
    return QStringLiteral("%1 and %2 differ")
        .arg(plural(int(settings.size()), "setting"), plural(int(meterSlots.size()), "slot"));
}

ProfileComparison compareProfiles(const GatewayProfile &device, const GatewayProfile &file, bool network,
                                  bool unit, bool withLine)
{
    static const QRegularExpression slotLine(QStringLiteral("^slot (\\d+) (?:id|row (\\d+)):"));
    ProfileComparison c;
    c.differences = profileDifferences(device, normalizedProfile(file), network, unit, withLine);
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
    for (int s : profileSlots(p)) {
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
