// Test answerer for the dialog seam: records every dialog the program raised
// and answers from queues (Yes/No, file names), so no test blocks on a modal
// dialog.  Install it for the life of a test with ScopedDialogs.
#pragma once

#include "widgets/dialogs.h"

#include <QQueue>
#include <QString>
#include <QVector>

namespace qvxtest {

struct RaisedDialog {
    QString kind; // "message", "question", "save", "open"
    qvx::DialogIcon icon = qvx::DialogIcon::Information;
    QString caption;
    QString text;
    qvx::FileDialogRequest file;
};

class ScriptedDialogs : public qvx::Dialogs {
public:
    QVector<RaisedDialog> raised;
    QQueue<bool> yesNoAnswers;   // default: No
    QQueue<QString> fileAnswers; // default: cancelled
    QQueue<int> numberAnswers;   // default: cancelled

    void message(QWidget *, qvx::DialogIcon icon, const QString &caption, const QString &text) override
    {
        raised.push_back({QStringLiteral("message"), icon, caption, text, {}});
    }
    bool askYesNo(QWidget *, qvx::DialogIcon icon, const QString &caption, const QString &text) override
    {
        raised.push_back({QStringLiteral("question"), icon, caption, text, {}});
        return yesNoAnswers.isEmpty() ? false : yesNoAnswers.dequeue();
    }
    QString saveFileName(QWidget *, const qvx::FileDialogRequest &r) override
    {
        raised.push_back({QStringLiteral("save"), qvx::DialogIcon::Information, r.title, {}, r});
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }
    QString openFileName(QWidget *, const qvx::FileDialogRequest &r) override
    {
        raised.push_back({QStringLiteral("open"), qvx::DialogIcon::Information, r.title, {}, r});
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    }
    std::optional<int> askNumber(QWidget *, const QString &caption, const QString &label, int, int,
                                 int) override
    {
        raised.push_back({QStringLiteral("number"), qvx::DialogIcon::Information, caption, label, {}});
        if (numberAnswers.isEmpty())
            return std::nullopt;
        return numberAnswers.dequeue();
    }
};

class ScopedDialogs {
public:
    ScopedDialogs() { qvx::installDialogs(&dialogs); }
    ~ScopedDialogs() { qvx::installDialogs(nullptr); }
    ScriptedDialogs dialogs;
};

} // namespace qvxtest
