#include "config/device_codec.h"

namespace qvx {

namespace {

uint8_t byteAt(const QByteArray &bytes, qsizetype i)
{
    return static_cast<uint8_t>(bytes.at(i));
}

bool allDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

struct FlagItem {
    const char *text;
    int number;
};
// In the order the flag box lists them.  "Reset" is a command, not a stored
// flag: it has no bit when the register is read.
constexpr FlagItem FlagTable[] = {
    {"Reset", 17},
    {"Set DHCP On/Off", 1},
    {"Continues Read", 8},
    {"Change baud after ACK", 4},
    {"Use 16-digit ID", 6},
    {"Decode long OBIS", 7},
    {"Save values in 64-bit integer", 5},
};

const char *const BaudTexts[] = {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};

} // namespace

std::optional<std::array<uint8_t, 4>> ParseIPv4Text(const QString &text)
{
    if (text.count(QLatin1Char('.')) != 3)
        return std::nullopt;
    const QStringList fields = text.split(QLatin1Char('.'));
    std::array<uint8_t, 4> octets{};
    for (int i = 0; i < 4; ++i) {
        const std::optional<qint64> v = decimalValue(fields.at(i));
        if (!v || *v < 0 || *v > 255)
            return std::nullopt;
        octets[static_cast<size_t>(i)] = static_cast<uint8_t>(*v);
    }
    return octets;
}

std::optional<qint64> decimalValue(const QString &text)
{
    QStringView digits(text);
    bool negative = false;
    if (!digits.isEmpty() && (digits.front() == QLatin1Char('-') || digits.front() == QLatin1Char('+'))) {
        negative = digits.front() == QLatin1Char('-');
        digits = digits.mid(1);
    }
    // 18 digits always fit in 64 bits, so the conversion cannot overflow.
    if (!allDigits(digits) || digits.size() > 18)
        return std::nullopt;
    const qint64 v = digits.toLongLong();
    return negative ? -v : v;
}

QStringList baudRateTexts()
{
    QStringList texts;
    for (const char *t : BaudTexts)
        texts << QLatin1String(t);
    return texts;
}

int baudRateCode(const QString &text)
{
    for (int i = 0; i < int(std::size(BaudTexts)); ++i)
        if (text == QLatin1String(BaudTexts[i]))
            return i;
    return -1;
}

QStringList parityTexts()
{
    return {QStringLiteral("None"), QStringLiteral("Even"), QStringLiteral("Odd")};
}

int parityCode(const QString &text)
{
    if (text == QLatin1String("Even"))
        return 0;
    if (text == QLatin1String("Odd"))
        return 1;
    if (text == QLatin1String("None"))
        return 2;
    return -1;
}

uint8_t lineSettingsByte(int baudCode, int parity)
{
    return static_cast<uint8_t>(((baudCode & 0x0F) << 4) | (parity & 0x0F));
}

QStringList flagItems()
{
    QStringList items;
    for (const FlagItem &f : FlagTable)
        items << QLatin1String(f.text);
    return items;
}

int flagNumber(const QString &item)
{
    for (const FlagItem &f : FlagTable)
        if (item == QLatin1String(f.text))
            return f.number;
    return -1;
}

uint8_t flagCommandValue(int number, bool set)
{
    return static_cast<uint8_t>((number & 0x7F) | (set ? 0x80 : 0));
}

QByteArray replyDataBytes(const ReplyCheck &check)
{
    if (!check.pass)
        return {};
    const QByteArray &f = check.frame;
    // Unit, function, byte count ... CRC: the data lie between them.
    const qsizetype received = qMax<qsizetype>(0, f.size() - 5);
    const qsizetype announced = f.size() > 2 ? byteAt(f, 2) : 0;
    return f.mid(3, qMin(received, announced));
}

std::optional<QString> ipv4Line(const QString &prefix, const QByteArray &data)
{
    if (data.size() < 4)
        return std::nullopt;
    QStringList octets;
    for (int i = 0; i < 4; ++i)
        octets << QString::number(byteAt(data, i));
    return prefix + octets.join(QLatin1Char('.'));
}

std::optional<QString> tcpIdleLine(const QByteArray &data)
{
    if (data.size() < 4)
        return std::nullopt;
    // Milliseconds, unsigned, data byte 0 the most significant.
    const uint32_t ms = uint32_t(byteAt(data, 0)) << 24 | uint32_t(byteAt(data, 1)) << 16 |
                        uint32_t(byteAt(data, 2)) << 8 | uint32_t(byteAt(data, 3));
    return QStringLiteral("TCP Idle time: ") + QString::number(ms / 1000) + QStringLiteral(" s");
}

std::optional<QString> iecSerialLine(const QByteArray &data)
{
    if (data.size() < 2)
        return std::nullopt;
    const uint8_t s = byteAt(data, 1);
    QString line = QStringLiteral("IEC serial settings: ");
    const int baud = s >> 4;
    if (baud < int(std::size(BaudTexts)))
        line += QLatin1String(BaudTexts[baud]) + QStringLiteral("bps, ");
    static const char *const parities[] = {"Even, ", "Odd, ", "None, "};
    if ((s & 0x03) < 3)
        line += QLatin1String(parities[s & 0x03]);
    line += (s & 0x08) ? QStringLiteral("8 bits") : QStringLiteral("7 bits");
    return line;
}

std::optional<QString> readoutIntervalLine(const QByteArray &data)
{
    if (data.size() < 2)
        return std::nullopt;
    const unsigned minutes = unsigned(byteAt(data, 0)) << 8 | byteAt(data, 1);
    return QStringLiteral("IEC readout interval: ") + QString::number(minutes) + QStringLiteral(" minutes");
}

FlagReadout flagReadout(uint8_t f)
{
    FlagReadout r;
    auto bit = [f](int n) { return (f >> n) & 1; };
    r.values64bit = bit(4);
    r.sixteenDigitId = bit(5);
    r.longObis = bit(6);
    r.lines << (bit(0) ? QStringLiteral("DHCP is ON") : QStringLiteral("DHCP is OFF"))
            << (bit(3) ? QStringLiteral("Auto change baud is ON") : QStringLiteral("Auto change baud is OFF"))
            << (r.values64bit ? QStringLiteral("Real values are 64-bit integer")
                              : QStringLiteral("Real values are 32-bit integer"))
            << (r.sixteenDigitId ? QStringLiteral("Using 16-digit meter ID")
                                 : QStringLiteral("Using 8-digit meter ID"))
            << (r.longObis ? QStringLiteral("Decoding Full (long) OBIS codes (for exmpl 1-1:1.8.0.0)")
                           : QStringLiteral("Decoding only short OBIS codes (for exmpl 1.8.0)"))
            << (bit(7) ? QStringLiteral("Continuous read of all programmed meter")
                       : QStringLiteral("Read through pre-defined period in minutes (reg. 100)"));
    return r;
}

std::optional<FlagReadout> flagReadout(const QByteArray &data)
{
    if (data.size() < 2)
        return std::nullopt;
    return flagReadout(byteAt(data, 1));
}

QString firmwareText(const ReplyCheck &check)
{
    // Unit, 2B, 0E, code, conformity, more, next id, then the number of
    // objects (byte 7), the objects and the CRC.  Ten bytes hold no object.
    const QByteArray &f = check.frame;
    if (!check.pass || f.size() <= 10)
        return {};
    QString text;
    text.reserve(f.size() - 9);
    for (qsizetype i = 7; i < f.size() - 2; ++i) {
        const uint8_t b = byteAt(f, i);
        text += b <= 30 ? QLatin1Char(' ') : QChar(QLatin1Char(static_cast<char>(b)));
    }
    return text;
}

SettingsStepResult decodeSettingsStep(int step, const QByteArray &reply)
{
    SettingsStepResult r;
    r.check = CheckReply(reply, ReplyReporting::Full);
    if (!r.check.pass)
        return r;
    const QByteArray data = replyDataBytes(r.check);
    std::optional<QString> line;
    switch (step) {
    case 7:
        line = ipv4Line(QStringLiteral("IP: "), data);
        break;
    case 8:
        line = ipv4Line(QStringLiteral("GATE: "), data);
        break;
    case 9:
        line = ipv4Line(QStringLiteral("MASK: "), data);
        break;
    case 10:
        line = tcpIdleLine(data);
        break;
    case 11:
        r.flags = flagReadout(data);
        if (r.flags)
            r.lines = r.flags->lines;
        break;
    case 12:
        line = iecSerialLine(data);
        break;
    case 13:
        line = readoutIntervalLine(data);
        break;
    default:
        break;
    }
    if (line)
        r.lines << *line;
    return r;
}

std::optional<StepRequest> settingsStepRequest(int step)
{
    switch (step) {
    case 7:
        return StepRequest{DeviceRegister::IpAddress, 2};
    case 8:
        return StepRequest{DeviceRegister::Gateway, 2};
    case 9:
        return StepRequest{DeviceRegister::Mask, 2};
    case 10:
        return StepRequest{DeviceRegister::TcpIdle, 2};
    case 11:
        return StepRequest{DeviceRegister::Flags, 1};
    case 12:
        return StepRequest{DeviceRegister::IecLine, 1};
    case 13:
        return StepRequest{DeviceRegister::ReadoutMinutes, 1};
    default:
        return std::nullopt;
    }
}

} // namespace qvx
