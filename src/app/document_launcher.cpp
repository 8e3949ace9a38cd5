#include "app/document_launcher.h"

#include <QDesktopServices>
#include <QUrl>

namespace qvx {
namespace {

DocumentLauncher &launcher()
{
    static DocumentLauncher current;
    return current;
}

} // namespace

void openDocument(const QString &path)
{
    if (launcher()) {
        launcher()(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void setDocumentLauncher(DocumentLauncher l)
{
    launcher() = std::move(l);
}

} // namespace qvx
