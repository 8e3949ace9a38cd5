#include "widgets/key_filter_installer.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QChildEvent>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace qvx {
namespace {

class KeyFilter : public QObject {
public:
    KeyFilter(KeyFilterKind kind, QObject *parent) : QObject(parent), m_kind(kind) {}
    void watchEditorsOf(QWidget *viewport)
    {
        m_viewport = viewport;
        viewport->installEventFilter(this);
        for (auto *child : viewport->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            child->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            return rejects(static_cast<QKeyEvent *>(event));
        case QEvent::InputMethod:
            return rejectsText(static_cast<QInputMethodEvent *>(event)->commitString());
        case QEvent::ChildAdded:
            // An item view's cell editor appears as a child of its viewport
            // when editing starts; it takes the typing from then on.
            if (watched == m_viewport)
                if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
                    child->installEventFilter(this);
            return false;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool rejects(const QKeyEvent *key) const
    {
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        return rejectsText(key->text());
    }
    // Control characters (Tab, Escape, ...) are not typed text and pass.
    bool rejectsText(const QString &text) const
    {
        for (QChar c : text)
            if (c.unicode() >= 0x20 && c.unicode() != 0x7f && !keyFilterAccepts(m_kind, c))
                return true;
        return false;
    }

    KeyFilterKind m_kind;
    QObject *m_viewport = nullptr;
};

} // namespace

void installKeyFilter(QWidget *widget, KeyFilterKind kind)
{
    if (!widget)
        return;
    auto *filter = new KeyFilter(kind, widget);
    // Key events may reach a spin box or combo box and be forwarded to its
    // line edit, or reach the line edit directly: watch both.
    widget->installEventFilter(filter);
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(widget)) {
        if (auto *edit = spin->findChild<QLineEdit *>())
            edit->installEventFilter(filter);
        return;
    }
    if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        if (QLineEdit *edit = combo->lineEdit())
            edit->installEventFilter(filter);
        return;
    }
    if (auto *view = qobject_cast<QAbstractItemView *>(widget))
        filter->watchEditorsOf(view->viewport());
}

int installKeyFilters(QWidget *root)
{
    int found = 0;
    for (const KeyFilterRule &rule : keyFilterRules()) {
        if (auto *w = root->findChild<QWidget *>(rule.control)) {
            installKeyFilter(w, rule.kind);
            ++found;
        }
    }
    return found;
}

} // namespace qvx
