// Modbus RTU on a pseudo-terminal: the server over whatever the platform's
// channel offers (pty_link.cpp, or pty_link_none.cpp where there is none).
#include "sim/pty_link.h"

namespace qvxsim {

void PtyLink::matchBaud(Device &device)
{
    channel_.setRequiredBaud([&device] { return device.rtuLine().baud; });
}

PtyLink::PtyLink(Device &device, const LinkOptions &options, QObject *parent)
    : QObject(parent), channel_(QStringLiteral("pty")), server_(device, &channel_, options)
{}

bool PtyLink::open(const QString &symlinkPath)
{
    return channel_.open(symlinkPath, &error_);
}

} // namespace qvxsim
