// The pieces of IEC 62056-21 a readout needs beyond capturing lines: where a
// data message ends and whether its block check character holds, what the
// identification line announces, the acknowledgement of mode C, and a hint
// when the bytes show that the port's framing does not match the meter's.
// Plain functions over bytes, shared by the readout tab and the command-line
// tool.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

namespace qvx {

inline constexpr char IecStx = 0x02;
inline constexpr char IecEtx = 0x03;
inline constexpr char IecAck = 0x06;

// XOR of every byte after the first STX up to and including the first ETX
// after it (0 when there is no STX).
uint8_t IecBcc(QByteArrayView bytes);

// The data message in a capture: STX, data, ETX, block check character.
struct IecMessageEnd {
    bool complete = false; // ETX and the byte after it have arrived
    qsizetype length = 0;  // bytes of the capture up to and including the BCC
    uint8_t computed = 0;  // XOR after STX through ETX
    uint8_t received = 0;  // the byte after ETX
    bool bccOk() const { return complete && computed == received; }
};
// Looks for the message: the first STX, then the first ETX after it.  Bytes
// before the STX (a leading DEL, the identification line) are not part of
// the check, and the end depends only on the bytes up to it.
IecMessageEnd FindIecMessageEnd(QByteArrayView capture);

// A telegram of the Dutch and Belgian P1 kind: "/" through "!", then four
// hexadecimal digits, the CRC-16 (reflected polynomial 0xA001, initial value
// 0, no final XOR) of every byte from the "/" through the "!".
struct IecP1Crc {
    uint16_t computed = 0;
    uint16_t received = 0;
    qsizetype length = 0; // bytes of the capture up to and including the last hex digit
    bool ok() const { return computed == received; }
};
uint16_t IecP1Crc16(QByteArrayView bytes);
// The telegram starts at its identification line (as ParseIecDataSets finds
// it, so a partial telegram before it is not taken); nothing when there is
// none, no "!" after it yet, or the "!" is not followed by four hexadecimal
// digits (a telegram without a CRC, or the digits still to come).
std::optional<IecP1Crc> FindIecP1Crc(QByteArrayView capture);
// "CRC OK" or "CRC error (computed XXXX, received YYYY)", upper-case hex.
QString IecP1CrcText(const IecP1Crc &crc);

// The end of a telegram a meter sends by itself.  It starts at an
// identification line or an STX (bytes before it, the rest of a telegram
// joined late, are passed over); one with an STX ends with ETX and the block
// check character, one without with the line feed after its "!" (and after
// the CRC digits when the line has them).
struct IecTelegramEnd {
    bool complete = false;
    qsizetype length = 0; // bytes of the capture up to and including the last byte of the telegram
    bool dataMessage = false;        // started with STX: message holds the BCC check
    IecMessageEnd message;           // with dataMessage
    std::optional<IecP1Crc> crc;     // without: the CRC when the "!" line has one
};
IecTelegramEnd FindIecTelegramEnd(QByteArrayView capture);

// The identification line "/XXXZ<ident>" CR LF (or LF alone).
struct IecIdentification {
    bool found = false;
    QByteArray line;   // from "/" to the end, without CR LF
    char baudChar = 0; // fifth character: Z
    int modeCBaud = 0; // the rate Z announces in mode C ('0'..'6'), else 0
    qsizetype end = 0; // bytes of the capture up to and including its LF
};
// The first complete identification line in a capture; bytes before its "/"
// (a DEL some meters send first, noise) are skipped, and so is a line that
// holds STX or ETX.
IecIdentification FindIecIdentification(QByteArrayView capture);

// The rate a mode C baud character stands for: '0' 300, '1' 600, '2' 1200,
// '3' 2400, '4' 4800, '5' 9600, '6' 19200; 0 for any other character.
int IecModeCBaud(char baudChar);

// The acknowledgement that asks for a data readout at the rate baudChar
// names: ACK "0" Z "0" CR LF.
QByteArray IecAckForReadout(char baudChar);

// Time the acknowledgement takes on the wire at a rate with bitsPerChar bits
// a character, plus the pause before the port may switch its rate, in ms.
int IecAckPauseMs(int baud, int bitsPerChar = 10);

// What the bytes say about the framing: 7-bit data with parity read as 8
// data bits without parity shows the parity bit as the top bit of every
// character; 8-bit data read as 7 bits with parity loses the characters
// whose top bit fails the parity check (the driver or adapter turns them
// into NUL).  Empty when the bytes look right or are too few to tell.
struct IecFramingHint {
    int dataBits = 0; // what to choose
    QString parity;   // "Even", "Odd" or "None"
    QString message;  // the log line
};
std::optional<IecFramingHint> IecFramingCheck(QByteArrayView capture, int dataBits, bool parityOn);

} // namespace qvx
