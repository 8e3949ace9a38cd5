// The meter data file: the whole meter table as text, to keep a gateway's
// programming and carry it to the next one.
//
// 32 blocks of 65 lines, one per slot in order (2080 lines), each line ended
// by CR LF, Latin-1:
//   line 0       the slot's meter ID followed by ";"
//   lines 1..63  "r;" + OBIS code of row r + ";"
//   line 64      empty
//
// Loading never trusts the file.  Whatever its bytes and length, it reads
// what the file can say and leaves the rest of the table as it was: a block's
// ID line is taken without its last character; a register line counts only
// with exactly two ";" and a decimal integer other than -1 before the first
// (the value that stands for "not a number"), and its text
// (after the first ";", without the line's last character) goes to the row of
// the line's place in its block, whatever number the line carries.
#pragma once

#include "meters/meter_table.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

namespace qvx {

inline constexpr int MeterDataBlockLines = 65;
inline constexpr int MeterDataSavedRows = 63;
inline constexpr int MeterDataFileLines = MeterTable::Slots * MeterDataBlockLines; // 2080

// The 2080 lines of the table (row 64 is not saved); with slotCount, only the
// blocks of the first that many slots, as the start of a file.
QStringList meterDataLines(const MeterTable &table, int slotCount = MeterTable::Slots);
// The same as the file's bytes.
QByteArray meterDataFileBytes(const MeterTable &table, int slotCount = MeterTable::Slots);

// A text's lines as a line list reads them: a line ends at CR LF, at CR or at
// LF; a last line without a line end counts, a final line end does not start
// another line.  At most maxLines lines (all when negative).
QStringList splitTextLines(QByteArrayView bytes, qsizetype maxLines = -1);

// Reads the lines into the table.  Returns, for a list that ends inside a
// block, the message of the missing line (what was read before it stays);
// nothing otherwise.  Only the first MeterDataFileLines lines matter.  Block
// i (from 0) is read while 64 * i is below the index of the last line, so a
// list of two to 31 whole blocks, too, ends with the message for the first
// line of the block after them; a list of one block does not.
std::optional<QString> loadMeterDataLines(const QStringList &lines, MeterTable &table);

// Writes the table to path through a temporary file that replaces the old
// one only once complete.  Returns the error's message on failure.
std::optional<QString> saveMeterDataFile(const QString &path, const MeterTable &table);

struct MeterDataRead {
    QStringList lines;
    std::optional<QString> error; // the file could not be read
};
// The lines of the file at path, at most as many as a load looks at.
MeterDataRead readMeterDataFile(const QString &path);

} // namespace qvx
