#include "sim/link_common.h"

namespace qvxsim {

Transmitter::Transmitter(WriteFn write, QObject *parent) : QObject(parent), write_(std::move(write))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Transmitter::pump);
}

void Transmitter::send(const QList<Chunk> &chunks, qint64 charTimeUs)
{
    for (const Chunk &c : chunks)
        if (!c.bytes.isEmpty())
            queue_.append(Item{c.pauseMs, c.bytes, charTimeUs});
    if (!timer_.isActive())
        pump();
}

void Transmitter::clear()
{
    queue_.clear();
    timer_.stop();
    pauseDone_ = started_ = false;
}

void Transmitter::pump()
{
    while (!queue_.isEmpty()) {
        Item &it = queue_.front();
        if (!started_) {
            if (it.pauseMs > 0 && !pauseDone_) {
                pauseDone_ = true;
                timer_.start(it.pauseMs);
                return;
            }
            started_ = true;
            sent_ = 0;
            clock_.start();
        }
        if (it.charTimeUs <= 0) {
            write_(it.bytes);
        } else {
            // Every byte that is due by now: the first at once, then one per
            // character time, so the average rate is the line's whatever the
            // timer's granularity.
            const qint64 due =
                qMin<qint64>(it.bytes.size(), clock_.nsecsElapsed() / 1000 / it.charTimeUs + 1);
            if (due > sent_) {
                write_(it.bytes.mid(sent_, due - sent_));
                sent_ = due;
            }
            if (sent_ < it.bytes.size()) {
                const qint64 nextUs = sent_ * it.charTimeUs - clock_.nsecsElapsed() / 1000;
                timer_.start(int(qBound(qint64(1), nextUs / 1000, qint64(1000))));
                return;
            }
        }
        const QByteArray done = queue_.takeFirst().bytes;
        started_ = pauseDone_ = false;
        emit chunkSent(done);
    }
    emit idle();
}

} // namespace qvxsim
