// The gateway's multi-step work as runners over a GatewayClient: the meter
// table programmed and read back, the profile read and applied, the scan of
// a line.  Each raises GatewayError as the client does; progress callbacks
// let a window show a bar and the command line a counter.  Run them inside
// a GatewayJob to keep a window responsive and cancellable.
#pragma once

#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"

#include <QJsonObject>
#include <QMap>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

namespace qvx {

using GatewayProgress = std::function<void(int done, int total, const QString &what)>;

// The ID format and OBIS form the gateway's flag register says.
struct MeterFormat {
    bool sixteenDigits = false;
    bool longObis = false;
};
MeterFormat readMeterFormat(GatewayClient &client);

// Writes (when write is set) the IDs and OBIS lists of slotNums from table,
// then reads them back; returns what differs between the gateway and the
// table after the encoding, by slot and row.
QStringList programMeterTable(GatewayClient &client, const MeterTable &table, const QVector<int> &slotNums,
                              const MeterFormat &format, bool write, const GatewayProgress &progress = {});

// Everything a profile holds, as the gateway has it now.  The RTU line is
// the one the link runs at on a serial link; over TCP register 32786 as the
// gateway answers it (not known when it answers with an exception).
GatewayProfile readGatewayProfile(GatewayClient &client, const GatewayProgress &progress = {});

struct ProfileApplyResult {
    int writes = 0;
    // The confirmation said no: nothing was written.
    bool declined = false;
    // What still differs after the read-back (empty: applied).
    QStringList differences;
    // The gateway as read back.
    GatewayProfile device;
};
// Writes only what differs (flags, readout period, IEC line, the slots the
// profile holds; the IPv4 block with network; last of all, the unit
// address with address and the RTU line with line), then reads everything
// back.  The unit address and the RTU line change how the gateway is
// reached: on a serial link they go through changeGatewayLine, so the
// client follows them and the change is verified (a gateway that does not
// answer at the new settings raises NoAnswer, the client left where it
// answers).  Over TCP the RTU line is only written.  A profile that changes
// the ID format but does not hold every slot is refused before any write
// (Mismatch): the IDs of the slots it leaves alone would move.
//
// confirm, when given, sees the plan once the gateway was read and before
// the first write; when it returns false nothing is written and the result
// says declined.
struct ProfileWritePlan {
    // One name a write ("flag dhcp", "slot 3", "unit address 1 -> 7").
    QStringList writes;
    bool unitChanges = false;
    bool lineChanges = false;
};
using ProfileConfirm = std::function<bool(const ProfileWritePlan &plan)>;
ProfileApplyResult applyGatewayProfile(GatewayClient &client, const GatewayProfile &file, bool network,
                                       bool address, bool line, const GatewayProgress &progress = {},
                                       const ProfileConfirm &confirm = {});

// A scan of a line: every probe of plan, in the order of scanProbes, until
// a gateway is found (all of them with all).  A probe counts only when its
// reply answers it (unit, function and byte count; an exception reply from
// that unit counts), and a find only once the device identification, asked
// next, is answered too: the bytes of something else on the line are never
// taken for a gateway.  Probes are not sent again (silence is the normal
// answer of an empty address); the identification is.
struct ScanPlan {
    QVector<int> bauds;   // serial only
    QStringList parities; // serial only
    int firstUnit = 1;
    int lastUnit = 247;
    int timeoutMs = 50;
    bool all = false;
    // The unit the operator works with: tried among the likely ones.
    int fieldUnit = 1;
    // Bytes heard at each rate before this sweep (earlier sweeps).
    QMap<int, int> activity;
};
struct ScanHit {
    int baud = 0;
    QString parity;
    int unit = 0;
    QString firmware;
};
// Answered the probe but not the identification: no gateway.
struct ScanCandidate {
    int baud = 0;
    QString parity;
    int unit = 0;
    QString reason;
};
struct ScanResult {
    QVector<ScanHit> found;
    QVector<ScanCandidate> unconfirmed;
    int probes = 0;
    // Bytes heard at each rate that were no reply to the probe (or came from
    // something that did not confirm): someone else talks on the line at
    // that rate (over TCP the rate is 0).
    QMap<int, int> activity;
    // Probes whose bytes started with the probe's own frame: an adapter that
    // echoes what it sends, with echoes not dropped.
    int echoes = 0;
};
// Before each probe.
struct ScanStep {
    int done = 0; // probes before this one
    int total = 0;
    ScanProbe probe;
    // What the rest of the sweep takes, this probe included (measured so far).
    qint64 msLeft = 0;
    // The first probe of a rate, parity and pass: units lists the pass's
    // units there.
    bool groupStart = false;
    QVector<int> units;
    // "9600 even unit 5" (over TCP "unit 5").
    QString what;
};
ScanResult scanGateways(GatewayClient &client, const ScanPlan &plan,
                        const std::function<void(const ScanStep &)> &step = {});

// A change of the gateway's unit address and RTU line that keeps talking to
// it: the writes (unit address first, it takes effect after its reply; then
// the RTU line and, without "Change baud after ACK", the "Reset" command),
// then register 7 read at the new settings until verifyMs has passed.  When
// that fails the old settings are tried, then the mixed ones; the client is
// left where the gateway answered.
struct LineChange {
    int unit = 0;   // 0 keeps the unit address
    int baud = 0;   // 0 keeps the RTU line (rate and parity together)
    QString parity; // "none", "even" or "odd"
    int verifyMs = 5000;
};
struct LineChangeResult {
    GatewayLink before;
    GatewayLink wanted;
    // The gateway answered at wanted within verifyMs.
    bool verified = false;
    // Where it answered in the end; nothing when it answered nowhere tried
    // (the client is then back at before).
    std::optional<GatewayLink> answersAt;
};
// step gets one line for each step taken.  Raises as the client does while
// writing; a verification that fails is a result, not an error.
LineChangeResult changeGatewayLine(GatewayClient &client, const LineChange &change,
                                   const std::function<void(const QString &)> &step = {});

} // namespace qvx
