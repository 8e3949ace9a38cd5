#include "app/app_identity.h"

#include <QGuiApplication>

namespace qvx {

void setApplicationIdentity()
{
    QGuiApplication::setApplicationName(QStringLiteral("qvxtool"));
    // No setApplicationDisplayName(): see the header.
}

} // namespace qvx
