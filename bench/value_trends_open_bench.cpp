// Opens a values log of about 100 MB (a reading of 63 rows every 10 s for
// some 11 days, written by this program) in the value trends, as the
// operator does with "Open values log...", then opens it three times more.
// Prints the time until the chart has it, when a timer due 1 s after the
// open actually fired (a click would be handled no sooner), the worst
// event-loop delay during the load, the peak resident memory and the memory
// after each open and after the window closes.
//
//   QT_QPA_PLATFORM=offscreen build/bench/value_trends_open_bench [megabytes]
#include "monitor/value_trends_window.h"
#include "widgets/dialogs.h"

#include "bench_memory.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

// Answers the open dialog with the generated file.
class Answer : public qvx::Dialogs {
public:
    QString path;
    void message(QWidget *, qvx::DialogIcon, const QString &, const QString &text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool askYesNo(QWidget *, qvx::DialogIcon, const QString &, const QString &) override { return false; }
    QString saveFileName(QWidget *, const qvx::FileDialogRequest &) override { return {}; }
    QString openFileName(QWidget *, const qvx::FileDialogRequest &) override { return path; }
};

long peakKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool writeLog(const QString &path, qint64 bytes, qint64 &blocks)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QDateTime t(QDate(2026, 11, 1), QTime(0, 0));
    qint64 written = 0;
    blocks = 0;
    QByteArray block;
    while (written < bytes) {
        block = "\r\n" + t.toString(QStringLiteral("HH:mm:ss,dd.MM.yyyy")).toLatin1() + "\r\n";
        for (int r = 1; r <= 63; ++r)
            block += QByteArray::number(r) + ';' +
                     QByteArray::number(4000000000LL - 12345LL * r + blocks * r) + ";\r\n";
        written += f.write(block);
        t = t.addSecs(10);
        ++blocks;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100;
    QTemporaryDir dir;
    Answer answer;
    answer.path = dir.filePath(QStringLiteral("logvalues.txt"));
    qint64 blocks = 0;
    if (!writeLog(answer.path, megabytes * 1000 * 1000, blocks))
        return 1;
    std::printf("values log: %lld blocks, %.1f MB\n", static_cast<long long>(blocks),
                double(QFile(answer.path).size()) / 1e6);
    qvx::installDialogs(&answer);

    auto *w = new qvx::ValueTrendsWindow(nullptr);
    w->resize(1000, 600);
    w->show();
    app.processEvents();
    const long start = rssKiB();
    std::printf("memory before the first open: %ld KiB\n", start);

    // One open: returns the time until the status reports the blocks read.
    auto open = [&](qint64 &clickAt, qint64 &worstDelay) {
        QElapsedTimer clock;
        clock.start();
        clickAt = -1;
        worstDelay = 0;
        QTimer::singleShot(1000, [&] { clickAt = clock.elapsed(); });
        QElapsedTimer probeClock;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout,
                         [&] { worstDelay = std::max(worstDelay, probeClock.restart() - 10); });
        probe.start(10);
        probeClock.start();
        w->openValuesLog();
        while (!w->statusText().contains(QLatin1String(" blocks, skipped ")))
            app.processEvents(QEventLoop::WaitForMoreEvents);
        const qint64 ms = clock.elapsed();
        w->redraw();
        app.processEvents();
        // Let the timer due at 1 s fire when the load was shorter.
        while (clickAt < 0)
            app.processEvents(QEventLoop::WaitForMoreEvents);
        worstDelay = std::max(worstDelay, probeClock.elapsed() - 10);
        return ms;
    };

    for (int i = 1; i <= 4; ++i) {
        qint64 clickAt = 0, worst = 0;
        const qint64 ms = open(clickAt, worst);
        std::printf("open %d: %lld ms until drawn; timer due at 1000 ms fired at %lld ms; worst event-loop "
                    "delay %lld ms; memory %ld KiB (peak so far %ld KiB)\n",
                    i, static_cast<long long>(ms), static_cast<long long>(clickAt),
                    static_cast<long long>(worst), rssKiB(), peakKiB());
    }
    w->close();
    app.processEvents();
    std::printf("after the window closed: memory %ld KiB\n", rssKiB());
    delete w;
    app.processEvents();
    std::printf("after the window was deleted: memory %ld KiB\n", rssKiB());
    qvx::installDialogs(nullptr);
    return 0;
}
