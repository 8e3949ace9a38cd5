// A one-shot reply window with the timer semantics the requesters rely on:
// enabling a timer that is already running does not restart it, so a second
// request inside an open window is answered at the end of the first; changing
// the interval of a running timer restarts it with the new length.
// QTimer::start() always restarts, hence this wrapper.
//
// The timer is precise: a coarse timer may fire up to 5 % early, which would
// throw away a reply that arrives just inside its window.  A window may end
// late when the thread is busy, never early.
#pragma once

#include <QObject>
#include <QTimer>

namespace qvx {

class ReplyTimer : public QObject {
    Q_OBJECT
public:
    explicit ReplyTimer(int intervalMs, QObject *parent = nullptr, bool periodic = false) : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(!periodic);
        m_timer.setInterval(intervalMs);
        connect(&m_timer, &QTimer::timeout, this, &ReplyTimer::timeout);
    }

    void enable()
    {
        if (!m_timer.isActive())
            m_timer.start();
    }
    void disable() { m_timer.stop(); }
    void setEnabled(bool on) { on ? enable() : disable(); }
    bool isEnabled() const { return m_timer.isActive(); }

    void setInterval(int ms)
    {
        if (ms == m_timer.interval())
            return;
        const bool running = m_timer.isActive();
        m_timer.setInterval(ms);
        if (running)
            m_timer.start();
    }
    int interval() const { return m_timer.interval(); }
    // Ends the window now, as if its time had run out.
    void fireNow()
    {
        m_timer.stop();
        emit timeout();
    }

signals:
    void timeout();

private:
    QTimer m_timer;
};

} // namespace qvx
