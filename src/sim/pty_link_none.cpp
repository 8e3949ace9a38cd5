// Pseudo-terminals where the platform has none (Windows): opening fails with
// a message that names what to use instead, so a script written for Linux
// tells its user why it cannot run here.
#include "sim/pty_link.h"

namespace qvxsim {

PtyChannel::PtyChannel(const QString &name, QObject *parent) : ByteChannel(parent), name_(name) {}

PtyChannel::~PtyChannel() = default;

bool PtyChannel::open(const QString &, QString *error)
{
    if (error)
        *error = QStringLiteral("pseudo-terminals are not available on this system; use --serial COMn or --tcp");
    return false;
}

void PtyChannel::close() {}
void PtyChannel::onReadable() {}
void PtyChannel::flush() {}
void PtyChannel::write(const QByteArray &) {}

int PtyChannel::clientBaud() const
{
    return 0;
}

} // namespace qvxsim
