// A week of 10-second readings (60,480 points) for 5 rows in the value
// trends: prints the time to add them, to draw the chart with all five
// ticked, and to add one more reading and draw again (the live case).
//
//   QT_QPA_PLATFORM=offscreen build/bench/value_trends_bench [picture.png]
#include "monitor/value_trends_window.h"

#include "bench_memory.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <cmath>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    constexpr int Points = 60480, Rows = 5;
    qvx::ValueTrendsWindow w(nullptr);
    w.resize(1000, 600);
    w.show();
    app.processEvents();

    const double start = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) - Points * 10000.0;
    QElapsedTimer t;
    t.start();
    for (int r = 1; r <= Rows; ++r) {
        QVector<double> xs(Points), ys(Points);
        for (int i = 0; i < Points; ++i) {
            xs[i] = start + i * 10000.0;
            ys[i] = 1000.0 * r + 100.0 * std::sin(i / 500.0) + i * 0.01;
        }
        w.addPoints(QStringLiteral("row%1").arg(r), QStringLiteral("Row %1").arg(r), QString(), xs, ys);
    }
    const qint64 addMs = t.restart();
    for (int r = 1; r <= Rows; ++r)
        w.setShown(QStringLiteral("row%1").arg(r), true);
    w.redraw();
    app.processEvents();                           // lays the chart out
    const QPixmap picture = w.chartView()->grab(); // paints it
    if (argc > 1)
        picture.save(QString::fromLocal8Bit(argv[1]));
    const qint64 drawMs = t.restart();

    QVector<std::optional<qint64>> reading(63);
    for (int i = 0; i < 63; ++i)
        reading[i] = 1000 + i;
    w.addReading(1, reading);
    w.redraw();
    app.processEvents();
    w.chartView()->grab();
    const qint64 liveMs = t.elapsed();

    std::printf("%d rows x %d points\n", Rows, Points);
    std::printf("add: %lld ms\n", static_cast<long long>(addMs));
    std::printf("first draw (5 rows ticked): %lld ms\n", static_cast<long long>(drawMs));
    std::printf("one more reading of 63 rows, drawn: %lld ms\n", static_cast<long long>(liveMs));
    std::printf("points drawn for a row after thinning: %lld\n",
                static_cast<long long>(w.drawnPointCount(QStringLiteral("row1"))));
    std::printf("memory: %ld KiB\n", rssKiB());
    return 0;
}
