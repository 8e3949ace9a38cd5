// Pushes meter-like readout lines through the readout capture in receive
// events of 1 to 1024 bytes (sizes drawn from a fixed seed), with one
// event-loop turn after each event as the program has, and prints the time
// and bytes per second for several total sizes: the time must grow linearly
// (1 MB well under a second).  "shown" is the time until the view has drawn
// the end of the text (the screen catches up at most every 30 ms, so it
// includes that wait).  A last run sends one line without any line
// feed, the case a chatty line makes, and one draws the view after every
// event, the screen's worst case.  Every run checks that the captured
// lines hold exactly the bytes sent, in order.
//
//   QT_QPA_PLATFORM=offscreen build/bench/iec_capture_bench
#include "iec/readout_tab.h"
#include "iec/readout_view.h"
#include "transport/session.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <cstdio>

namespace {

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

QByteArray meterLikeText(qsizetype size, bool lineFeeds)
{
    QByteArray out;
    out.reserve(size + 64);
    out += "/QVX5SIMMETER\r\n\x02";
    for (int i = 0; out.size() < size; ++i)
        out += QByteArray::number(1 + i % 99) + ".8." + QByteArray::number(i % 5) + "(" +
               QByteArray::number(1000000 + i).rightJustified(11, '0') + "*kWh)" +
               (lineFeeds ? "\r\n" : "\r");
    out.truncate(size);
    return out;
}

bool run(const char *label, qsizetype size, bool lineFeeds, bool drawEveryEvent = false)
{
    qvx::Session session;
    qvx::ReadoutTab tab(session);
    tab.resize(900, 600);
    tab.show();
    QApplication::processEvents();
    session.ReadoutCaptureActive = true;
    PaintCounter counter;
    tab.memoReadout()->viewport()->installEventFilter(&counter);

    const QByteArray text = meterLikeText(size, lineFeeds);
    QRandomGenerator rng(11);
    qint64 events = 0;
    QElapsedTimer t;
    t.start();
    for (qsizetype at = 0; at < text.size(); ++events) {
        const qsizetype n = qMin<qsizetype>(rng.bounded(1, 1025), text.size() - at);
        tab.captureBytes(text.mid(at, n));
        if (drawEveryEvent)
            tab.memoReadout()->viewport()->repaint();
        QApplication::processEvents();
        at += n;
    }
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    const int paintsBefore = counter.paints;
    for (QDeadlineTimer deadline(5000); counter.paints == paintsBefore && !deadline.hasExpired();)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double shown = double(t.nsecsElapsed()) / 1e9;

    // Lines joined by their line feeds give back what was sent.
    const qvx::IecLines &lines = tab.memoReadout()->store();
    QByteArray back;
    back.reserve(text.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i)
            back += '\n';
        back += lines.line(i);
    }
    const bool same = back == text;
    std::printf(
        "%-8s %8lld bytes %5lld events %6lld lines  capture %.3f s (%.0f bytes/s)  shown %.3f s  %s\n", label,
        static_cast<long long>(size), static_cast<long long>(events), static_cast<long long>(lines.size()),
        seconds, double(size) / seconds, shown, same ? "all bytes in order" : "BYTES LOST OR REORDERED");
    return same;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    bool ok = true;
    for (qsizetype size : {256 * 1024, 512 * 1024, 1024 * 1024, 2048 * 1024})
        ok = run("lines", size, true) && ok;
    ok = run("one line", 1024 * 1024, false) && ok;
    // The worst case of the screen: the view drawn after every event.
    ok = run("drawn", 1024 * 1024, true, true) && ok;
    return ok ? 0 : 1;
}
