// The plain words for a link that failed: what the operator can do about a
// serial port that is missing, refused or busy, an adapter that went away, or
// a TCP connection that could not be made or ended.  The system's own text
// follows in parentheses, so a message can still be looked up.  Plain
// functions: the links say which kind of failure it was, these say it.
#pragma once

#include <QString>

namespace qvx {

enum class LinkErrorKind {
    Unknown, // none of the below: the system's text alone
    // serial port
    PortNotFound,         // no such device
    PortPermissionDenied, // this user may not open it
    PortBusy,             // another program holds it
    PortLost,             // it went away while open (unplugged, I/O error)
    PortNotSerial,        // the device is no serial port
    PortOpenFailed,       // any other refusal while opening
    // TCP connection
    ConnectionRefused,  // nothing listens there
    HostNotFound,       // the name or address is not known
    TimedOut,           // no answer in time
    RemoteClosed,       // the other side ended or reset the connection
    NetworkUnreachable, // no route to the host or its network
};

// The message for a failure of kind at where (a device path, or "host:port";
// empty when the surrounding text names it already), followed by the
// system's text in parentheses when there is one, for instance
// "connection refused by 10.0.0.5:502 (socket error #111)" or "the adapter
// was unplugged or stopped answering (Inappropriate ioctl for device)".
QString plainLinkError(LinkErrorKind kind, const QString &systemText, const QString &where);

// The kind of a failed serial open or of a lost port for the system's error
// number (errno); Unknown for 0 or a number without plain words.
LinkErrorKind serialSystemErrorKind(int systemError);

} // namespace qvx
