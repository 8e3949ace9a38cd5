#include "widgets/typing_limit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QValidator>

namespace qvx {
namespace {

// Judges an edit against the text the field held before it: an edit that
// grows the text past the limit is refused; anything else, including a text
// the program set longer than the limit, is acceptable.  Qt does not validate
// setText(), and a text that is acceptable keeps returnPressed working.
//
// The text before the edit is tracked through textChanged: while validate()
// runs, the edit already holds the changed text.
class LengthLimit final : public QValidator {
public:
    LengthLimit(QLineEdit *edit, int maxChars)
        : QValidator(edit), m_max(maxChars), m_before(edit->text().size())
    {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) { m_before = text.size(); });
    }

    State validate(QString &input, int &) const override
    {
        if (input.size() > m_max && input.size() > m_before)
            return Invalid;
        return Acceptable;
    }
    int limit() const { return m_max; }

private:
    int m_max;
    qsizetype m_before;
};

} // namespace

void setTypingLimit(QLineEdit *edit, int maxChars)
{
    if (!edit)
        return;
    // The validator belongs to the edit; a new limit replaces the old one.
    if (auto *old = dynamic_cast<const LengthLimit *>(edit->validator()))
        const_cast<LengthLimit *>(old)->deleteLater();
    edit->setValidator(new LengthLimit(edit, maxChars));
}

void setTypingLimit(QComboBox *combo, int maxChars)
{
    if (combo)
        setTypingLimit(combo->lineEdit(), maxChars);
}

int typingLimit(const QLineEdit *edit)
{
    const auto *v = edit ? dynamic_cast<const LengthLimit *>(edit->validator()) : nullptr;
    return v ? v->limit() : 0;
}

} // namespace qvx
