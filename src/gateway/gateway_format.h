// Plain pieces of the gateway runners and of qvxctl: the link a target names,
// the target file, the scan order, the settings the gateway reports and the
// gateway profile as JSON.  No I/O: the runners and the command line read and
// write the files, these functions only turn bytes into data and back.
#pragma once

#include "meters/meter_table.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <cstdint>
#include <optional>

namespace qvx {

// How to reach one gateway.
struct GatewayLink {
    bool tcp = false;
    QString host;
    int port = 502;
    QString serialPort;
    int baud = 9600;
    // "none", "even" or "odd".
    QString parity = QStringLiteral("even");
    int dataBits = 8;
    int stopBits = 1;
    int unit = 1;
    int timeoutMs = 1000;
    // "--tcp 10.0.0.5:502 --unit 3" style text for result lines.
    QString describe() const;
};

// A whole number as typed: decimal, or hexadecimal with 0x.  Nothing for any
// other text or a value outside min..max.
std::optional<qint64> parseNumber(const QString &text, qint64 min, qint64 max);

// Applies one LINK option (name without dashes, value) to link.  Returns the
// message for a bad value or an unknown option.
std::optional<QString> applyLinkOption(GatewayLink &link, const QString &name, const QString &value);

// One target a line, written as LINK options; "#" starts a comment, blank
// lines are skipped.  Each target starts from defaults.  "--name NAME" gives
// the target the name its output files are made from (letters, digits, ".",
// "-" and "_", unique in the file); without it the name comes from the link.
// A site file is the same format: a line may also give name="Feeder 3" (the
// name people know the gateway by; quoted when it holds spaces, it cannot
// hold a double quote) and profile=FILE (the gateway profile it should
// follow, relative to the file).  Words are split at white space outside
// double quotes; "#" outside quotes starts a comment.
struct Target {
    GatewayLink link;
    QString name;
    int line = 0; // in the file, from 1
    // --name was given (else name comes from the link).
    bool nameGiven = false;
    // name= and profile= as written; empty when the line has none.
    QString title;
    QString profile;
    // The LINK options as written, without --name.
    QStringList linkArgs;
};
struct TargetList {
    QVector<Target> targets;
    // "line N: what" for the first bad line, or the file's fault (no
    // targets); targets is then empty.  Input is quoted cut (quoteInput).
    std::optional<QString> error;
};
// A line that names both --tcp and --serial, an option given twice, or a
// target that reaches the same gateway (gatewayKey) as an earlier line is an
// error, the last unless allowDuplicates; a file without targets is one.
// With allErrors every bad line is named there ("line N: what"), not only
// the first.
TargetList parseTargetFile(const QByteArray &bytes, const GatewayLink &defaults,
                           bool allowDuplicates = false, QStringList *allErrors = nullptr);

// The gateway a link reaches: the TCP address or the serial port, and the
// unit.  Two targets with one key are the same gateway.
QString gatewayKey(const GatewayLink &link);
// The connection a link needs: the TCP address or the serial port.  Targets
// that share one never run at the same time.
QString connectionKey(const GatewayLink &link);
// A target's name when its line gives none: "10.0.0.5-502-u3" for TCP,
// "ttyUSB0-u3" for a serial port (the port's file name).
QString linkName(const GatewayLink &link);

// An output file name with --targets is a pattern: {name}, {host}, {port}
// and {unit} are the target's (for a serial target {host} and {port} are
// the port's file name).  The message for an unknown {field}, or nothing.
std::optional<QString> outputPatternError(const QString &pattern);
QString expandOutputPattern(const QString &pattern, const Target &target);
// label (e.g. "-o") names the option in the message.  The message when two
// targets would write one file (the first such pair), or nothing.
std::optional<QString> outputCollision(const QString &label, const QString &pattern,
                                       const QVector<Target> &targets);

// --- scan ---------------------------------------------------------------------
// The three passes of a sweep: the likely units at every rate and parity,
// then every other unit at the rates where the line showed activity, then at
// the rest.  A gateway at a usual unit on an unknown rate is found in the
// first pass, in seconds.
enum class ScanStage { Likely, Active, Rest };
struct ScanProbe {
    int baud = 9600;
    QString parity;
    int unit = 1;
    ScanStage stage = ScanStage::Likely;
};
// The gateway's nine rates, most likely first: the factory setting, then the
// common rates, then the rest.
QVector<int> scanBaudOrder();
// The units tried first, in order: 1, fieldUnit (the unit the operator
// works with), 247, 2 to 10; each once and only within firstUnit..lastUnit.
QVector<int> scanLikelyUnits(int firstUnit, int lastUnit, int fieldUnit);
// Every probe of a sweep in the order tried: the likely units at each rate
// (in the order of bauds) and parity; then the other units, at each parity,
// at the rates with activity (the busiest first), then at the other rates.
// Over TCP bauds is {0} and parities {""}.
QVector<ScanProbe> scanProbes(const QVector<int> &bauds, const QStringList &parities, int firstUnit,
                              int lastUnit, int fieldUnit = 1, const QMap<int, int> &activity = {});
// "1, 247, 2-10": units as the operator reads them, runs joined.
QString scanUnitsText(const QVector<int> &units);
// Milliseconds one probe needs on a serial line: the wire time of an 8-byte
// request and a short reply at baud (11 bits a character) plus the time-out.
int scanProbeMs(int baud, int timeoutMs);
// What the rest of a sweep takes, from the probe times measured so far: a
// rate already tried takes what its probes took on average; a rate not yet
// tried what scanProbeMs says, scaled by how the measured probes compared
// with what scanProbeMs said for them.  Before any probe: scanProbeMs alone
// (over TCP the time-out alone: there is no wire time).
class ScanEstimate {
public:
    ScanEstimate(int timeoutMs, bool tcp) : m_timeoutMs(timeoutMs), m_tcp(tcp) {}
    void record(int baud, qint64 ms);
    qint64 remainingMs(const QVector<ScanProbe> &probes, int from) const;

private:
    qint64 nominalMs(int baud) const;
    int m_timeoutMs;
    bool m_tcp;
    QMap<int, QPair<qint64, int>> m_measured; // baud -> total ms, probes
    qint64 m_measuredMs = 0;
    qint64 m_nominalMs = 0;
};
// bauds with the rates that heard line activity first (the busiest first),
// then the others in their own order: a busy line is where a gateway is most
// likely to be.
QVector<int> scanBaudsPreferring(const QVector<int> &bauds, const QMap<int, int> &activity);

// --- what "info" reads ----------------------------------------------------------
struct GatewayInfo {
    std::array<uint8_t, 4> ip{};
    std::array<uint8_t, 4> gateway{};
    std::array<uint8_t, 4> mask{};
    quint32 tcpIdleMs = 0;
    // Low byte of register 7: bit 0 DHCP, 3 change baud after ACK, 4 64-bit
    // values, 5 16-digit IDs, 6 long OBIS, 7 continuous read.
    uint8_t flags = 0;
    // Low byte of register 32787: baud code << 4 | 8 data bits (bit 3) | parity.
    uint8_t iecLine = 0;
    int readoutMinutes = 0;
    QString firmware;
};
// The stored flags in the order of the JSON object, with their bit and the
// flag number a flag command takes (bit + 1).
struct GatewayFlag {
    const char *key;
    int bit;
};
QVector<GatewayFlag> gatewayFlags();
bool flagSet(uint8_t flags, int bit);

QJsonObject infoToJson(const GatewayInfo &info);
// Aligned "name  value" lines.
QStringList infoLines(const GatewayInfo &info);

// --- meter table as JSON ---------------------------------------------------------
// "slots": [{slot, id, obis: [...63 texts]}] for slotNums first..last.
QJsonObject meterTableToJson(const MeterTable &table, int first, int last);
// The same for the slots listed.
QJsonObject meterTableToJson(const MeterTable &table, const QVector<int> &slotNums);
// Reads the same shape into table; slotNums lists the slot numbers it holds
// in ascending order.  A slot listed with no ID and no code holds nothing
// (as an empty block of a meter data file).  Returns the problems of the
// shape, one line each naming its entry; the texts themselves are checked
// by meterTableProblems.
QStringList meterTableFromJson(const QJsonObject &object, MeterTable &table, QVector<int> *slotNums);

// --- the gateway profile -----------------------------------------------------------
inline constexpr char ProfileFormat[] = "qvx-profile/1";
// The serial line of the gateway's Modbus RTU port (register 32786).
struct RtuLine {
    int baud = 0;   // one of the nine rates; 0: not known
    QString parity; // "even", "odd" or "none"
    bool known() const { return baud > 0; }
    bool operator==(const RtuLine &) const = default;
    // "9600 even", or "unknown".
    QString text() const;
};
QVector<int> allMeterSlots();
struct GatewayProfile {
    GatewayInfo info;
    int unit = 1;
    // Not known in profiles saved before the line was part of them.
    RtuLine rtu;
    MeterTable table;
    // The slots the profile holds, ascending: a profile read from a gateway
    // holds them all, a file only those it lists with an ID.  Slots it does
    // not hold are neither compared nor written.
    QVector<int> meterSlots = allMeterSlots();
};
// The slots of meterSlots the profile's ID format has (30 with 16-digit IDs).
QVector<int> profileSlots(const GatewayProfile &profile);
QByteArray profileToJson(const GatewayProfile &profile);
struct ProfileParse {
    std::optional<GatewayProfile> profile;
    // Every field the gateway could not take, one line each naming it.
    QStringList errors;
    // The errors as one line.
    QString error;
};
// Checks every field against what the gateway takes (readout period
// 1..1440, unit 1..247, the nine rates, IDs and OBIS codes by the profile's
// own ID and OBIS flags) and refuses the file for any of them.
ProfileParse parseProfile(const QByteArray &bytes);

// What differs between two profiles, one line each ("flags.dhcp: a -> b",
// "slot 3 row 5: a -> b") over the slots the file holds; network, unit and
// the RTU line only when asked.
QStringList profileDifferences(const GatewayProfile &device, const GatewayProfile &file, bool network,
                               bool unit, bool line = false);
// What differs between two meter tables over slotNums (rows 1..63 and the ID).
QStringList meterTableDifferences(const MeterTable &device, const MeterTable &file,
                                  const QVector<int> &slotNums);

// One difference line as a JSON object: "what" (e.g. "flags.dhcp", "slot 3
// row 5"), "gateway" and, under otherKey ("profile" or "file"), the file's
// value, texts without their quotes.
QJsonObject differenceToJson(const QString &line, const QString &otherKey);
// "differs: 3 settings, 1 slot" for difference names ("what"); slot lines
// count by slot.
QString differsText(const QStringList &whats);

} // namespace qvx

namespace qvx {

// An ID or OBIS text as the gateway hands it back after storing it: a file's
// texts are compared with the gateway's after the encoding they go through.
QString normalMeterId(const QString &id, bool sixteenDigits);
QString normalObisCode(const QString &code, bool longObis);
void normalizeMeterTable(MeterTable &table, const QVector<int> &slotNums, bool sixteenDigits, bool longObis);

} // namespace qvx
