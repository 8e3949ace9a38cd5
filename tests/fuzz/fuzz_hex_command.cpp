// The custom command's parsers on arbitrary input: the typed hex command (as
// Latin-1 text), the eight-digit reader, and the register-pair lister on the
// same bytes taken as a reply.
#include "console/hex_command.h"
#include "console/register_pairs.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = QString::fromLatin1(bytes);

    // ParseHex8 reads exactly the first eight characters.
    const std::optional<uint32_t> word = qvx::ParseHex8(text);
    bool eightDigits = text.size() >= 8;
    for (qsizetype i = 0; eightDigits && i < 8; ++i)
        eightDigits = isHexDigit(text.at(i));
    check(word.has_value() == eightDigits);
    if (word)
        check(*word == text.first(8).toUInt(nullptr, 16));

    // A command gives bytes only when it is fine, never more than its groups,
    // and the bytes written back as groups give the same bytes again.
    const qvx::HexCommand command = qvx::ParseHexCommand(text);
    if (command.error != qvx::HexCommandError::None) {
        check(command.bytes.isEmpty());
    } else {
        check(command.bytes.size() <= (text.size() + 1) / 2);
        QString again;
        for (char b : command.bytes)
            again += QStringLiteral("%1 ").arg(static_cast<uint8_t>(b), 2, 16, QLatin1Char('0')).toUpper();
        const qvx::HexCommand round = qvx::ParseHexCommand(again);
        check(round.error == qvx::HexCommandError::None);
        check(round.bytes == command.bytes);
    }
    if (command.error == qvx::HexCommandError::Conversion)
        check(!command.badGroup.isEmpty());

    // The lister lists at most two lines per data byte present.
    const qvx::RegisterPairListing listing = qvx::ListRegisterPairs(bytes);
    check(listing.check.pass || listing.lines.isEmpty());
    check(listing.lines.size() <= qMax<qsizetype>(0, bytes.size() - 4));
    return 0;
}
