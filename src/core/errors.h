// Errors that end a handler.  The link components and the request operations
// raise QvxError with the operator-facing message; the window's handlers run
// their bodies through guard() (widgets/guard.h), which shows an escaped error
// in the standard error box instead of letting it reach Qt's signal code.
#pragma once

#include <QString>
#include <stdexcept>

namespace qvx {

class QvxError : public std::runtime_error {
public:
    explicit QvxError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

} // namespace qvx
