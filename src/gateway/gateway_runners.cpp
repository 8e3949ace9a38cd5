#include "gateway/gateway_runners.h"

#include "meters/meter_codec.h"

namespace qvx {
namespace {

constexpr int IdDigitsBit = 5;
constexpr int LongObisBit = 6;

int slotCount(bool sixteenDigits)
{
    return sixteenDigits ? 30 : 32;
}

void report(const GatewayProgress &progress, int done, int total, const QString &what)
{
    if (progress)
        progress(done, total, what);
}

} // namespace

MeterFormat readMeterFormat(GatewayClient &client)
{
    const uint8_t flags = static_cast<uint8_t>(client.readRegisters(false, 7, 1).at(0) & 0xFF);
    return {flagSet(flags, IdDigitsBit), flagSet(flags, LongObisBit)};
}

QStringList programMeterTable(GatewayClient &client, const MeterTable &table, const QVector<int> &slotNums,
                              const MeterFormat &format, bool write, const GatewayProgress &progress)
{
    const int total = int(slotNums.size()) * (write ? 2 : 1);
    int done = 0;
    if (write) {
        for (int s : slotNums) {
            report(progress, done++, total, QStringLiteral("writing slot %1").arg(s));
            client.writeMeterSlot(table, s, format.sixteenDigits, format.longObis);
        }
    }
    MeterTable expected = table;
    normalizeMeterTable(expected, slotNums, format.sixteenDigits, format.longObis);
    MeterTable device;
    for (int s : slotNums) {
        report(progress, done++, total, QStringLiteral("reading slot %1").arg(s));
        client.readMeterTable(device, format.sixteenDigits, format.longObis, s, s);
    }
    report(progress, total, total, QString());
    return meterTableDifferences(device, expected, slotNums);
}

GatewayProfile readGatewayProfile(GatewayClient &client, const GatewayProgress &progress)
{
    GatewayProfile p;
    p.unit = client.linkSettings().unit;
    report(progress, 0, 1, QStringLiteral("reading settings"));
    p.info = client.readInfo();
    const bool sixteen = flagSet(p.info.flags, IdDigitsBit);
    const int last = slotCount(sixteen);
    client.readMeterTable(p.table, sixteen, flagSet(p.info.flags, LongObisBit), 1, last, [&](int s) {
        report(progress, s, last + 1, QStringLiteral("reading slot %1").arg(s));
    });
    report(progress, 1, 1, QString());
    return p;
}

ProfileApplyResult applyGatewayProfile(GatewayClient &client, const GatewayProfile &profile, bool network,
                                       bool address, const GatewayProgress &progress)
{
    GatewayProfile file = profile;
    const bool sixteen = flagSet(file.info.flags, IdDigitsBit),
               longObis = flagSet(file.info.flags, LongObisBit);
    QVector<int> all;
    for (int s = 1; s <= slotCount(sixteen); ++s)
        all << s;
    normalizeMeterTable(file.table, all, sixteen, longObis);
    report(progress, 0, 0, QStringLiteral("reading the gateway"));
    const GatewayProfile device = readGatewayProfile(client);

    // The writes are listed first, so that progress can count them.
    struct Write {
        QString what;
        std::function<void()> run;
    };
    QVector<Write> writes;
    for (const GatewayFlag &f : gatewayFlags())
        if (flagSet(device.info.flags, f.bit) != flagSet(file.info.flags, f.bit))
            writes.append(
                {QStringLiteral("flag %1").arg(QLatin1String(f.key)),
                 [&client, &file, bit = f.bit] { client.writeFlag(bit, flagSet(file.info.flags, bit)); }});
    if (device.info.readoutMinutes != file.info.readoutMinutes)
        writes.append({QStringLiteral("readout period"),
                       [&client, &file] { client.writeReadoutMinutes(file.info.readoutMinutes); }});
    if (device.info.iecLine != file.info.iecLine)
        writes.append(
            {QStringLiteral("IEC line"), [&client, &file] { client.writeIecLine(file.info.iecLine); }});
    if (network && (device.info.ip != file.info.ip || device.info.gateway != file.info.gateway ||
                    device.info.mask != file.info.mask || device.info.tcpIdleMs != file.info.tcpIdleMs))
        writes.append({QStringLiteral("IPv4 block"), [&client, &file] { client.writeNetwork(file.info); }});
    // A change of the ID format moves every ID: the whole table is written then.
    const bool formatChanged = flagSet(device.info.flags, IdDigitsBit) != sixteen ||
                               flagSet(device.info.flags, LongObisBit) != longObis;
    for (int s : all) {
        bool differs = formatChanged || device.table.id(s) != file.table.id(s);
        for (int r = 1; r <= ObisListRows && !differs; ++r)
            differs = device.table.code(s, r) != file.table.code(s, r);
        if (differs)
            writes.append({QStringLiteral("slot %1").arg(s), [&client, &file, s, sixteen, longObis] {
                               client.writeMeterSlot(file.table, s, sixteen, longObis);
                           }});
    }
    // Last of all: after it the gateway answers at the new address only.
    if (address && client.linkSettings().unit != file.unit)
        writes.append(
            {QStringLiteral("unit address"), [&client, &file] { client.writeUnitAddress(file.unit); }});

    ProfileApplyResult result;
    const int total = int(writes.size()) + 1;
    for (const Write &w : writes) {
        report(progress, result.writes++, total, w.what);
        w.run();
    }
    report(progress, total - 1, total, QStringLiteral("reading back"));
    const GatewayProfile after = readGatewayProfile(client);
    result.differences = profileDifferences(after, file, network, address);
    result.device = after;
    report(progress, total, total, QString());
    return result;
}

ScanResult scanGateways(GatewayClient &client, const ScanPlan &plan, const GatewayProgress &progress)
{
    const bool tcp = client.linkSettings().tcp;
    const QVector<ScanProbe> probes =
        tcp ? scanProbes({0}, {QString()}, plan.firstUnit, plan.lastUnit)
            : scanProbes(plan.bauds, plan.parities, plan.firstUnit, plan.lastUnit);
    ScanResult result;
    for (const ScanProbe &probe : probes) {
        report(progress, result.probes, int(probes.size()),
               tcp ? QStringLiteral("unit %1").arg(probe.unit)
                   : QStringLiteral("%1 %2 unit %3").arg(probe.baud).arg(probe.parity).arg(probe.unit));
        ++result.probes;
        if (!tcp) {
            client.setSerialLine(probe.baud, probe.parity);
            client.setTimeoutMs(scanProbeMs(probe.baud, plan.timeoutMs));
        } else {
            client.setTimeoutMs(plan.timeoutMs);
        }
        client.setUnit(probe.unit);
        bool present = false;
        try {
            client.readRegisters(false, 7, 1);
            present = true;
        } catch (const GatewayError &e) {
            if (e.kind() == GatewayError::Cancelled || e.kind() == GatewayError::LinkFailed)
                throw;
            present = e.kind() == GatewayError::Exception;
        }
        if (!present)
            continue;
        ScanHit hit{tcp ? 0 : probe.baud, probe.parity, probe.unit, QString()};
        // The identification is longer than a probe's reply: a full window.
        client.setTimeoutMs(qMax(plan.timeoutMs, 1000));
        try {
            hit.firmware = client.readFirmware();
        } catch (const GatewayError &e) {
            if (e.kind() == GatewayError::Cancelled)
                throw;
        }
        result.found << hit;
        if (!plan.all)
            break;
    }
    return result;
}

} // namespace qvx
