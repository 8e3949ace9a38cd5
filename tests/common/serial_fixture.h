// Steps the serial-link tests share: opening a Session's port on the slave
// side of a pseudo-terminal pair, and filling its output queue.
#pragma once

#include "common/pty_pair.h"
#include "transport/session.h"

namespace qvxtest {

// Opens the session's serial component on the pair's slave side and marks
// the port open, as the "Connect to port" toggle would.
inline void openOnPty(qvx::Session &session, const PtyPair &pty, const qvx::Comm2::LineSettings &s = {})
{
    session.comm2().setDevicePath(pty.slavePath());
    session.comm2().setLineSettings(s);
    session.comm2().open();
    session.SerialPortOpen = true;
}

// Writes until the component's queue stays full: the peer never reads, so the
// pty and then the queue fill up.  False when it never filled.
inline bool fillOutputQueue(qvx::Comm2 &comm)
{
    const QByteArray block(int(qvx::Comm2::TransmitQueueSize), 'x');
    for (int i = 0; i < 1000; ++i) {
        if (!comm.writeText(block))
            return true;
    }
    return false;
}

} // namespace qvxtest
