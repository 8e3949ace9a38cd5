#include "widgets/dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
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
        return withDefaultSuffix(dlg.selectedFiles().constFirst(), r.defaultSuffix);
    }
    QString openFileName(QWidget *parent, const FileDialogRequest &r) override
    {
        QFileDialog dlg(parent, r.title, r.directory, openDialogFilter(r.filter));
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

QString openDialogFilter(const QString &filter)
{
    static const QString all = QStringLiteral("All files (*)");
    if (filter.isEmpty() || filter.split(QStringLiteral(";;")).contains(all))
        return filter;
    return filter + QStringLiteral(";;") + all;
}

QString withDefaultSuffix(const QString &path, const QString &suffix)
{
    if (path.isEmpty() || suffix.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + QLatin1Char('.') + suffix;
}

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
