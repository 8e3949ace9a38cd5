// The meter programming encodings and reply decoders fed arbitrary bytes:
// no crash, no read past the input, fixed output sizes and the round trips.
#include "meters/meter_codec.h"
#include "transport/modbus.h"

#include <cstddef>
#include <cstdint>

using namespace qvx;

namespace {

void check(bool property)
{
    if (!property)
        __builtin_trap();
}

void meterIds(const QByteArray &in)
{
    const QString text = QString::fromLatin1(in);
    for (int digits : {8, 16}) {
        const QByteArray bytes = EncodeMeterId(text, digits);
        check(bytes.size() == digits / 2);
        const QString back = DecodeMeterId(bytes, 0, digits);
        check(back.size() == digits);
        for (int i = 0; i < digits; ++i) {
            const bool digit = i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9';
            check(back.at(i) == (digit ? text.at(i) : QChar(u'F')));
        }
        // Reading at any position never yields more than the bytes there.
        for (qsizetype pos = 0; pos <= in.size(); pos += 3)
            check(DecodeMeterId(in, pos, digits).size() <= 2 * (in.size() - pos));
    }
}

void obisEntries(const QByteArray &in)
{
    const QString text = QString::fromLatin1(in);
    for (bool longObis : {false, true}) {
        check(EncodeRegisterEntry(text, longObis).size() == 4);
        // The text a decoded entry shows encodes to the same entry again
        // (long form: when the prefix is two single digits).
        const QByteArray entry = in.left(4);
        const QString shown = DecodeRegisterEntry(entry, longObis);
        QByteArray padded = entry;
        padded.append(QByteArray(4 - padded.size(), '\0'));
        const auto b4 = static_cast<uint8_t>(padded.at(3));
        if (!longObis || b4 == 0) {
            check(EncodeRegisterEntry(shown, longObis) == padded);
        } else if ((b4 >> 4) <= 9 && (b4 & 0x0F) <= 9) {
            check(EncodeRegisterEntry(shown, longObis) == padded);
        }
    }
}

void replies(const QByteArray &in)
{
    // As received, and with a CRC that makes it pass.
    for (const QByteArray &reply : {in, withCrc(in)}) {
        for (int digits : {8, 16}) {
            const MeterIdsReply ids = DecodeMeterIds(reply, digits);
            check(ids.ids.size() <= 32);
            if (!ids.check.pass)
                check(ids.ids.isEmpty());
            check(ids.ids.size() * (digits / 2) <= qMax<qsizetype>(0, reply.size() - 5));
            for (const QString &id : ids.ids)
                check(id.size() == digits);
        }
        for (bool longObis : {false, true}) {
            const RegisterEntriesReply list = DecodeRegisterList(reply, longObis);
            check(list.texts.size() <= 63);
            check(list.texts.size() * 4 <= qMax<qsizetype>(0, reply.size() - 5));
            if (!list.check.pass)
                check(list.texts.isEmpty());
            check(DecodeRegisterRow(reply, longObis).texts == list.texts);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray in(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    meterIds(in);
    obisEntries(in);
    replies(in);
    return 0;
}
