#include "gateway/gateway_runners.h"

#include "config/device_codec.h"
#include "meters/meter_codec.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <algorithm>

namespace qvx {
namespace {

constexpr int IdDigitsBit = 5;
constexpr int LongObisBit = 6;
constexpr int ChangeBaudAfterAckBit = 3;
// The "Reset" command is flag number 17, which writeFlag takes as bit 16.
constexpr int ResetFlagBit = 16;
constexpr int DeviceFlagsRegister = DeviceRegister::Flags;
constexpr int DeviceRtuLineRegister = DeviceRegister::RtuLine;

int slotCount(bool sixteenDigits)
{
    return sixteenDigits ? 30 : 32;
}

void report(const GatewayProgress &progress, int done, int total, const QString &what)
{
    if (progress)
        progress(done, total, what);
}

QString lineText(const GatewayLink &l)
{
    return l.tcp ? QStringLiteral("unit %1").arg(l.unit)
                 : QStringLiteral("unit %1 at %2 %3").arg(l.unit).arg(l.baud).arg(l.parity);
}

// The parity as the gateway's line register codes it: even 0, odd 1, none 2.
int parityRegisterCode(const QString &parity)
{
    return parity == QLatin1String("odd") ? 1 : parity == QLatin1String("none") ? 2 : 0;
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
    const GatewayLink &link = client.linkSettings();
    if (!link.tcp) {
        // The line the gateway answers on is its RTU line.
        p.rtu = {link.baud, link.parity};
    } else {
        try {
            const uint8_t v = uint8_t(client.readRegisters(false, DeviceRtuLineRegister, 1).at(0) & 0xFF);
            const QStringList rates = baudRateTexts();
            static const char *const parities[] = {"even", "odd", "none"};
            if ((v >> 4) < rates.size() && (v & 0x0F) < 3)
                p.rtu = {rates.at(v >> 4).toInt(), QLatin1String(parities[v & 0x0F])};
        } catch (const GatewayError &e) {
            if (e.kind() != GatewayError::Exception)
                throw;
        }
    }
    const bool sixteen = flagSet(p.info.flags, IdDigitsBit);
    const int last = slotCount(sixteen);
    client.readMeterTable(p.table, sixteen, flagSet(p.info.flags, LongObisBit), 1, last, [&](int s) {
        report(progress, s, last + 1, QStringLiteral("reading slot %1").arg(s));
    });
    report(progress, 1, 1, QString());
    return p;
}

ProfileApplyResult applyGatewayProfile(GatewayClient &client, const GatewayProfile &profile, bool network,
                                       bool address, bool line, const GatewayProgress &progress,
                                       const ProfileConfirm &confirm)
{
    GatewayProfile file = profile;
    const bool sixteen = flagSet(file.info.flags, IdDigitsBit),
               longObis = flagSet(file.info.flags, LongObisBit);
    const QVector<int> held = profileSlots(file);
    normalizeMeterTable(file.table, held, sixteen, longObis);
    report(progress, 0, 0, QStringLiteral("reading the gateway"));
    const GatewayProfile device = readGatewayProfile(client);

    // A change of the ID format moves every ID: the whole table is written then.
    const bool idFormatChanged = flagSet(device.info.flags, IdDigitsBit) != sixteen;
    const bool formatChanged = idFormatChanged || flagSet(device.info.flags, LongObisBit) != longObis;
    if (idFormatChanged && held.size() < slotCount(sixteen))
        throw GatewayError(GatewayError::Mismatch,
                           QStringLiteral("the profile changes the ID format (\"Use 16-digit ID\") but holds "
                                          "%1 of %2 slots: the IDs of the others would be read wrongly "
                                          "afterwards; nothing written")
                               .arg(held.size())
                               .arg(slotCount(sixteen)));

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
    for (int s : held) {
        bool differs = formatChanged || device.table.id(s) != file.table.id(s);
        for (int r = 1; r <= ObisListRows && !differs; ++r)
            differs = device.table.code(s, r) != file.table.code(s, r);
        if (differs)
            writes.append({QStringLiteral("slot %1").arg(s), [&client, &file, s, sixteen, longObis] {
                               client.writeMeterSlot(file.table, s, sixteen, longObis);
                           }});
    }
    // Last of all: after these the gateway answers at the new settings only.
    const GatewayLink before = client.linkSettings();
    const bool newUnit = address && before.unit != file.unit;
    const bool newLine = line && file.rtu.known() && device.rtu != file.rtu;
    if (newUnit || newLine) {
        QStringList what;
        if (newUnit)
            what << QStringLiteral("unit address %1 -> %2").arg(before.unit).arg(file.unit);
        if (newLine)
            what << QStringLiteral("RTU line %1 -> %2").arg(device.rtu.text(), file.rtu.text());
        writes.append(
            {what.join(QStringLiteral(", ")), [&client, &file, newUnit, newLine, before] {
                 if (newLine && before.tcp) {
                     // The TCP link does not run on it: the line is only stored.
                     client.writeRegisters(DeviceRtuLineRegister,
                                           {lineSettingsByte(baudRateCode(QString::number(file.rtu.baud)),
                                                             parityRegisterCode(file.rtu.parity))});
                     if (newUnit)
                         client.writeUnitAddress(file.unit);
                     return;
                 }
                 LineChange change;
                 change.unit = newUnit ? file.unit : 0;
                 if (newLine) {
                     change.baud = file.rtu.baud;
                     change.parity = file.rtu.parity;
                 }
                 const LineChangeResult r = changeGatewayLine(client, change);
                 if (!r.verified)
                     throw GatewayError(
                         GatewayError::NoAnswer,
                         r.answersAt ? QStringLiteral("the gateway did not answer at the new settings; "
                                                      "it answers at %1")
                                           .arg(lineText(*r.answersAt))
                                     : QStringLiteral("the gateway answers neither at the new settings "
                                                      "nor at the old ones"));
             }});
    }

    ProfileApplyResult result;
    if (confirm) {
        ProfileWritePlan plan;
        for (const Write &w : writes)
            plan.writes << w.what;
        plan.unitChanges = newUnit;
        plan.lineChanges = newLine;
        if (!confirm(plan)) {
            result.declined = true;
            result.device = device;
            result.differences = profileDifferences(device, file, network, address, line);
            return result;
        }
    }
    const int total = int(writes.size()) + 1;
    for (const Write &w : writes) {
        report(progress, result.writes++, total, w.what);
        w.run();
    }
    report(progress, total - 1, total, QStringLiteral("reading back"));
    const GatewayProfile after = readGatewayProfile(client);
    result.differences = profileDifferences(after, file, network, address, line);
    result.device = after;
    report(progress, total, total, QString());
    return result;
}

ScanResult scanGateways(GatewayClient &client, const ScanPlan &plan,
                        const std::function<void(const ScanStep &)> &step)
{
    const bool tcp = client.linkSettings().tcp;
    const QVector<int> bauds = tcp ? QVector<int>{0} : plan.bauds;
    const QStringList parities = tcp ? QStringList{QString()} : plan.parities;
    QVector<ScanProbe> probes =
        scanProbes(bauds, parities, plan.firstUnit, plan.lastUnit, plan.fieldUnit, plan.activity);
    ScanResult result;
    ScanEstimate estimate(plan.timeoutMs, tcp);
    // A probe's silence is the answer of an empty address: never sent again.
    // The identification that confirms a find is.
    const int retryLimit = client.retryLimit();
    const GatewayClient::RetryLimit noRetries(client, 0);
    for (int i = 0; i < probes.size(); ++i) {
        if (probes.at(i).stage != ScanStage::Likely &&
            (i == 0 || probes.at(i - 1).stage == ScanStage::Likely)) {
            // The first pass is over: the other units go first where it
            // heard the line busy.
            QMap<int, int> activity = plan.activity;
            for (auto it = result.activity.cbegin(); it != result.activity.cend(); ++it)
                activity[it.key()] += it.value();
            probes = scanProbes(bauds, parities, plan.firstUnit, plan.lastUnit, plan.fieldUnit, activity);
        }
        const ScanProbe &p = probes.at(i);
        if (step) {
            ScanStep s;
            s.done = i;
            s.total = int(probes.size());
            s.probe = p;
            s.msLeft = estimate.remainingMs(probes, i);
            const bool groupStart = i == 0 || probes.at(i - 1).baud != p.baud ||
                                    probes.at(i - 1).parity != p.parity || probes.at(i - 1).stage != p.stage;
            s.groupStart = groupStart;
            if (groupStart)
                for (qsizetype k = i; k < probes.size() && probes.at(k).baud == p.baud &&
                                      probes.at(k).parity == p.parity && probes.at(k).stage == p.stage;
                     ++k)
                    s.units << probes.at(k).unit;
            s.what = tcp ? QStringLiteral("unit %1").arg(p.unit)
                         : QStringLiteral("%1 %2 unit %3").arg(p.baud).arg(p.parity).arg(p.unit);
            step(s);
        }
        ++result.probes;
        // A port closed under the sweep (by the window) is not reopened here.
        if (!client.session().linkOpen())
            throw GatewayError(GatewayError::LinkFailed, QStringLiteral("the link is closed"));
        QElapsedTimer took;
        took.start();
        if (!tcp) {
            client.setSerialLine(p.baud, p.parity);
            client.setTimeoutMs(scanProbeMs(p.baud, plan.timeoutMs));
        } else {
            client.setTimeoutMs(plan.timeoutMs);
        }
        client.setUnit(p.unit);
        bool present = false;
        try {
            client.readRegisters(false, 7, 1);
            present = true;
        } catch (const GatewayError &e) {
            if (e.kind() == GatewayError::Cancelled || e.kind() == GatewayError::LinkFailed)
                throw;
            present = e.kind() == GatewayError::Exception;
        }
        estimate.record(p.baud, took.elapsed());
        // Bytes of the probe's window that were no answer to it: someone
        // else's traffic.  The echo of an adapter is not.
        int heard = client.lastReplyBytes();
        if (client.lastReplyStartedWithRequest()) {
            ++result.echoes;
            heard = 0;
        }
        const int rate = tcp ? 0 : p.baud;
        if (!present) {
            if (heard > 0)
                result.activity[rate] += heard;
            continue;
        }
        // The identification is longer than a probe's reply: a full window.
        client.setTimeoutMs(qMax(plan.timeoutMs, 1000));
        ScanHit hit{rate, p.parity, p.unit, QString()};
        std::optional<QString> notConfirmed;
        {
            const GatewayClient::RetryLimit confirm(client, retryLimit);
            try {
                hit.firmware = client.readFirmware();
            } catch (const GatewayError &e) {
                heard += client.lastReplyBytes();
                if (e.kind() == GatewayError::Cancelled || e.kind() == GatewayError::LinkFailed)
                    throw;
                notConfirmed = e.kind() == GatewayError::Exception
                                   ? QStringLiteral("answers the identification with %1: not a gateway")
                                         .arg(e.message().section(QLatin1Char(' '), 0, 1))
                                   : QStringLiteral("answered the probe but not the identification (%1)")
                                         .arg(e.message());
            }
        }
        if (notConfirmed) {
            result.unconfirmed << ScanCandidate{rate, p.parity, p.unit, *notConfirmed};
            result.activity[rate] += heard;
            continue;
        }
        result.found << hit;
        if (!plan.all)
            break;
    }
    return result;
}

namespace {

// Register 7 read at link until deadline; true once it answered.
bool reachable(GatewayClient &client, const GatewayLink &link, QDeadlineTimer deadline, int windowMs)
{
    // The loop asks again until the deadline: each read goes out once.
    const GatewayClient::RetryLimit once(client, 0);
    if (!link.tcp)
        client.setSerialLine(link.baud, link.parity);
    client.setUnit(link.unit);
    do {
        client.setTimeoutMs(int(std::clamp<qint64>(deadline.remainingTime(), 50, windowMs)));
        try {
            client.readRegisters(false, DeviceFlagsRegister, 1);
            return true;
        } catch (const GatewayError &e) {
            if (e.kind() == GatewayError::Cancelled || e.kind() == GatewayError::LinkFailed)
                throw;
            if (e.kind() == GatewayError::NoAnswer && !client.session().linkOpen())
                throw;
        }
    } while (!deadline.hasExpired());
    return false;
}

} // namespace

LineChangeResult changeGatewayLine(GatewayClient &client, const LineChange &change,
                                   const std::function<void(const QString &)> &step)
{
    auto say = [&step](const QString &line) {
        if (step)
            step(line);
    };
    LineChangeResult result;
    result.before = client.linkSettings();
    result.wanted = result.before;
    const int windowMs = result.before.timeoutMs;
    const bool newUnit = change.unit > 0 && change.unit != result.before.unit;
    const bool newLine = !result.before.tcp && change.baud > 0 &&
                         (change.baud != result.before.baud || change.parity != result.before.parity);
    if (newUnit)
        result.wanted.unit = change.unit;
    if (newLine) {
        result.wanted.baud = change.baud;
        result.wanted.parity = change.parity;
    }
    if (!newUnit && !newLine) {
        say(QStringLiteral("Nothing to change: the gateway stays at %1").arg(lineText(result.before)));
        result.verified = true;
        result.answersAt = result.before;
        return result;
    }
    bool changeAfterAck = false;
    if (newLine) {
        const uint16_t flags = client.readRegisters(false, DeviceFlagsRegister, 1).at(0);
        changeAfterAck = flagSet(uint8_t(flags & 0xFF), ChangeBaudAfterAckBit);
        say(QStringLiteral("\"Change baud after ACK\" is %1").arg(changeAfterAck ? "on" : "off"));
    }
    if (newUnit) {
        client.writeUnitAddress(change.unit);
        say(QStringLiteral("New unit address %1 written at unit %2")
                .arg(change.unit)
                .arg(result.before.unit));
    }
    if (newLine) {
        const int code = baudRateCode(QString::number(change.baud));
        if (code < 0)
            throw GatewayError(GatewayError::Exception,
                               QStringLiteral("%1 is not a rate of the gateway").arg(change.baud));
        client.writeRegisters(DeviceRtuLineRegister,
                              {lineSettingsByte(code, parityRegisterCode(change.parity))});
        say(QStringLiteral("New RTU line %1 %2 written").arg(change.baud).arg(change.parity));
        if (!changeAfterAck) {
            client.writeFlag(ResetFlagBit, false);
            say(QStringLiteral("\"Reset\" sent so that the new RTU line takes effect"));
        }
    }
    say(QStringLiteral("Talking to the gateway at %1").arg(lineText(result.wanted)));
    if (reachable(client, result.wanted, QDeadlineTimer(change.verifyMs), windowMs)) {
        client.setTimeoutMs(windowMs);
        say(QStringLiteral("The gateway answers at %1").arg(lineText(result.wanted)));
        result.verified = true;
        result.answersAt = result.wanted;
        return result;
    }
    say(QStringLiteral("No answer at %1 within %2 ms").arg(lineText(result.wanted)).arg(change.verifyMs));
    // Where else it may be: the old settings first, then the halves of the change.
    QVector<GatewayLink> fallbacks{result.before};
    GatewayLink oldLineNewUnit = result.before;
    oldLineNewUnit.unit = result.wanted.unit;
    GatewayLink newLineOldUnit = result.wanted;
    newLineOldUnit.unit = result.before.unit;
    for (const GatewayLink &l : {oldLineNewUnit, newLineOldUnit})
        if (l.unit != result.before.unit || l.baud != result.before.baud || l.parity != result.before.parity)
            if (l.unit != result.wanted.unit || l.baud != result.wanted.baud ||
                l.parity != result.wanted.parity)
                fallbacks << l;
    for (const GatewayLink &l : fallbacks) {
        say(QStringLiteral("Trying %1").arg(lineText(l)));
        if (reachable(client, l, QDeadlineTimer(2 * windowMs), windowMs)) {
            client.setTimeoutMs(windowMs);
            say(QStringLiteral("The gateway answers at %1").arg(lineText(l)));
            result.answersAt = l;
            return result;
        }
    }
    if (!result.before.tcp)
        client.setSerialLine(result.before.baud, result.before.parity);
    client.setUnit(result.before.unit);
    client.setTimeoutMs(windowMs);
    say(QStringLiteral("The gateway answers nowhere that was tried"));
    return result;
}

} // namespace qvx
