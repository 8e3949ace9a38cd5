#include "meters/meter_file_check.h"

#include "meters/meter_data_file.h"

#include <QByteArray>

namespace qvx {
namespace {

constexpr int SlotsWith16DigitIds = 30;
// A file of garbage names its first problems, not a million of them.
constexpr int MaxProblems = 50;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// One group of an OBIS code: a decimal number 0..255.
std::optional<QString> groupProblem(QStringView group)
{
    if (group.isEmpty())
        return QStringLiteral("an empty group (two dots, or a dot at an end)");
    for (QChar c : group)
        if (!isDigit(c))
            return QStringLiteral("\"%1\" is not a number 0..255").arg(group);
    qsizetype first = 0;
    while (first < group.size() - 1 && group[first] == QLatin1Char('0'))
        ++first;
    if (group.size() - first > 3 || group.mid(first).toInt() > 255)
        return QStringLiteral("%1 is above 255").arg(group);
    return std::nullopt;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Collects problems up to MaxProblems, then counts the rest.
struct Problems {
    QStringList lines;
    int more = 0;
    void add(const QString &line)
    {
        if (lines.size() < MaxProblems)
            lines << line;
        else
            ++more;
    }
    QStringList done() const
    {
        QStringList out = lines;
        if (more > 0)
            out << QStringLiteral("... and %1 more").arg(more);
        return out;
    }
};

// The encoding-independent part of an ID's check: it fits one of the two
// formats.  Reports for the nearer format.
std::optional<QString> anyFormatIdProblem(const QString &id)
{
    const std::optional<QString> eight = meterIdProblem(id, 8);
    const std::optional<QString> sixteen = meterIdProblem(id, 16);
    if (!eight || !sixteen)
        return std::nullopt;
    return id.size() == 16 ? sixteen : eight;
}

} // namespace

std::optional<QString> meterIdProblem(const QString &id, int digits)
{
    if (id.isEmpty())
        return QStringLiteral("empty");
    for (QChar c : id)
        if (!isDigit(c) && c != QLatin1Char('F'))
            return QStringLiteral("\"%1\" is not a digit or F (the filler digit)").arg(c);
    if (id.size() != digits)
        return QStringLiteral("%1 characters; the gateway takes %2-digit IDs").arg(id.size()).arg(digits);
    return std::nullopt;
}

bool hasLongObisPrefix(const QString &code)
{
    return code.size() >= 4 && code.lastIndexOf(QLatin1Char(':')) == 3 && isDigit(code[0]) &&
           code[1] == QLatin1Char('-') && isDigit(code[2]);
}

std::optional<QString> obisCodeProblem(const QString &code, bool longObis)
{
    if (code.isEmpty())
        return std::nullopt;
    QStringView groups(code);
    if (code.contains(QLatin1Char(':'))) {
        if (!hasLongObisPrefix(code))
            return QStringLiteral("a prefix is one digit, \"-\", one digit and \":\" (\"1-1:1.8.0\")");
        if (!longObis)
            return QStringLiteral("an \"A-B:\" prefix needs long OBIS (the gateway's \"Decode long OBIS\")");
        groups = groups.mid(4);
        // The encoding splits the prefix off only before two characters or more.
        if (groups.size() < 2)
            return QStringLiteral("one character after the prefix is not taken as a code (write %1.0)")
                .arg(code);
    }
    const QList<QStringView> parts = groups.split(QLatin1Char('.'));
    if (parts.size() > 4)
        return QStringLiteral("%1 groups; the gateway stores four (C.D.E.F)").arg(parts.size());
    for (QStringView part : parts)
        if (const std::optional<QString> p = groupProblem(part))
            return p;
    // With long OBIS the fourth byte is the prefix: a short code's F would
    // come back as one.
    if (longObis && groups.size() == qsizetype(code.size()) && parts.size() == 4 && parts.at(3).toInt() != 0)
        return QStringLiteral("with long OBIS the fourth group is read back as an \"A-B:\" prefix; write "
                              "%1 or give the prefix")
            .arg(groups.left(groups.lastIndexOf(QLatin1Char('.'))));
    return std::nullopt;
}

bool meterSlotEmpty(const MeterTable &table, int slot)
{
    if (!table.id(slot).isEmpty())
        return false;
    for (int r = 1; r <= MeterDataSavedRows; ++r)
        if (!table.code(slot, r).isEmpty())
            return false;
    return true;
}

QStringList meterTableProblems(const MeterTable &table, const QVector<int> &slotNums, int digits,
                               bool longObis)
{
    Problems out;
    for (int s : slotNums) {
        if (!MeterTable::validSlot(s)) {
            out.add(QStringLiteral("slot %1: the gateway has slots 1 to 32").arg(s));
            continue;
        }
        if (digits == 16 && s > SlotsWith16DigitIds) {
            out.add(QStringLiteral("slot %1: the gateway has %2 slots with 16-digit IDs")
                        .arg(s)
                        .arg(SlotsWith16DigitIds));
            continue;
        }
        const QString id = table.id(s);
        if (id.isEmpty()) {
            if (!meterSlotEmpty(table, s))
                out.add(QStringLiteral("slot %1 id: empty, but the slot has OBIS codes (an ID of all F "
                                       "erases a slot)")
                            .arg(s));
        } else if (const std::optional<QString> p = meterIdProblem(id, digits)) {
            out.add(QStringLiteral("slot %1 id %2: %3").arg(s).arg(quoted(id), *p));
        }
        for (int r = 1; r <= MeterDataSavedRows; ++r)
            if (const std::optional<QString> p = obisCodeProblem(table.code(s, r), longObis))
                out.add(
                    QStringLiteral("slot %1 row %2 %3: %4").arg(s).arg(r).arg(quoted(table.code(s, r)), *p));
    }
    return out.done();
}

int meterDataLineNumber(int slot, int row)
{
    return MeterDataBlockLines * (slot - 1) + row + 1;
}

MeterFileCheck checkMeterDataFile(QByteArrayView bytes)
{
    MeterFileCheck result;
    Problems problems;
    auto finish = [&] {
        result.problems = problems.done();
        if (!result.ok())
            result.held.clear();
        return result;
    };
    // What a text editor saves when told "Unicode" is no Latin-1 text: its
    // every other byte would reach the table as a NUL.
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        problems.add(QStringLiteral("the file is UTF-16 text; a meter data file is Latin-1 (save it as "
                                    "ANSI or Latin-1)"));
        return finish();
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        problems.add(QStringLiteral("the file starts with a UTF-8 byte-order mark; a meter data file is "
                                    "Latin-1 (save it as ANSI or Latin-1)"));
        return finish();
    }
    if (bytes.contains('\0')) {
        problems.add(QStringLiteral("the file holds NUL bytes: it is no Latin-1 text (UTF-16?)"));
        return finish();
    }
    // Lines end at LF, a CR before it belongs to the line end.
    QStringList lines;
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', start);
        const qsizetype next = end < 0 ? bytes.size() : end + 1;
        if (end < 0)
            end = bytes.size();
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines << QString::fromLatin1(bytes.sliced(start, end - start));
        start = next;
        if (lines.size() > MeterDataFileLines + 1 && !lines.last().isEmpty())
            break; // beyond the 32 blocks: named below, the rest is not read
    }
    qsizetype used = lines.size();
    while (used > 0 && lines.at(used - 1).isEmpty())
        --used;
    if (used == 0) {
        problems.add(QStringLiteral("the file is empty"));
        return finish();
    }
    if (used > MeterDataFileLines) {
        problems.add(QStringLiteral("line %1: a meter data file has %2 lines (32 blocks of 65); this one "
                                    "is beyond them")
                         .arg(MeterDataFileLines + 1)
                         .arg(MeterDataFileLines));
        used = MeterDataFileLines;
    }
    const int blocks = int((used + MeterDataBlockLines - 1) / MeterDataBlockLines);
    // The last block needs its ID line and 63 row lines; its empty line
    // may be missing (an editor that drops the last empty line).
    const qsizetype needed = qsizetype(blocks - 1) * MeterDataBlockLines + MeterDataBlockLines - 1;
    if (used < needed)
        problems.add(QStringLiteral("line %1: slot %2's block ends early; it has an ID line, 63 row lines "
                                    "and an empty line")
                         .arg(used + 1)
                         .arg(blocks));
    QVector<int> lengths;
    for (qsizetype i = 0; i < used; ++i) {
        const QString &line = lines.at(i);
        const int slot = int(i / MeterDataBlockLines) + 1;
        const int pos = int(i % MeterDataBlockLines);
        const qsizetype number = i + 1;
        auto bad = [&](const QString &what) {
            problems.add(QStringLiteral("line %1: %2").arg(number).arg(what));
        };
        bool control = false;
        for (QChar c : line)
            if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
                bad(QStringLiteral("control character 0x%1; a meter data file is plain text")
                        .arg(c.unicode(), 2, 16, QLatin1Char('0')));
                control = true;
                break;
            }
        if (control)
            continue;
        if (pos == 0) {
            if (!line.endsWith(QLatin1Char(';')) || line.count(QLatin1Char(';')) != 1) {
                bad(QStringLiteral("slot %1's ID line is the meter ID and \";\", not %2")
                        .arg(slot)
                        .arg(quoted(line)));
                continue;
            }
            const QString id = line.chopped(1);
            if (!id.isEmpty()) {
                if (const std::optional<QString> p = anyFormatIdProblem(id))
                    bad(QStringLiteral("slot %1 meter ID %2: %3").arg(slot).arg(quoted(id), *p));
                else if (!lengths.contains(int(id.size())))
                    lengths << int(id.size());
            }
            result.table.setId(slot, id);
        } else if (pos <= MeterDataSavedRows) {
            const QString rowText = QString::number(pos);
            if (line.count(QLatin1Char(';')) != 2 || !line.endsWith(QLatin1Char(';')) ||
                line.section(QLatin1Char(';'), 0, 0) != rowText) {
                bad(QStringLiteral("slot %1 row %2 is \"%2;\", the OBIS code and \";\", not %3")
                        .arg(slot)
                        .arg(pos)
                        .arg(quoted(line)));
                continue;
            }
            const QString code = line.section(QLatin1Char(';'), 1, 1);
            if (const std::optional<QString> p = obisCodeProblem(code, hasLongObisPrefix(code)))
                bad(QStringLiteral("slot %1 row %2 %3: %4").arg(slot).arg(pos).arg(quoted(code), *p));
            if (hasLongObisPrefix(code))
                result.longObisCodes = true;
            result.table.setCode(slot, pos, code);
        } else if (!line.isEmpty()) {
            bad(QStringLiteral("the line after slot %1's row 63 is empty, not %2")
                    .arg(slot)
                    .arg(quoted(line)));
        }
    }
    for (int s = 1; s <= blocks; ++s) {
        if (!result.table.id(s).isEmpty())
            result.held << s;
        else if (!meterSlotEmpty(result.table, s))
            problems.add(QStringLiteral("line %1: slot %2 has OBIS codes but no meter ID (an ID of all F "
                                        "erases a slot)")
                             .arg(meterDataLineNumber(s, 0))
                             .arg(s));
    }
    result.idDigits = lengths.size() == 1 ? lengths.first() : 0;
    return finish();
}

QStringList meterDataFormatProblems(const MeterFileCheck &file, int digits, bool longObis)
{
    Problems out;
    for (int s : file.held) {
        if (digits == 16 && s > SlotsWith16DigitIds) {
            out.add(QStringLiteral("line %1: slot %2: the gateway has %3 slots with 16-digit IDs")
                        .arg(meterDataLineNumber(s, 0))
                        .arg(s)
                        .arg(SlotsWith16DigitIds));
            continue;
        }
        const QString id = file.table.id(s);
        if (const std::optional<QString> p = meterIdProblem(id, digits))
            out.add(QStringLiteral("line %1: slot %2 meter ID %3: %4")
                        .arg(meterDataLineNumber(s, 0))
                        .arg(s)
                        .arg(quoted(id), *p));
        for (int r = 1; r <= MeterDataSavedRows; ++r)
            if (const std::optional<QString> p = obisCodeProblem(file.table.code(s, r), longObis))
                out.add(QStringLiteral("line %1: slot %2 row %3 %4: %5")
                            .arg(meterDataLineNumber(s, r))
                            .arg(s)
                            .arg(r)
                            .arg(quoted(file.table.code(s, r)), *p));
    }
    return out.done();
}

} // namespace qvx
