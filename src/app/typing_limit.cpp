#include "app/typing_limit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QValidator>

namespace qvx {
namespace {

// Judges an edit against the field's current text: an edit that grows the
// text past the limit is refused; anything else, including a text the
// program set longer than the limit, is acceptable.  Qt does not validate
// setText(), and a text that is acceptable keeps returnPressed working.
class LengthLimit final : public QValidator {
public:
    LengthLimit(QLineEdit *edit, int maxChars) : QValidator(edit), m_edit(edit), m_max(maxChars) {}

    State validate(QString &input, int &) const override
    {
        const qsizetype current = m_edit ? m_edit->text().size() : 0;
        if (input.size() > m_max && input.size() > current)
            return Invalid;
        return Acceptable;
    }
    int limit() const { return m_max; }

private:
    QPointer<QLineEdit> m_edit;
    int m_max;
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
