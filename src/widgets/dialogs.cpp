#include "widgets/dialogs.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>
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
    std::optional<int> askNumber(QWidget *parent, const QString &caption, const QString &label, int min,
                                 int max, int value) override
    {
        const std::unique_ptr<QDialog> dlg = makeNumberDialog(parent, caption, label, min, max, value);
        if (dlg->exec() != QDialog::Accepted)
            return std::nullopt;
        return dlg->findChild<QSpinBox *>(QStringLiteral("SpinNumber"))->value();
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

std::unique_ptr<QDialog> makeNumberDialog(QWidget *parent, const QString &caption, const QString &label,
                                          int min, int max, int value)
{
    auto dlg = std::make_unique<QDialog>(parent);
    dlg->setWindowTitle(caption);
    auto *text = new QLabel(label, dlg.get());
    auto *spin = new QSpinBox(dlg.get());
    spin->setObjectName(QStringLiteral("SpinNumber"));
    spin->setRange(min, max);
    spin->setValue(value);
    text->setBuddy(spin);
    spin->setAccessibleName(label);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dlg.get());
    QObject::connect(buttons, &QDialogButtonBox::accepted, dlg.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dlg.get(), &QDialog::reject);
    auto *layout = new QVBoxLayout(dlg.get());
    layout->addWidget(text);
    layout->addWidget(spin);
    layout->addWidget(buttons);
    return dlg;
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
