// The simulated device's side of Modbus framing: whole RTU frames and TCP
// ADUs in, whole replies out, and the framers that find requests in a byte
// stream that arrives in pieces.  No I/O.
#pragma once

#include "sim/device.h"

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <vector>

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
// the function does not tell (the framer then looks for a matching CRC) or
// tells a length beyond RtuFramer::MaxFrame, which no request has.
int rtuRequestLength(const QByteArray &head);

// Finds request frames in a serial byte stream by their length and CRC.
// Bytes that do not begin a frame with a good CRC are dropped one at a time
// until a frame lines up again.  A link calls clear() after a silence on the
// line, as a real device resynchronises on the inter-frame gap.
//
// The work is linear in the bytes fed, whatever they are: a byte costs at
// most two CRC passes of a frame's length (as the head, and as the start of
// a request of known length after a head that waits), line noise about a
// microsecond a byte (bench/sim_rtu_noise_bench); what was learnt about a
// waiting head carries over to the next piece instead of being worked out
// again.
class RtuFramer {
public:
    static constexpr int MaxFrame = 264;
    QList<QByteArray> feed(const QByteArray &bytes);
    void clear();
    qsizetype pending() const { return buffer_.size() - start_; }

private:
    // The frame at the head when its function does not tell its length:
    // found by its CRC, the search resumed where the last piece left it.
    int unknownLengthFrameAtHead();
    // The first position after the head where a request of known length
    // lies complete with a good CRC; -1 when there is none yet.
    qsizetype nextKnownFrame();
    void consume(qsizetype n);

    QByteArray buffer_;
    qsizetype start_ = 0; // the head: bytes before it are consumed
    // CRC search of a head of unknown length: the register over its first
    // scanned_ bytes (every length up to scanned_ + 1 has been tried).
    qsizetype scanned_ = 0;
    uint16_t crc_ = 0xFFFF;
    // Positions of buffer_ known never to start a request of known length
    // (settled once their bytes are in); searchFrom_: all before it are such.
    std::vector<uint8_t> cannotStart_;
    qsizetype searchFrom_ = 0;
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
