#include "iec/obis.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>

namespace qvx {
namespace {

// Group C (and D of the error register F.F) may be a letter in readouts.
int groupValue(const QString &g, int max)
{
    if (g.size() == 1) {
        switch (g.at(0).unicode()) {
        case u'C':
            return 96;
        case u'F':
            return 97;
        case u'L':
            return 98;
        case u'P':
            return 99;
        default:
            break;
        }
    }
    if (g.isEmpty() || g.size() > 3)
        return -1;
    for (QChar ch : g)
        if (ch < u'0' || ch > u'9')
            return -1;
    const int v = g.toInt();
    return v <= max ? v : -1;
}

QString key(int c, int d, int e)
{
    return QStringLiteral("%1.%2.%3").arg(c).arg(d).arg(e);
}

} // namespace

std::optional<ObisCode> ParseObisCode(const QString &text)
{
    QString s = text;
    while (!s.isEmpty() && (s.front() == QChar(0x02) || s.front().isSpace()))
        s.remove(0, 1);
    s = s.trimmed();
    static const QRegularExpression form(
        QStringLiteral("^(?:(\\d{1,3})-(\\d{1,3}):)?([0-9CFLP]{1,3})\\.([0-9CFLP]{1,3})"
                       "(?:\\.(\\d{1,3}))?(?:[.*&](\\d{1,3}))?$"));
    const QRegularExpressionMatch m = form.match(s);
    if (!m.hasMatch())
        return std::nullopt;
    ObisCode code;
    if (m.capturedLength(1) > 0) {
        code.a = groupValue(m.captured(1), 254);
        code.b = groupValue(m.captured(2), 254);
        if (code.a < 0 || code.b < 0)
            return std::nullopt;
    }
    code.c = groupValue(m.captured(3), 254);
    code.d = groupValue(m.captured(4), 254);
    code.e = m.capturedLength(5) > 0 ? groupValue(m.captured(5), 254) : 0;
    code.f = m.capturedLength(6) > 0 ? groupValue(m.captured(6), 255) : -1;
    if (code.c < 0 || code.d < 0 || code.e < 0 || (m.capturedLength(6) > 0 && code.f < 0))
        return std::nullopt;
    return code;
}

const QList<ObisInfo> &ObisTable()
{
    static const QList<ObisInfo> table = [] {
        QList<ObisInfo> t = {
            {"0.0.0", "Meter address (device ID 1)", ""},
            {"0.0.1", "Device ID 2", ""},
            {"0.1.0", "Billing period reset counter", ""},
            {"0.1.2", "Time stamp of the last billing period reset", ""},
            {"0.2.0", "Firmware version", ""},
            {"0.2.1", "Parameter set ID", ""},
            {"0.9.1", "Time", ""},
            {"0.9.2", "Date", ""},
            {"0.9.5", "Day of week", ""},
            {"96.1.0", "Meter serial number (device ID)", ""},
            {"96.1.1", "Device ID, second", ""},
            {"96.2.1", "Date of the last parameter change", ""},
            {"96.5.0", "Status register", ""},
            {"96.7.0", "Number of power failures, all phases", ""},
            {"96.7.1", "Number of power failures, L1", ""},
            {"96.7.2", "Number of power failures, L2", ""},
            {"96.7.3", "Number of power failures, L3", ""},
            {"96.8.0", "Operating time", "h"},
            {"97.97.0", "Error register", ""},
            {"1.8.0", "Active energy import (+A), total", "kWh"},
            {"1.8.1", "Active energy import (+A), tariff 1", "kWh"},
            {"1.8.2", "Active energy import (+A), tariff 2", "kWh"},
            {"1.8.3", "Active energy import (+A), tariff 3", "kWh"},
            {"1.8.4", "Active energy import (+A), tariff 4", "kWh"},
            {"2.8.0", "Active energy export (-A), total", "kWh"},
            {"2.8.1", "Active energy export (-A), tariff 1", "kWh"},
            {"2.8.2", "Active energy export (-A), tariff 2", "kWh"},
            {"2.8.3", "Active energy export (-A), tariff 3", "kWh"},
            {"2.8.4", "Active energy export (-A), tariff 4", "kWh"},
            {"3.8.0", "Reactive energy import (+R), total", "kvarh"},
            {"4.8.0", "Reactive energy export (-R), total", "kvarh"},
            {"5.8.0", "Reactive energy, quadrant I", "kvarh"},
            {"6.8.0", "Reactive energy, quadrant II", "kvarh"},
            {"7.8.0", "Reactive energy, quadrant III", "kvarh"},
            {"8.8.0", "Reactive energy, quadrant IV", "kvarh"},
            {"9.8.0", "Apparent energy import (+VA), total", "kVAh"},
            {"10.8.0", "Apparent energy export (-VA), total", "kVAh"},
            {"15.8.0", "Active energy, absolute (|A|), total", "kWh"},
            {"21.8.0", "Active energy import (+A), L1", "kWh"},
            {"41.8.0", "Active energy import (+A), L2", "kWh"},
            {"61.8.0", "Active energy import (+A), L3", "kWh"},
            {"22.8.0", "Active energy export (-A), L1", "kWh"},
            {"42.8.0", "Active energy export (-A), L2", "kWh"},
            {"62.8.0", "Active energy export (-A), L3", "kWh"},
            {"1.2.0", "Cumulative maximum demand, import", "kW"},
            {"1.4.0", "Current average demand, import", "kW"},
            {"1.6.0", "Maximum demand, import", "kW"},
            {"2.6.0", "Maximum demand, export", "kW"},
            {"1.7.0", "Active power import (+P)", "kW"},
            {"2.7.0", "Active power export (-P)", "kW"},
            {"3.7.0", "Reactive power import (+Q)", "kvar"},
            {"4.7.0", "Reactive power export (-Q)", "kvar"},
            {"9.7.0", "Apparent power import (+S)", "kVA"},
            {"10.7.0", "Apparent power export (-S)", "kVA"},
            {"15.7.0", "Active power, absolute (|P|)", "kW"},
            {"16.7.0", "Active power, net (import - export)", "kW"},
            {"21.7.0", "Active power import (+P), L1", "kW"},
            {"41.7.0", "Active power import (+P), L2", "kW"},
            {"61.7.0", "Active power import (+P), L3", "kW"},
            {"22.7.0", "Active power export (-P), L1", "kW"},
            {"42.7.0", "Active power export (-P), L2", "kW"},
            {"62.7.0", "Active power export (-P), L3", "kW"},
            {"23.7.0", "Reactive power import (+Q), L1", "kvar"},
            {"43.7.0", "Reactive power import (+Q), L2", "kvar"},
            {"63.7.0", "Reactive power import (+Q), L3", "kvar"},
            {"29.7.0", "Apparent power import (+S), L1", "kVA"},
            {"49.7.0", "Apparent power import (+S), L2", "kVA"},
            {"69.7.0", "Apparent power import (+S), L3", "kVA"},
            {"11.7.0", "Current, any phase", "A"},
            {"31.7.0", "Current, L1", "A"},
            {"51.7.0", "Current, L2", "A"},
            {"71.7.0", "Current, L3", "A"},
            {"91.7.0", "Current, neutral", "A"},
            {"12.7.0", "Voltage, any phase", "V"},
            {"32.7.0", "Voltage, L1", "V"},
            {"52.7.0", "Voltage, L2", "V"},
            {"72.7.0", "Voltage, L3", "V"},
            {"13.7.0", "Power factor, total", ""},
            {"33.7.0", "Power factor, L1", ""},
            {"53.7.0", "Power factor, L2", ""},
            {"73.7.0", "Power factor, L3", ""},
            {"14.7.0", "Frequency", "Hz"},
            {"32.32.0", "Number of voltage sags, L1", ""},
            {"52.32.0", "Number of voltage sags, L2", ""},
            {"72.32.0", "Number of voltage sags, L3", ""},
            {"32.36.0", "Number of voltage swells, L1", ""},
            {"52.36.0", "Number of voltage swells, L2", ""},
            {"72.36.0", "Number of voltage swells, L3", ""},
        };
        // Sorted by value groups, the order a technician reads them in.
        auto groups = [](const ObisInfo &i) {
            const auto p = QString::fromLatin1(i.code).split(QLatin1Char('.'));
            return std::array<int, 3>{p.at(0).toInt(), p.at(1).toInt(), p.at(2).toInt()};
        };
        std::sort(t.begin(), t.end(),
                  [&](const ObisInfo &x, const ObisInfo &y) { return groups(x) < groups(y); });
        return t;
    }();
    return table;
}

const ObisInfo *FindObisInfo(const QString &text)
{
    const std::optional<ObisCode> code = ParseObisCode(text);
    if (!code)
        return nullptr;
    const QString k = key(code->c, code->d, code->e);
    for (const ObisInfo &info : ObisTable())
        if (k == QLatin1String(info.code))
            return &info;
    return nullptr;
}

QString ObisDescription(const QString &text)
{
    const ObisInfo *info = FindObisInfo(text);
    if (!info)
        return {};
    QString out = QString::fromLatin1(info->name);
    if (*info->unit)
        out += QStringLiteral(" [%1]").arg(QLatin1String(info->unit));
    return out;
}

std::optional<QString> ObisForMeterSlot(const QString &text, bool longObis)
{
    const std::optional<ObisCode> code = ParseObisCode(text);
    if (!code)
        return std::nullopt;
    const QString groups = key(code->c, code->d, code->e);
    // The long entry keeps medium and channel as one nibble each, typed as
    // one digit each; its fourth byte holds them, so F is not sent.
    if (longObis && code->a >= 0 && code->a <= 9 && code->b >= 0 && code->b <= 9)
        return QStringLiteral("%1-%2:").arg(code->a).arg(code->b) + groups;
    if (code->f >= 0 && code->f != 255)
        return groups + QStringLiteral(".%1").arg(code->f);
    return groups;
}

} // namespace qvx
