// How an operator's port name becomes a device path on this platform.
#pragma once

#include <QString>
#include <QStringList>

namespace qvx {

// Windows: "\\.\" + name.  Elsewhere: "COMn" is the n-th standard serial port
// (/dev/ttyS(n-1)), a name starting with "/" is a device path used as typed,
// any other name is looked up under /dev/.
QString serialDevicePath(const QString &name);

// "COM1" .. "COM20".
QStringList standardPortNames();

} // namespace qvx
