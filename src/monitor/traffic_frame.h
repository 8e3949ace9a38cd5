// What the traffic monitor shows: the frames on the serial line (Modbus RTU or
// the IEC 62056-21 readout) and on the Modbus TCP connection, grouped from the
// bytes as they were written and read, the way a line analyser groups them.
//
// The grouping only serves the display; how the tool reads its replies does
// not depend on it.
#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <optional>

namespace qvx {

enum class TrafficLink : uint8_t { Rtu, Tcp, Iec };
enum class TrafficDir : uint8_t { Tx, Rx };

struct TrafficFrame {
    qint64 usec = 0; // time of the first chunk, microseconds since the epoch (UTC)
    TrafficDir dir = TrafficDir::Tx;
    TrafficLink link = TrafficLink::Rtu;
    QByteArray bytes;
    // IEC: the frame ends an STX .. ETX block with its block check character;
    // whether the character matched the block.
    enum class BlockCheck : uint8_t { None, Good, Bad } blockCheck = BlockCheck::None;
    bool operator==(const TrafficFrame &) const = default;
};

// 3.5 character times of 11 bits at the line's rate, in microseconds; above
// 19200 Bd the fixed 1750 us that Modbus RTU prescribes.  A rate <= 0 counts
// as 19200.
qint64 rtuSilenceUsec(int baudRate);
// One character (11 bits) at the rate, in microseconds.
qint64 charTimeUsec(int baudRate);

// True for the IEC 62056-21 sign-on request "/?...!" CR LF, which the readout
// writes just before its capture starts.
bool isIecSignOn(const QByteArray &bytes);

// Groups chunks of one link into frames.
//  RTU: a silence longer than 3.5 character times ends a frame.  A chunk's
//       bytes are taken to have arrived one character time apart up to its
//       time stamp (received) or to start at its time stamp once the bytes
//       before them have left (sent).
//  TCP: the MBAP header's length field ends a frame; bytes beyond a frame
//       start the next one.
//  IEC: a line end (LF), the block check character after ETX or EOT, or a
//       silence of 3.5 characters at 300 Bd (the rate a meter starts at) end
//       a frame.
// A change of direction or link ends the frame before it.  An RTU reply that
// starts with the exact bytes of the request before it is split into the echo
// and the rest.
class FrameGrouper {
public:
    void setBaudRate(int baudRate) { m_baud = baudRate; }
    int baudRate() const { return m_baud; }

    // Adds a chunk; returns the frames it completed, oldest first.
    QList<TrafficFrame> push(TrafficDir dir, TrafficLink link, qint64 usec, const QByteArray &bytes);
    // Frames whose silence has passed by nowUsec (minimum idle: idleUsec, so
    // that a chunk delayed in the event loop is not cut off), or all with
    // force.
    QList<TrafficFrame> flush(qint64 nowUsec, qint64 idleUsec = 50000, bool force = false);
    bool pending() const { return m_open.has_value(); }

private:
    qint64 silenceUsec(TrafficLink link) const;
    void close(QList<TrafficFrame> &out);
    void splitTcp(QList<TrafficFrame> &out);

    int m_baud = 19200;
    std::optional<TrafficFrame> m_open;
    qint64 m_lastEnd = 0; // estimated time the last byte of the open frame was on the line
    qint64 m_lastStamp = 0;
    QByteArray m_lastRtuRequest;
    // IEC block check: running XOR since STX, and the next byte is the BCC.
    bool m_inBlock = false;
    bool m_bccNext = false;
    uint8_t m_bcc = 0;
};

} // namespace qvx
