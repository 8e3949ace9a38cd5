#include "console/hex_command.h"

namespace qvx {
namespace {

// The check of the typed characters: "0" (30h) to "F" (46h) and the space.
bool allowedInHexCommand(QChar c)
{
    return c == QLatin1Char(' ') || (c.unicode() >= u'0' && c.unicode() <= u'F');
}

} // namespace

std::optional<uint32_t> ParseHex8(QStringView text)
{
    if (text.size() < 8)
        return std::nullopt;
    uint32_t value = 0;
    for (qsizetype i = 0; i < 8; ++i) {
        const char16_t c = text.at(i).unicode();
        uint32_t digit;
        if (c >= u'A' && c <= u'F')
            digit = uint32_t(c - u'A') + 10;
        else if (c >= u'a' && c <= u'f')
            digit = uint32_t(c - u'a') + 10;
        else if (c >= u'0' && c <= u'9')
            digit = uint32_t(c - u'0');
        else
            return std::nullopt;
        value = (value << 4) | digit;
    }
    return value;
}

QString hexCommandMessage(HexCommandError error)
{
    switch (error) {
    case HexCommandError::TooShort:
        return QStringLiteral("Wrong custom hex command, 2 symbols at least...");
    case HexCommandError::BadCharacter:
        return QStringLiteral("Wrong custom hex command, 0..F uppercase allowed");
    case HexCommandError::None:
    case HexCommandError::Conversion:
        break;
    }
    return {};
}

QString hexConversionMessage(const QString &group)
{
    return QStringLiteral("'%1' is not a valid hexadecimal byte. Nothing was sent.").arg(group);
}

HexCommand ParseHexCommand(QStringView text)
{
    HexCommand out;
    if (text.isEmpty())
        return out;
    if (text.size() == 1) {
        out.error = HexCommandError::TooShort;
        return out;
    }
    for (QChar c : text) {
        if (!allowedInHexCommand(c)) {
            out.error = HexCommandError::BadCharacter;
            return out;
        }
    }
    // Every group is converted before any byte is handed out.
    QByteArray bytes;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (text.at(i) == QLatin1Char(' ')) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < n && text.at(end) != QLatin1Char(' '))
            ++end;
        const QStringView group = text.sliced(i, end - i);
        const QString pair =
            group.size() == 1 ? QLatin1Char('0') + group.toString() : group.first(2).toString();
        const std::optional<uint32_t> value = ParseHex8(QString(QStringLiteral("000000") + pair));
        if (!value) {
            out.error = HexCommandError::Conversion;
            out.badGroup = group.toString();
            return out;
        }
        bytes.append(static_cast<char>(*value & 0xFF));
        i = end;
    }
    out.bytes = bytes;
    return out;
}

} // namespace qvx
