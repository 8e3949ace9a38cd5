// profile save|diff|apply: settings and meter table as one file.
#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"

namespace qvx::ctl {

void Runner::validateProfile()
{
    const QCommandLineParser &p = *m_o.parser;
    const QString sub = arg(1);
    if (sub != QLatin1String("save") && sub != QLatin1String("diff") && sub != QLatin1String("apply"))
        throw UsageError{QStringLiteral("profile: %1 is not save, diff or apply").arg(quoteInput(sub))};
    needArgs(3, 3, QStringLiteral("profile %1 FILE").arg(sub));
    if (sub == QLatin1String("save") && !m_o.targetsCheck)
        checkWritable(arg(2));
    if (sub != QLatin1String("save")) {
        const ProfileParse r = parseProfile(readFileOrThrow(arg(2)));
        if (!r.profile)
            throw refused(arg(2), r.errors);
        m_profile = r.profile;
        if (p.isSet(QStringLiteral("with-line")) && !m_profile->rtu.known())
            throw UsageError{
                QStringLiteral("%1: --with-line: the profile holds no RTU line (\"rtu\")").arg(arg(2))};
    }
}

int Runner::profileCmd()
{
    const QString sub = arg(1);
    const QCommandLineParser &p = *m_o.parser;
    if (sub == QLatin1String("save")) {
        const GatewayProfile prof = readGatewayProfile(m_c, tracker());
        writeWholeFile(arg(2), profileToJson(prof));
        if (m_o.json)
            out(compact(QJsonObject{{QStringLiteral("saved"), arg(2)}}));
        else if (!m_o.quiet)
            out(QStringLiteral("profile saved to ") + arg(2));
        return ExitOk;
    }
    const bool network = p.isSet(QStringLiteral("with-network"));
    const bool address = p.isSet(QStringLiteral("with-address"));
    const bool line = p.isSet(QStringLiteral("with-line"));
    const QVector<int> held = profileSlots(*m_profile);
    if (held.size() < (flagSet(m_profile->info.flags, 5) ? 30 : 32))
        info(QStringLiteral("the profile holds slot(s) %1; the others are left alone")
                 .arg(held.isEmpty() ? QStringLiteral("none") : slotListText(held)));
    if (sub == QLatin1String("diff")) {
        GatewayProfile file = *m_profile;
        const bool sixteen = flagSet(file.info.flags, 5), longObis = flagSet(file.info.flags, 6);
        normalizeMeterTable(file.table, held, sixteen, longObis);
        const GatewayProfile device = readGatewayProfile(m_c, tracker());
        const QStringList d = profileDifferences(device, file, network, address, line);
        if (m_o.json)
            out(compact(QJsonObject{{QStringLiteral("differences"), differencesJson(d, "profile")}}));
        else
            for (const QString &l : d)
                out(l);
        if (d.isEmpty() && !m_o.json && !m_o.quiet)
            out(QStringLiteral("no differences"));
        return d.isEmpty() ? ExitOk : ExitGateway;
    }
    const ProfileApplyResult applied =
        applyGatewayProfile(m_c, *m_profile, network, address, line, tracker());
    const int writes = applied.writes;
    const QStringList &d = applied.differences;
    m_retriesCounted = true;
    if (m_o.json)
        out(compact(QJsonObject{{QStringLiteral("writes"), writes},
                                {QStringLiteral("requests"), m_c.requests()},
                                {QStringLiteral("retries"), m_c.retries()},
                                {QStringLiteral("differences"), differencesJson(d, "profile")}}));
    else if (!m_o.quiet)
        out(QStringLiteral("%1 change(s) written, %2 request(s), %3 retried")
                .arg(writes)
                .arg(m_c.requests())
                .arg(m_c.retries()));
    if (!d.isEmpty())
        throw GatewayError(GatewayError::Mismatch,
                           QStringLiteral("read-back differs: ") + d.join(QStringLiteral("; ")));
    return ExitOk;
}

} // namespace qvx::ctl
