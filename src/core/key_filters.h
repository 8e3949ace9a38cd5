// Keystroke filters that keep numeric fields numeric.  Each filter looks at a
// typed character and either lets it through or drops it (the original
// replaced it by Escape, which the control does not insert).  Backspace, line
// feed and carriage return always pass.  Pasted text is not filtered: only
// typed characters reach these rules.
#pragma once

#include <QChar>
#include <QString>
#include <vector>

namespace qvx {

enum class KeyFilterKind {
    Digits,    // "0".."9"
    DigitsDot, // "0".."9" and "." (IPv4 addresses)
    MeterId,   // "0".."9" and "F"
    ObisCode,  // "0".."9", "-", ":" and "."
};

bool keyFilterAccepts(KeyFilterKind kind, QChar c);

struct KeyFilterRule {
    QString control; // object name
    KeyFilterKind kind;
};

// Which control gets which filter.  No other control is filtered.
const std::vector<KeyFilterRule> &keyFilterRules();

} // namespace qvx
