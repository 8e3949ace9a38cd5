// The meter data file read from any bytes.  Properties: no more lines than a
// load looks at, none holding a line end, nothing read beyond the input; the
// lenient load leaves the slot after the blocks it reads alone; and whatever
// it left in those blocks survives a save and a load again (IDs always, codes
// unless they hold the field separator).
//
// The round trip saves only the blocks the load read (the start of a file),
// so an input costs about what its own lines cost: a short input is a table
// of a slot or two, not a whole 2080-line file built and read again.
#include "meters/meter_data_file.h"

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
