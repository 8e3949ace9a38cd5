#include "monitor/traffic_tap.h"

#include "transport/session.h"

#include <chrono>

namespace qvx {
namespace {
qint64 nowUsec()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
} // namespace

TrafficTap::TrafficTap(Session &session, QObject *parent) : QObject(parent), m_session(session)
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(IdleCloseMs + 5);
    connect(&m_idle, &QTimer::timeout, this, &TrafficTap::idle);
    Comm2 &c = session.comm2();
    connect(&c, &Comm2::bytesWrittenTap, this,
            [this](const QByteArray &b, qint64 t) { serial(TrafficDir::Tx, b, t); });
    connect(&c, &Comm2::bytesReadTap, this,
            [this](const QByteArray &b, qint64 t) { serial(TrafficDir::Rx, b, t); });
    XportSocket &s = session.socket();
    connect(&s, &XportSocket::bytesWrittenTap, this,
            [this](const QByteArray &b, qint64 t) { tcp(TrafficDir::Tx, b, t); });
    connect(&s, &XportSocket::bytesReadTap, this,
            [this](const QByteArray &b, qint64 t) { tcp(TrafficDir::Rx, b, t); });
}

void TrafficTap::serial(TrafficDir dir, const QByteArray &bytes, qint64 usec)
{
    // The readout writes its sign-on just before it sets the capture flag.
    const bool iec = m_session.ReadoutCaptureActive || (dir == TrafficDir::Tx && isIecSignOn(bytes));
    m_serial.setBaudRate(m_session.comm2().lineSettings().baudRate);
    deliver(m_serial.push(dir, iec ? TrafficLink::Iec : TrafficLink::Rtu, usec, bytes));
    m_idle.start();
}

void TrafficTap::tcp(TrafficDir dir, const QByteArray &bytes, qint64 usec)
{
    deliver(m_tcp.push(dir, TrafficLink::Tcp, usec, bytes));
    m_idle.start();
}

void TrafficTap::idle()
{
    const qint64 now = nowUsec();
    const qint64 idleUsec = IdleCloseMs * 1000;
    QList<TrafficFrame> done = m_serial.flush(now, idleUsec);
    done += m_tcp.flush(now, idleUsec);
    deliver(done);
    if (m_serial.pending() || m_tcp.pending())
        m_idle.start();
}

void TrafficTap::flushAll()
{
    QList<TrafficFrame> done = m_serial.flush(0, 0, true);
    done += m_tcp.flush(0, 0, true);
    deliver(done);
}

void TrafficTap::deliver(const QList<TrafficFrame> &done)
{
    if (!done.isEmpty())
        emit frames(done);
}

} // namespace qvx
