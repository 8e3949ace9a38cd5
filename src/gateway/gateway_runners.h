// The gateway's multi-step work as runners over a GatewayClient: the meter
// table programmed and read back, the profile read and applied, the scan of
// a line.  Each raises GatewayError as the client does; progress callbacks
// let a window show a bar and the command line a counter.  Run them inside
// a GatewayJob to keep a window responsive and cancellable.
#pragma once

#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"

#include <QJsonObject>
#include <QStringList>
#include <QVector>
#include <functional>

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
};
ScanResult scanGateways(GatewayClient &client, const ScanPlan &plan, const GatewayProgress &progress = {});

} // namespace qvx
