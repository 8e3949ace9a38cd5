// Arbitrary bytes as a readout's capture, delivered in receive events whose
// sizes come from the input itself:
//   - the end of the message depends only on the bytes up to it: the first
//     event after which the message is complete gives the same end as the
//     whole capture, and its BCC is the XOR after STX through ETX;
//   - a found identification line starts with "/" and ends at a line feed;
//   - the framing check and the OBIS functions take any text, and a code the
//     meter slot takes parses again to the same value groups.
#include "iec/iec_protocol.h"
#include "iec/obis.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype eventSize = qsizetype(data[0]) + 1;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const qvx::IecMessageEnd whole = qvx::FindIecMessageEnd(input);
    if (whole.complete) {
        if (whole.length > input.size() || input.at(whole.length - 2) != qvx::IecEtx)
            std::abort();
        if (whole.received != uint8_t(input.at(whole.length - 1)))
            std::abort();
    }
    qvx::IecMessageEnd first;
    for (qsizetype at = eventSize; !first.complete; at += eventSize) {
        first = qvx::FindIecMessageEnd(input.left(qMin(at, input.size())));
        if (at >= input.size())
            break;
    }
    if (first.complete != whole.complete || first.length != whole.length || first.computed != whole.computed)
        std::abort();

    const qvx::IecIdentification id = qvx::FindIecIdentification(input);
    if (id.found && (!id.line.startsWith('/') || id.end > input.size() || input.at(id.end - 1) != '\n'))
        std::abort();

    for (int bits : {7, 8})
        for (bool parity : {false, true})
            (void)qvx::IecFramingCheck(input, bits, parity);

    const QString text = QString::fromLatin1(input.left(input.indexOf('(')));
    (void)qvx::ObisDescription(text);
    for (bool longObis : {false, true}) {
        const auto slot = qvx::ObisForMeterSlot(text, longObis);
        if (!slot)
            continue;
        const auto a = qvx::ParseObisCode(text), b = qvx::ParseObisCode(*slot);
        if (!a || !b || a->c != b->c || a->d != b->d || a->e != b->e)
            std::abort();
    }
    return 0;
}
