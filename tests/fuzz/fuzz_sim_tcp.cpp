// The simulator's TCP side on any byte stream: the framer splits it into
// ADUs whose MBAP length matches their size, and the device answers each
// with an ADU that carries the request's transaction and unit id and a
// length field that matches its size.
#include "sim/device.h"
#include "sim/frames.h"

#include <cstddef>
#include <cstdint>

namespace {

int be16(const QByteArray &b, int at)
{
    return uint8_t(b.at(at)) << 8 | uint8_t(b.at(at + 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static qvxsim::Device device;
    qvxsim::TcpFramer framer;
    qsizetype at = 0;
    while (at < qsizetype(size)) {
        const qsizetype n = qMin<qsizetype>(data[at] % 64 + 1, qsizetype(size) - at - 1);
        const QByteArray piece(reinterpret_cast<const char *>(data + at + 1), qMax<qsizetype>(0, n));
        at += 1 + qMax<qsizetype>(0, n);
        QList<QByteArray> adus;
        const bool ok = framer.feed(piece, &adus);
        for (const QByteArray &adu : adus) {
            if (adu.size() < 8 || be16(adu, 4) != adu.size() - 6)
                __builtin_trap();
            const QByteArray reply = qvxsim::handleTcpAdu(device, adu);
            if (reply.isEmpty())
                continue;
            if (reply.size() < 8 || be16(reply, 4) != reply.size() - 6 || reply.left(4) != adu.left(4) ||
                reply.at(6) != adu.at(6))
                __builtin_trap();
        }
        if (!ok)
            return 0; // the server would close the connection here
    }
    return 0;
}
