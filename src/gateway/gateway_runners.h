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

// Everything a profile holds, as the gateway has it now.
GatewayProfile readGatewayProfile(GatewayClient &client, const GatewayProgress &progress = {});

struct ProfileApplyResult {
    int writes = 0;
    // What still differs after the read-back (empty: applied).
    QStringList differences;
    // The gateway as read back.
    GatewayProfile device;
};
// Writes only what differs (flags, readout period, IEC line, meter table;
// the IPv4 block with network, the unit address with address, last of all),
// then reads everything back.
ProfileApplyResult applyGatewayProfile(GatewayClient &client, const GatewayProfile &file, bool network,
                                       bool address, const GatewayProgress &progress = {});

// A scan of a line: every probe of plan until a gateway answers (all of
// them with all).  An exception reply counts as a gateway.
struct ScanPlan {
    QVector<int> bauds;   // serial only
    QStringList parities; // serial only
    int firstUnit = 1;
    int lastUnit = 247;
    int timeoutMs = 50;
    bool all = false;
};
struct ScanHit {
    int baud = 0;
    QString parity;
    int unit = 0;
    QString firmware;
};
struct ScanResult {
    QVector<ScanHit> found;
    int probes = 0;
    // Bytes heard at each rate that were no reply to the probe: someone else
    // talks on the line at that rate (over TCP the rate is 0).
    QMap<int, int> activity;
};
// timeLeft, when given, is called before each probe with what the rest of
// the sweep takes in ms, and with 0 at the end.
ScanResult scanGateways(GatewayClient &client, const ScanPlan &plan, const GatewayProgress &progress = {},
                        const std::function<void(qint64 ms)> &timeLeft = {});

// A change of the gateway's unit address and RTU line that keeps talking to
// it: the writes (unit address first, it takes effect after its reply; then
// the RTU line and, without "Change baud after ACK", the "Reset" command),
// then register 7 read at the new settings until verifyMs has passed.  When
// that fails the old settings are tried, then the mixed ones; the client is
// left where the gateway answered.
struct LineChange {
    int unit = 0;     // 0 keeps the unit address
    int baud = 0;     // 0 keeps the RTU line (rate and parity together)
    QString parity;   // "none", "even" or "odd"
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
