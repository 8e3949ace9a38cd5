// The checks every Modbus reply passes before its payload is looked at, and
// the register decoder of the register browser.
//
// A reply is whatever a receive buffer held when its reply window ended, in
// RTU form (TCP replies are converted first).  These are plain functions: they
// return what to report instead of reporting it, so the decoders of every tab
// share one set of rules and the rules are tested without a window.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

namespace qvx {

// Text of status-bar panel 2 after a CRC failure.  Nothing clears it again.
inline constexpr int CrcStatusPanel = 2;
inline const QString CrcStatusText = QStringLiteral("Error in CRC field");

// How much a decoder reports.  Almost every decoder reports everything; the
// firmware-version reply leaves panel 2 alone and fails silently on a leading
// zero byte.
enum class ReplyReporting {
    Full,
    FirmwareVersion,
};

enum class ReplyFailure {
    None,        // passed
    Empty,       // nothing received; never reported
    Crc,         // CRC mismatch, or too short to hold unit, function and CRC
    LeadingZero, // byte 0 is 0x00
    Exception,   // function code 0x80 or above
};

struct ReplyCheck {
    bool pass = false;
    ReplyFailure failure = ReplyFailure::Empty;
    // The exception code (byte 2) when failure is Exception.
    int exceptionCode = 0;
    // The frame that was checked: the reply without a trailing filler byte,
    // CRC included.  A passing frame holds at least four bytes.
    QByteArray frame;
    // Lines for the log Memo_current, in order.
    QStringList logLines;
    // True when panel 2 of the status bar must show CrcStatusText.
    bool crcStatus = false;

    // Reports the outcome through anything with log(QString) and
    // setStatus(int, QString) (the Session, in the program).
    template <class Sink> void reportTo(Sink &sink) const
    {
        if (crcStatus)
            sink.setStatus(CrcStatusPanel, CrcStatusText);
        for (const QString &line : logLines)
            sink.log(line);
    }
};

// The common reply checks: filler byte, CRC, leading zero byte, exception
// code.  Pass means the caller may decode the payload from byte 2 of frame on.
ReplyCheck CheckReply(const QByteArray &reply, ReplyReporting reporting = ReplyReporting::Full);

// The log line of an exception code, empty for codes that have none.
QString ExceptionLine(int code);

struct RegisterValue {
    int address = 0;
    uint8_t high = 0;
    uint8_t low = 0;
};

struct RegisterReply {
    ReplyCheck check;
    // One entry per register of a passing reply, addresses counting up from
    // the first address.  Empty when the check failed.
    QVector<RegisterValue> registers;
};

// Runs CheckReply with full reporting and, on pass, splits the data bytes into
// registers (high byte first).  Only registers whose two bytes both lie among
// the data bytes received are returned: an odd byte count drops the half
// register, and a byte count larger than the data received yields only the
// registers present.  The CRC is never read as register content.
RegisterReply DecodeRegisterReply(int firstAddress, const QByteArray &reply);

} // namespace qvx
