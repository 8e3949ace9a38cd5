#include "sim/meter.h"

#include "iec/iec_protocol.h"

#include <cmath>
#include <numbers>

namespace qvxsim {

namespace {
constexpr char STX = 0x02;
constexpr char ETX = 0x03;

uint32_t fnv1a(const QString &text)
{
    uint32_t h = 2166136261u;
    for (QChar ch : text) {
        h ^= ch.unicode();
        h *= 16777619u;
    }
    return h;
}

// A number in [0, 1) from the seed and a salt, stable across runs.
double unit01(uint32_t seed, uint32_t salt)
{
    uint32_t x = seed ^ (salt * 0x9E3779B9u);
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return double(x) / 4294967296.0;
}
} // namespace

QString MeterRegister::code() const
{
    return QStringLiteral("%1.%2.%3").arg(c).arg(d).arg(e);
}

QString MeterRegister::formatted() const
{
    const double scale = std::pow(10.0, decimals);
    const qint64 s = std::llround(value * scale);
    const qint64 mag = s < 0 ? -s : s;
    const qint64 p = std::llround(scale);
    QString digits = QString::number(mag / p).rightJustified(intDigits, QLatin1Char('0'));
    if (decimals > 0)
        digits += QLatin1Char('.') + QString::number(mag % p).rightJustified(decimals, QLatin1Char('0'));
    QString out = (s < 0 ? QStringLiteral("-") : QString()) + digits;
    if (!unit.isEmpty())
        out += QLatin1Char('*') + unit;
    return out;
}

qint64 MeterRegister::scaled() const
{
    return std::llround(value * std::pow(10.0, decimals));
}

SimMeter::SimMeter(const QString &id, qint64 startMs) : id_(id), seed_(fnv1a(id)), nowMs_(startMs)
{
    baseKw_ = 0.4 + 4.0 * unit01(seed_, 1);
    pvKw_ = unit01(seed_, 2) < 0.5 ? 0.0 : 1.0 + 3.0 * unit01(seed_, 3);
    const double importKwh = 1000.0 + std::floor(48000.0 * unit01(seed_, 4)) + 0.567;
    const double share = 0.55 + 0.1 * unit01(seed_, 5);
    const double exportKwh = pvKw_ > 0 ? std::floor(9000.0 * unit01(seed_, 6)) + 0.125 : 0.0;
    auto add = [this](int c, int d, int e, const char *unit, int intDigits, int decimals, double value) {
        MeterRegister r;
        r.c = c;
        r.d = d;
        r.e = e;
        r.unit = QString::fromLatin1(unit);
        r.intDigits = intDigits;
        r.decimals = decimals;
        r.value = value;
        registers_.append(r);
    };
    // The meter's address as its own first register, as many meters show it.
    add(0, 0, 0, "", 8, 0, id.toDouble());
    add(1, 8, 0, "kWh", 7, 3, importKwh);
    add(1, 8, 1, "kWh", 7, 3, importKwh * share);
    add(1, 8, 2, "kWh", 7, 3, importKwh * (1.0 - share));
    add(2, 8, 0, "kWh", 7, 3, exportKwh);
    add(3, 8, 0, "kvarh", 7, 3, importKwh * 0.21);
    add(4, 8, 0, "kvarh", 7, 3, importKwh * 0.04);
    add(1, 7, 0, "kW", 2, 3, 0);
    add(2, 7, 0, "kW", 2, 3, 0);
    add(16, 7, 0, "kW", 2, 3, 0);
    add(32, 7, 0, "V", 3, 1, 230);
    add(52, 7, 0, "V", 3, 1, 230);
    add(72, 7, 0, "V", 3, 1, 230);
    add(31, 7, 0, "A", 3, 2, 0);
    add(51, 7, 0, "A", 3, 2, 0);
    add(71, 7, 0, "A", 3, 2, 0);
    add(14, 7, 0, "Hz", 2, 2, 50);
    add(13, 7, 0, "", 1, 3, 1);
    updateInstantaneous();
}

MeterRegister &SimMeter::reg(int c, int d, int e)
{
    for (MeterRegister &r : registers_)
        if (r.c == c && r.d == d && r.e == e)
            return r;
    Q_UNREACHABLE();
}

const MeterRegister *SimMeter::find(int c, int d, int e) const
{
    for (const MeterRegister &r : registers_)
        if (r.c == c && r.d == d && r.e == e)
            return &r;
    return nullptr;
}

void SimMeter::updateInstantaneous()
{
    constexpr double pi2 = 2.0 * std::numbers::pi;
    const double t = double(nowMs_);
    const double ph = pi2 * unit01(seed_, 7);
    // A slow swing over ten minutes and a quicker ripple, so that a periodic
    // read sees the load change.
    const double load = baseKw_ * (1.0 + 0.35 * std::sin(pi2 * t / 600000.0 + ph) +
                                   0.08 * std::sin(pi2 * t / 7000.0 + 2 * ph));
    const double pv = pvKw_ * std::max(0.0, std::sin(pi2 * t / 900000.0 + ph));
    const double net = load - pv;
    reg(1, 7, 0).value = std::max(0.0, net);
    reg(2, 7, 0).value = std::max(0.0, -net);
    reg(16, 7, 0).value = net;
    const double v1 = 230.0 + 3.0 * std::sin(pi2 * t / 11000.0 + ph);
    const double v2 = 229.0 + 3.0 * std::sin(pi2 * t / 13000.0 + ph);
    const double v3 = 231.0 + 3.0 * std::sin(pi2 * t / 17000.0 + ph);
    reg(32, 7, 0).value = v1;
    reg(52, 7, 0).value = v2;
    reg(72, 7, 0).value = v3;
    const double perPhaseW = std::abs(net) * 1000.0 / 3.0;
    reg(31, 7, 0).value = perPhaseW / v1 * (1.0 + 0.1 * std::sin(pi2 * t / 5000.0));
    reg(51, 7, 0).value = perPhaseW / v2;
    reg(71, 7, 0).value = perPhaseW / v3 * (1.0 - 0.1 * std::sin(pi2 * t / 5000.0));
    reg(14, 7, 0).value = 50.0 + 0.04 * std::sin(pi2 * t / 19000.0 + ph);
    reg(13, 7, 0).value = 0.95 + 0.04 * std::sin(pi2 * t / 23000.0 + ph);
}

void SimMeter::advanceTo(qint64 nowMs)
{
    // Integrate in steps of at most one second so that a long jump still
    // follows the load curve.
    while (nowMs_ < nowMs) {
        const qint64 step = std::min<qint64>(1000, nowMs - nowMs_);
        const double hours = double(step) / 3600000.0;
        const double imp = reg(1, 7, 0).value * hours;
        const double exp = reg(2, 7, 0).value * hours;
        reg(1, 8, 0).value += imp;
        // Day tariff for the first half of each simulated hour, night for the rest.
        const bool day = (nowMs_ / 1800000) % 2 == 0;
        reg(1, 8, day ? 1 : 2).value += imp;
        reg(2, 8, 0).value += exp;
        reg(3, 8, 0).value += imp * 0.21;
        reg(4, 8, 0).value += exp * 0.1 + imp * 0.01;
        nowMs_ += step;
        updateInstantaneous();
    }
}

QList<QByteArray> SimMeter::dataLines(const QDateTime &wallClock) const
{
    QList<QByteArray> lines;
    for (const MeterRegister &r : registers_) {
        if (r.c == 0 && r.d == 0 && r.e == 0) {
            lines.append("0.0.0(" + id_.toLatin1() + ")");
            continue;
        }
        lines.append((r.code() + QLatin1Char('(') + r.formatted() + QLatin1Char(')')).toLatin1());
        if (r.c == 1 && r.d == 8 && r.e == 0) {
            // Clock lines follow the first energy register, as on many meters.
            lines.append("0.9.1(" + wallClock.toString(QStringLiteral("HH:mm:ss")).toLatin1() + ")");
            lines.append("0.9.2(" + wallClock.toString(QStringLiteral("yy-MM-dd")).toLatin1() + ")");
        }
    }
    lines.append("F.F(00000000)");
    return lines;
}

SimMeter &MeterPark::meter(const QString &id)
{
    auto it = meters_.find(id);
    if (it == meters_.end())
        it = meters_.insert(id, SimMeter(id, nowMs_));
    return it.value();
}

void MeterPark::advanceTo(qint64 nowMs)
{
    if (nowMs <= nowMs_)
        return;
    nowMs_ = nowMs;
    for (SimMeter &m : meters_)
        m.advanceTo(nowMs);
}

uint8_t iecBcc(const QByteArray &block)
{
    const qsizetype start = block.indexOf(STX);
    uint8_t bcc = 0;
    for (qsizetype i = start + 1; start >= 0 && i < block.size(); ++i) {
        bcc ^= static_cast<uint8_t>(block[i]);
        if (block[i] == ETX)
            break;
    }
    return bcc;
}

QByteArray buildIdentificationLine(const QByteArray &identification, const AnswerStyle &style)
{
    if (style.noIdentification)
        return QByteArray();
    return (style.leadingDel ? QByteArray(1, 0x7F) : QByteArray()) + identification +
           (style.lfOnly ? "\n" : "\r\n");
}

namespace {

QByteArray dataBody(const QList<QByteArray> &dataLines, const AnswerStyle &style)
{
    const QByteArray end = style.lfOnly ? "\n" : "\r\n";
    const int per = std::max(1, style.setsPerLine);
    QByteArray body;
    for (qsizetype i = 0; i < dataLines.size(); ++i) {
        body += dataLines.at(i);
        const bool last = i + 1 == dataLines.size();
        if (last && style.bangOnLastLine)
            body += "!";
        if (last || (i + 1) % per == 0)
            body += end;
    }
    if (dataLines.isEmpty() || !style.bangOnLastLine)
        body += "!" + end;
    return body;
}

// A value character a data set may carry: printable, none of ( ) * / !.
bool valueChar(int c)
{
    return c >= 0x30 && c < 0x7F && c != '(' && c != ')' && c != '*' && c != '/' && c != '!';
}

} // namespace

QByteArray buildDataMessage(const QList<QByteArray> &dataLines, const AnswerStyle &style)
{
    QList<QByteArray> lines = dataLines;
    if (style.bccValue >= 0) {
        // Two filler characters whose XOR brings the BCC to the wanted byte.
        const QByteArray probe = QByteArray(1, STX) + dataBody(lines + QList<QByteArray>{"0.0.1(00)"}, style) + ETX;
        const int need = (iecBcc(probe) ^ '0' ^ '0' ^ style.bccValue) & 0xFF;
        for (int a = 0x30; a < 0x7F; ++a)
            if (valueChar(a) && valueChar(a ^ need)) {
                lines.append(QByteArray("0.0.1(") + char(a) + char(a ^ need) + ")");
                break;
            }
    }
    QByteArray block(1, STX);
    block += dataBody(lines, style);
    block += ETX;
    const uint8_t bcc = iecBcc(block);
    block += static_cast<char>(style.wrongBcc ? bcc ^ 0x55 : bcc);
    return block;
}

QByteArray buildP1Telegram(const QByteArray &identification, const QList<QByteArray> &dataLines,
                           const AnswerStyle &style)
{
    const QByteArray end = style.lfOnly ? "\n" : "\r\n";
    QByteArray t = identification + end + end;
    t += dataBody(dataLines, style);
    // The body ends with "!" and the line end: the CRC goes between them.
    t.chop(end.size());
    uint16_t crc = qvx::IecP1Crc16(t);
    if (style.wrongBcc)
        crc ^= 0x5555;
    t += QStringLiteral("%1").arg(crc, 4, 16, QLatin1Char('0')).toUpper().toLatin1() + end;
    return t;
}

QByteArray buildMeterAnswer(const QByteArray &identification, const QList<QByteArray> &dataLines,
                            const AnswerStyle &style)
{
    if (style.p1Crc)
        return buildP1Telegram(identification, dataLines, style);
    return buildIdentificationLine(identification, style) + buildDataMessage(dataLines, style);
}

QByteArray withParityBit(const QByteArray &bytes, char parity)
{
    QByteArray out = bytes;
    for (char &c : out) {
        const auto b = static_cast<uint8_t>(c & 0x7F);
        bool odd = false;
        for (uint8_t v = b; v; v &= static_cast<uint8_t>(v - 1))
            odd = !odd;
        // Even parity sets the bit when the seven bits hold an odd count of ones.
        const bool bit = parity == 'O' ? !odd : odd;
        c = static_cast<char>(b | (bit ? 0x80 : 0));
    }
    return out;
}

AckRequest parseAck(const QByteArray &buffer)
{
    AckRequest r;
    const qsizetype ack = buffer.indexOf('\x06');
    if (ack < 0) {
        r.consumed = buffer.size();
        return r;
    }
    if (buffer.size() - ack < 6) {
        r.consumed = ack;
        return r;
    }
    r.consumed = ack + 6;
    if (buffer.mid(ack + 4, 2) != "\r\n")
        return r; // not an acknowledgement: skipped
    r.found = true;
    r.baudChar = buffer[ack + 2];
    r.mode = buffer[ack + 3];
    return r;
}

SignOn parseSignOn(const QByteArray &buffer)
{
    SignOn r;
    qsizetype pos = 0;
    while (pos < buffer.size()) {
        const qsizetype slash = buffer.indexOf('/', pos);
        if (slash < 0) {
            r.consumed = buffer.size();
            return r;
        }
        if (slash + 1 >= buffer.size()) {
            r.consumed = slash; // keep the slash: the rest may follow
            return r;
        }
        if (buffer[slash + 1] != '?') {
            pos = slash + 1;
            continue;
        }
        const qsizetype end = buffer.indexOf("!\r\n", slash + 2);
        if (end < 0) {
            // An address is at most 32 characters; a longer run is noise.
            if (buffer.size() - slash > 40) {
                pos = slash + 1;
                continue;
            }
            r.consumed = slash;
            return r;
        }
        const QByteArray address = buffer.mid(slash + 2, end - slash - 2);
        if (address.contains('/') || address.size() > 32) {
            pos = slash + 1;
            continue;
        }
        r.found = true;
        r.address = address;
        r.consumed = end + 3;
        return r;
    }
    r.consumed = buffer.size();
    return r;
}

} // namespace qvxsim
