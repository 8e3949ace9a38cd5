// The plain text splitter that turns the lines of a readout into rows of
// OBIS code and value.  It knows no OBIS semantics and checks no block check
// character: it works on whatever the readout view holds, typed or pasted
// text included.
//
// A line's last character is never looked at: captured lines end in the
// carriage return that preceded their line feed, and leaving out the last
// character drops exactly that.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace qvx {

struct IecRow {
    QString obis;  // every character before the first "(" (the STX of the first data line included)
    QString value; // the text inside the first pair of parentheses
    bool operator==(const IecRow &) const = default;
};

// Rows of lines[1..]: line 0 (the identification line of a readout started
// on an empty view) and lines of four characters or fewer are skipped.  A
// line without "(" gives its text but the last character and an empty value;
// a "(" without ")" gives the value up to the last character; further
// groups on the line are ignored.
QList<IecRow> SplitIecLines(const QStringList &lines);

// A value as the table shows it: every "*" (between reading and unit) is a
// space.
QString NormalizeIecValue(const QString &value);

} // namespace qvx
