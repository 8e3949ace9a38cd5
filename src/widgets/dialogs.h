// The one seam through which the program asks the operator anything modal:
// message boxes, yes/no questions and the file dialogs.  The real
// implementation uses QMessageBox/QFileDialog; tests install one that answers
// from a queue and records what was asked, so no test blocks on a dialog.
#pragma once

#include <QString>
#include <memory>
#include <optional>

class QDialog;
class QMessageBox;
class QWidget;

namespace qvx {

enum class DialogIcon { Information, Warning, Error };

struct FileDialogRequest {
    QString title;
    QString directory;     // initial folder
    QString fileName;      // proposed file name
    QString filter;        // Qt filter text, e.g. "CSV files (*.csv)"
    QString defaultSuffix; // added to a name typed without an extension
};

// What the real dialogs do with a request, as plain functions:
// the open dialogs offer every file as a second filter, so a file saved
// without its extension can still be picked...
QString openDialogFilter(const QString &filter);
// ...and a name chosen in a save dialog without an extension gets the
// request's default suffix (a dialog that does not add it itself).
QString withDefaultSuffix(const QString &path, const QString &suffix);

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void message(QWidget *parent, DialogIcon icon, const QString &caption, const QString &text) = 0;
    // Returns true for Yes.
    virtual bool askYesNo(QWidget *parent, DialogIcon icon, const QString &caption, const QString &text) = 0;
    // Returns the chosen path, or an empty string when cancelled.
    virtual QString saveFileName(QWidget *parent, const FileDialogRequest &request) = 0;
    virtual QString openFileName(QWidget *parent, const FileDialogRequest &request) = 0;
    // A whole number from min to max, starting at value; nothing when
    // cancelled.  Answerers that never expect the question cancel it.
    virtual std::optional<int> askNumber(QWidget *parent, const QString &caption, const QString &label,
                                         int min, int max, int value)
    {
        (void)parent, (void)caption, (void)label, (void)min, (void)max, (void)value;
        return std::nullopt;
    }
};

// The message box the real dialogs show (not yet shown): the caption and text
// exactly as given.  yesNo selects Yes and No buttons instead of OK.
std::unique_ptr<QMessageBox> makeMessageBox(QWidget *parent, DialogIcon icon, const QString &caption,
                                            const QString &text, bool yesNo = false);

// The small dialog askNumber shows (not yet shown): the label, a spin box
// named by it ("SpinNumber") and OK and Cancel.
std::unique_ptr<QDialog> makeNumberDialog(QWidget *parent, const QString &caption, const QString &label,
                                          int min, int max, int value);

// The dialogs in force; the real ones unless a test installed its own.
Dialogs &dialogs();
// Installs d (not owned); nullptr restores the real dialogs.
void installDialogs(Dialogs *d);

} // namespace qvx
