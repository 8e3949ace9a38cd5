// The simulated device's side of Modbus framing: whole RTU frames and TCP
// ADUs in, whole replies out, and the framers that find requests in a byte
// stream that arrives in pieces.  No I/O.
#pragma once

#include "sim/device.h"

#include <QByteArray>
#include <QList>

namespace qvxsim {

// One RTU request frame (unit, PDU, CRC) in, the RTU reply out.  Empty when
// the device stays silent: a bad CRC, a frame too short, another unit
// address, or a broadcast (unit 0, carried out without a reply).  The reply
// carries the unit address of the request, so a new unit address written to
// 32785 takes effect after this reply.
QByteArray handleRtuFrame(Device &device, const QByteArray &frame);

// One Modbus TCP ADU (MBAP header + PDU) in, the reply ADU out.  The device
// answers its own unit address and also 0 and 255 (the usual "this device"
// on TCP); other unit ids and a protocol id other than 0 get no answer.
QByteArray handleTcpAdu(Device &device, const QByteArray &adu);

// Length of the RTU request that starts the buffer, CRC included, as far as
// the function code tells it: 0 when more bytes are needed to know, -1 when
// the function does not tell (the framer then looks for a matching CRC).
int rtuRequestLength(const QByteArray &head);

// Finds request frames in a serial byte stream by their length and CRC.
// Bytes that do not begin a frame with a good CRC are dropped one at a time
// until a frame lines up again.  A link calls clear() after a silence on the
// line, as a real device resynchronises on the inter-frame gap.
class RtuFramer {
public:
    static constexpr int MaxFrame = 264;
    QList<QByteArray> feed(const QByteArray &bytes);
    void clear() { buffer_.clear(); }
    qsizetype pending() const { return buffer_.size(); }

private:
    QByteArray buffer_;
};

// Splits a TCP byte stream into ADUs by the MBAP length field.  Returns false
// when the stream cannot be Modbus TCP (length out of range): the server then
// closes the connection.
class TcpFramer {
public:
    bool feed(const QByteArray &bytes, QList<QByteArray> *adus);

private:
    QByteArray buffer_;
};

} // namespace qvxsim
