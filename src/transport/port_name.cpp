#include "transport/port_name.h"

#include <QRegularExpression>

namespace qvx {

QString serialDevicePath(const QString &name)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\") + name;
#else
    // Windows takes device names in any case, so a settings file written there
    // may hold "com3" as well as "COM3".
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]*)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(name);
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

QStringList standardPortNames()
{
    QStringList names;
    for (int i = 1; i <= 20; ++i)
        names << QStringLiteral("COM%1").arg(i);
    return names;
}

} // namespace qvx
