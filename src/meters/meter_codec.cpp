#include "meters/meter_codec.h"

namespace qvx {

namespace {

uint8_t byteAt(const QByteArray &bytes, qsizetype i)
{
    return i >= 0 && i < bytes.size() ? static_cast<uint8_t>(bytes.at(i)) : 0;
}

// A one-character decimal number, or the filler 15.
int digitNibble(const QString &text, qsizetype i)
{
    if (i >= text.size())
        return 15;
    const char16_t c = text.at(i).unicode();
    return c >= u'0' && c <= u'9' ? c - u'0' : 15;
}

// One OBIS number field: its decimal value; 255 when it is empty, not a
// decimal integer, or 255 and above; a negative value gives its low 8 bits.
// The value is reduced digit by digit, so a field of any length is exact.
uint8_t obisField(const QString &field)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < field.size() && (field.at(i) == u'-' || field.at(i) == u'+')) {
        negative = field.at(i) == u'-';
        ++i;
    }
    if (i == field.size())
        return 255;
    int low8 = 0;       // value modulo 256
    bool large = false; // value >= 255
    int value = 0;
    for (; i < field.size(); ++i) {
        const char16_t c = field.at(i).unicode();
        if (c < u'0' || c > u'9')
            return 255;
        const int d = c - u'0';
        low8 = (low8 * 10 + d) & 0xFF;
        if (!large) {
            value = value * 10 + d;
            large = value >= 255;
        }
    }
    if (negative)
        return static_cast<uint8_t>((256 - low8) & 0xFF);
    return large ? 255 : static_cast<uint8_t>(value);
}

// Data bytes of a passing frame: between the byte count and the CRC, never
// more than were received.
qsizetype dataBytesOf(const QByteArray &frame)
{
    const qsizetype received = qMax<qsizetype>(0, frame.size() - 5);
    return qMin<qsizetype>(byteAt(frame, 2), received);
}

RegisterEntriesReply decodeEntries(const QByteArray &reply, bool longObis)
{
    RegisterEntriesReply out;
    out.check = CheckReply(reply, ReplyReporting::Full);
    if (!out.check.pass)
        return out;
    const qsizetype entries = qMin<qsizetype>(dataBytesOf(out.check.frame) / 4, ObisListRows);
    for (qsizetype e = 0; e < entries; ++e)
        out.texts << DecodeRegisterEntry(out.check.frame, longObis, 3 + 4 * e);
    return out;
}

} // namespace

QByteArray EncodeMeterId(const QString &text, int digits)
{
    QByteArray out;
    for (int k = 0; k + 1 < digits; k += 2)
        out.append(static_cast<char>(digitNibble(text, k) * 16 + digitNibble(text, k + 1)));
    return out;
}

QString DecodeMeterId(const QByteArray &bytes, qsizetype pos, int digits)
{
    if (pos < 0)
        return {};
    return QString::fromLatin1(bytes.mid(pos, digits / 2).toHex().toUpper());
}

QByteArray EncodeRegisterEntry(const QString &text, bool longObis)
{
    QString s = text;
    bool isLong = false;
    uint8_t x = 0;
    if (longObis) {
        const qsizetype colon = s.lastIndexOf(u':');
        if (colon == 3) {
            // Medium and channel: character codes minus "0", as 8-bit values.
            const auto a = static_cast<uint8_t>(s.at(0).unicode() - u'0');
            const auto b = static_cast<uint8_t>(s.at(2).unicode() - u'0');
            x = static_cast<uint8_t>(a * 16 + b);
            isLong = true;
            if (s.size() - colon - 1 >= 2)
                s = s.mid(colon + 1);
        }
    }

    QByteArray out;
    QString field;
    for (QChar c : s) {
        if (c != u'.') {
            field += c;
            continue;
        }
        out.append(static_cast<char>(obisField(field)));
        field.clear();
        if (out.size() == 4)
            break;
    }
    if (out.size() < 4)
        out.append(static_cast<char>(obisField(field)));

    if (!isLong) {
        out.append(QByteArray(4 - out.size(), '\0'));
        return out;
    }
    // Long form: C, D, E as far as given, the prefix in the fourth byte (a
    // fourth number is not sent).
    out = out.left(3);
    out.append(QByteArray(3 - out.size(), '\0'));
    out.append(static_cast<char>(x));
    return out;
}

QString DecodeRegisterEntry(const QByteArray &bytes, bool longObis, qsizetype pos)
{
    const int b1 = byteAt(bytes, pos), b2 = byteAt(bytes, pos + 1), b3 = byteAt(bytes, pos + 2),
              b4 = byteAt(bytes, pos + 3);
    if (longObis && b4 != 0)
        return QStringLiteral("%1-%2:%3.%4.%5.0").arg(b4 >> 4).arg(b4 & 0x0F).arg(b1).arg(b2).arg(b3);
    return QStringLiteral("%1.%2.%3.%4").arg(b1).arg(b2).arg(b3).arg(b4);
}

MeterIdsReply DecodeMeterIds(const QByteArray &reply, int digits)
{
    MeterIdsReply out;
    out.check = CheckReply(reply, ReplyReporting::Full);
    if (!out.check.pass)
        return out;
    const qsizetype width = digits / 2;
    const qsizetype data = dataBytesOf(out.check.frame);
    for (qsizetype offset = 0; offset + width <= data && out.ids.size() < 32; offset += width)
        out.ids << DecodeMeterId(out.check.frame, 3 + offset, digits);
    return out;
}

RegisterEntriesReply DecodeRegisterList(const QByteArray &reply, bool longObis)
{
    return decodeEntries(reply, longObis);
}

RegisterEntriesReply DecodeRegisterRow(const QByteArray &reply, bool longObis)
{
    return decodeEntries(reply, longObis);
}

} // namespace qvx
