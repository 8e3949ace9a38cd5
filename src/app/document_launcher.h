// Opening a document with the platform's document launcher (the user manual).
// Tests replace the launcher so that no viewer is started.
#pragma once

#include <QString>
#include <functional>

namespace qvx {

using DocumentLauncher = std::function<void(const QString &path)>;
// A launcher that tells whether the platform took the document.
using DocumentOpener = std::function<bool(const QString &path)>;

// Asks the platform to open the file; false when no launcher took it (on a
// machine without a desktop's document launcher, for instance).
bool openDocument(const QString &path);
// Replaces the launcher; an empty one restores the platform's.  A
// DocumentLauncher always counts as having opened the file.
void setDocumentLauncher(DocumentLauncher launcher);
void setDocumentOpener(DocumentOpener opener);

} // namespace qvx
