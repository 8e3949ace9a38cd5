#include "widgets/grid_export.h"

#include "widgets/dialogs.h"
#include "widgets/string_grid.h"
#include "config/grid_csv.h"
#include "widgets/file_feedback.h"

#include <QSaveFile>

namespace qvx {

namespace {
const QString ErrorCaption = QStringLiteral("Error saving file");

void showError(QWidget *parent, const QString &text)
{
    dialogs().message(parent, DialogIcon::Error, ErrorCaption, text);
}
} // namespace

void ExportGridCsv(const StringGrid &grid, const QString &defaultName, const QString &workDir,
                   Session *session)
{
    QWidget *parent = grid.window();
    FileDialogRequest request;
    request.title = QStringLiteral("Save/Export file");
    request.directory = workDir;
    request.fileName = defaultName;
    request.filter = QStringLiteral("CSV files (*.csv)");
    request.defaultSuffix = QStringLiteral("csv");

    QString path;
    try {
        path = dialogs().saveFileName(parent, request);
    } catch (...) {
        showError(parent, QStringLiteral("File cannot be written or open!\nContact administrator."));
        return;
    }
    if (path.isEmpty())
        return;

    const QByteArray bytes = GridCsvBytes(grid.rowCount(), grid.colCount(),
                                          [&grid](int col, int row) { return grid.cell(col, row); });
    QSaveFile file(path);
    // flush() before commit(): commit() only knows of errors of the write
    // calls, and a write into QSaveFile's buffer cannot fail, so a disk that
    // fills up while the buffer is flushed would otherwise be committed as a
    // cut-off file over the old one.  Not committing discards the temporary.
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() && file.commit();
    if (!written)
        showError(parent, QStringLiteral("File cannot be written, no rights!\nContact administrator."));
    else if (session)
        reportFileDone(*session, FileAction::Saved, grid.rowCount(), path);
}

} // namespace qvx
