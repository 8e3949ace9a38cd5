// Arbitrary bytes as a meter's answer, read as data sets, and the P1
// telegram's CRC and end looked for in them.
//   - every data set has a group, its code is part of its address and its
//     line lies in the capture, in the order sent;
//   - a group's text holds no ")" and no line feed; its value (and unit)
//     come from its text: value + "*" + unit, or value " " unit, or the
//     text's first part itself;
//   - the parts joined by "&" give the text back;
//   - with an STX, reading a prefix of the capture that ends after the "!"
//     gives the same sets (the end depends only on the bytes up to it);
//   - a telegram end lies inside the capture.
#include "iec/iec_datasets.h"
#include "iec/iec_protocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qvx::IecDataBlock b = qvx::ParseIecDataSets(input);
    const int lines = int(input.count('\n')) + 1;
    int lastLine = 0;
    for (const qvx::IecDataSet &s : b.sets) {
        if (s.groups.isEmpty() || !s.address.contains(s.code))
            __builtin_trap();
        if (s.line < 1 || s.line > lines || s.line < lastLine)
            __builtin_trap();
        lastLine = s.line;
        for (const qvx::IecValueGroup &g : s.groups) {
            if (g.text.contains(QLatin1Char(')')) || g.text.contains(QLatin1Char('\n')))
                __builtin_trap();
            if (g.parts.join(QLatin1Char('&')) != g.text)
                __builtin_trap();
            const QString &first = g.parts.first();
            if (first != g.value + QLatin1Char('*') + g.unit && first != g.value + QLatin1Char(' ') + g.unit &&
                !(g.unit.isEmpty() && first == g.value))
                __builtin_trap();
        }
    }
    const qsizetype stx = input.indexOf('\x02');
    if (b.endSeen && stx >= 0) {
        // Cut right after the first "!" outside a group: the same reading.
        for (qsizetype cut = stx + 2; cut <= input.size(); ++cut) {
            if (input[cut - 1] != '!')
                continue;
            const qvx::IecDataBlock p = qvx::ParseIecDataSets(QByteArrayView(input).first(cut));
            if (!p.endSeen)
                continue;
            if (p.sets.size() != b.sets.size())
                __builtin_trap();
            for (qsizetype i = 0; i < p.sets.size(); ++i)
                if (p.sets.at(i).address != b.sets.at(i).address ||
                    p.sets.at(i).groups.size() != b.sets.at(i).groups.size())
                    __builtin_trap();
            break;
        }
    }
    const qvx::IecTelegramEnd end = qvx::FindIecTelegramEnd(input);
    if (end.complete && (end.length <= 0 || end.length > input.size()))
        __builtin_trap();
    if (const std::optional<qvx::IecP1Crc> crc = qvx::FindIecP1Crc(input)) {
        if (crc->ok() != (crc->computed == crc->received) || qvx::IecP1CrcText(*crc).isEmpty())
            __builtin_trap();
    }
    return 0;
}
