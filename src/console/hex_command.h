// The custom command's hexadecimal mode and the reading of eight hex digits.
//
// A hex command is typed as groups separated by spaces; each group gives one
// byte and nothing is added to them (no address, no CRC, no line end), so the
// operator can put any frame on the line.  These are plain functions: the
// console sends what they return, the settings readout reads its reply words
// with ParseHex8, and both are tested and fuzzed without a window.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace qvx {

// Reads the first eight characters of text as hexadecimal digits, most
// significant first.  "A".."F" and "a".."f" are 10..15, "0".."9" their value;
// any other character, or a text shorter than eight characters, is a
// conversion error (nullopt).  Characters after the eighth are not looked at.
std::optional<uint32_t> ParseHex8(QStringView text);

enum class HexCommandError {
    None,
    // A single character: too short to mean a byte.
    TooShort,
    // A character that is neither a space nor in "0".."F" of the character
    // table (lower-case letters included).
    BadCharacter,
    // A group holds one of ":;<=>?@": it passes the character check but is not
    // a hexadecimal digit.
    Conversion,
};

struct HexCommand {
    HexCommandError error = HexCommandError::None;
    // The bytes to send, one per group, in the order typed.  Empty whenever
    // error is set: a command is sent whole or not at all, so that a typing
    // slip never leaves half a frame on a shared bus.
    QByteArray bytes;
    // For Conversion: the group that failed, as typed.
    QString badGroup;
};

// The log line of TooShort and BadCharacter; empty for the others.
QString hexCommandMessage(HexCommandError error);
// The text of the conversion-error box for a group that failed.
QString hexConversionMessage(const QString &group);

// Turns the typed text into bytes.  Groups are separated by one or more
// spaces.  A one-character group is read with a leading "0" ("5" -> 05), a
// two-character group as it is, and of a longer group only the first two
// characters count ("0103" -> 01).  An empty text gives no bytes and no error.
HexCommand ParseHexCommand(QStringView text);

} // namespace qvx
