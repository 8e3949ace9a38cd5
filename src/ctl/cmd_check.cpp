// check [--profile FILE], report -o FILE: what a gateway holds and whether
// its meters deliver, as one JSON object (or a line of text) per gateway,
// or as the commissioning report.
#include "ctl/cmd_check.h"
#include "ctl/runner.h"

#include "core/input_text.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>

namespace qvx::ctl {

GatewayProfile loadCheckProfile(const QString &path)
{
    const ProfileParse r = parseProfile(readFileOrThrow(path));
    if (!r.profile)
        throw refused(path, r.errors);
    return *r.profile;
}

QString reportForm(const QString &path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("pdf") || ext == QLatin1String("json"))
        return ext;
    if (ext == QLatin1String("html") || ext == QLatin1String("htm"))
        return QStringLiteral("html");
    throw UsageError{QStringLiteral("-o %1: a report is .pdf, .html or .json").arg(quoteInput(path))};
}

SiteReport reportHead(const Options &o, const QString &siteName)
{
    const QCommandLineParser &p = *o.parser;
    SiteReport r;
    r.date = QDateTime::currentDateTime();
    r.toolVersion = QCoreApplication::applicationVersion();
    r.technician = p.value(QStringLiteral("technician"));
    r.customer = p.value(QStringLiteral("customer"));
    r.siteName = p.isSet(QStringLiteral("site-name")) ? p.value(QStringLiteral("site-name")) : siteName;
    return r;
}

int writeReport(const Options &o, const SiteReport &report)
{
    const QCommandLineParser &p = *o.parser;
    bool allOk = true;
    for (const GatewayCheck &c : report.gateways)
        allOk = allOk && c.ok();
    if (p.isSet(QStringLiteral("output"))) {
        const QString path = p.value(QStringLiteral("output"));
        const QString form = reportForm(path);
        QString why;
        if (form == QLatin1String("json"))
            writeWholeFile(path, QJsonDocument(SiteReportJson(report)).toJson(QJsonDocument::Indented));
        else if (!WriteSiteReport(report, path, &why))
            throw UsageError{QStringLiteral("%1: not written (%2); the file is as it was").arg(path, why)};
        if (!o.quiet)
            err(QStringLiteral("report of %1 gateway(s) written to %2").arg(report.gateways.size()).arg(path));
    }
    if (o.json && !p.isSet(QStringLiteral("output")))
        out(compact(SiteReportJson(report)));
    return allOk ? ExitOk : ExitGateway;
}

GatewayCheck unreachableCheck(const Options &o, const QString &message)
{
    GatewayCheck c;
    c.gateway.link = o.link;
    c.gateway.name = o.parser->value(QStringLiteral("title"));
    c.gateway.line = o.parser->value(QStringLiteral("line")).toInt();
    c.gateway.linkArgs = SiteLinkArgs(o.link);
    c.state = GatewayState::NoAnswer;
    c.message = message;
    c.profileName = o.parser->value(QStringLiteral("profile"));
    c.checkedAt = QDateTime::currentDateTime();
    return c;
}

void Runner::validateCheck()
{
    const QCommandLineParser &p = *m_o.parser;
    needArgs(1, 1, QStringLiteral("check [--profile FILE]"));
    if (p.isSet(QStringLiteral("output")))
        throw UsageError{QStringLiteral("-o: check prints its lines; report writes a file")};
    validateCheckProfile();
}

void Runner::validateReport()
{
    const QCommandLineParser &p = *m_o.parser;
    needArgs(1, 1, QStringLiteral("report -o FILE [--technician NAME] [--customer NAME]"));
    if (!p.isSet(QStringLiteral("output")) && !m_o.json)
        throw UsageError{QStringLiteral("report: give -o FILE (.pdf, .html or .json) or --json")};
    if (p.isSet(QStringLiteral("output"))) {
        reportForm(p.value(QStringLiteral("output")));
        checkWritable(p.value(QStringLiteral("output")));
    }
    validateCheckProfile();
}

void Runner::validateCheckProfile()
{
    const QCommandLineParser &p = *m_o.parser;
    if (p.isSet(QStringLiteral("profile"))) {
        m_check.profile = loadCheckProfile(p.value(QStringLiteral("profile")));
        m_check.profileName = p.value(QStringLiteral("profile"));
    }
}

GatewayCheck Runner::runCheck()
{
    GatewayCheck c = unreachableCheck(m_o, QString());
    CheckGateway(m_c, m_check, c, tracker());
    if (!m_o.quiet && stderrIsTerminal())
        fprintf(stderr, "\n");
    m_retriesCounted = true;
    return c;
}

int Runner::checkCmd()
{
    const GatewayCheck c = runCheck();
    printCheck(m_o, c);
    return c.ok() ? ExitOk : ExitGateway;
}

void printCheck(const Options &o, const GatewayCheck &c)
{
    if (o.json) {
        out(compact(GatewayCheckJson(c)));
        return;
    }
    out(c.gateway.shownName() + QStringLiteral("  ") + GatewayCheckSummary(c));
    if (c.state != GatewayState::Answers)
        out(QStringLiteral("  ") + c.message);
    for (const QString &d : c.differences)
        out(QStringLiteral("  ") + d);
}

int Runner::reportCmd()
{
    SiteReport r = reportHead(m_o, linkName(m_o.link));
    r.gateways << runCheck();
    return writeReport(m_o, r);
}

} // namespace qvx::ctl
