#include "report/site_report.h"

#include <QJsonArray>
#include <QSaveFile>

namespace qvx {

namespace {

QString esc(const QString &s)
{
    return s.toHtmlEscaped();
}

QString passText(bool b)
{
    return b ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

QString when(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("-");
}

// The four checks of a gateway: what, passed.
QList<QPair<QString, bool>> checksOf(const GatewayCheck &c)
{
    const bool answers = c.state == GatewayState::Answers;
    return {
        {QStringLiteral("Answers"), answers},
        {QStringLiteral("Profile matches (%1)").arg(c.profileText()),
         answers && c.profile != ProfileState::Differs},
        {QStringLiteral("Every programmed meter delivers values (%1 of %2)").arg(c.delivering).arg(c.programmed),
         answers && c.delivering == c.programmed},
        {QStringLiteral("No CRC errors during the report's reads (%1)").arg(c.crcErrors), c.crcErrors == 0},
    };
}

} // namespace

SiteReportCounts siteReportCounts(const SiteReport &r)
{
    SiteReportCounts n;
    for (const GatewayCheck &c : r.gateways) {
        ++n.gateways;
        n.answering += c.state == GatewayState::Answers ? 1 : 0;
        n.profileMatches += c.profile == ProfileState::Matches ? 1 : 0;
        n.profileDiffers += c.profile == ProfileState::Differs ? 1 : 0;
        n.allDelivering += c.state == GatewayState::Answers && c.delivering == c.programmed ? 1 : 0;
        n.ok += c.ok() ? 1 : 0;
    }
    return n;
}

QString SiteReportHtml(const SiteReport &r)
{
    const SiteReportCounts n = siteReportCounts(r);
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"ISO-8859-1\"/>"
                        "<title>Commissioning report %1</title>"
                        "<style>table{border-collapse:collapse}td,th{border:1px solid #888;padding:2px 6px;"
                        "text-align:left;vertical-align:top}.fail{color:#b00000}.pass{color:#006000}</style>"
                        "</head><body>\n")
             .arg(esc(r.siteName));
    h += QStringLiteral("<h1>Commissioning report: %1</h1>\n").arg(esc(r.siteName));
    h += QStringLiteral("<table><tr><th>Date</th><td>%1</td></tr><tr><th>Tool</th><td>qvxtool %2</td></tr>"
                        "<tr><th>Technician</th><td>%3</td></tr><tr><th>Customer</th><td>%4</td></tr></table>\n")
             .arg(when(r.date), esc(r.toolVersion), esc(r.technician), esc(r.customer));
    h += QStringLiteral("<h2>Site summary</h2>\n<p>%1 gateway(s): %2 answer, %3 match their profile, %4 differ "
                        "from it, %5 with every programmed meter delivering values; %6 pass every check.</p>\n")
             .arg(n.gateways)
             .arg(n.answering)
             .arg(n.profileMatches)
             .arg(n.profileDiffers)
             .arg(n.allDelivering)
             .arg(n.ok);
    h += QStringLiteral("<table><tr><th>Gateway</th><th>Link</th><th>Unit</th><th>State</th><th>Meters</th>"
                        "<th>Profile</th><th>Verdict</th></tr>\n");
    for (const GatewayCheck &c : r.gateways)
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5 of %6 deliver</td><td>%7</td>"
                            "<td class=\"%8\">%9</td></tr>\n")
                 .arg(esc(c.gateway.shownName()), esc(c.gateway.link.describe()))
                 .arg(c.gateway.link.unit)
                 .arg(esc(gatewayStateText(c.state)))
                 .arg(c.delivering)
                 .arg(c.programmed)
                 .arg(esc(c.profileText()), c.ok() ? QStringLiteral("pass") : QStringLiteral("fail"),
                      esc(c.verdict()));
    h += QStringLiteral("</table>\n");
    for (const GatewayCheck &c : r.gateways) {
        h += QStringLiteral("<h2>%1 / %2</h2>\n").arg(esc(r.siteName), esc(c.gateway.shownName()));
        h += QStringLiteral("<table><tr><th>Link</th><td>%1</td></tr><tr><th>Unit</th><td>%2</td></tr>"
                            "<tr><th>Firmware</th><td>%3</td></tr><tr><th>Checked</th><td>%4</td></tr>")
                 .arg(esc(c.gateway.link.describe()))
                 .arg(c.gateway.link.unit)
                 .arg(esc(c.firmware), when(c.checkedAt));
        if (c.state != GatewayState::Answers)
            h += QStringLiteral("<tr><th>Message</th><td>%1</td></tr>").arg(esc(c.message));
        h += QStringLiteral("</table>\n<h3>Checks</h3>\n<table>");
        for (const auto &[what, pass] : checksOf(c))
            h += QStringLiteral("<tr><td>%1</td><td class=\"%2\">%3</td></tr>")
                     .arg(esc(what), pass ? QStringLiteral("pass") : QStringLiteral("fail"), passText(pass));
        h += QStringLiteral("</table>\n");
        if (!c.differences.isEmpty()) {
            h += QStringLiteral("<h3>Differences from the profile %1</h3>\n<ul>").arg(esc(c.profileName));
            for (const QString &d : c.differences)
                h += QStringLiteral("<li>%1</li>").arg(esc(d));
            h += QStringLiteral("</ul>\n");
        }
        if (!c.settings.isEmpty()) {
            h += QStringLiteral("<h3>Settings</h3>\n<p>");
            h += QStringList([&] {
                     QStringList e;
                     for (const QString &l : c.settings)
                         e << esc(l);
                     return e;
                 }())
                     .join(QStringLiteral("<br/>"));
            h += QStringLiteral("</p>\n");
        }
        if (c.state == GatewayState::Answers) {
            h += QStringLiteral("<h3>Meters (%1 of %2 slots programmed)</h3>\n").arg(c.programmed).arg(c.slotCount);
            h += QStringLiteral("<table><tr><th>Slot</th><th>Meter ID</th><th>OBIS</th><th>Name</th><th>Value</th>"
                                "<th>Read at</th></tr>\n");
            for (const SlotCheck &s : c.meters) {
                const int rows = qMax(1, int(s.obis.size()));
                for (int i = 0; i < rows; ++i) {
                    h += QStringLiteral("<tr>");
                    if (i == 0)
                        h += QStringLiteral("<td rowspan=\"%1\">%2</td><td rowspan=\"%1\">%3<br/>%4</td>")
                                 .arg(rows)
                                 .arg(s.slot)
                                 .arg(esc(s.meterId),
                                      s.delivers ? QStringLiteral("delivers values")
                                                 : QStringLiteral("<span class=\"fail\">delivers no values</span>"));
                    const std::optional<qint64> v = s.values.value(i);
                    h += QStringLiteral("<td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                             .arg(esc(s.obis.value(i)), esc(s.obisNames.value(i)),
                                  v ? QString::number(*v) : QStringLiteral("-"), when(s.readAt));
                }
            }
            h += QStringLiteral("</table>\n");
        }
    }
    h += QStringLiteral("<h2>Signatures</h2>\n<table><tr><th>Technician</th><td>%1</td><td style=\"width:60%\">"
                        "<br/><br/><br/></td></tr><tr><th>Customer</th><td>%2</td><td><br/><br/><br/></td></tr>"
                        "</table>\n</body></html>\n")
             .arg(esc(r.technician), esc(r.customer));
    return h;
}

QJsonObject SiteReportJson(const SiteReport &r)
{
    const SiteReportCounts n = siteReportCounts(r);
    QJsonArray gateways;
    for (const GatewayCheck &c : r.gateways) {
        QJsonObject g = GatewayCheckJson(c);
        QJsonArray checks;
        for (const auto &[what, pass] : checksOf(c))
            checks.append(QJsonObject{{QStringLiteral("check"), what}, {QStringLiteral("pass"), pass}});
        g.insert(QStringLiteral("checks"), checks);
        gateways.append(g);
    }
    return QJsonObject{
        {QStringLiteral("format"), QStringLiteral("qvx-site-report/1")},
        {QStringLiteral("date"), r.date.toString(Qt::ISODate)},
        {QStringLiteral("tool_version"), r.toolVersion},
        {QStringLiteral("technician"), r.technician},
        {QStringLiteral("customer"), r.customer},
        {QStringLiteral("site"), r.siteName},
        {QStringLiteral("summary"),
         QJsonObject{{QStringLiteral("gateways"), n.gateways},
                     {QStringLiteral("answering"), n.answering},
                     {QStringLiteral("profile_matches"), n.profileMatches},
                     {QStringLiteral("profile_differs"), n.profileDiffers},
                     {QStringLiteral("all_meters_delivering"), n.allDelivering},
                     {QStringLiteral("ok"), n.ok}}},
        {QStringLiteral("gateways"), gateways},
    };
}

bool WriteSiteReportHtml(const SiteReport &report, const QString &path, QString *error)
{
    QString html = SiteReportHtml(report);
    QByteArray bytes;
    for (const QChar c : html) {
        if (c.unicode() < 0x100)
            bytes += char(c.unicode());
        else
            bytes += "&#" + QByteArray::number(c.unicode()) + ';';
    }
    bytes.replace("\n", "\r\n");
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
        return true;
    if (error)
        *error = f.errorString();
    f.cancelWriting();
    return false;
}

bool WriteSiteReport(const SiteReport &report, const QString &path, QString *error)
{
    return path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
               ? WriteSiteReportPdf(report, path, error)
               : WriteSiteReportHtml(report, path, error);
}

} // namespace qvx
