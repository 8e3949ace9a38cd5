#include "gateway/gateway_format.h"

#include "config/device_codec.h"
#include "core/input_text.h"
#include "meters/meter_codec.h"
#include "meters/meter_file_check.h"

#include <algorithm>
#include <cmath>
#include <QDir>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSet>

namespace qvx {
namespace {

QString dotted(const std::array<uint8_t, 4> &a)
{
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

const char *const ParityNames[] = {"even", "odd", "none"};

// Splits a target line into words at white space.  A double-quoted run
// belongs to its word without its quotes (name="Feeder 3"), and "#" outside
// quotes starts a comment.  False for a quote left open.
bool words(const QString &line, QStringList &out)
{
    QString word;
    bool inWord = false, quoted = false;
    for (const QChar c : line) {
        if (quoted) {
            if (c == QLatin1Char('"'))
                quoted = false;
            else
                word += c;
            continue;
        }
        if (c == QLatin1Char('#'))
            break;
        if (c == QLatin1Char('"')) {
            quoted = inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                out << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord && !quoted)
        out << word;
    return !quoted;
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
    auto bad = [&](const QString &what) {
        return QStringLiteral("--%1: %2 %3").arg(cutInput(name), what, quoteInput(value));
    };
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
    return QStringLiteral("unknown option --%1").arg(cutInput(name));
}

namespace {

// A name that is safe in a file name on every system the tool runs on.
bool validTargetName(const QString &name)
{
    if (name.isEmpty() || name.size() > 64 || name.startsWith(QLatin1Char('.')))
        return false;
    for (QChar c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('.') && c != QLatin1Char('-') &&
            c != QLatin1Char('_'))
            return false;
    return true;
}

QString portFileName(const QString &port)
{
    const int slash = std::max(port.lastIndexOf(QLatin1Char('/')), port.lastIndexOf(QLatin1Char('\\')));
    return port.mid(slash + 1);
}

} // namespace

TargetList parseTargetFile(const QByteArray &bytes, const GatewayLink &defaults, bool allowDuplicates,
                           QStringList *allErrors)
{
    TargetList list;
    QVector<Target> good;
    const QStringList lines = QString::fromLatin1(bytes).split(QLatin1Char('\n'));
    QHash<QString, int> gatewayLines, nameLines;
    for (int n = 0; n < lines.size(); ++n) {
        QStringList w;
        const bool closed = words(lines.at(n), w);
        if (w.isEmpty() && closed)
            continue;
        Target target;
        target.line = n + 1;
        GatewayLink &link = target.link;
        link = defaults;
        link.tcp = false;
        link.host.clear();
        link.serialPort.clear();
        // The first error ends a targets file; a site file has every bad
        // line named, so the others are looked at too.
        auto fail = [&](const QString &what) {
            const QString e = QStringLiteral("line %1: %2").arg(n + 1).arg(what);
            if (!list.error)
                list.error = e;
            if (allErrors)
                *allErrors << e;
            return allErrors != nullptr;
        };
        if (!closed) {
            if (fail(QStringLiteral("a quote (\") is not closed")))
                continue;
            break;
        }
        QSet<QString> given;
        bool bad = false;
        for (int i = 0; i < w.size() && !bad; ++i) {
            QString name = w.at(i);
            // The site's own words: a name as people call the gateway and
            // the profile it should follow.
            const bool titleWord = name.startsWith(QLatin1String("name="));
            if (titleWord || name.startsWith(QLatin1String("profile="))) {
                const QString key = titleWord ? QStringLiteral("name=") : QStringLiteral("profile=");
                const QString value = name.mid(key.size());
                if (given.contains(key)) {
                    bad = true;
                    fail(QStringLiteral("%1 given twice").arg(key));
                } else if (value.isEmpty() || value.size() > 200) {
                    bad = true;
                    fail(QStringLiteral("%1 needs a value of 1 to 200 characters").arg(key));
                } else if (titleWord) {
                    target.title = value;
                } else {
                    target.profile = value;
                }
                given.insert(key);
                continue;
            }
            if (!name.startsWith(QLatin1String("--"))) {
                bad = true;
                fail(QStringLiteral("%1 is not an option").arg(quoteInput(name)));
                break;
            }
            const QString written = name;
            name = name.mid(2);
            QString value;
            const int eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name.truncate(eq);
            } else if (i + 1 < w.size()) {
                value = w.at(++i);
            } else {
                bad = true;
                fail(QStringLiteral("--%1 needs a value").arg(cutInput(name)));
                break;
            }
            // A second value would silently replace the first.
            if (given.contains(name)) {
                bad = true;
                fail(QStringLiteral("--%1 given twice").arg(cutInput(name)));
                break;
            }
            given.insert(name);
            if (given.contains(QStringLiteral("tcp")) && given.contains(QStringLiteral("serial"))) {
                bad = true;
                fail(QStringLiteral("--tcp and --serial: give one link"));
                break;
            }
            if (name == QLatin1String("name")) {
                if (!validTargetName(value)) {
                    bad = true;
                    fail(QStringLiteral("--name %1: letters, digits, \".\", \"-\" and \"_\", "
                                        "at most 64, not starting with \".\"")
                             .arg(quoteInput(value)));
                    break;
                }
                target.name = value;
                target.nameGiven = true;
                continue;
            }
            if (const std::optional<QString> e = applyLinkOption(link, name, value)) {
                bad = true;
                fail(*e);
                break;
            }
            target.linkArgs << written;
            if (eq < 0)
                target.linkArgs << value;
        }
        if (bad) {
            if (allErrors)
                continue;
            break;
        }
        if (!link.tcp && link.serialPort.isEmpty()) {
            if (fail(QStringLiteral("no --tcp or --serial")))
                continue;
            break;
        }
        const QString key = gatewayKey(link);
        if (const auto earlier = gatewayLines.constFind(key); earlier != gatewayLines.cend()) {
            if (!allowDuplicates) {
                if (fail(QStringLiteral("the same gateway as line %1 (%2); --allow-duplicates runs "
                                        "them one after the other")
                             .arg(*earlier)
                             .arg(link.describe())))
                    continue;
                break;
            }
        } else {
            gatewayLines.insert(key, target.line);
        }
        if (target.name.isEmpty()) {
            // A gateway named twice by its link: the second is told apart
            // by its line.
            target.name = linkName(link);
            if (nameLines.contains(target.name))
                target.name += QStringLiteral("-line%1").arg(target.line);
        }
        if (const auto earlier = nameLines.constFind(target.name); earlier != nameLines.cend()) {
            if (fail(QStringLiteral("name \"%1\" is already line %2's").arg(target.name).arg(*earlier)))
                continue;
            break;
        }
        nameLines.insert(target.name, target.line);
        good.append(target);
    }
    if (list.error)
        return list;
    list.targets = good;
    if (list.targets.isEmpty())
        list.error = QStringLiteral("no targets (only blank lines and comments)");
    return list;
}

QString connectionKey(const GatewayLink &link)
{
    return link.tcp ? QStringLiteral("tcp %1:%2").arg(link.host).arg(link.port)
                    : QStringLiteral("serial %1").arg(link.serialPort);
}

QString gatewayKey(const GatewayLink &link)
{
    return connectionKey(link) + QStringLiteral(" unit %1").arg(link.unit);
}

QString linkName(const GatewayLink &link)
{
    return link.tcp ? QStringLiteral("%1-%2-u%3").arg(link.host).arg(link.port).arg(link.unit)
                    : QStringLiteral("%1-u%2").arg(portFileName(link.serialPort)).arg(link.unit);
}

namespace {

const QRegularExpression &patternField()
{
    static const QRegularExpression re(QStringLiteral("\\{([^{}]*)\\}"));
    return re;
}

} // namespace

std::optional<QString> outputPatternError(const QString &pattern)
{
    QRegularExpressionMatchIterator it = patternField().globalMatch(pattern);
    while (it.hasNext()) {
        const QString field = it.next().captured(1);
        if (field != QLatin1String("name") && field != QLatin1String("host") &&
            field != QLatin1String("port") && field != QLatin1String("unit"))
            return QStringLiteral("{%1} is not {name}, {host}, {port} or {unit}").arg(cutInput(field));
    }
    return std::nullopt;
}

QString expandOutputPattern(const QString &pattern, const Target &target)
{
    const GatewayLink &l = target.link;
    const QString host = l.tcp ? l.host : portFileName(l.serialPort);
    const QString port = l.tcp ? QString::number(l.port) : host;
    QString out;
    qsizetype from = 0;
    QRegularExpressionMatchIterator it = patternField().globalMatch(pattern);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(pattern).mid(from, m.capturedStart() - from);
        const QString field = m.captured(1);
        out += field == QLatin1String("name")   ? target.name
               : field == QLatin1String("host") ? host
               : field == QLatin1String("port") ? port
               : field == QLatin1String("unit") ? QString::number(l.unit)
                                                : m.captured(0);
        from = m.capturedEnd();
    }
    out += QStringView(pattern).mid(from);
    return out;
}

std::optional<QString> outputCollision(const QString &label, const QString &pattern,
                                       const QVector<Target> &targets)
{
    QHash<QString, int> written;
    for (const Target &t : targets) {
        const QString path = QDir::cleanPath(expandOutputPattern(pattern, t));
        if (const auto earlier = written.constFind(path); earlier != written.cend())
            return QStringLiteral("%1 %2: lines %3 and %4 would both write %5; name each target's file "
                                  "with {name}, {host}, {port} or {unit}")
                .arg(label, quoteInput(pattern))
                .arg(*earlier)
                .arg(t.line)
                .arg(quoteInput(path));
        written.insert(path, t.line);
    }
    return std::nullopt;
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
    QVector<int> slotNums;
    for (int s = first; s <= last; ++s)
        slotNums << s;
    return meterTableToJson(table, slotNums);
}

QJsonObject meterTableToJson(const MeterTable &table, const QVector<int> &slotList)
{
    QJsonArray slotNums;
    for (int s : slotList) {
        QJsonArray obis;
        for (int r = 1; r <= 63; ++r)
            obis.append(table.code(s, r));
        slotNums.append(QJsonObject{{QStringLiteral("slot"), s},
                                    {QStringLiteral("id"), table.id(s)},
                                    {QStringLiteral("obis"), obis}});
    }
    return QJsonObject{{QStringLiteral("slots"), slotNums}};
}

QStringList meterTableFromJson(const QJsonObject &object, MeterTable &table, QVector<int> *slotList)
{
    const QJsonValue v = object.value(QLatin1String("slots"));
    if (!v.isArray())
        return {QStringLiteral("no \"slots\" list")};
    QStringList problems;
    QVector<int> held, seen;
    const QJsonArray slotNums = v.toArray();
    for (qsizetype i = 0; i < slotNums.size(); ++i) {
        const QJsonObject o = slotNums.at(i).toObject();
        const std::optional<qint64> slot = jsonInt(o.value(QLatin1String("slot")), 1, MeterTable::Slots);
        const QJsonValue id = o.value(QLatin1String("id"));
        const QJsonValue obis = o.value(QLatin1String("obis"));
        if (!slot || !id.isString() || !obis.isArray() || obis.toArray().size() > 63) {
            problems << QStringLiteral("slots[%1]: needs slot 1..32, id text and up to 63 obis texts").arg(i);
            continue;
        }
        const int s = int(*slot);
        if (seen.contains(s)) {
            problems << QStringLiteral("slots[%1]: slot %2 is listed twice").arg(i).arg(s);
            continue;
        }
        seen << s;
        table.setId(s, id.toString());
        const QJsonArray codes = obis.toArray();
        bool texts = true;
        for (int r = 1; r <= 63; ++r) {
            const QJsonValue c = r <= codes.size() ? codes.at(r - 1) : QJsonValue(QString());
            if (!c.isString()) {
                problems << QStringLiteral("slots[%1].obis[%2]: not a text").arg(i).arg(r - 1);
                texts = false;
            }
            table.setCode(s, r, c.toString());
        }
        if (texts && !meterSlotEmpty(table, s))
            held << s;
    }
    std::sort(held.begin(), held.end());
    if (slotList)
        *slotList = held;
    return problems;
}

QString RtuLine::text() const
{
    return known() ? QStringLiteral("%1 %2").arg(baud).arg(parity) : QStringLiteral("unknown");
}

QVector<int> allMeterSlots()
{
    QVector<int> all;
    for (int s = 1; s <= MeterTable::Slots; ++s)
        all << s;
    return all;
}

QVector<int> profileSlots(const GatewayProfile &p)
{
    const int count = flagSet(p.info.flags, 5) ? 30 : 32;
    QVector<int> out;
    for (int s : p.meterSlots)
        if (s >= 1 && s <= count)
            out << s;
    return out;
}

QByteArray profileToJson(const GatewayProfile &p)
{
    QJsonObject o = infoToJson(p.info);
    o.insert(QStringLiteral("format"), QLatin1String(ProfileFormat));
    o.insert(QStringLiteral("unit"), p.unit);
    if (p.rtu.known())
        o.insert(QStringLiteral("rtu"),
                 QJsonObject{{QStringLiteral("baud"), p.rtu.baud}, {QStringLiteral("parity"), p.rtu.parity}});
    o.insert(QStringLiteral("meters"), meterTableToJson(p.table, profileSlots(p)));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

namespace {

// A JSON value as the file has it, for a message.
QString jsonText(const QJsonValue &v)
{
    if (v.isUndefined())
        return QStringLiteral("missing");
    if (v.isString())
        return QLatin1Char('"') + v.toString() + QLatin1Char('"');
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 17);
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isNull())
        return QStringLiteral("null");
    return QString::fromUtf8(QJsonDocument::fromVariant(v.toVariant()).toJson(QJsonDocument::Compact));
}

int parityIndex(const QJsonValue &v)
{
    for (int i = 0; i < 3; ++i)
        if (v.isString() && v.toString() == QLatin1String(ParityNames[i]))
            return i;
    return -1;
}

int baudIndex(const QJsonValue &v)
{
    const std::optional<qint64> b = jsonInt(v, 1, 115200);
    return b ? int(baudRateTexts().indexOf(QString::number(*b))) : -1;
}

} // namespace

ProfileParse parseProfile(const QByteArray &bytes)
{
    ProfileParse r;
    QJsonParseError e;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &e);
    if (e.error != QJsonParseError::NoError) {
        r.error = QStringLiteral("offset %1: %2").arg(e.offset).arg(e.errorString());
        r.errors << r.error;
        return r;
    }
    const QJsonObject o = doc.object();
    if (o.value(QLatin1String("format")).toString() != QLatin1String(ProfileFormat)) {
        r.error = QStringLiteral("\"format\" is not \"%1\"").arg(QLatin1String(ProfileFormat));
        r.errors << r.error;
        return r;
    }
    GatewayProfile p;
    QStringList &errors = r.errors;
    auto field = [&](const QString &name, const QJsonValue &v, const QString &rule) {
        errors << QStringLiteral("%1: %2; %3").arg(name, jsonText(v), rule);
    };
    for (const auto &[name, octets] : {std::pair{"ip", &p.info.ip}, std::pair{"gateway", &p.info.gateway},
                                       std::pair{"mask", &p.info.mask}})
        if (!readOctets(o.value(QLatin1String(name)), *octets))
            field(QLatin1String(name), o.value(QLatin1String(name)),
                  QStringLiteral("must be a dotted IPv4 address"));
    const QJsonValue idleValue = o.value(QLatin1String("tcp_idle_ms"));
    const QJsonValue minutesValue = o.value(QLatin1String("readout_minutes"));
    const QJsonValue unitValue = o.value(QLatin1String("unit"));
    const std::optional<qint64> idle = jsonInt(idleValue, 0, 0xFFFFFFFFLL);
    // The gateway takes a readout period of 1 to 1440 minutes and answers
    // anything else with an exception, half way through an apply.
    const std::optional<qint64> minutes = jsonInt(minutesValue, 1, 1440);
    const std::optional<qint64> unit = jsonInt(unitValue, 1, 247);
    if (!idle)
        field(QStringLiteral("tcp_idle_ms"), idleValue,
              QStringLiteral("must be a whole number 0..4294967295"));
    if (!minutes)
        field(QStringLiteral("readout_minutes"), minutesValue,
              QStringLiteral("the gateway takes 1..1440 minutes"));
    if (!unit)
        field(QStringLiteral("unit"), unitValue, QStringLiteral("the gateway takes unit addresses 1..247"));
    p.info.tcpIdleMs = quint32(idle.value_or(0));
    p.info.readoutMinutes = int(minutes.value_or(0));
    p.unit = int(unit.value_or(1));
    const QJsonObject flags = o.value(QLatin1String("flags")).toObject();
    for (const GatewayFlag &f : gatewayFlags()) {
        const QJsonValue v = flags.value(QLatin1String(f.key));
        if (!v.isBool())
            field(QStringLiteral("flags.") + QLatin1String(f.key), v,
                  QStringLiteral("must be true or false"));
        else if (v.toBool())
            p.info.flags |= uint8_t(1 << f.bit);
    }
    const QJsonObject iec = o.value(QLatin1String("iec")).toObject();
    const int baudCode = baudIndex(iec.value(QLatin1String("baud")));
    const int parity = parityIndex(iec.value(QLatin1String("parity")));
    const std::optional<qint64> bits = jsonInt(iec.value(QLatin1String("data_bits")), 7, 8);
    const QString rates = baudRateTexts().join(QLatin1Char(','));
    if (baudCode < 0)
        field(QStringLiteral("iec.baud"), iec.value(QLatin1String("baud")),
              QStringLiteral("the gateway takes %1").arg(rates));
    if (parity < 0)
        field(QStringLiteral("iec.parity"), iec.value(QLatin1String("parity")),
              QStringLiteral("must be \"even\", \"odd\" or \"none\""));
    if (!bits)
        field(QStringLiteral("iec.data_bits"), iec.value(QLatin1String("data_bits")),
              QStringLiteral("must be 7 or 8"));
    if (baudCode >= 0 && parity >= 0 && bits)
        p.info.iecLine = uint8_t(baudCode << 4 | (*bits == 8 ? 0x08 : 0) | parity);
    // The RTU line came later: a profile without it still loads.
    const QJsonValue rtuValue = o.value(QLatin1String("rtu"));
    if (!rtuValue.isUndefined() && !rtuValue.isNull()) {
        const QJsonObject rtu = rtuValue.toObject();
        const int rtuBaud = baudIndex(rtu.value(QLatin1String("baud")));
        const int rtuParity = parityIndex(rtu.value(QLatin1String("parity")));
        if (rtuBaud < 0)
            field(QStringLiteral("rtu.baud"), rtu.value(QLatin1String("baud")),
                  QStringLiteral("the gateway takes %1").arg(rates));
        if (rtuParity < 0)
            field(QStringLiteral("rtu.parity"), rtu.value(QLatin1String("parity")),
                  QStringLiteral("must be \"even\", \"odd\" or \"none\""));
        if (rtuBaud >= 0 && rtuParity >= 0)
            p.rtu = {baudRateTexts().at(rtuBaud).toInt(), QLatin1String(ParityNames[rtuParity])};
    }
    p.info.firmware = o.value(QLatin1String("firmware")).toString();
    for (const QString &m :
         meterTableFromJson(o.value(QLatin1String("meters")).toObject(), p.table, &p.meterSlots))
        errors << QStringLiteral("meters: ") + m;
    // The texts by the profile's own formats: those it sets on the gateway.
    for (const QString &m : meterTableProblems(p.table, p.meterSlots, flagSet(p.info.flags, 5) ? 16 : 8,
                                               flagSet(p.info.flags, 6)))
        errors << QStringLiteral("meters: ") + m;
    if (!errors.isEmpty()) {
        r.error = errors.join(QStringLiteral("; "));
        return r;
    }
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
                               bool unit, bool line)
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
    // A profile that does not know the line asks nothing of it.
    if (line && file.rtu.known())
        cmp(QStringLiteral("rtu"), device.rtu.text(), file.rtu.text());
    out += meterTableDifferences(device.table, file.table, profileSlots(file));
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

namespace qvx {

QJsonObject differenceToJson(const QString &line, const QString &otherKey)
{
    // The lines are built above as "what: gateway A, file B", texts of IDs
    // and codes in quotes, the IEC line as compact JSON.
    static const QRegularExpression parts(QStringLiteral("^(.*?): gateway (.*), file (.*)$"));
    const QRegularExpressionMatch m = parts.match(line);
    if (!m.hasMatch())
        return QJsonObject{{QStringLiteral("what"), line}};
    auto value = [](const QString &text) -> QJsonValue {
        if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
            return text.mid(1, text.size() - 2);
        if (text.startsWith(QLatin1Char('{'))) {
            const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
            if (doc.isObject())
                return doc.object();
        }
        return text;
    };
    return QJsonObject{{QStringLiteral("what"), m.captured(1)},
                       {QStringLiteral("gateway"), value(m.captured(2))},
                       {otherKey, value(m.captured(3))}};
}

QString differsText(const QStringList &whats)
{
    static const QRegularExpression slotName(QStringLiteral("^slot (\\d+)\\b"));
    QSet<QString> slotSet;
    int settings = 0;
    for (const QString &w : whats) {
        const QRegularExpressionMatch m = slotName.match(w);
        if (m.hasMatch())
            slotSet.insert(m.captured(1));
        else
            ++settings;
    }
    QStringList parts;
    if (settings)
        parts << QStringLiteral("%1 setting%2").arg(settings).arg(settings == 1 ? "" : "s");
    if (!slotSet.isEmpty())
        parts << QStringLiteral("%1 slot%2").arg(slotSet.size()).arg(slotSet.size() == 1 ? "" : "s");
    return parts.isEmpty() ? QStringLiteral("differs")
                           : QStringLiteral("differs: ") + parts.join(QStringLiteral(", "));
}

} // namespace qvx
