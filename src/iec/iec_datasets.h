// The data sets of a meter's answer as IEC 62056-21 lays them out:
// address(value*unit), any number of them on a line, each followed by any
// number of further (...) groups that belong to it (a maximum demand's time
// stamp, a billing value's date, the columns of a load profile).  This is the
// reading everything beyond the readout table's "Parse" uses; "Parse" itself
// stays the plain splitter of iec_parse.h, the operator's table.
//
// The capture's bytes are Latin-1 characters, one each; nothing is trimmed
// out of a value: leading spaces, signs, masked digits ("4744xxxx") and an
// empty "()" stay as the meter sent them.
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

namespace qvx {

struct IecValueGroup {
    QString text;      // what stood between '(' and ')', exactly (leading spaces, signs, masked digits, empty)
    QString value;     // text before the '*' (or before a unit after a space, "(007206.0 kWh)")
    QString unit;      // after the '*' or the space; empty when the meter sent none
    QStringList parts; // text split at '&' (one element when there is no '&')
    // A group with '&' ("088*C&082*C") takes value and unit from its first
    // part; the others are in parts, each split by IecSplitValue.
    bool closed = true; // false: the line ended before its ')' (text runs to the line end, CR dropped)
};

struct IecDataSet {
    QString address; // as sent, e.g. "1-0:1.8.0*255", "0-0:C.1.0*01", "F.F.0*255", "1.8.0"
    QString code;    // short form for names and meter slots, e.g. "1.8.0", "C.1.0", "F.F.0"
    int line = 0;    // 1-based line number in the capture
    QList<IecValueGroup> groups; // at least one; groups[0] is the value, the rest further values (time stamps...)
};

struct IecDataBlock {
    bool hasIdentification = false;
    QString identification; // the line starting with "/" without CR LF (bytes before '/' dropped)
    QList<IecDataSet> sets; // every data set in the order sent (a list, never keyed by code)
    bool endSeen = false;   // the '!' was reached
    // Lines of the data block that held text which is no data set (an
    // address without "(", a stray ")"), 1-based; their text is not in sets.
    QList<int> unparsedLines;
};

// Reads a capture (or any text a meter sent):
// - the identification is the first line that holds a "/" with no "(" before
//   it on that line, looked for before the STX (or, without an STX, anywhere
//   before the data); bytes before the "/" (a DEL, noise) are dropped.  A
//   sign-on request "/?...!" that an adapter echoed is not one;
// - the data block runs from after the first STX, or without an STX from
//   the line after the identification (or the first line when there is none),
//   to the first "!" outside a group; an ETX ends it too (endSeen stays
//   false), and so does the end of the capture;
// - a group with nothing before it but spaces, control bytes and line ends
//   belongs to the data set before it (a continuation line "(...)" too); at
//   the start of the block it makes a data set with an empty address.
// Spaces and control bytes around an address are not part of it.
IecDataBlock ParseIecDataSets(QByteArrayView capture);

// The short form of an address: without its "A-B:" prefix and without an F of
// 255 ("1-0:1.8.0*255" -> "1.8.0", "F.F.0*255" -> "F.F.0", "1-1:0.2.0" ->
// "0.2.0").  Another F is kept as sent ("1.8.0*01", "0-0:C.1.0*01" ->
// "C.1.0*01"): a billing value is not the current one, also in a meter slot.
// Spaces and control bytes around it are dropped; other text is kept as it is.
QString IecShortCode(const QString &address);

// A value text (or one '&' part) split into value and unit: at the first
// '*', else at the last space when a number stands before it and a unit
// (starting with a letter, '%' or a degree sign) after it; else all value.
struct IecValueUnit {
    QString value;
    QString unit;
};
IecValueUnit IecSplitValue(const QString &text);

} // namespace qvx
