// What the gateway can hold, as plain rules over texts: a meter ID and an
// OBIS code are checked against what their encodings carry unchanged, and a
// meter data file is read strictly, every line as the format says it or an
// error with its number.
//
// The encoders never refuse: a letter in an ID becomes the filler nibble, a
// field that is no number becomes 255, a fifth group is dropped.  That is
// right for the window's editor (what the operator typed goes out as the
// device takes it), but a file written to a gateway by a tool must not turn
// "hello" into an erased meter.  These rules say, before anything is sent,
// which texts would not come back as they went out.
//
// The window's "Load data from file" keeps its lenient reading
// (meter_data_file.h); the strict reading here is for the command line and
// whoever else writes a file to a gateway.
#pragma once

#include "meters/meter_table.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace qvx {

// Why id is no meter ID of digits (8 or 16) characters the gateway stores
// as it is: exactly that many of "0".."9" and "F" (the filler digit, as the
// ID box takes them).  Nothing when it is one.
std::optional<QString> meterIdProblem(const QString &id, int digits);

// Why code is no OBIS code the gateway stores as written: one to four
// dot-separated decimal groups of 0..255 ("1.8.0", "1.8.0.255"), with long
// OBIS also an "A-B:" prefix of two digits ("1-1:1.8.0"; its fourth group is
// not stored, by the long form's design; without a prefix a fourth group
// other than 0 would read back as one).  An empty text is an empty row.
// Nothing when it is one.
std::optional<QString> obisCodeProblem(const QString &code, bool longObis);
// Whether code carries the long form's "A-B:" prefix.
bool hasLongObisPrefix(const QString &code);

// A slot that holds nothing (no ID and no code) is not part of a file: a
// meter data file always has 32 blocks, and one written for a single slot
// leaves the others empty.
bool meterSlotEmpty(const MeterTable &table, int slot);

// The problems of slotNums of table for a gateway of that format, one line
// each ("slot 3 id \"hello\": ...", "slot 3 row 5 \"abc\": ..."): IDs of the
// wrong length or with other characters, codes the encoding would change, a
// slot with codes but no ID, slots beyond 30 with 16-digit IDs.
QStringList meterTableProblems(const MeterTable &table, const QVector<int> &slotNums, int digits,
                               bool longObis);

// A meter data file read strictly.
struct MeterFileCheck {
    MeterTable table;
    // The slots the file holds (blocks with an ID), ascending.
    QVector<int> held;
    // "line N: what" for every line that is not as the format says, or one
    // line for a file that is no Latin-1 text.  The table is not to be used
    // unless this is empty.
    QStringList problems;
    // 8 or 16 when every ID in the file has that many digits; 0 when the
    // file has none or both.
    int idDigits = 0;
    // Some code carries an "A-B:" prefix.
    bool longObisCodes = false;
    bool ok() const { return problems.isEmpty(); }
};
// Reads bytes as a meter data file: Latin-1 text (no NUL or other control
// bytes, no UTF-8 or UTF-16 byte-order mark), lines ended by CR LF (or LF),
// one to 32 whole blocks of 65 lines (the last block's empty line may be
// missing, empty lines may follow), each block its ID line "ID;", 63 lines
// "r;code;" with r the row's own number, and an empty line.  Every ID and
// code must pass the rules above in some format (8 or 16 digits; a code
// with a prefix in long OBIS, one without in short); meterDataFormatProblems
// then checks them for the gateway's.
MeterFileCheck checkMeterDataFile(QByteArrayView bytes);
// The problems of a checked file's slots for a gateway of that format, with
// the file's line numbers.
QStringList meterDataFormatProblems(const MeterFileCheck &file, int digits, bool longObis);

// The line of a file (from 1) that holds slot's ID (row 0) or row.
int meterDataLineNumber(int slot, int row);

} // namespace qvx
