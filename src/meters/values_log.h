// The values log: every auto-saved reading of a slot adds one block (see
// valuesLogBlock) at the end of an existing text file.
//
// The file is only ever appended to, with one write, so that a log that has
// grown over weeks is neither rewritten on every reading nor lost when the
// program or the machine stops in the middle of one.  The bytes it holds
// afterwards are those of reading the file as a list of lines, adding the
// block's lines and writing them all back with CR LF line ends: a last line
// without its line end gets one first.  (Line ends of earlier lines are kept
// as they are; the tool itself only ever writes CR LF.)
#pragma once

#include <QByteArray>
#include <QString>

namespace qvx {

// Appends block to the file at path, which must exist, be readable and be
// writable; the file is never created.  False on any failure, in which case
// the file holds what it held before and error (when given) the system's
// message.
bool appendValuesLog(const QString &path, const QByteArray &block, QString *error = nullptr);

} // namespace qvx
