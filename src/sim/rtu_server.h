// Modbus RTU service over a byte channel: frames found by length and CRC,
// handed to the device, the reply sent back through the fault switches and,
// with pacing, at the line's speed.  A change of the RTU port settings that
// the device accepts takes effect once the reply carrying its acknowledgement
// has left.
#pragma once

#include "sim/frames.h"
#include "sim/link_common.h"

namespace qvxsim {

class RtuServer : public QObject {
    Q_OBJECT
public:
    // The channel stays owned by the caller and must outlive the server.
    RtuServer(Device &device, ByteChannel *channel, const LinkOptions &options, QObject *parent = nullptr);

    void setFaults(const Faults &faults) { options_.faults = faults; }
    void setPace(bool pace) { options_.pace = pace; }
    // Replies (to this device's address) handled so far.
    quint64 requestsHandled() const { return replies_; }

    // Partial frames are dropped after this much silence on the line.
    static constexpr int SilenceMs = 100;

private:
    void onReceived(const QByteArray &bytes);
    void handleFrame(const QByteArray &frame);
    void afterSend();

    Device &device_;
    ByteChannel *channel_;
    LinkOptions options_;
    RtuFramer framer_;
    Transmitter transmitter_;
    QTimer silence_;
    LineSettings applied_;
    quint64 replies_ = 0;
};

} // namespace qvxsim
