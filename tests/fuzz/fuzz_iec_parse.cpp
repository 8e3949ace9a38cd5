// Arbitrary bytes as a meter's answer: captured in receive events whose
// sizes come from the input itself, split into rows and normalised.
//   - chunking never changes the lines, and the lines joined by LF give back
//     exactly the input (not one byte lost, added or reordered);
//   - every row comes from a parsed line: its OBIS text is a prefix of the
//     line without "(", its value lies inside the line and holds no ")";
//   - normalised values hold no "*" and keep their length.
#include "iec/iec_lines.h"
#include "iec/iec_parse.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the receive event size (1..256).
    const qsizetype eventSize = qsizetype(data[0]) + 1;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    qvx::IecLines whole;
    int wholeIndex = 0;
    whole.capture(input, wholeIndex);

    qvx::IecLines chunked;
    int chunkedIndex = 0;
    for (qsizetype at = 0; at < input.size(); at += eventSize)
        chunked.capture(QByteArrayView(input).sliced(at, qMin(eventSize, input.size() - at)), chunkedIndex);

    const QList<QByteArray> lines = whole.all();
    if (chunked.all() != lines)
        __builtin_trap();
    if (wholeIndex != lines.size() - 1)
        __builtin_trap();
    QByteArray joined;
    for (qsizetype i = 0; i < lines.size(); ++i)
        joined += (i ? "\n" : "") + lines.at(i);
    if (joined != input)
        __builtin_trap();
    if (whole.fileBytes().size() != input.size() + input.count('\n') + 2)
        __builtin_trap();

    QStringList texts;
    for (const QByteArray &l : lines)
        texts << QString::fromLatin1(l);
    qsizetype parsable = 0;
    for (qsizetype i = 1; i < texts.size(); ++i)
        parsable += texts.at(i).size() > 4;
    const QList<qvx::IecRow> rows = qvx::SplitIecLines(texts);
    if (rows.size() != parsable)
        __builtin_trap();
    qsizetype line = 0;
    for (const qvx::IecRow &row : rows) {
        do
            ++line;
        while (texts.at(line).size() <= 4);
        const QString &text = texts.at(line);
        if (!text.startsWith(row.obis) || row.obis.contains(QLatin1Char('(')))
            __builtin_trap();
        if (row.obis.size() + row.value.size() > text.size() - 1 || row.value.contains(QLatin1Char(')')))
            __builtin_trap();
        if (!row.value.isEmpty() && text.mid(row.obis.size() + 1, row.value.size()) != row.value)
            __builtin_trap();
        const QString normal = qvx::NormalizeIecValue(row.value);
        if (normal.size() != row.value.size() || normal.contains(QLatin1Char('*')))
            __builtin_trap();
    }
    for (const QByteArray &l : lines)
        if (qvx::iecDisplayText(l).size() != l.size())
            __builtin_trap();
    return 0;
}
