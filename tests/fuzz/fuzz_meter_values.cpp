// Collected-value decoding of whatever a reply window captured.  The first
// byte picks the mode (bit 0: 64-bit), the rest is the reply.  Properties: the
// data bytes lie inside the frame between its byte count and its CRC, every
// whole value is decoded and no more, and each value encodes back to its
// bytes (the 64-bit "no value" only for all FF).
#include "meters/meter_values.h"
#include "transport/reply_check.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void checkValues(QByteArrayView data, bool wide)
{
    const int width = qvx::valueBytes(wide);
    const QVector<std::optional<qint64>> values = qvx::decodeValues(data, wide);
    check(values.size() == data.size() / width);
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QByteArrayView bytes = data.sliced(i * width, width);
        if (!values[i]) {
            check(wide);
            for (char b : bytes)
                check(static_cast<uint8_t>(b) == 0xFF);
            continue;
        }
        auto u = static_cast<uint64_t>(*values[i]);
        for (int k = width - 1; k >= 0; --k, u >>= 8)
            check(static_cast<uint8_t>(bytes[k]) == (u & 0xFF));
        check(u == 0); // a 32-bit value is never wider than its bytes
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool wide = data[0] & 1;
    const QByteArray reply(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    checkValues(QByteArrayView(reply), wide);

    const qvx::ReplyCheck checked = qvx::CheckReply(reply);
    if (!checked.pass)
        return 0;
    const QByteArray &frame = checked.frame;
    const QByteArrayView values = qvx::replyDataBytes(frame);
    if (!values.isEmpty()) {
        check(values.data() == frame.constData() + 3);
        check(values.size() <= static_cast<uint8_t>(frame.at(2)));
        check(3 + values.size() <= frame.size() - 2);
    }
    checkValues(values, wide);
    return 0;
}
