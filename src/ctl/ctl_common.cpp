#include "ctl/ctl_common.h"

#include "core/input_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace qvx::ctl {

std::atomic<bool> g_interrupted{false};
void installInterruptHandler()
{
    std::signal(SIGINT, [](int) { g_interrupted = true; });
#ifdef SIGTERM
    std::signal(SIGTERM, [](int) { g_interrupted = true; });
#endif
#ifdef SIGXFSZ
    // A file size limit then fails the write (and the old file stays) instead
    // of killing the program with a temporary file half written.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDERR_FILENO);
#else
    return false;
#endif
}

void out(const QString &line)
{
    const QByteArray b = line.toLocal8Bit() + '\n';
    fwrite(b.constData(), 1, size_t(b.size()), stdout);
    fflush(stdout);
}

void err(const QString &line)
{
    const QByteArray b = line.toLocal8Bit() + '\n';
    fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

// "15 min 46 s", "12 s".
QString durationText(qint64 ms)
{
    const qint64 sec = (qMax<qint64>(0, ms) + 999) / 1000;
    return sec >= 60 ? QStringLiteral("%1 min %2 s").arg(sec / 60).arg(sec % 60)
                     : QStringLiteral("%1 s").arg(sec);
}

QString compact(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// Difference lines as objects: what, gateway and the file's value under
// otherKey ("profile" or "file").
QJsonArray differencesJson(const QStringList &lines, const char *otherKey)
{
    QJsonArray a;
    for (const QString &l : lines)
        a.append(differenceToJson(l, QLatin1String(otherKey)));
    return a;
}

int intOption(const QCommandLineParser &p, const QString &name, qint64 min, qint64 max, int fallback)
{
    if (!p.isSet(name))
        return fallback;
    const std::optional<qint64> v = parseNumber(p.value(name), min, max);
    if (!v)
        throw UsageError{QStringLiteral("--%1: must be %2..%3, not %4")
                             .arg(name)
                             .arg(min)
                             .arg(max)
                             .arg(quoteInput(p.value(name)))};
    return int(*v);
}

int intArg(const QString &text, const QString &what, qint64 min, qint64 max)
{
    const std::optional<qint64> v = parseNumber(text, min, max);
    if (!v)
        throw UsageError{
            QStringLiteral("%1: must be %2..%3, not %4").arg(what).arg(min).arg(max).arg(quoteInput(text))};
    return int(*v);
}

int addressArg(const QString &text)
{
    const std::optional<qint64> v = parseNumber(text, 0, 65535);
    if (!v)
        throw UsageError{
            QStringLiteral("START: %1 is not a register address (0..65535)").arg(cutInput(text))};
    return int(*v);
}
// Reads a whole input file, refusing what is not a regular file (a device
// never ends, a pipe may never answer) and what is beyond MaxInputBytes.
QByteArray readFileOrThrow(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw UsageError{QStringLiteral("%1: no such file").arg(path)};
    if (!info.isFile())
        throw UsageError{QStringLiteral("%1: not a regular file (a folder, a device or a pipe)").arg(path)};
    auto tooBig = [&](qint64 size) {
        return UsageError{QStringLiteral("%1: %2 bytes; an input file is at most %3 bytes (1 MiB)")
                              .arg(path)
                              .arg(size)
                              .arg(MaxInputBytes)};
    };
    if (info.size() > MaxInputBytes)
        throw tooBig(info.size());
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw UsageError{QStringLiteral("%1: %2").arg(path, f.errorString())};
    // The file may have grown since it was looked at.
    const QByteArray bytes = f.read(MaxInputBytes + 1);
    if (bytes.size() > MaxInputBytes)
        throw tooBig(bytes.size());
    return bytes;
}

// Checks, before anything is sent, that path can be written: the temporary
// file a save writes beside it is made and dropped again.
void checkWritable(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        throw UsageError{QStringLiteral("%1: is a folder; give a file name").arg(path)};
    if (info.exists() && !info.isFile())
        throw UsageError{QStringLiteral("%1: not a regular file; a file is written whole and renamed over "
                                        "it, so give a file name (without -o the output goes to standard "
                                        "output)")
                             .arg(path)};
    if (!info.dir().exists())
        throw UsageError{QStringLiteral("%1: the folder %2 does not exist").arg(path, info.dir().path())};
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly))
        throw UsageError{QStringLiteral("%1: cannot be written: %2").arg(path, probe.errorString())};
    probe.cancelWriting();
}

// Writes bytes to path whole, through a temporary file renamed over it: a
// full disk, a size limit or a kill leaves the old file as it was.
void writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile f(path);
    // flush() before commit(): a write that fails only when the buffer goes
    // to the disk must not be committed.
    errno = 0;
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush() && f.commit())
        return;
    // A short write (a full disk, a file size limit) leaves Qt without a
    // message of its own; the system's is still there.
    const int code = errno;
    QString why = f.errorString();
    if ((why.isEmpty() || why == QLatin1String("Unknown error")) && code != 0)
        why = QString::fromLocal8Bit(std::strerror(code));
    f.cancelWriting();
    throw UsageError{QStringLiteral("%1: not written (%2); the file is as it was").arg(path, why)};
}
UsageError refused(const QString &path, const QStringList &problems)
{
    QStringList lines;
    for (const QString &p : problems)
        lines << path + QStringLiteral(": ") + p;
    lines << path + QStringLiteral(": refused; nothing was sent");
    return UsageError{lines.join(QStringLiteral("\nqvxctl: "))};
}
QString slotListText(const QVector<int> &slotNums)
{
    QStringList parts;
    for (qsizetype i = 0; i < slotNums.size();) {
        qsizetype j = i;
        while (j + 1 < slotNums.size() && slotNums[j + 1] == slotNums[j] + 1)
            ++j;
        parts << (j == i ? QString::number(slotNums[i])
                         : QStringLiteral("%1-%2").arg(slotNums[i]).arg(slotNums[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace qvx::ctl
