// Input quoted back in a message.  Whatever was typed or read from a file
// may be huge or hold control characters; a message shows a readable piece
// of it and says how long it was, so one bad line never floods a terminal.
#pragma once

#include <QString>
#include <QStringView>

namespace qvx {

// Characters of quoted input a message shows.
inline constexpr int InputQuoteChars = 40;

// text as it goes into a message: control characters as "?", and beyond
// max characters the first max of them, "..." and the length, as in
// AAAA... (52428800 characters).
QString cutInput(QStringView text, int max = InputQuoteChars);
// The same in double quotes: "AAAA..." (52428800 characters).
QString quoteInput(QStringView text, int max = InputQuoteChars);

} // namespace qvx
