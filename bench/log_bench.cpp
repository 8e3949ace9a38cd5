// Appends 1,000,000 typical log lines to the log view and prints lines per
// second and the process's resident memory.  A week of periodic reads adds
// tens of thousands of long lines and nothing trims the log, so the cost of
// one append must not grow with the lines already there: the last 100,000
// lines must go as fast as the first.
//
//   QT_QPA_PLATFORM=offscreen build/bench/log_bench [lines]
#include "console/log_view.h"

#include "bench_memory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {

// A reply line as the register browser logs it: 125 registers' worth of
// bytes would be longer; this is the typical ~150-character line.
QString typicalLine(int i)
{
    QString s = QStringLiteral("Respond:01 03 F0 ");
    for (int b = 0; b < 44; ++b)
        s += QStringLiteral("%1 ").arg((i + b) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int slice = qMax(1, total / 10);

    qvx::LogView view;
    view.resize(600, 300);
    view.show();
    QApplication::processEvents();

    // Lines are made beforehand so that only the append is measured.
    QStringList lines;
    for (int i = 0; i < 256; ++i)
        lines << typicalLine(i);

    // One line at a time with a full settle and repaint each: the cost an
    // operator's session pays per logged event; measured on an empty log and
    // again at the end of the huge one.
    const int singles = 1000;
    const auto singleAppendUs = [&] {
        QElapsedTimer single;
        single.start();
        for (int i = 0; i < singles; ++i) {
            view.appendLine(lines[i & 255]);
            QApplication::processEvents();
        }
        return single.nsecsElapsed() / 1e3 / singles;
    };
    const double firstSingleUs = singleAppendUs();
    view.clear();

    const long rssBefore = rssKiB();
    std::printf("appending %d lines of %lld characters\n", total, static_cast<long long>(lines[0].size()));
    QElapsedTimer all;
    all.start();
    QElapsedTimer part;
    part.start();
    double firstRate = 0, lastRate = 0;
    for (int i = 0; i < total; ++i) {
        view.appendLine(lines[i & 255]);
        // The event loop runs now and then, as it does between serial
        // events: the view settles and repaints.
        if (i % 1000 == 999)
            QApplication::processEvents();
        if ((i + 1) % slice == 0) {
            const double rate = slice / (part.nsecsElapsed() / 1e9);
            if (firstRate == 0)
                firstRate = rate;
            lastRate = rate;
            std::printf("  %8d lines: %10.0f lines/s over the last %d, RSS %ld MiB\n", i + 1, rate, slice,
                        rssKiB() / 1024);
            std::fflush(stdout);
            part.restart();
        }
    }
    QApplication::processEvents();
    const double seconds = all.nsecsElapsed() / 1e9;

    const double lastSingleUs = singleAppendUs();

    const long rssAfter = rssKiB();
    std::printf("total: %d lines in %.2f s = %.0f lines/s (first slice %.0f, last slice %.0f lines/s)\n",
                total, seconds, total / seconds, firstRate, lastRate);
    std::printf("single append with settle and repaint: %.1f us on an empty log, %.1f us at %lld lines\n",
                firstSingleUs, lastSingleUs, static_cast<long long>(view.lineCount()));
    std::printf("memory: RSS %ld MiB before, %ld MiB after (%.0f bytes per line)\n", rssBefore / 1024,
                rssAfter / 1024, (rssAfter - rssBefore) * 1024.0 / view.lineCount());
    return 0;
}
