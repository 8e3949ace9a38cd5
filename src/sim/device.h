// The simulated QVX-24S: its holding and input registers, the flag commands,
// the meter table and the values it collects from the simulated meters.
// Plain code with no I/O and no wall clock: time moves only through tick(),
// so that tests drive it step by step and run it in-process.
//
// Register map (holding registers, function 3 / 6 / 16):
//   0..127        general block; 7 = option flags (written as flag commands),
//                 100 = readout period in minutes (1..1440); the other
//                 registers are spare storage that keeps what is written
//   800..927      meter IDs, packed decimal, 2 registers per slot (8 digits)
//                 or 4 registers per slot (16 digits, flag 6)
//   1000..5095    OBIS lists, 128 registers per slot, 2 per entry
//   32785         unit address (1..247), in effect after the reply
//   32786         RTU port: baud code << 4 | parity code
//   32787         IEC port: baud code << 4 | data bits << 3 | parity code
//   55400..55419  network: IPv4 address, gateway, mask (2 registers each),
//                 spare, and 55418/55419 the TCP idle time in ms
// Input registers (function 4):
//   1000..5095    collected values, same place as the OBIS entries; 32-bit
//                 unsigned (2 registers) or 64-bit signed (4 registers, flag 5);
//                 all FF where there is no value
// Anything else answers exception 2.
#pragma once

#include "sim/meter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

namespace qvxsim {

// Serial framing of a port as the device's settings registers describe it.
struct LineSettings {
    int baud = 9600;
    char parity = 'E'; // 'E', 'O' or 'N'
    int dataBits = 8;
    int stopBits = 1;
    // Start bit + data bits + parity bit + stop bits: 11 at 8E1, 10 at 8N1.
    int bitsPerChar() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
    // Time one character takes on the line, in microseconds.
    qint64 charTimeUs() const { return bitsPerChar() * 1000000LL / baud; }
    bool operator==(const LineSettings &) const = default;
};

// Baud-rate code of the settings registers: 0 = 300 ... 8 = 115200; -1 if none.
int baudForCode(int code);
int codeForBaud(int baud);
// Parity code: 0 = even, 1 = odd, 2 = none.
char parityForCode(int code);
int codeForParity(char parity);

// Option flag numbers (flag n is bit n-1 of register 7 when read).
enum Flag : int {
    FlagDhcp = 1,
    FlagChangeBaudAfterAck = 4,
    Flag64BitValues = 5,
    Flag16DigitId = 6,
    FlagLongObis = 7,
    FlagContinuousRead = 8,
    FlagCommandReset = 17,
};

// Modbus exception codes the device answers.
enum Exception : uint8_t {
    IllegalFunction = 1,
    IllegalDataAddress = 2,
    IllegalDataValue = 3,
    SlaveDeviceFailure = 4,
};

class Device {
public:
    static constexpr int MaxRegisters = 126; // per read or write, beyond the standard's 125/123
    static constexpr int Slots = 32;
    static constexpr int RowsPerSlot = 63;
    static constexpr int IdBase = 800;
    static constexpr int ObisBase = 1000;
    static constexpr int SlotStride = 128;
    static constexpr int RegFlags = 7;
    static constexpr int RegReadoutMinutes = 100;
    static constexpr int RegUnit = 32785;
    static constexpr int RegRtuLine = 32786;
    static constexpr int RegIecLine = 32787;
    static constexpr int RegIpAddress = 55400;
    static constexpr int RegGateway = 55402;
    static constexpr int RegMask = 55404;
    static constexpr int RegTcpIdle = 55418;
    // How often the device reads its meters with "Continues Read" on.
    static constexpr qint64 ContinuousReadMs = 1000;

    // Factory state: unit 1, RTU 9600 8E1, IEC 9600 7E1, readout every 15
    // minutes, "Continues Read" on, 192.168.1.100/24, TCP idle time 120 s, and
    // meter slot 1 programmed for the meter demoMeterId (empty: no slot
    // programmed).
    explicit Device(const QString &demoMeterId = QStringLiteral("12345678"));

    // --- Modbus -------------------------------------------------------------
    // Answers one request PDU (function code and fields) with the reply PDU:
    // a normal reply or function | 0x80 and an exception code.
    QByteArray handlePdu(const QByteArray &pdu);

    uint8_t unitAddress() const { return static_cast<uint8_t>(holding_[RegUnit]); }
    void setUnitAddress(uint8_t unit);

    // Raw register access (no validation, no side effects except that a
    // change of the meter programming schedules a readout).
    uint16_t holding(int address) const { return holding_[address & 0xFFFF]; }
    void setHolding(int address, uint16_t value);
    uint16_t input(int address) const { return input_[address & 0xFFFF]; }
    static bool isHoldingAddress(int address);
    static bool isInputAddress(int address);

    // --- Flags and settings ---------------------------------------------------
    bool flag(int number) const;
    void setFlag(int number, bool on);
    uint8_t flags() const { return static_cast<uint8_t>(holding_[RegFlags]); }
    int readoutMinutes() const { return holding_[RegReadoutMinutes]; }
    // Settings the RTU port runs with now, and those written to 32786 (they
    // differ until the change takes effect).
    LineSettings rtuLine() const { return rtuLine_; }
    LineSettings rtuLineWritten() const;
    void setRtuLine(const LineSettings &line); // both, at once (start-up options)
    LineSettings iecLine() const;
    uint32_t tcpIdleMs() const;
    // Restart after the "Reset" command: pending RTU settings take effect, the
    // collected values are cleared and read again.
    void restart();
    // A gateway that acknowledges a new RTU line but never switches to it
    // (neither at "Reset" nor with "Change baud after ACK"): register 32786
    // reads back the new value while the port keeps the old one.
    void setIgnoreRtuChange(bool ignore) { ignoreRtuChange_ = ignore; }
    // Number of restarts so far (the "Reset" command or restart()).
    int restarts() const { return restarts_; }

    // --- Meter table ------------------------------------------------------------
    // Slot n (1..32): its ID in the current digit mode ("" when the slot is
    // empty, i.e. all FF), its OBIS entries.
    QString meterId(int slot) const;
    bool slotProgrammed(int slot) const;
    // Writes ID and OBIS codes (short form "1.8.0") of a slot as the tool does.
    void programMeter(int slot, const QString &id, const QStringList &obisCodes);
    void clearMeterTable();
    static int idAddress(int slot, bool sixteenDigits)
    {
        return IdBase + (sixteenDigits ? 4 : 2) * (slot - 1);
    }
    static int entryAddress(int slot, int row) { return ObisBase + SlotStride * (slot - 1) + 2 * (row - 1); }
    static int valueAddress(int slot, int row, bool sixtyFourBit)
    {
        return ObisBase + SlotStride * (slot - 1) + (sixtyFourBit ? 4 : 2) * (row - 1);
    }

    // --- Time -----------------------------------------------------------------
    // Advances the simulated clock: meters move on and the device reads them
    // when a readout is due (every second with "Continues Read", otherwise
    // every period of register 100; at once after start, restart or a change
    // of programming or flags).
    void tick(qint64 msElapsed);
    // Reads all programmed meters now and publishes their values.
    void readoutNow();
    qint64 nowMs() const { return nowMs_; }
    MeterPark &meters() { return meters_; }

    // --- Persistence --------------------------------------------------------------
    // Settings and meter programming (not the collected values) as a small
    // JSON file, written through a temporary file.
    bool saveState(const QString &path, QString *error = nullptr) const;
    bool loadState(const QString &path, QString *error = nullptr);
    // Grows whenever something that saveState keeps has changed.
    quint64 settingsRevision() const { return revision_; }

private:
    QByteArray readRegisters(const QByteArray &pdu, bool inputTable);
    QByteArray writeSingle(const QByteArray &pdu);
    QByteArray writeMultiple(const QByteArray &pdu);
    QByteArray deviceIdentification(const QByteArray &pdu) const;
    static uint8_t checkWrite(int address, uint16_t value);
    void applyWrite(int address, uint16_t value);
    void publishValues();
    void touch() { ++revision_; }

    std::vector<uint16_t> holding_;
    std::vector<uint16_t> input_;
    LineSettings rtuLine_;
    MeterPark meters_;
    qint64 nowMs_ = 0;
    qint64 lastReadoutMs_ = 0;
    bool readoutDue_ = true;
    int restarts_ = 0;
    bool ignoreRtuChange_ = false;
    quint64 revision_ = 0;
};

// Texts of the device identification objects 0..6 (function 43/14).
QList<QByteArray> deviceIdentificationObjects();

} // namespace qvxsim
