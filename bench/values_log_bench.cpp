// Appends 10,000 readings to a values log and prints the mean time per append
// of the first and of the last thousand.  A reading every 10 s for a week is
// some 60,000 blocks and 60 MB; an append must cost the same on the first
// block as on the last, which a rewrite of the whole file would not.
//
//   build/bench/values_log_bench [readings]
#include "meters/meter_values.h"
#include "meters/values_log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::max(2000, std::atoi(argv[1])) : 10000;
    constexpr int Slice = 1000;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("logvalues.txt"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
    }

    // A full 32-bit slot as the grid shows it: 63 rows of ten-digit values.
    QStringList numbers, values;
    for (int r = 1; r <= 63; ++r) {
        numbers << QString::number(r);
        values << QString::number(4000000000u - 12345u * unsigned(r));
    }

    double firstUs = 0, lastUs = 0;
    QElapsedTimer clock;
    for (int i = 0; i < total; ++i) {
        const QByteArray block = qvx::valuesLogBlock(
            QStringLiteral("12:00:%1,08.12.2026").arg(i % 60, 2, 10, QLatin1Char('0')), numbers, values);
        clock.start();
        if (!qvx::appendValuesLog(path, block)) {
            std::fprintf(stderr, "append %d failed\n", i);
            return 1;
        }
        const double us = double(clock.nsecsElapsed()) / 1000.0;
        if (i < Slice)
            firstUs += us;
        else if (i >= total - Slice)
            lastUs += us;
    }
    std::printf("readings appended: %d, file size: %.1f MB\n", total, double(QFileInfo(path).size()) / 1e6);
    std::printf("mean per append, first %d: %.1f us\n", Slice, firstUs / Slice);
    std::printf("mean per append, last %d:  %.1f us\n", Slice, lastUs / Slice);
    return 0;
}
