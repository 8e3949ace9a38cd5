#include "app/document_launcher.h"

#include <QDesktopServices>
#include <QUrl>

namespace qvx {
namespace {

DocumentOpener &opener()
{
    static DocumentOpener current;
    return current;
}

} // namespace

bool openDocument(const QString &path)
{
    if (opener())
        return opener()(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void setDocumentLauncher(DocumentLauncher l)
{
    if (!l) {
        opener() = {};
        return;
    }
    opener() = [l = std::move(l)](const QString &path) {
        l(path);
        return true;
    };
}

void setDocumentOpener(DocumentOpener o)
{
    opener() = std::move(o);
}

} // namespace qvx
