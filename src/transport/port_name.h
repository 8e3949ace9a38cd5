// How an operator's port name becomes a device path on this platform.
#pragma once

#include <QString>
#include <QStringList>

namespace qvx {

// Windows: "COMn" as "COMn" (QSerialPort adds \\.\), other names as typed.  Elsewhere: "COMn" is the n-th standard serial port
// (/dev/ttyS(n-1)), a name starting with "/" is a device path used as typed,
// any other name is looked up under /dev/.
QString serialDevicePath(const QString &name);

// "COM1" .. "COM20".
QStringList standardPortNames();

// Why a serial device could not be opened, as the operator must hear it.
enum class PortOpenFailure {
    None,
    InUse,            // missing, or held by another program
    PermissionDenied, // the system refuses this user access to the device
};

// The failure for the system's error number of a failed open.  On Windows a
// port held by another program answers "access denied", so there every
// failure is InUse.
PortOpenFailure portOpenFailure(int systemError);

// The text of the box "Connect to port" for a failure (empty for None).
QString portOpenFailureText(PortOpenFailure failure);

} // namespace qvx
