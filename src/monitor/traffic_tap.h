// Listens to both links' taps and groups what passes into frames for the
// traffic monitor.  A serial frame belongs to the IEC readout while its
// capture runs (and the sign-on request that starts it); otherwise to Modbus
// RTU.
#pragma once

#include "monitor/traffic_frame.h"

#include <QList>
#include <QObject>
#include <QTimer>

namespace qvx {

class Session;

class TrafficTap : public QObject {
    Q_OBJECT
public:
    // Frames are closed this long after their last chunk at the latest when
    // nothing else arrives, so a late read in a busy event loop does not cut
    // a frame in two.
    static constexpr int IdleCloseMs = 50;

    explicit TrafficTap(Session &session, QObject *parent = nullptr);

    // Closes the frames still open (for instance before an export).
    void flushAll();

signals:
    void frames(const QList<qvx::TrafficFrame> &frames);

private:
    void serial(TrafficDir dir, const QByteArray &bytes, qint64 usec);
    void tcp(TrafficDir dir, const QByteArray &bytes, qint64 usec);
    void deliver(const QList<TrafficFrame> &done);
    void idle();

    Session &m_session;
    FrameGrouper m_serial;
    FrameGrouper m_tcp;
    QTimer m_idle;
};

} // namespace qvx
