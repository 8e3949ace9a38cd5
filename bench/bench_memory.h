// The process's resident memory, for the benchmarks that print it.  Linux
// reads /proc; elsewhere the figure is -1 (not measured).
#pragma once

#include <QByteArray>
#include <QFile>

inline long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
