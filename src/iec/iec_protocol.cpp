#include "iec/iec_protocol.h"

#include <bit>

namespace qvx {

uint8_t IecBcc(QByteArrayView bytes)
{
    const qsizetype stx = bytes.indexOf(IecStx);
    uint8_t bcc = 0;
    if (stx < 0)
        return 0;
    for (qsizetype i = stx + 1; i < bytes.size(); ++i) {
        bcc ^= static_cast<uint8_t>(bytes[i]);
        if (bytes[i] == IecEtx)
            break;
    }
    return bcc;
}

IecMessageEnd FindIecMessageEnd(QByteArrayView capture)
{
    IecMessageEnd r;
    // The identification line holds no STX, so the first one starts the
    // message whatever came before it (a DEL, noise, a damaged line).
    const qsizetype stx = capture.indexOf(IecStx);
    if (stx < 0)
        return r;
    const qsizetype etx = capture.indexOf(IecEtx, stx + 1);
    if (etx < 0 || etx + 1 >= capture.size())
        return r;
    r.complete = true;
    r.length = etx + 2;
    r.computed = IecBcc(capture.sliced(stx, etx + 1 - stx));
    r.received = static_cast<uint8_t>(capture[etx + 1]);
    return r;
}

uint16_t IecP1Crc16(QByteArrayView bytes)
{
    uint16_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Where the telegram's identification line starts ("/" with no "(" before it
// on its line, not a sign-on request "/?"), searched before limit; -1 if none.
qsizetype telegramSlash(QByteArrayView capture, qsizetype limit)
{
    qsizetype lineStart = 0;
    while (lineStart < limit) {
        const qsizetype lf = capture.indexOf('\n', lineStart);
        const qsizetype lineEnd = lf < 0 || lf > limit ? limit : lf;
        const QByteArrayView line = capture.sliced(lineStart, lineEnd - lineStart);
        const qsizetype slash = line.indexOf('/');
        const qsizetype open = line.indexOf('(');
        if (slash >= 0 && (open < 0 || open > slash) && !(slash + 1 < line.size() && line[slash + 1] == '?'))
            return lineStart + slash;
        if (lf < 0 || lf >= limit)
            break;
        lineStart = lf + 1;
    }
    return -1;
}

// The first "!" after from that is outside a group.
qsizetype telegramBang(QByteArrayView capture, qsizetype from)
{
    bool inGroup = false;
    for (qsizetype i = from; i < capture.size(); ++i) {
        const char c = capture[i];
        if (c == '(')
            inGroup = true;
        else if (c == ')' || c == '\n')
            inGroup = false;
        else if (c == '!' && !inGroup)
            return i;
    }
    return -1;
}

std::optional<IecP1Crc> crcAfter(QByteArrayView capture, qsizetype slash, qsizetype bang)
{
    if (bang + 4 >= capture.size())
        return std::nullopt;
    uint16_t received = 0;
    for (int k = 1; k <= 4; ++k) {
        const int d = hexDigit(capture[bang + k]);
        if (d < 0)
            return std::nullopt;
        received = static_cast<uint16_t>(received << 4 | d);
    }
    IecP1Crc crc;
    crc.received = received;
    crc.computed = IecP1Crc16(capture.sliced(slash, bang + 1 - slash));
    crc.length = bang + 5;
    return crc;
}

} // namespace

std::optional<IecP1Crc> FindIecP1Crc(QByteArrayView capture)
{
    const qsizetype stx = capture.indexOf(IecStx);
    const qsizetype slash = telegramSlash(capture, stx < 0 ? capture.size() : stx);
    if (slash < 0)
        return std::nullopt;
    const qsizetype bang = telegramBang(capture, slash);
    if (bang < 0)
        return std::nullopt;
    return crcAfter(capture, slash, bang);
}

QString IecP1CrcText(const IecP1Crc &crc)
{
    if (crc.ok())
        return QStringLiteral("CRC OK");
    auto hex4 = [](uint16_t v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); };
    return QStringLiteral("CRC error (computed %1, received %2)").arg(hex4(crc.computed), hex4(crc.received));
}

IecTelegramEnd FindIecTelegramEnd(QByteArrayView capture)
{
    IecTelegramEnd r;
    const qsizetype stx = capture.indexOf(IecStx);
    const qsizetype slash = telegramSlash(capture, stx < 0 ? capture.size() : stx);
    if (stx >= 0) {
        // A data message: its end is ETX and the BCC, as a readout's.
        r.dataMessage = true;
        r.message = FindIecMessageEnd(capture);
        r.complete = r.message.complete;
        r.length = r.message.length;
        return r;
    }
    if (slash < 0)
        return r;
    const qsizetype bang = telegramBang(capture, slash);
    if (bang < 0)
        return r;
    const qsizetype lf = capture.indexOf('\n', bang);
    if (lf < 0)
        return r;
    r.complete = true;
    r.length = lf + 1;
    r.crc = crcAfter(capture.first(lf), slash, bang);
    return r;
}

int IecModeCBaud(char baudChar)
{
    static constexpr int Rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200};
    if (baudChar < '0' || baudChar > '6')
        return 0;
    return Rates[baudChar - '0'];
}

IecIdentification FindIecIdentification(QByteArrayView capture)
{
    IecIdentification r;
    qsizetype from = 0;
    for (;;) {
        const qsizetype slash = capture.indexOf('/', from);
        if (slash < 0)
            return r;
        const qsizetype lf = capture.indexOf('\n', slash);
        if (lf < 0)
            return r;
        QByteArrayView line = capture.sliced(slash, lf - slash);
        if (line.endsWith('\r'))
            line.chop(1);
        // "/XXXZ" at least: three letters of the maker, then the baud
        // character; anything shorter is not the identification.
        // A line that holds STX or ETX is the data message, not the
        // identification.
        if (line.size() >= 5 && !line.contains(IecStx) && !line.contains(IecEtx)) {
            r.found = true;
            r.line = line.toByteArray();
            r.baudChar = line[4];
            r.modeCBaud = IecModeCBaud(r.baudChar);
            r.end = lf + 1;
            return r;
        }
        from = lf + 1;
    }
}

QByteArray IecAckForReadout(char baudChar)
{
    QByteArray ack;
    ack += IecAck;
    ack += '0';
    ack += baudChar;
    ack += '0';
    ack += "\r\n";
    return ack;
}

int IecAckPauseMs(int baud, int bitsPerChar)
{
    if (baud <= 0)
        return 0;
    // The six characters of the acknowledgement must have left at the old
    // rate before the port changes it; the meter answers at the new rate no
    // sooner than 200 ms after them, so a short margin is safe.
    constexpr int AckChars = 6;
    constexpr int MarginMs = 30;
    return (AckChars * bitsPerChar * 1000 + baud - 1) / baud + MarginMs;
}

namespace {

bool oddBits7(uint8_t b)
{
    return (std::popcount(static_cast<unsigned>(b & 0x7F)) & 1) != 0;
}

// A character an IEC readout is made of: printable ASCII and the line and
// block controls.
bool readoutChar(uint8_t b)
{
    return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == IecStx || b == IecEtx;
}

} // namespace

std::optional<IecFramingHint> IecFramingCheck(QByteArrayView capture, int dataBits, bool parityOn)
{
    // Too few bytes say nothing about a pattern.
    constexpr qsizetype MinBytes = 16;
    const qsizetype n = capture.size();
    if (n < MinBytes)
        return std::nullopt;

    if (dataBits == 8 && !parityOn) {
        qsizetype top = 0, even = 0, odd = 0, text = 0;
        for (char c : capture) {
            const auto b = static_cast<uint8_t>(c);
            const bool hi = (b & 0x80) != 0;
            top += hi ? 1 : 0;
            even += hi == oddBits7(b) ? 1 : 0;
            odd += hi != oddBits7(b) ? 1 : 0;
            text += readoutChar(b & 0x7F) ? 1 : 0;
        }
        // Plain 7-bit text has no top bits; a parity bit sets it on about
        // half of all characters, always in step with the other seven bits.
        if (top * 10 < n || text * 10 < n * 9)
            return std::nullopt;
        const bool isEven = even * 100 >= n * 98;
        const bool isOdd = odd * 100 >= n * 98;
        if (!isEven && !isOdd)
            return std::nullopt;
        IecFramingHint h;
        h.dataBits = 7;
        h.parity = isEven ? QStringLiteral("Even") : QStringLiteral("Odd");
        h.message = QStringLiteral("The answer looks like 7-bit data with %1 parity read as 8 data bits "
                                   "without parity: choose Data bits 7 and Parity %2 on the Settings tab")
                        .arg(h.parity.toLower(), h.parity);
        return h;
    }

    if (dataBits == 7 && parityOn) {
        // 8-bit data sends a 0 where the parity bit is expected: the
        // characters that then fail the check arrive as NUL, or not at all.
        qsizetype nul = 0, evenChars = 0, oddChars = 0, cr = 0, lf = 0;
        for (char c : capture) {
            const auto b = static_cast<uint8_t>(c);
            nul += b == 0 ? 1 : 0;
            oddChars += oddBits7(b) ? 1 : 0;
            evenChars += !oddBits7(b) && b != 0 ? 1 : 0;
            cr += b == '\r' ? 1 : 0;
            lf += b == '\n' ? 1 : 0;
        }
        const bool nulRiddled = nul * 10 >= n;
        // Only one parity class survived: CR (odd) and LF (even) never both.
        const bool oneClass = (oddChars == 0 || evenChars == 0) && nul == 0 && (cr == 0) != (lf == 0);
        if (!nulRiddled && !oneClass)
            return std::nullopt;
        IecFramingHint h;
        h.dataBits = 8;
        h.parity = QStringLiteral("None");
        h.message = QStringLiteral("The answer looks like 8-bit data without parity read as 7 data bits "
                                   "with parity: choose Data bits 8 and Parity None on the Settings tab");
        return h;
    }
    return std::nullopt;
}

} // namespace qvx
