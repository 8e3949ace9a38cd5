#include "transport/port_name.h"
#include "transport/port_device.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>

namespace qvx {

QString serialDevicePath(const QString &name)
{
    // Windows takes device names in any case, so a settings file may hold
    // "com3" as well as "COM3".
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]*)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(name);
#ifdef Q_OS_WIN
    // QSerialPort puts the device prefix \\.\ before a COM name itself (a
    // name that has it already would get it twice); anything else, a
    // typed \\.\ path included, is the operator's and goes as typed.
    if (m.hasMatch())
        return QStringLiteral("COM") + m.captured(1);
    return name;
#else
    if (m.hasMatch()) {
        bool ok = false;
        const qlonglong n = m.captured(1).toLongLong(&ok);
        if (ok && n >= 1)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    if (name.startsWith(QLatin1Char('/')))
        return name;
    return QStringLiteral("/dev/") + name;
#endif
}

bool serialDeviceMayExist(const QString &path)
{
#ifdef Q_OS_WIN
    (void)path;
    return true;
#else
    return QFileInfo::exists(path);
#endif
}

QStringList standardPortNames()
{
    QStringList names;
    for (int i = 1; i <= 20; ++i)
        names << QStringLiteral("COM%1").arg(i);
    return names;
}

PortOpenFailure portOpenFailure(int systemError)
{
    if (systemError == 0)
        return PortOpenFailure::None;
#ifdef Q_OS_WIN
    return PortOpenFailure::InUse;
#else
    if (systemError == EACCES || systemError == EPERM)
        return PortOpenFailure::PermissionDenied;
    return PortOpenFailure::InUse;
#endif
}

QString portOpenFailureText(PortOpenFailure failure)
{
    switch (failure) {
    case PortOpenFailure::None:
        return {};
    case PortOpenFailure::InUse:
        return QStringLiteral("This serial port is already in use!");
    case PortOpenFailure::PermissionDenied:
        return QStringLiteral("Permission denied: this user may not open the serial port.\n"
                              "Add the user to the 'dialout' group (for instance: sudo usermod -a -G "
                              "dialout $USER) and log in again.");
    }
    return {};
}

} // namespace qvx
