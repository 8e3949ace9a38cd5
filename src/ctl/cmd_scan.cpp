// scan: finds gateways on a serial line or a TCP address.
#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"

#include <QElapsedTimer>
#include <QJsonArray>

namespace qvx::ctl {

void Runner::validateScan()
{
    needArgs(1, 1, QStringLiteral("scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]"));
}

int Runner::scanCmd()
{
    const QCommandLineParser &p = *m_o.parser;
    int firstUnit = 1, lastUnit = 247;
    if (p.isSet(QStringLiteral("units"))) {
        const QStringList r = p.value(QStringLiteral("units")).split(QLatin1Char('-'));
        firstUnit = intArg(r.first(), QStringLiteral("--units"), 1, 247);
        lastUnit = r.size() == 2 ? intArg(r.last(), QStringLiteral("--units"), firstUnit, 247) : firstUnit;
        if (r.size() > 2)
            throw UsageError{
                QStringLiteral("--units: A-B, not %1").arg(quoteInput(p.value(QStringLiteral("units"))))};
    }
    QVector<int> bauds = scanBaudOrder();
    if (p.isSet(QStringLiteral("bauds"))) {
        bauds.clear();
        for (const QString &b : p.value(QStringLiteral("bauds")).split(QLatin1Char(',')))
            bauds << intArg(b, QStringLiteral("--bauds"), 300, 115200);
    }
    QStringList parities{QStringLiteral("even"), QStringLiteral("none"), QStringLiteral("odd")};
    if (p.isSet(QStringLiteral("parities"))) {
        parities = p.value(QStringLiteral("parities")).toLower().split(QLatin1Char(','));
        for (const QString &x : parities)
            if (x != QLatin1String("none") && x != QLatin1String("even") && x != QLatin1String("odd"))
                throw UsageError{
                    QStringLiteral("--parities: %1 is not none, even or odd").arg(quoteInput(x))};
    }
    const bool tcp = m_c.linkSettings().tcp;
    ScanPlan plan;
    plan.bauds = bauds;
    plan.parities = parities;
    plan.firstUnit = firstUnit;
    plan.lastUnit = lastUnit;
    plan.timeoutMs = m_o.timeoutGiven ? m_c.linkSettings().timeoutMs : 50;
    plan.all = p.isSet(QStringLiteral("all"));
    // --unit is tried among the likely units (1, it, 247, 2-10).
    plan.fieldUnit = m_c.linkSettings().unit;
    QElapsedTimer clock;
    clock.start();
    const bool terminal = !m_o.quiet && stderrIsTerminal();
    // A line for each rate, parity and pass, on a terminal or not (a full
    // sweep takes minutes); on a terminal also a counter for each probe.
    const ScanResult r = scanGateways(m_c, plan, [&](const ScanStep &s) {
        m_step = s.what;
        if (m_o.quiet)
            return;
        if (s.groupStart) {
            const QString where = tcp ? QStringLiteral("units")
                                      : QStringLiteral("%1 %2, units").arg(s.probe.baud).arg(s.probe.parity);
            const QString line = QStringLiteral("scan: %1 %2 (probe %3 of %4), about %5 left")
                                     .arg(where, scanUnitsText(s.units))
                                     .arg(s.done + 1)
                                     .arg(s.total)
                                     .arg(durationText(s.msLeft));
            err(terminal ? QStringLiteral("\r") + line.leftJustified(78) : line);
        }
        if (terminal)
            fprintf(stderr, "\r%d of %d: %s, about %s left      ", s.done + 1, s.total, qPrintable(s.what),
                    qPrintable(durationText(s.msLeft)));
    });
    const int n = r.probes;
    QJsonArray found;
    const QString port =
        tcp ? QStringLiteral("%1:%2").arg(m_c.linkSettings().host).arg(m_c.linkSettings().port)
            : m_c.linkSettings().serialPort;
    if (terminal)
        fprintf(stderr, "\n");
    for (const ScanHit &h : r.found) {
        found.append(QJsonObject{{QStringLiteral("port"), port},
                                 {QStringLiteral("baud"), tcp ? QJsonValue() : QJsonValue(h.baud)},
                                 {QStringLiteral("parity"), tcp ? QJsonValue() : QJsonValue(h.parity)},
                                 {QStringLiteral("unit"), h.unit},
                                 {QStringLiteral("firmware"), h.firmware}});
        if (!m_o.json)
            out(tcp ? QStringLiteral("found %1 unit %2  %3").arg(port).arg(h.unit).arg(h.firmware)
                    : QStringLiteral("found %1 %2 %3 unit %4  %5")
                          .arg(port)
                          .arg(h.baud)
                          .arg(h.parity)
                          .arg(h.unit)
                          .arg(h.firmware));
    }
    // What answered but was no gateway, and the traffic that answered no probe.
    QJsonArray unconfirmed, activity;
    for (const ScanCandidate &c : r.unconfirmed) {
        unconfirmed.append(QJsonObject{{QStringLiteral("baud"), tcp ? QJsonValue() : QJsonValue(c.baud)},
                                       {QStringLiteral("parity"), tcp ? QJsonValue() : QJsonValue(c.parity)},
                                       {QStringLiteral("unit"), c.unit},
                                       {QStringLiteral("reason"), c.reason}});
        info(tcp ? QStringLiteral("not counted: unit %1 %2").arg(c.unit).arg(c.reason)
                 : QStringLiteral("not counted: %1 %2 unit %3 %4")
                       .arg(c.baud)
                       .arg(c.parity)
                       .arg(c.unit)
                       .arg(c.reason));
    }
    QStringList traffic;
    for (auto it = r.activity.cbegin(); it != r.activity.cend(); ++it) {
        activity.append(QJsonObject{{QStringLiteral("baud"), tcp ? QJsonValue() : QJsonValue(it.key())},
                                    {QStringLiteral("bytes"), it.value()}});
        traffic << (tcp ? QStringLiteral("%1 bytes").arg(it.value())
                        : QStringLiteral("%1 bytes at %2").arg(it.value()).arg(it.key()));
    }
    if (!traffic.isEmpty())
        info(QStringLiteral("line traffic that answered no probe: ") + traffic.join(QStringLiteral(", ")));
    const double seconds = clock.elapsed() / 1000.0;
    if (m_o.json)
        out(compact(QJsonObject{{QStringLiteral("found"), found},
                                {QStringLiteral("probes"), n},
                                {QStringLiteral("retries"), m_c.retries()},
                                {QStringLiteral("unconfirmed"), unconfirmed},
                                {QStringLiteral("activity"), activity},
                                {QStringLiteral("seconds"), seconds}}));
    else if (!m_o.quiet)
        err(QStringLiteral("%1 probe(s) in %2 s").arg(n).arg(seconds, 0, 'f', 2));
    m_retriesCounted = true;
    if (!found.isEmpty())
        return ExitOk;
    // Nothing found: the last line says what the line showed instead.
    if (r.echoes > 0 && !m_o.echo)
        err(QStringLiteral("qvxctl: no gateway found; the replies start with the request's own bytes: if the "
                           "adapter echoes what it sends, use --echo"));
    else if (!traffic.isEmpty())
        err(QStringLiteral("qvxctl: no gateway found; the line carries other traffic (%1)")
                .arg(traffic.join(QStringLiteral(", "))));
    else
        err(QStringLiteral("qvxctl: no gateway found"));
    return ExitGateway;
}

} // namespace qvx::ctl
