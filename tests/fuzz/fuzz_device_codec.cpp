// Fuzz target for the configuration registers' encodings and the settings
// readout: replies of every step, the firmware text, and the operator's texts
// (IPv4 addresses, numbers, baud-rate, parity and flag texts).
#include "config/device_codec.h"
#include "transport/modbus.h"

#include <cstddef>
#include <cstdint>

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    // The same bytes as a reply of every step, as received and with a
    // correct CRC appended (so that the decoders behind the checks run).
    for (const QByteArray &reply : {input, withCrc(input)}) {
        for (int step = 5; step <= 14; ++step) {
            const SettingsStepResult r = decodeSettingsStep(step, reply);
            if (!r.check.pass && (!r.lines.isEmpty() || r.flags))
                __builtin_trap();
            if (r.flags && (step != 11 || r.lines.size() != 6))
                __builtin_trap();
            const QByteArray d = replyDataBytes(r.check);
            if (d.size() > qMax<qsizetype>(0, r.check.frame.size() - 5))
                __builtin_trap();
            // An address line reads back as the data bytes it was made of.
            if (step >= 7 && step <= 9 && !r.lines.isEmpty()) {
                const QString line = r.lines.first();
                const auto octets = ParseIPv4Text(line.mid(line.indexOf(QLatin1Char(' ')) + 1));
                if (!octets || QByteArray(reinterpret_cast<const char *>(octets->data()), 4) != d.left(4))
                    __builtin_trap();
            }
        }
        const ReplyCheck fw = CheckReply(reply, ReplyReporting::FirmwareVersion);
        const QString text = firmwareText(fw);
        if (text.size() > reply.size())
            __builtin_trap();
        for (QChar c : text)
            if (c.unicode() > 0xFF || (c.unicode() <= 30 && c != QLatin1Char(' ')))
                __builtin_trap();
    }

    // The bytes as typed text.
    const QString typed = QString::fromLatin1(input);
    if (const auto octets = ParseIPv4Text(typed)) {
        if (typed.count(QLatin1Char('.')) != 3)
            __builtin_trap();
        const QString again = QStringLiteral("%1.%2.%3.%4")
                                  .arg((*octets)[0])
                                  .arg((*octets)[1])
                                  .arg((*octets)[2])
                                  .arg((*octets)[3]);
        if (ParseIPv4Text(again) != octets)
            __builtin_trap();
    }
    if (const auto v = decimalValue(typed)) {
        if (typed.isEmpty() || typed.size() > 19 || QString::number(*v).toLongLong() != *v)
            __builtin_trap();
    }
    const int baud = baudRateCode(typed), parity = parityCode(typed), flag = flagNumber(typed);
    if (baud > 8 || parity > 2 || (baud >= 0 && baudRateTexts().at(baud) != typed) ||
        (flag >= 0 && !flagItems().contains(typed)))
        __builtin_trap();
    return 0;
}
