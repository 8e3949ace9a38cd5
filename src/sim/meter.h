// The simulated electricity meters: what a meter measures, how its readings
// move with time, and the IEC 62056-21 sign-on and readout telegrams.  Plain
// code over byte strings and a simulated clock, no I/O, so that the same
// meters stand behind the gateway's collected values and behind the meter
// that answers on a line.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <cstdint>
#include <optional>

namespace qvxsim {

// One register a meter reports: the OBIS value groups C.D.E, its display
// format and its current reading.
struct MeterRegister {
    int c = 0, d = 0, e = 0;
    QString unit;      // "kWh", "V", ... empty for dimensionless values
    int intDigits = 0; // digits before the point, zero padded
    int decimals = 0;  // digits after the point
    double value = 0;  // in the unit
    // The code as a data line shows it: "1.8.0".
    QString code() const;
    // "0001234.567*kWh" (without the brackets).
    QString formatted() const;
    // The reading as the gateway stores it: the displayed digits with the
    // point removed (0001234.567 -> 1234567), so no scaling is lost.
    qint64 scaled() const;
};

// A meter whose readings are derived from its ID, so that the same ID gives
// the same meter in every run; energy registers grow by the power drawn and
// instantaneous values wander around a base load.
class SimMeter {
public:
    explicit SimMeter(const QString &id, qint64 startMs = 0);

    const QString &id() const { return id_; }
    // Advances the meter to the simulated time nowMs (never backwards).
    void advanceTo(qint64 nowMs);
    const QList<MeterRegister> &registers() const { return registers_; }
    // The register with the value groups C.D.E, if the meter has it.
    const MeterRegister *find(int c, int d, int e) const;
    // The data lines of a readout, "1.8.0(0001234.567*kWh)" etc., without
    // line ends.  Time and date lines use wallClock.
    QList<QByteArray> dataLines(const QDateTime &wallClock) const;

private:
    void updateInstantaneous();
    MeterRegister &reg(int c, int d, int e);

    QString id_;
    uint32_t seed_ = 0;
    qint64 nowMs_ = 0;
    double baseKw_ = 1.0;
    double pvKw_ = 0.0;
    QList<MeterRegister> registers_;
};

// All meters the gateway and the meter line know, by ID, on one clock.
class MeterPark {
public:
    SimMeter &meter(const QString &id);
    void advanceTo(qint64 nowMs);
    qint64 now() const { return nowMs_; }

private:
    QMap<QString, SimMeter> meters_;
    qint64 nowMs_ = 0;
};

// Block check character: XOR of every byte after STX up to and including ETX.
// block must start with STX (the bytes before it are skipped if not).
uint8_t iecBcc(const QByteArray &block);

// How a meter lays out its answer, for the habits of real meters.
struct AnswerStyle {
    bool lfOnly = false;     // lines end in LF alone, not CR LF
    bool leadingDel = false; // one DEL (0x7F) before the identification line
    bool wrongBcc = false;   // the block check character is deliberately wrong (or, with p1Crc, the CRC)
    bool noIdentification = false; // the answer starts at STX
    bool bangOnLastLine = false;   // "!" ends the last data line instead of a line of its own
    int setsPerLine = 1;           // data sets joined on one line
    int bccValue = -1;             // 0..255: a filler data set makes the BCC this byte (LF, SOH...)
    bool p1Crc = false;            // a P1 telegram: no STX, "!" then the CRC-16 as four hex digits
};

// The identification line "/XXXZ..." CR LF.
QByteArray buildIdentificationLine(const QByteArray &identification, const AnswerStyle &style = {});
// The data message: STX, the data lines each ended by CR LF, "!" CR LF, ETX
// and the BCC.
QByteArray buildDataMessage(const QList<QByteArray> &dataLines, const AnswerStyle &style = {});
// A telegram of the P1 kind: identification line, an empty line, the data
// lines, "!" and the CRC-16 of everything from "/" through "!" (four
// upper-case hexadecimal digits), CR LF; no STX, ETX or BCC.
QByteArray buildP1Telegram(const QByteArray &identification, const QList<QByteArray> &dataLines,
                           const AnswerStyle &style = {});
// The whole answer to a sign-on: identification line, then data message
// (with style.p1Crc a P1 telegram).
QByteArray buildMeterAnswer(const QByteArray &identification, const QList<QByteArray> &dataLines,
                            const AnswerStyle &style = {});

// The bytes as a receiver that reads 8 data bits without parity sees 7-bit
// characters sent with parity ('E' or 'O'): the parity bit as the top bit.
QByteArray withParityBit(const QByteArray &bytes, char parity);

// A mode C acknowledgement ACK V Z Y CR LF found in a receive buffer.
struct AckRequest {
    bool found = false;
    char baudChar = 0; // Z
    char mode = 0;     // Y: '0' data readout, '1' programming
    qsizetype consumed = 0;
};
// Bytes before an ACK are consumed; an incomplete one is left for more bytes.
AckRequest parseAck(const QByteArray &buffer);

// A sign-on request "/?" + address + "!" CR LF found in a receive buffer.
struct SignOn {
    bool found = false;
    QByteArray address;     // may be empty: "any meter"
    qsizetype consumed = 0; // bytes of the buffer used up, garbage before the request included
};
// Looks for the first complete request.  Bytes that cannot start a request
// are consumed; an incomplete request at the end is left for more bytes.
SignOn parseSignOn(const QByteArray &buffer);

} // namespace qvxsim
