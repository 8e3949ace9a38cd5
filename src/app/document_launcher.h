// Opening a document with the platform's document launcher (the user manual).
// Tests replace the launcher so that no viewer is started.
#pragma once

#include <QString>
#include <functional>

namespace qvx {

using DocumentLauncher = std::function<void(const QString &path)>;

// Asks the platform to open the file; the outcome is not reported.
void openDocument(const QString &path);
// Replaces the launcher; an empty one restores the platform's.
void setDocumentLauncher(DocumentLauncher launcher);

} // namespace qvx
