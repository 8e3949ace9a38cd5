// Fault injection: the faults technicians meet on real lines, each a switch.
// The byte-level faults are a pure function of request and reply; the timing
// faults (delay, drop, split) become a plan of chunks that a link sends with
// pauses between them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <cstdint>

namespace qvxsim {

struct Faults {
    int delayMs = 0;               // the reply starts this late
    bool dropReplies = false;      // the reply is not sent at all
    bool corruptCrc = false;       // RTU: both CRC bytes inverted (TCP has no CRC: no effect)
    bool trailingZero = false;     // one 0x00 byte after the reply
    int splitPauseMs = -1;         // >= 0: the reply goes out in two halves with this pause between
    bool strayLeadingByte = false; // one stray byte before the reply
    uint8_t strayByte = 0x00;
    bool echoRequest = false; // the request comes back before the reply (2-wire adapter)
    bool otherUnit = false;   // the reply carries another unit address (unit % 247 + 1)
    // Requests that touch any of these registers get exceptionCode instead of
    // being carried out.
    QList<QPair<int, int>> exceptionRanges;
    uint8_t exceptionCode = 4;
    // The switches above (except the exception ranges, which always hold)
    // act on every N-th reply only; 1 = every reply.
    int every = 1;

    bool any() const;
    // The faults for the replyNumber-th reply (1-based) of a link.
    Faults forReply(quint64 replyNumber) const;
    // True when the request PDU reads or writes a register of exceptionRanges.
    bool exceptionFor(const QByteArray &pdu) const;
};

enum class Framing { Rtu, Tcp };

// The whole request frame (RTU) or ADU (TCP) and the device's reply to it;
// returns the bytes to put on the wire.  An empty reply (the device stays
// silent) stays empty unless an exception address turns it into an answer.
QByteArray applyByteFaults(const Faults &faults, Framing framing, const QByteArray &request,
                           const QByteArray &reply);

// A piece of a reply and the pause before it.
struct Chunk {
    int pauseMs = 0;
    QByteArray bytes;
};
// How the bytes go out: delay before the first chunk, a split into two
// chunks; an empty list when the reply is dropped.
QList<Chunk> planReply(const Faults &faults, const QByteArray &bytes);

// "100,200-210,55400" -> register ranges; false on a malformed list.
bool parseAddressList(const QString &text, QList<QPair<int, int>> *ranges);

} // namespace qvxsim
