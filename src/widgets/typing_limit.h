// Typing limits for edit fields.  A field's maximum length limits what the
// operator types or pastes, never what the program puts there: a value read
// from the settings file, a meter data file or the device is shown whole, so
// that it is neither cut nor written back cut.  QLineEdit::setMaxLength cuts
// setText(), hence this validator-based limit.
#pragma once

class QComboBox;
class QLineEdit;

namespace qvx {

// Typing or pasting may not make the text longer than maxChars (nor longer
// than it already is, when the program put a longer text there).
void setTypingLimit(QLineEdit *edit, int maxChars);
// The same for the edit of an editable combo box.
void setTypingLimit(QComboBox *combo, int maxChars);
// The limit in force; 0 when none was set.
int typingLimit(const QLineEdit *edit);

} // namespace qvx
