// The traffic monitor's plain code on whatever crosses a line.  The input is
// a list of chunks: one control byte (bit 0: received, bits 1-2: link, bits
// 3-7: pause before the chunk in milliseconds) and a length byte, then the
// chunk.  Properties: grouping loses and adds no byte of a direction, every
// frame decodes, and the capture file is a well-formed block list holding
// each frame.
#include "monitor/pcapng_writer.h"
#include "monitor/traffic_decode.h"
#include "monitor/traffic_frame.h"

#include <QtEndian>
#include <cstddef>
#include <cstdint>

namespace {
void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace qvx;
    FrameGrouper g;
    g.setBaudRate(size ? 300 * (1 + data[0] % 64) : 19200);
    QList<TrafficFrame> frames;
    QByteArray sent[2], seen[2];
    qint64 t = 1000000;
    size_t at = size ? 1 : 0;
    while (at + 2 <= size) {
        const uint8_t control = data[at];
        const size_t len = std::min<size_t>(data[at + 1], size - at - 2);
        const QByteArray chunk(reinterpret_cast<const char *>(data + at + 2), static_cast<qsizetype>(len));
        at += 2 + len;
        const auto dir = (control & 1) ? TrafficDir::Rx : TrafficDir::Tx;
        const auto link = static_cast<TrafficLink>(((control >> 1) & 3) % 3);
        t += (control >> 3) * 1000;
        sent[control & 1] += chunk;
        frames += g.push(dir, link, t, chunk);
        frames += g.flush(t, 50000);
    }
    frames += g.flush(0, 0, true);
    check(!g.pending());
    PcapngWriter w;
    QByteArray last;
    for (const TrafficFrame &f : frames) {
        seen[f.dir == TrafficDir::Rx ? 1 : 0] += f.bytes;
        const FrameSummary s = decodeTrafficFrame(f, last);
        if (f.dir == TrafficDir::Tx)
            last = f.bytes;
        w.add(f, s.text);
    }
    check(seen[0] == sent[0] && seen[1] == sent[1]);
    const QByteArray &file = w.bytes();
    qsizetype pos = 0;
    int blocks = 0;
    while (pos + 12 <= file.size()) {
        const quint32 len = qFromLittleEndian<quint32>(file.constData() + pos + 4);
        check(len >= 12 && len % 4 == 0 && pos + len <= file.size());
        check(qFromLittleEndian<quint32>(file.constData() + pos + len - 4) == len);
        pos += len;
        ++blocks;
    }
    check(pos == file.size() && blocks == 2 + frames.size());
    return 0;
}
