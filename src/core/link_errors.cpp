#include "core/link_errors.h"

#include <cerrno>

namespace qvx {

namespace {

// "W: text", or the text alone when the caller names the place itself.
QString at(const QString &where, const QString &text)
{
    return where.isEmpty() ? text : where + QStringLiteral(": ") + text;
}

QString orServer(const QString &where)
{
    return where.isEmpty() ? QStringLiteral("the server") : where;
}

QString words(LinkErrorKind kind, const QString &where)
{
    switch (kind) {
    case LinkErrorKind::Unknown:
        return where;
    case LinkErrorKind::PortNotFound:
        return at(where, QStringLiteral("no such port; check that the adapter is plugged in and the port "
                                        "name is right"));
    case LinkErrorKind::PortPermissionDenied:
#ifdef Q_OS_LINUX
        return at(where, QStringLiteral("permission denied; add this user to the dialout group "
                                        "(sudo usermod -a -G dialout $USER) and log in again"));
#else
        return at(where, QStringLiteral("permission denied; this user may not open the port"));
#endif
    case LinkErrorKind::PortBusy:
        return at(where, QStringLiteral("in use by another program; close it there and try again"));
    case LinkErrorKind::PortLost:
        return at(where, QStringLiteral("the adapter was unplugged or stopped answering"));
    case LinkErrorKind::PortNotSerial:
        return at(where, QStringLiteral("not a serial port; choose the adapter's port"));
    case LinkErrorKind::PortOpenFailed:
        return at(where, QStringLiteral("the port could not be opened"));
    case LinkErrorKind::ConnectionRefused:
        return QStringLiteral("connection refused by ") + orServer(where);
    case LinkErrorKind::HostNotFound:
        return QStringLiteral("host not found: ") + orServer(where);
    case LinkErrorKind::TimedOut:
        return orServer(where) + QStringLiteral(" did not answer in time");
    case LinkErrorKind::RemoteClosed:
        return orServer(where) + QStringLiteral(" closed the connection");
    case LinkErrorKind::NetworkUnreachable:
        return QStringLiteral("no route to ") + orServer(where) +
               QStringLiteral("; check the cable and the address");
    }
    return where;
}

} // namespace

QString plainLinkError(LinkErrorKind kind, const QString &systemText, const QString &where)
{
    const QString plain = words(kind, where);
    if (kind == LinkErrorKind::Unknown)
        return plain.isEmpty() ? systemText : systemText.isEmpty() ? plain : at(plain, systemText);
    return systemText.isEmpty() ? plain : plain + QStringLiteral(" (") + systemText + QLatin1Char(')');
}

LinkErrorKind serialSystemErrorKind(int systemError)
{
    switch (systemError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return LinkErrorKind::PortNotFound;
    case EACCES:
    case EPERM:
        return LinkErrorKind::PortPermissionDenied;
    case EBUSY:
        return LinkErrorKind::PortBusy;
    case EIO:
        return LinkErrorKind::PortLost;
    case ENOTTY:
        return LinkErrorKind::PortNotSerial;
    default:
        return LinkErrorKind::Unknown;
    }
}

} // namespace qvx
