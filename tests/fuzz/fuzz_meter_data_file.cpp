// The meter data file read from any bytes.  Properties: no more lines than a
// load looks at, none holding a line end, nothing read beyond the input; the
// lenient load leaves the slot after the blocks it reads alone; and whatever
// it left in those blocks survives a save and a load again (IDs always, codes
// unless they hold the field separator).  The strict reading: a file it takes
// holds only IDs and codes the encodings carry unchanged, the lenient load
// reads the same texts from it, and its table saved again is taken again
// with the same slots.
//
// The round trip saves only the blocks the load read (the start of a file),
// so an input costs about what its own lines cost: a short input is a table
// of a slot or two, not a whole 2080-line file built and read again.
#include "meters/meter_codec.h"
#include "meters/meter_data_file.h"
#include "meters/meter_file_check.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// The blocks a load of count lines reads, as loadMeterDataLines tells it:
// block i while 64 * i is below the index of the last line.
int blocksRead(qsizetype count)
{
    int blocks = 0;
    while (blocks < qvx::MeterTable::Slots && 64 * qsizetype(blocks) < count - 1)
        ++blocks;
    return blocks;
}

// A code the rules take comes back from the gateway as its own groups.
void checkStoredAsWritten(const QString &code)
{
    for (bool longObis : {false, true}) {
        if (qvx::obisCodeProblem(code, longObis) || code.isEmpty())
            continue;
        const QString back = qvx::DecodeRegisterEntry(qvx::EncodeRegisterEntry(code, longObis), longObis);
        const bool prefix = qvx::hasLongObisPrefix(code);
        QStringList groups = (prefix ? code.mid(4) : code).split(QLatin1Char('.'));
        while (groups.size() < 4)
            groups << QStringLiteral("0");
        QStringList numbers;
        for (int i = 0; i < 4; ++i)
            numbers << QString::number(groups.at(i).toInt());
        if (prefix) {
            // The long form keeps C, D and E; its fourth byte is the prefix.
            const int x = (code.at(0).unicode() - '0') * 16 + (code.at(2).unicode() - '0');
            numbers[3] = QStringLiteral("0");
            const QString expected = numbers.join(QLatin1Char('.'));
            check(x == 0 ? back == expected
                         : back == QStringLiteral("%1-%2:").arg(x >> 4).arg(x & 15) +
                                       expected.section(QLatin1Char('.'), 0, 2) + QStringLiteral(".0"));
        } else {
            check(back == numbers.join(QLatin1Char('.')));
        }
    }
}

void checkStrict(QByteArrayView bytes)
{
    const qvx::MeterFileCheck c = qvx::checkMeterDataFile(bytes);
    check(c.problems.size() <= 51);
    if (!c.ok()) {
        check(c.held.isEmpty());
        return;
    }
    static qvx::MeterTable lenient;
    lenient.clear();
    (void)qvx::loadMeterDataLines(qvx::splitTextLines(bytes, qvx::MeterDataFileLines), lenient);
    for (int s : c.held) {
        const QString id = c.table.id(s);
        check(lenient.id(s) == id);
        const int digits = int(id.size());
        check(digits == 8 || digits == 16);
        check(qvx::DecodeMeterId(qvx::EncodeMeterId(id, digits), 0, digits) == id);
        for (int r = 1; r <= qvx::MeterDataSavedRows; ++r) {
            check(lenient.code(s, r) == c.table.code(s, r));
            checkStoredAsWritten(c.table.code(s, r));
        }
    }
    const qvx::MeterFileCheck again = qvx::checkMeterDataFile(qvx::meterDataFileBytes(c.table));
    check(again.ok() && again.held == c.held);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList lines = qvx::splitTextLines(bytes, qvx::MeterDataFileLines);
    check(lines.size() <= qvx::MeterDataFileLines);
    qsizetype chars = 0;
    for (const QString &line : lines) {
        check(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        chars += line.size();
    }
    check(chars <= bytes.size());

    // Two tables for the whole run (a fresh table is 2080 strings made and
    // dropped); the first is emptied again after each input in the blocks it
    // reached.
    static qvx::MeterTable table;
    static qvx::MeterTable again;
    (void)qvx::loadMeterDataLines(lines, table);
    const int blocks = blocksRead(lines.size());
    // Nothing past the blocks read: the next slot is still empty.
    if (blocks < qvx::MeterTable::Slots) {
        check(table.id(blocks + 1).isEmpty());
        for (int r = 1; r <= qvx::MeterTable::Rows; ++r)
            check(table.code(blocks + 1, r).isEmpty());
    }

    // Saved and loaded again: whole blocks only, so a list of two to 31 of
    // them ends with the message for the first line of the block after them.
    // The file's bytes are the same lines; they are split again here only
    // for a whole file, which only an input of as many lines reaches.
    const QStringList saved = qvx::meterDataLines(table, blocks);
    check(saved.size() == qsizetype(blocks) * qvx::MeterDataBlockLines);
    if (blocks == qvx::MeterTable::Slots)
        check(qvx::splitTextLines(qvx::meterDataFileBytes(table)) == saved);
    const std::optional<QString> message = qvx::loadMeterDataLines(saved, again);
    if (blocks >= 2 && blocks < qvx::MeterTable::Slots)
        check(message && message->contains(QString::number(saved.size())));
    else
        check(!message);
    for (int s = 1; s <= blocks; ++s) {
        check(again.id(s) == table.id(s));
        for (int r = 1; r <= qvx::MeterDataSavedRows; ++r) {
            const QString code = table.code(s, r);
            if (!code.contains(QLatin1Char(';')))
                check(again.code(s, r) == code);
        }
    }
    checkStrict(bytes);
    // The next input starts from an empty table.  (What the second load
    // left does not matter: every ID and every code compared above is
    // written by it.)
    for (int s = 1; s <= blocks; ++s) {
        table.setId(s, QString());
        for (int r = 1; r <= qvx::MeterTable::Rows; ++r)
            table.setCode(s, r, QString());
    }
    return 0;
}
