// Feeds the traffic monitor 1,000 frames a second (request and reply pairs
// through the serial link's taps, so grouping and decoding run as on a line)
// for 60 seconds with the window shown, after filling the list to its bound
// of 100,000 frames, and prints the worst event-loop delay (goal: under
// 50 ms) and the resident memory before and after the run: the list is full
// from the start, so memory must stay flat.
//
//   QT_QPA_PLATFORM=offscreen build/bench/traffic_monitor_bench [seconds]
#include "monitor/traffic_monitor_window.h"
#include "monitor/traffic_tap.h"
#include "transport/modbus.h"
#include "transport/session.h"

#include "bench_memory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace {

qint64 nowUsec()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;
    qvx::Session session;
    qvx::TrafficTap tap(session);
    qvx::TrafficMonitorWindow window(tap);
    window.resize(1000, 600);
    window.show();

    const QByteArray request = qvx::rtuFrame(1, qvx::pduReadInput(1000, 2));
    const QByteArray reply = qvx::withCrc(QByteArray::fromHex("0104080000000100000002"));
    qvx::Comm2 &comm = session.comm2();

    // Fill to the bound first.
    QElapsedTimer fill;
    fill.start();
    QList<qvx::TrafficFrame> batch;
    qint64 t = nowUsec() - 200000000;
    for (int i = 0; i < qvx::TrafficModel::MaxFrames; ++i) {
        const bool tx = i % 2 == 0;
        batch << qvx::TrafficFrame{t += 500,
                                   tx ? qvx::TrafficDir::Tx : qvx::TrafficDir::Rx,
                                   qvx::TrafficLink::Rtu,
                                   tx ? request : reply,
                                   {}};
    }
    window.addFrames(batch);
    window.showPending();
    app.processEvents();
    std::printf("filled %lld frames in %lld ms, memory %ld KiB\n",
                static_cast<long long>(window.model().rowCount()), static_cast<long long>(fill.elapsed()),
                rssKiB());

    // 1,000 frames a second: every 10 ms five request/reply pairs, each frame
    // apart from the one before by more than the line's silence.
    QElapsedTimer clock;
    clock.start();
    qint64 fed = 0;
    QTimer feeder;
    feeder.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        const qint64 due = clock.elapsed();
        while (fed < due) {
            const qint64 base = nowUsec();
            emit comm.bytesWrittenTap(request, base);
            emit comm.bytesReadTap(reply, base + 5000);
            fed += 2;
        }
    });
    feeder.start(10);

    qint64 worst = 0, worstAfterFirstSecond = 0;
    int over20 = 0;
    QElapsedTimer probeClock;
    probeClock.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 late = probeClock.restart() - 5;
        worst = qMax(worst, late);
        if (clock.elapsed() > 1000)
            worstAfterFirstSecond = qMax(worstAfterFirstSecond, late);
        over20 += late > 20;
    });
    probe.start(5);
    long midRss = 0;
    QTimer::singleShot(seconds * 500, [&] { midRss = rssKiB(); });
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();
    std::printf("fed %lld frames in %d s with the window shown\n", static_cast<long long>(fed), seconds);
    std::printf("worst event-loop delay: %lld ms (goal: under 50 ms); after the first second: %lld ms; "
                "delays over 20 ms: %d\n",
                static_cast<long long>(worst), static_cast<long long>(worstAfterFirstSecond), over20);
    std::printf("frames in the list: %d (bound %lld)\n", window.model().rowCount(),
                static_cast<long long>(qvx::TrafficModel::MaxFrames));
    std::printf("memory: %ld KiB half-way, %ld KiB at the end\n", midRss, rssKiB());
    return 0;
}
