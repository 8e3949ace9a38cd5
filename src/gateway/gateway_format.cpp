#include "gateway/gateway_format.h"

#include "config/device_codec.h"
#include "meters/meter_codec.h"

#include <algorithm>
#include <cmath>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>

namespace qvx {
namespace {

QString dotted(const std::array<uint8_t, 4> &a)
{
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

const char *const ParityNames[] = {"even", "odd", "none"};

// Splits a target line into words; no quoting is needed for LINK options.
QStringList words(const QString &line)
{
    return line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

bool readOctets(const QJsonValue &v, std::array<uint8_t, 4> &out)
{
    const std::optional<std::array<uint8_t, 4>> o = ParseIPv4Text(v.toString());
    if (!v.isString() || !o)
        return false;
    out = *o;
    return true;
}

std::optional<qint64> jsonInt(const QJsonValue &v, qint64 min, qint64 max)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    // The range first: converting a double outside qint64 is undefined.
    if (!(d >= double(min) && d <= double(max)) || d != std::trunc(d))
        return std::nullopt;
    return static_cast<qint64>(d);
}

} // namespace

QString GatewayLink::describe() const
{
    QString s =
        tcp ? QStringLiteral("--tcp %1:%2").arg(host).arg(port)
            : QStringLiteral("--serial %1 --baud %2 --parity %3").arg(serialPort).arg(baud).arg(parity);
    return s + QStringLiteral(" --unit %1").arg(unit);
}

std::optional<qint64> parseNumber(const QString &text, qint64 min, qint64 max)
{
    bool ok = false;
    qint64 v = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && text.size() > 2 && text.size() <= 18) {
        for (QChar c : QStringView(text).mid(2))
            if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
                return std::nullopt;
        v = QStringView(text).mid(2).toLongLong(&ok, 16);
    } else {
        const std::optional<qint64> d = decimalValue(text);
        ok = d.has_value();
        v = d.value_or(0);
    }
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<QString> applyLinkOption(GatewayLink &link, const QString &name, const QString &value)
{
    auto bad = [&](const QString &what) { return QStringLiteral("--%1: %2 \"%3\"").arg(name, what, value); };
    if (name == QLatin1String("tcp")) {
        link.tcp = true;
        const int colon = value.lastIndexOf(QLatin1Char(':'));
        link.host = colon < 0 ? value : value.left(colon);
        if (!ParseIPv4Text(link.host))
            return bad(QStringLiteral("not an IPv4 address"));
        if (colon >= 0) {
            const std::optional<qint64> p = parseNumber(value.mid(colon + 1), 1, 65535);
            if (!p)
                return bad(QStringLiteral("bad port in"));
            link.port = int(*p);
        }
        return std::nullopt;
    }
    if (name == QLatin1String("serial")) {
        if (value.isEmpty())
            return bad(QStringLiteral("empty port name"));
        link.tcp = false;
        link.serialPort = value;
        return std::nullopt;
    }
    if (name == QLatin1String("parity")) {
        const QString p = value.toLower();
        if (p != QLatin1String("none") && p != QLatin1String("even") && p != QLatin1String("odd"))
            return bad(QStringLiteral("must be none, even or odd, not"));
        link.parity = p;
        return std::nullopt;
    }
    struct NumberOption {
        const char *name;
        int *field;
        qint64 min, max;
    };
    const NumberOption numbers[] = {
        {"baud", &link.baud, 50, 4000000},       {"data-bits", &link.dataBits, 7, 8},
        {"stop-bits", &link.stopBits, 1, 2},     {"unit", &link.unit, 1, 247},
        {"timeout", &link.timeoutMs, 1, 600000},
    };
    for (const NumberOption &o : numbers) {
        if (name != QLatin1String(o.name))
            continue;
        const std::optional<qint64> v = parseNumber(value, o.min, o.max);
        if (!v)
            return bad(QStringLiteral("must be %1..%2, not").arg(o.min).arg(o.max));
        *o.field = int(*v);
        return std::nullopt;
    }
    return QStringLiteral("unknown option --%1").arg(name);
}

TargetList parseTargetFile(const QByteArray &bytes, const GatewayLink &defaults)
{
    TargetList list;
    const QStringList lines = QString::fromLatin1(bytes).split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines.at(n);
        const int hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0)
            line.truncate(hash);
        const QStringList w = words(line);
        if (w.isEmpty())
            continue;
        GatewayLink link = defaults;
        link.tcp = false;
        link.host.clear();
        link.serialPort.clear();
        auto fail = [&](const QString &what) {
            list.targets.clear();
            list.error = QStringLiteral("line %1: %2").arg(n + 1).arg(what);
            return list;
        };
        for (int i = 0; i < w.size(); ++i) {
            QString name = w.at(i);
            if (!name.startsWith(QLatin1String("--")))
                return fail(QStringLiteral("\"%1\" is not an option").arg(name));
            name = name.mid(2);
            QString value;
            const int eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name.truncate(eq);
            } else if (i + 1 < w.size()) {
                value = w.at(++i);
            } else {
                return fail(QStringLiteral("--%1 needs a value").arg(name));
            }
            if (const std::optional<QString> e = applyLinkOption(link, name, value))
                return fail(*e);
        }
        if (!link.tcp && link.serialPort.isEmpty())
            return fail(QStringLiteral("no --tcp or --serial"));
        list.targets.append(link);
    }
    return list;
}

QVector<int> scanBaudOrder()
{
    return {9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200, 300};
}

QVector<int> scanLikelyUnits(int firstUnit, int lastUnit, int fieldUnit)
{
    QVector<int> units;
    auto add = [&](int u) {
        if (u >= firstUnit && u <= lastUnit && !units.contains(u))
            units << u;
    };
    add(1);
    add(fieldUnit);
    add(247);
    for (int u = 2; u <= 10; ++u)
        add(u);
    return units;
}

QVector<ScanProbe> scanProbes(const QVector<int> &bauds, const QStringList &parities, int firstUnit,
                              int lastUnit, int fieldUnit, const QMap<int, int> &activity)
{
    const QVector<int> likely = scanLikelyUnits(firstUnit, lastUnit, fieldUnit);
    QVector<ScanProbe> probes;
    for (int baud : bauds)
        for (const QString &parity : parities)
            for (int unit : likely)
                probes.append({baud, parity, unit, ScanStage::Likely});
    QVector<int> active, rest;
    for (int baud : scanBaudsPreferring(bauds, activity))
        (activity.value(baud) > 0 ? active : rest) << baud;
    for (const auto &[rates, stage] :
         {std::pair{active, ScanStage::Active}, std::pair{rest, ScanStage::Rest}})
        for (int baud : rates)
            for (const QString &parity : parities)
                for (int unit = firstUnit; unit <= lastUnit; ++unit)
                    if (!likely.contains(unit))
                        probes.append({baud, parity, unit, stage});
    return probes;
}

QString scanUnitsText(const QVector<int> &units)
{
    QStringList parts;
    for (qsizetype i = 0; i < units.size();) {
        qsizetype j = i;
        while (j + 1 < units.size() && units.at(j + 1) == units.at(j) + 1)
            ++j;
        parts << (j > i ? QStringLiteral("%1-%2").arg(units.at(i)).arg(units.at(j))
                        : QString::number(units.at(i)));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

int scanProbeMs(int baud, int timeoutMs)
{
    // 8 request bytes and a 5-byte exception or short reply, 11 bits each.
    const int bits = (8 + 7) * 11;
    return (bits * 1000 + baud - 1) / qMax(1, baud) + timeoutMs;
}

qint64 ScanEstimate::nominalMs(int baud) const
{
    return m_tcp ? m_timeoutMs : scanProbeMs(baud, m_timeoutMs);
}

void ScanEstimate::record(int baud, qint64 ms)
{
    ms = qMax<qint64>(0, ms);
    QPair<qint64, int> &m = m_measured[baud];
    m.first += ms;
    ++m.second;
    m_measuredMs += ms;
    m_nominalMs += nominalMs(baud);
}

qint64 ScanEstimate::remainingMs(const QVector<ScanProbe> &probes, int from) const
{
    const double scale = m_nominalMs > 0 ? double(m_measuredMs) / double(m_nominalMs) : 1.0;
    double ms = 0;
    for (qsizetype i = qMax(0, from); i < probes.size(); ++i) {
        const int baud = probes.at(i).baud;
        const auto m = m_measured.constFind(baud);
        ms += m != m_measured.cend() ? double(m->first) / m->second : double(nominalMs(baud)) * scale;
    }
    return qint64(ms + 0.5);
}

QVector<int> scanBaudsPreferring(const QVector<int> &bauds, const QMap<int, int> &activity)
{
    QVector<int> out = bauds;
    std::stable_sort(out.begin(), out.end(),
                     [&activity](int a, int b) { return activity.value(a) > activity.value(b); });
    return out;
}

QVector<GatewayFlag> gatewayFlags()
{
    return {{"dhcp", 0},      {"change_baud_after_ack", 3}, {"values_64bit", 4}, {"id_16digit", 5},
            {"long_obis", 6}, {"continuous_read", 7}};
}

bool flagSet(uint8_t flags, int bit)
{
    return (flags >> bit) & 1;
}

QJsonObject infoToJson(const GatewayInfo &info)
{
    QJsonObject flags;
    for (const GatewayFlag &f : gatewayFlags())
        flags.insert(QLatin1String(f.key), flagSet(info.flags, f.bit));
    const int baudCode = info.iecLine >> 4;
    const QStringList bauds = baudRateTexts();
    QJsonObject iec{
        {QStringLiteral("baud"),
         baudCode < bauds.size() ? QJsonValue(bauds.at(baudCode).toInt()) : QJsonValue()},
        {QStringLiteral("parity"),
         (info.iecLine & 3) < 3 ? QJsonValue(QLatin1String(ParityNames[info.iecLine & 3])) : QJsonValue()},
        {QStringLiteral("data_bits"), (info.iecLine & 0x08) ? 8 : 7},
    };
    return QJsonObject{
        {QStringLiteral("ip"), dotted(info.ip)},
        {QStringLiteral("gateway"), dotted(info.gateway)},
        {QStringLiteral("mask"), dotted(info.mask)},
        {QStringLiteral("tcp_idle_ms"), qint64(info.tcpIdleMs)},
        {QStringLiteral("flags"), flags},
        {QStringLiteral("iec"), iec},
        {QStringLiteral("readout_minutes"), info.readoutMinutes},
        {QStringLiteral("firmware"), info.firmware},
    };
}

QStringList infoLines(const GatewayInfo &info)
{
    const QJsonObject j = infoToJson(info);
    const QJsonObject iec = j.value(QLatin1String("iec")).toObject();
    QStringList out;
    auto add = [&](const QString &name, const QString &value) { out << name.leftJustified(24) + value; };
    add(QStringLiteral("ip"), dotted(info.ip));
    add(QStringLiteral("gateway"), dotted(info.gateway));
    add(QStringLiteral("mask"), dotted(info.mask));
    add(QStringLiteral("tcp_idle_ms"), QString::number(info.tcpIdleMs));
    for (const GatewayFlag &f : gatewayFlags())
        add(QLatin1String(f.key), flagSet(info.flags, f.bit) ? QStringLiteral("on") : QStringLiteral("off"));
    add(QStringLiteral("iec"), QStringLiteral("%1 %2 %3")
                                   .arg(iec.value(QLatin1String("baud")).toInt())
                                   .arg(iec.value(QLatin1String("parity")).toString())
                                   .arg(iec.value(QLatin1String("data_bits")).toInt()));
    add(QStringLiteral("readout_minutes"), QString::number(info.readoutMinutes));
    add(QStringLiteral("firmware"), info.firmware);
    return out;
}

QJsonObject meterTableToJson(const MeterTable &table, int first, int last)
{
    QJsonArray slotNums;
    for (int s = first; s <= last; ++s) {
        QJsonArray obis;
        for (int r = 1; r <= 63; ++r)
            obis.append(table.code(s, r));
        slotNums.append(QJsonObject{{QStringLiteral("slot"), s},
                                    {QStringLiteral("id"), table.id(s)},
                                    {QStringLiteral("obis"), obis}});
    }
    return QJsonObject{{QStringLiteral("slots"), slotNums}};
}

std::optional<QString> meterTableFromJson(const QJsonObject &object, MeterTable &table,
                                          QVector<int> *slotList)
{
    const QJsonValue v = object.value(QLatin1String("slots"));
    if (!v.isArray())
        return QStringLiteral("no \"slots\" list");
    const QJsonArray slotNums = v.toArray();
    for (qsizetype i = 0; i < slotNums.size(); ++i) {
        const QJsonObject o = slotNums.at(i).toObject();
        const std::optional<qint64> slot = jsonInt(o.value(QLatin1String("slot")), 1, MeterTable::Slots);
        const QJsonValue id = o.value(QLatin1String("id"));
        const QJsonValue obis = o.value(QLatin1String("obis"));
        if (!slot || !id.isString() || !obis.isArray() || obis.toArray().size() > 63)
            return QStringLiteral("slots[%1]: needs slot 1..32, id text and up to 63 obis texts").arg(i);
        table.setId(int(*slot), id.toString());
        const QJsonArray codes = obis.toArray();
        for (int r = 1; r <= 63; ++r) {
            const QJsonValue c = r <= codes.size() ? codes.at(r - 1) : QJsonValue(QString());
            if (!c.isString())
                return QStringLiteral("slots[%1].obis[%2]: not a text").arg(i).arg(r - 1);
            table.setCode(int(*slot), r, c.toString());
        }
        if (slotList)
            slotList->append(int(*slot));
    }
    return std::nullopt;
}

QByteArray profileToJson(const GatewayProfile &p)
{
    QJsonObject o = infoToJson(p.info);
    o.insert(QStringLiteral("format"), QLatin1String(ProfileFormat));
    o.insert(QStringLiteral("unit"), p.unit);
    const int last = flagSet(p.info.flags, 5) ? 30 : 32;
    o.insert(QStringLiteral("meters"), meterTableToJson(p.table, 1, last));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

ProfileParse parseProfile(const QByteArray &bytes)
{
    ProfileParse r;
    QJsonParseError e;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &e);
    if (e.error != QJsonParseError::NoError) {
        r.error = QStringLiteral("offset %1: %2").arg(e.offset).arg(e.errorString());
        return r;
    }
    const QJsonObject o = doc.object();
    if (o.value(QLatin1String("format")).toString() != QLatin1String(ProfileFormat)) {
        r.error = QStringLiteral("\"format\" is not \"%1\"").arg(QLatin1String(ProfileFormat));
        return r;
    }
    GatewayProfile p;
    auto fail = [&](const QString &what) {
        r.error = what;
        return r;
    };
    if (!readOctets(o.value(QLatin1String("ip")), p.info.ip) ||
        !readOctets(o.value(QLatin1String("gateway")), p.info.gateway) ||
        !readOctets(o.value(QLatin1String("mask")), p.info.mask))
        return fail(QStringLiteral("\"ip\", \"gateway\" and \"mask\" must be dotted IPv4 addresses"));
    const std::optional<qint64> idle = jsonInt(o.value(QLatin1String("tcp_idle_ms")), 0, 0xFFFFFFFFLL);
    const std::optional<qint64> minutes = jsonInt(o.value(QLatin1String("readout_minutes")), 0, 65535);
    const std::optional<qint64> unit = jsonInt(o.value(QLatin1String("unit")), 1, 247);
    if (!idle || !minutes || !unit)
        return fail(
            QStringLiteral("\"tcp_idle_ms\", \"readout_minutes\" and \"unit\" must be numbers in range"));
    p.info.tcpIdleMs = quint32(*idle);
    p.info.readoutMinutes = int(*minutes);
    p.unit = int(*unit);
    const QJsonObject flags = o.value(QLatin1String("flags")).toObject();
    for (const GatewayFlag &f : gatewayFlags()) {
        const QJsonValue v = flags.value(QLatin1String(f.key));
        if (!v.isBool())
            return fail(QStringLiteral("flags.%1 must be true or false").arg(QLatin1String(f.key)));
        if (v.toBool())
            p.info.flags |= uint8_t(1 << f.bit);
    }
    const QJsonObject iec = o.value(QLatin1String("iec")).toObject();
    const int baudCode = baudRateTexts().indexOf(QString::number(iec.value(QLatin1String("baud")).toInt()));
    int parity = -1;
    for (int i = 0; i < 3; ++i)
        if (iec.value(QLatin1String("parity")).toString() == QLatin1String(ParityNames[i]))
            parity = i;
    const std::optional<qint64> bits = jsonInt(iec.value(QLatin1String("data_bits")), 7, 8);
    if (baudCode < 0 || parity < 0 || !bits)
        return fail(QStringLiteral("iec needs baud (one of the nine rates), parity and data_bits 7 or 8"));
    p.info.iecLine = uint8_t(baudCode << 4 | (*bits == 8 ? 0x08 : 0) | parity);
    p.info.firmware = o.value(QLatin1String("firmware")).toString();
    if (const std::optional<QString> m =
            meterTableFromJson(o.value(QLatin1String("meters")).toObject(), p.table, nullptr))
        return fail(QStringLiteral("meters: ") + *m);
    r.profile = p;
    return r;
}

QStringList meterTableDifferences(const MeterTable &device, const MeterTable &file,
                                  const QVector<int> &slotNums)
{
    QStringList out;
    for (int s : slotNums) {
        if (device.id(s) != file.id(s))
            out << QStringLiteral("slot %1 id: gateway \"%2\", file \"%3\"")
                       .arg(s)
                       .arg(device.id(s), file.id(s));
        for (int r = 1; r <= 63; ++r)
            if (device.code(s, r) != file.code(s, r))
                out << QStringLiteral("slot %1 row %2: gateway \"%3\", file \"%4\"")
                           .arg(s)
                           .arg(r)
                           .arg(device.code(s, r), file.code(s, r));
    }
    return out;
}

QStringList profileDifferences(const GatewayProfile &device, const GatewayProfile &file, bool network,
                               bool unit)
{
    QStringList out;
    auto cmp = [&](const QString &name, const QString &a, const QString &b) {
        if (a != b)
            out << QStringLiteral("%1: gateway %2, file %3").arg(name, a, b);
    };
    if (network) {
        cmp(QStringLiteral("ip"), dotted(device.info.ip), dotted(file.info.ip));
        cmp(QStringLiteral("gateway"), dotted(device.info.gateway), dotted(file.info.gateway));
        cmp(QStringLiteral("mask"), dotted(device.info.mask), dotted(file.info.mask));
        cmp(QStringLiteral("tcp_idle_ms"), QString::number(device.info.tcpIdleMs),
            QString::number(file.info.tcpIdleMs));
    }
    for (const GatewayFlag &f : gatewayFlags())
        cmp(QStringLiteral("flags.") + QLatin1String(f.key),
            flagSet(device.info.flags, f.bit) ? QStringLiteral("true") : QStringLiteral("false"),
            flagSet(file.info.flags, f.bit) ? QStringLiteral("true") : QStringLiteral("false"));
    const QJsonObject di = infoToJson(device.info).value(QLatin1String("iec")).toObject();
    const QJsonObject fi = infoToJson(file.info).value(QLatin1String("iec")).toObject();
    cmp(QStringLiteral("iec"), QString::fromUtf8(QJsonDocument(di).toJson(QJsonDocument::Compact)),
        QString::fromUtf8(QJsonDocument(fi).toJson(QJsonDocument::Compact)));
    cmp(QStringLiteral("readout_minutes"), QString::number(device.info.readoutMinutes),
        QString::number(file.info.readoutMinutes));
    if (unit)
        cmp(QStringLiteral("unit"), QString::number(device.unit), QString::number(file.unit));
    QVector<int> slotNums;
    for (int s = 1; s <= (flagSet(file.info.flags, 5) ? 30 : 32); ++s)
        slotNums << s;
    out += meterTableDifferences(device.table, file.table, slotNums);
    return out;
}

} // namespace qvx

namespace qvx {

QString normalMeterId(const QString &id, bool sixteen)
{
    const int digits = sixteen ? 16 : 8;
    return DecodeMeterId(EncodeMeterId(id, digits), 0, digits);
}

QString normalObisCode(const QString &code, bool longObis)
{
    return DecodeRegisterEntry(EncodeRegisterEntry(code, longObis), longObis);
}

void normalizeMeterTable(MeterTable &t, const QVector<int> &slotNums, bool sixteen, bool longObis)
{
    for (int s : slotNums) {
        t.setId(s, normalMeterId(t.id(s), sixteen));
        for (int r = 1; r <= ObisListRows; ++r)
            t.setCode(s, r, normalObisCode(t.code(s, r), longObis));
    }
}

} // namespace qvx
