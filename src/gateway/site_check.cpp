#include "gateway/site_check.h"

#include "config/device_codec.h"
#include "gateway/profile_compare.h"
#include "iec/obis.h"
#include "meters/meter_codec.h"

#include <QJsonArray>

namespace qvx {

namespace {

// A row the gateway holds a code in: it hands back an empty one with 255
// in its first group.
bool rowProgrammed(const QString &code)
{
    return !code.isEmpty() && !code.startsWith(QLatin1String("255."));
}

QString stamp(const QDateTime &t)
{
    return t.isValid() ? t.toString(Qt::ISODate) : QString();
}

QJsonValue optionalValue(const std::optional<qint64> &v)
{
    return v ? QJsonValue(*v) : QJsonValue();
}

} // namespace

QString gatewayStateText(GatewayState state)
{
    switch (state) {
    case GatewayState::Answers:
        return QStringLiteral("answers");
    case GatewayState::NoAnswer:
        return QStringLiteral("no answer");
    case GatewayState::Error:
        return QStringLiteral("error");
    default:
        return QStringLiteral("not checked");
    }
}

GatewayState gatewayStateOf(GatewayError::Kind kind)
{
    return kind == GatewayError::NoAnswer || kind == GatewayError::LinkFailed ? GatewayState::NoAnswer
                                                                              : GatewayState::Error;
}

QString GatewayCheck::profileText() const
{
    switch (profile) {
    case ProfileState::Matches:
        return QStringLiteral("matches");
    case ProfileState::Differs:
        return differences.size() == 1 ? QStringLiteral("1 difference")
                                       : QStringLiteral("%1 differences").arg(differences.size());
    default:
        return QStringLiteral("none");
    }
}

bool GatewayCheck::ok() const
{
    return verdict() == QLatin1String("ok");
}

QString GatewayCheck::verdict() const
{
    if (state != GatewayState::Answers)
        return gatewayStateText(state);
    if (profile == ProfileState::Differs)
        return QStringLiteral("profile: ") + profileText();
    const int silent = programmed - delivering;
    if (silent > 0)
        return silent == 1 ? QStringLiteral("1 meter delivers no values")
                           : QStringLiteral("%1 meters deliver no values").arg(silent);
    if (crcErrors > 0)
        return QStringLiteral("%1 CRC error(s)").arg(crcErrors);
    return QStringLiteral("ok");
}

QStringList SettingsWords(const GatewayInfo &info)
{
    auto bytes = [](const std::array<uint8_t, 4> &a) {
        return QByteArray(reinterpret_cast<const char *>(a.data()), 4);
    };
    QStringList lines;
    for (const auto &[prefix, octets] :
         {std::pair{QStringLiteral("IP: "), info.ip}, std::pair{QStringLiteral("GATE: "), info.gateway},
          std::pair{QStringLiteral("MASK: "), info.mask}})
        if (const std::optional<QString> l = ipv4Line(prefix, bytes(octets)))
            lines << *l;
    QByteArray idle;
    for (int shift : {24, 16, 8, 0})
        idle += char((info.tcpIdleMs >> shift) & 0xFF);
    if (const std::optional<QString> l = tcpIdleLine(idle))
        lines << *l;
    lines << flagReadout(info.flags).lines;
    if (const std::optional<QString> l = iecSerialLine(QByteArray(1, '\0') + char(info.iecLine)))
        lines << *l;
    const QByteArray period(1, char((info.readoutMinutes >> 8) & 0xFF));
    if (const std::optional<QString> l = readoutIntervalLine(period + char(info.readoutMinutes & 0xFF)))
        lines << *l;
    return lines;
}

void CheckGateway(GatewayClient &client, const CheckOptions &options, GatewayCheck &check,
                  const GatewayProgress &progress)
{
    const int crcBefore = client.crcErrors();
    const int requestsBefore = client.requests();
    const int retriesBefore = client.retries();
    check.profileName = options.profileName;
    check.meters.clear();
    check.differences.clear();
    auto finish = [&] {
        check.crcErrors = client.crcErrors() - crcBefore;
        check.requests = client.requests() - requestsBefore;
        check.retries = client.retries() - retriesBefore;
        check.checkedAt = QDateTime::currentDateTime();
    };
    GatewayProfile device;
    try {
        device = readGatewayProfile(client, progress);
    } catch (const GatewayError &e) {
        if (e.kind() == GatewayError::Cancelled)
            throw;
        check.state = gatewayStateOf(e.kind());
        check.message = e.message();
        finish();
        return;
    }
    check.state = GatewayState::Answers;
    check.message.clear();
    check.info = device.info;
    check.firmware = device.info.firmware;
    check.settings = SettingsWords(device.info);
    const bool sixteen = flagSet(device.info.flags, 5);
    const bool wide = flagSet(device.info.flags, 4);
    check.slotCount = sixteen ? 30 : 32;
    const QVector<int> used = usedSlots(device);
    check.programmed = int(used.size());
    check.delivering = 0;
    int step = 0;
    for (int s : used) {
        SlotCheck slot;
        slot.slot = s;
        slot.meterId = device.table.id(s);
        for (int r = 1; r <= ObisListRows; ++r) {
            const QString code = device.table.code(s, r);
            if (!rowProgrammed(code))
                continue;
            slot.rows << r;
            slot.obis << code;
            slot.obisNames << ObisDescription(code);
        }
        if (options.readValues) {
            if (progress)
                progress(++step, int(used.size()), QStringLiteral("values of slot %1").arg(s));
            try {
                const QVector<std::optional<qint64>> v = client.readValues(s, wide);
                slot.readAt = QDateTime::currentDateTime();
                for (int r : slot.rows) {
                    std::optional<qint64> value = r - 1 < v.size() ? v.at(r - 1) : std::nullopt;
                    // The gateway fills a 32-bit value it has not read with FF.
                    if (!wide && value == qint64(0xFFFFFFFF))
                        value.reset();
                    slot.values << value;
                    slot.delivers = slot.delivers || value.has_value();
                }
            } catch (const GatewayError &e) {
                if (e.kind() == GatewayError::Cancelled)
                    throw;
                slot.error = e.message();
            }
        }
        check.delivering += slot.delivers ? 1 : 0;
        check.meters << slot;
    }
    if (options.profile) {
        check.differences = compareProfiles(device, *options.profile, false, false, false).differences;
        check.profile = check.differences.isEmpty() ? ProfileState::Matches : ProfileState::Differs;
    } else {
        check.profile = ProfileState::None;
    }
    finish();
}

QString GatewayCheckSummary(const GatewayCheck &c)
{
    return QStringLiteral("%1  firmware %2  meters %3 of %4, %5 delivering  profile %6  CRC errors %7  %8")
        .arg(gatewayStateText(c.state), c.firmware.isEmpty() ? QStringLiteral("-") : c.firmware)
        .arg(c.programmed)
        .arg(c.slotCount)
        .arg(c.delivering)
        .arg(c.profileText())
        .arg(c.crcErrors)
        .arg(c.verdict());
}

QJsonObject GatewayCheckJson(const GatewayCheck &c)
{
    QJsonArray meterList, settings, differences;
    for (const SlotCheck &s : c.meters) {
        QJsonArray codes;
        for (int i = 0; i < s.obis.size(); ++i)
            codes.append(QJsonObject{{QStringLiteral("row"), s.rows.value(i)},
                                     {QStringLiteral("obis"), s.obis.at(i)},
                                     {QStringLiteral("name"), s.obisNames.value(i)},
                                     {QStringLiteral("value"), optionalValue(s.values.value(i))}});
        QJsonObject o{{QStringLiteral("slot"), s.slot},
                      {QStringLiteral("meter_id"), s.meterId},
                      {QStringLiteral("codes"), codes},
                      {QStringLiteral("read_at"), stamp(s.readAt)},
                      {QStringLiteral("delivers"), s.delivers}};
        if (!s.error.isEmpty())
            o.insert(QStringLiteral("error"), s.error);
        meterList.append(o);
    }
    for (const QString &l : c.settings)
        settings.append(l);
    for (const QString &d : c.differences)
        differences.append(d);
    QJsonArray linkArgs;
    for (const QString &a : c.gateway.linkArgs)
        linkArgs.append(a);
    return QJsonObject{
        {QStringLiteral("name"), c.gateway.shownName()},
        {QStringLiteral("line"), c.gateway.line},
        {QStringLiteral("link"), c.gateway.link.describe()},
        {QStringLiteral("link_args"), linkArgs},
        {QStringLiteral("unit"), c.gateway.link.unit},
        {QStringLiteral("state"), gatewayStateText(c.state)},
        {QStringLiteral("message"), c.message},
        {QStringLiteral("firmware"), c.firmware},
        {QStringLiteral("settings"), settings},
        {QStringLiteral("slot_count"), c.slotCount},
        {QStringLiteral("programmed"), c.programmed},
        {QStringLiteral("delivering"), c.delivering},
        {QStringLiteral("slots"), meterList},
        {QStringLiteral("profile"), c.profileText()},
        {QStringLiteral("profile_file"), c.profileName},
        {QStringLiteral("differences"), differences},
        {QStringLiteral("crc_errors"), c.crcErrors},
        {QStringLiteral("requests"), c.requests},
        {QStringLiteral("retries"), c.retries},
        {QStringLiteral("checked_at"), stamp(c.checkedAt)},
        {QStringLiteral("verdict"), c.verdict()},
        {QStringLiteral("ok"), c.ok()},
    };
}

GatewayCheck GatewayCheckFromJson(const QJsonObject &o)
{
    GatewayCheck c;
    c.gateway.name = o.value(QLatin1String("name")).toString();
    c.gateway.line = o.value(QLatin1String("line")).toInt();
    for (const QJsonValue &a : o.value(QLatin1String("link_args")).toArray())
        c.gateway.linkArgs << a.toString();
    for (int i = 0; i + 1 < c.gateway.linkArgs.size(); i += 2)
        applyLinkOption(c.gateway.link, c.gateway.linkArgs.at(i).mid(2), c.gateway.linkArgs.at(i + 1));
    c.gateway.link.unit = o.value(QLatin1String("unit")).toInt(c.gateway.link.unit);
    const QString state = o.value(QLatin1String("state")).toString();
    c.state = state == QLatin1String("answers")     ? GatewayState::Answers
              : state == QLatin1String("no answer") ? GatewayState::NoAnswer
              : state == QLatin1String("error")     ? GatewayState::Error
                                                    : GatewayState::NotChecked;
    c.message = o.value(QLatin1String("message")).toString();
    c.firmware = o.value(QLatin1String("firmware")).toString();
    c.info.firmware = c.firmware;
    for (const QJsonValue &l : o.value(QLatin1String("settings")).toArray())
        c.settings << l.toString();
    c.slotCount = o.value(QLatin1String("slot_count")).toInt(32);
    c.programmed = o.value(QLatin1String("programmed")).toInt();
    c.delivering = o.value(QLatin1String("delivering")).toInt();
    for (const QJsonValue &v : o.value(QLatin1String("slots")).toArray()) {
        const QJsonObject so = v.toObject();
        SlotCheck s;
        s.slot = so.value(QLatin1String("slot")).toInt();
        s.meterId = so.value(QLatin1String("meter_id")).toString();
        s.readAt = QDateTime::fromString(so.value(QLatin1String("read_at")).toString(), Qt::ISODate);
        s.delivers = so.value(QLatin1String("delivers")).toBool();
        s.error = so.value(QLatin1String("error")).toString();
        for (const QJsonValue &cv : so.value(QLatin1String("codes")).toArray()) {
            const QJsonObject co = cv.toObject();
            s.rows << co.value(QLatin1String("row")).toInt();
            s.obis << co.value(QLatin1String("obis")).toString();
            s.obisNames << co.value(QLatin1String("name")).toString();
            const QJsonValue value = co.value(QLatin1String("value"));
            s.values << (value.isDouble() ? std::optional<qint64>(qint64(value.toDouble())) : std::nullopt);
        }
        c.meters << s;
    }
    c.profileName = o.value(QLatin1String("profile_file")).toString();
    for (const QJsonValue &d : o.value(QLatin1String("differences")).toArray())
        c.differences << d.toString();
    const QString profile = o.value(QLatin1String("profile")).toString();
    c.profile = profile == QLatin1String("matches") ? ProfileState::Matches
                : profile == QLatin1String("none")  ? ProfileState::None
                                                    : ProfileState::Differs;
    c.crcErrors = o.value(QLatin1String("crc_errors")).toInt();
    c.requests = o.value(QLatin1String("requests")).toInt();
    c.retries = o.value(QLatin1String("retries")).toInt();
    c.checkedAt = QDateTime::fromString(o.value(QLatin1String("checked_at")).toString(), Qt::ISODate);
    return c;
}

} // namespace qvx
