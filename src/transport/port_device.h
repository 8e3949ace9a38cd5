// Whether a serial device path can name a device at all, before opening it.
#pragma once

#include <QString>

namespace qvx {

// False when the path surely names no device (a missing file, on systems
// whose devices are files); true when only opening it can tell (Windows' COM
// ports are no files).
bool serialDeviceMayExist(const QString &path);

} // namespace qvx
