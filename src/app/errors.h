// Errors that end a handler.  The link components and the request operations
// raise QvxError with the operator-facing message; every handler runs its body
// through guard(), which shows an escaped error in the standard error box (the
// dialog seam) instead of letting it reach Qt's signal code.
#pragma once

#include <QString>
#include <functional>
#include <stdexcept>

class QWidget;

namespace qvx {

class QvxError : public std::runtime_error {
public:
    explicit QvxError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message)
    {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Runs body; an exception that escapes it is shown in the standard error box
// and swallowed.  Returns false when body ended by an exception.
bool guard(const std::function<void()> &body, QWidget *parent = nullptr);

} // namespace qvx
