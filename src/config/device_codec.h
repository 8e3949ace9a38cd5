// The encodings of the device's configuration registers and the plain-text
// lines of the settings readout.  Plain functions over texts and byte strings
// (no widgets, no I/O): the command buttons and the readout sequence only
// read their controls, call these and write the log.
//
// Configuration registers (holding registers):
//   7             option flags: read = one bit per flag in the low byte;
//                 written as a flag command (flag number, +128 to set)
//   100           period of the device's meter readout, minutes
//   32785         the device's Modbus unit address
//   32786         Modbus RTU port: baud code << 4 | parity code
//   32787         IEC 62056-21 port: baud code << 4 | data bits (bit 3) |
//                 parity code (bits 1..0)
//   55400/55402/55404  IPv4 address, gateway, mask: four octets, dotted order
//   55418         TCP idle time, ms, unsigned 32-bit, high word first
#pragma once

#include "transport/reply_check.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace qvx {

namespace DeviceRegister {
inline constexpr int Flags = 7;
inline constexpr int ReadoutMinutes = 100;
inline constexpr int UnitAddress = 32785;
inline constexpr int RtuLine = 32786;
inline constexpr int IecLine = 32787;
inline constexpr int IpAddress = 55400;
inline constexpr int Gateway = 55402;
inline constexpr int Mask = 55404;
inline constexpr int TcpIdle = 55418;
} // namespace DeviceRegister

// "10.1.2.3" -> the four octets, first field first.  Fails unless there are
// exactly three dots and four decimal fields of 0..255.
std::optional<std::array<uint8_t, 4>> ParseIPv4Text(const QString &text);

// A decimal integer as typed or pasted: an optional sign and 1 to 18 digits,
// nothing else (no spaces).  Fails otherwise.
std::optional<qint64> decimalValue(const QString &text);

// The nine texts the device has a baud-rate code for, in code order.
QStringList baudRateTexts();
// Code of a baud-rate text (exact, case-sensitive), -1 when there is none.
int baudRateCode(const QString &text);
// The parity texts as the parity box lists them.
QStringList parityTexts();
// "Even" 0, "Odd" 1, "None" 2 (exact, case-sensitive); -1 otherwise.
int parityCode(const QString &text);
// Low byte of 32786/32787 as the tool writes it: baud code * 16 + parity.
uint8_t lineSettingsByte(int baudCode, int parityCode);

// The flag items of the flag box, in list order.
QStringList flagItems();
// Flag number of an item (exact text), -1 when it is not one of them.
int flagNumber(const QString &item);
// The low byte of a flag command: the flag number, plus 128 to set.
uint8_t flagCommandValue(int flagNumber, bool set);

// The data bytes of a read reply that passed CheckReply: those after the
// byte count, before the CRC, and no more than the byte count announces.
QByteArray replyDataBytes(const ReplyCheck &check);

// --- lines of the settings readout (data = replyDataBytes) -----------------
// Each fails (nothing to show) when the reply carries fewer data bytes than
// the line is made of.
std::optional<QString> ipv4Line(const QString &prefix, const QByteArray &data);
std::optional<QString> tcpIdleLine(const QByteArray &data);
std::optional<QString> iecSerialLine(const QByteArray &data);
std::optional<QString> readoutIntervalLine(const QByteArray &data);

// The flag register read back: six lines and the states of the meter tab's
// three option boxes.
struct FlagReadout {
    QStringList lines;
    bool values64bit = false;
    bool sixteenDigitId = false;
    bool longObis = false;
};
FlagReadout flagReadout(uint8_t flags);
std::optional<FlagReadout> flagReadout(const QByteArray &data);

// The identification text of a device identification reply that passed its
// checks: every byte from the number-of-objects field up to the CRC, a byte
// of 30 or less shown as a space.  Empty for a reply without objects.
QString firmwareText(const ReplyCheck &check);

// One step of the settings readout: the reply (RTU form) of the request sent
// for registers 55400 (step 7), 55402 (8), 55404 (9), 55418 (10), 7 (11),
// 32787 (12) or 100 (13) decoded into its check and lines.  A reply that
// fails its checks gives only the check's messages and no option boxes.
struct SettingsStepResult {
    ReplyCheck check;
    QStringList lines;
    std::optional<FlagReadout> flags; // step 11 only
};
SettingsStepResult decodeSettingsStep(int step, const QByteArray &reply);

// The request of a step: register and count; nothing for steps outside 7..13.
struct StepRequest {
    int address;
    int count;
};
std::optional<StepRequest> settingsStepRequest(int step);

} // namespace qvx
