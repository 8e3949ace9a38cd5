#include "meters/meter_data_file.h"

#include <QFile>
#include <QSaveFile>
#include <array>
#include <utility>

namespace qvx {

namespace {

// A decimal integer that fits 32 bits, with an optional sign; what the
// file's register numbers must be to count.
std::optional<qint64> decimalInteger(QStringView text)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        ++i;
    if (i == text.size())
        return std::nullopt;
    for (qsizetype k = i; k < text.size(); ++k)
        if (text[k] < QLatin1Char('0') || text[k] > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

QString missingLine(qsizetype index)
{
    return QStringLiteral("List index out of bounds (%1)").arg(index);
}

} // namespace

QStringList meterDataLines(const MeterTable &table, int slotCount)
{
    // "r;" and the line of an empty row "r;;" made once: a saved table is
    // mostly empty rows, which then cost no new string each.
    static const auto rowLines = [] {
        std::array<std::pair<QString, QString>, MeterDataSavedRows + 1> made;
        for (int row = 1; row <= MeterDataSavedRows; ++row)
            made[size_t(row)] = {QString::number(row) + QLatin1Char(';'),
                                 QString::number(row) + QStringLiteral(";;")};
        return made;
    }();
    slotCount = qBound(0, slotCount, int(MeterTable::Slots));
    QStringList lines;
    lines.reserve(qsizetype(slotCount) * MeterDataBlockLines);
    for (int slot = 1; slot <= slotCount; ++slot) {
        lines << table.id(slot) + QLatin1Char(';');
        for (int row = 1; row <= MeterDataSavedRows; ++row) {
            const QString code = table.code(slot, row);
            const auto &[start, empty] = rowLines[size_t(row)];
            lines << (code.isEmpty() ? empty : start + code + QLatin1Char(';'));
        }
        lines << QString();
    }
    return lines;
}

QByteArray meterDataFileBytes(const MeterTable &table, int slotCount)
{
    const QStringList lines = meterDataLines(table, slotCount);
    if (lines.isEmpty())
        return {};
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();
}

QStringList splitTextLines(QByteArrayView bytes, qsizetype maxLines)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n && (maxLines < 0 || lines.size() < maxLines)) {
        qsizetype end = start;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        lines << QString::fromLatin1(bytes.sliced(start, end - start));
        if (end < n && bytes[end] == '\r')
            ++end;
        if (end < n && bytes[end] == '\n')
            ++end;
        start = end;
    }
    return lines;
}

std::optional<QString> loadMeterDataLines(const QStringList &lines, MeterTable &table)
{
    const qsizetype count = lines.size();
    for (int i = 0; i < MeterTable::Slots && 64 * qsizetype(i) < count - 1; ++i) {
        const qsizetype first = qsizetype(MeterDataBlockLines) * i;
        if (first >= count)
            return missingLine(first);
        table.setId(i + 1, lines.at(first).chopped(lines.at(first).isEmpty() ? 0 : 1));
        for (int j = 1; j <= MeterTable::Rows; ++j) {
            const qsizetype at = first + j;
            if (at >= count)
                return missingLine(at);
            const QString &line = lines.at(at);
            if (line.count(QLatin1Char(';')) != 2)
                continue;
            const qsizetype p = line.indexOf(QLatin1Char(';'));
            const std::optional<qint64> number = decimalInteger(QStringView(line).left(p));
            if (!number || *number == -1)
                continue;
            table.setCode(i + 1, j, line.mid(p + 1, line.size() - p - 2));
        }
    }
    return std::nullopt;
}

std::optional<QString> saveMeterDataFile(const QString &path, const MeterTable &table)
{
    const QByteArray bytes = meterDataFileBytes(table);
    QSaveFile file(path);
    // flush() before commit(): the write only fills QSaveFile's buffer, so a
    // disk that fills up while it is flushed would otherwise be committed as
    // a cut-off file over the old one.  Not committing drops the temporary.
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() && file.commit())
        return std::nullopt;
    const QString error = file.errorString();
    file.cancelWriting();
    return error.isEmpty() ? QStringLiteral("Unknown error") : error;
}

MeterDataRead readMeterDataFile(const QString &path)
{
    MeterDataRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    // Read no further than the lines a load looks at: any file may be
    // chosen, also one far too big for memory or one that never ends.  Every
    // line end is one or two bytes, so twice the line count of them
    // completes that many lines.  A real file is some 30 KB; what lies beyond
    // MaxBytes is not read.
    constexpr qsizetype MaxBytes = 16 * 1024 * 1024;
    QByteArray bytes;
    qsizetype lineEnds = 0;
    while (lineEnds < 2 * qsizetype(MeterDataFileLines) && bytes.size() < MaxBytes) {
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty()) {
            if (file.error() != QFileDevice::NoError) {
                result.error = file.errorString();
                return result;
            }
            break;
        }
        lineEnds += chunk.count('\r') + chunk.count('\n');
        bytes += chunk;
    }
    result.lines = splitTextLines(bytes, MeterDataFileLines);
    return result;
}

} // namespace qvx
