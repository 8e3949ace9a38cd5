#include "widgets/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace qvx {
namespace {

QMessageBox::Icon toIcon(DialogIcon icon)
{
    switch (icon) {
    case DialogIcon::Information:
        return QMessageBox::Information;
    case DialogIcon::Warning:
        return QMessageBox::Warning;
    case DialogIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

class RealDialogs final : public Dialogs {
public:
    void message(QWidget *parent, DialogIcon icon, const QString &caption, const QString &text) override
    {
        makeMessageBox(parent, icon, caption, text)->exec();
    }
    bool askYesNo(QWidget *parent, DialogIcon icon, const QString &caption, const QString &text) override
    {
        return makeMessageBox(parent, icon, caption, text, true)->exec() == QMessageBox::Yes;
    }
    QString saveFileName(QWidget *parent, const FileDialogRequest &r) override
    {
        QFileDialog dlg(parent, r.title, r.directory, r.filter);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix(r.defaultSuffix);
        // The exports replace an existing file without asking.
        dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
        dlg.selectFile(r.fileName);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return {};
        return dlg.selectedFiles().constFirst();
    }
    QString openFileName(QWidget *parent, const FileDialogRequest &r) override
    {
        QFileDialog dlg(parent, r.title, r.directory, r.filter);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.selectFile(r.fileName);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return {};
        return dlg.selectedFiles().constFirst();
    }
};

RealDialogs realDialogs;
Dialogs *current = nullptr;

} // namespace

std::unique_ptr<QMessageBox> makeMessageBox(QWidget *parent, DialogIcon icon, const QString &caption,
                                            const QString &text, bool yesNo)
{
    const QMessageBox::StandardButtons buttons =
        yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::StandardButtons(QMessageBox::Ok);
    return std::make_unique<QMessageBox>(toIcon(icon), caption, text, buttons, parent);
}

Dialogs &dialogs()
{
    return current ? *current : realDialogs;
}
void installDialogs(Dialogs *d)
{
    current = d;
}

} // namespace qvx
