#include "gateway/site_standin.h"
#include "gateway/profile_compare.h"
#include <QDir>
#include <QFileInfo>
namespace qvx::site_standin {
SiteParse ParseSiteFile(const QByteArray &bytes, const GatewayLink &defaults)
{
    SiteParse out;
    SiteFile site;
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QString text = QString::fromLatin1(lines.at(i)).trimmed();
        if (i == lines.size() - 1 && text.isEmpty())
            break;
        site.lines << QString::fromLatin1(lines.at(i));
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        SiteGateway g;
        g.line = i + 1;
        while (text.startsWith(QLatin1String("name=")) || text.startsWith(QLatin1String("profile="))) {
            const int sp = text.indexOf(QLatin1Char(' '));
            const QString tok = sp < 0 ? text : text.left(sp);
            text = sp < 0 ? QString() : text.mid(sp + 1).trimmed();
            if (tok.startsWith(QLatin1String("name=")))
                g.name = tok.mid(5);
            else
                g.profile = tok.mid(8);
        }
        const TargetList t = parseTargetFile(text.toLatin1(), defaults, true);
        if (t.error) {
            out.errors << QStringLiteral("line %1: %2").arg(i + 1).arg(QString(*t.error).remove(QLatin1String("line 1: ")));
            continue;
        }
        g.link = t.targets.first().link;
        if (g.name.isEmpty())
            g.name = t.targets.first().name;
        site.gateways << g;
    }
    if (out.errors.isEmpty())
        out.site = site;
    return out;
}
QByteArray SiteFileBytes(const SiteFile &site)
{
    QByteArray out;
    int g = 0;
    for (const QString &l : site.lines) {
        const QString t = l.trimmed();
        if (t.isEmpty() || t.startsWith(QLatin1Char('#'))) {
            out += l.toLatin1() + '\n';
            continue;
        }
        if (g < site.gateways.size()) {
            const SiteGateway &s = site.gateways.at(g++);
            out += QStringLiteral("name=%1 %2%3\n").arg(s.name, s.profile.isEmpty() ? QString() : QStringLiteral("profile=%1 ").arg(s.profile), s.link.describe()).toLatin1();
        }
    }
    for (; g < site.gateways.size(); ++g) {
        const SiteGateway &s = site.gateways.at(g);
        out += QStringLiteral("name=%1 %2%3\n").arg(s.name, s.profile.isEmpty() ? QString() : QStringLiteral("profile=%1 ").arg(s.profile), s.link.describe()).toLatin1();
    }
    return out;
}
QString SiteProfilePath(const QString &sitePath, const QString &profile)
{
    return QFileInfo(profile).isAbsolute() ? profile : QFileInfo(sitePath).absoluteDir().filePath(profile);
}
GatewayCheck CheckGateway(GatewayClient &client, const SiteGateway &, const std::optional<GatewayProfile> &profile,
                          const GatewayProgress &progress)
{
    GatewayCheck c;
    c.device = readGatewayProfile(client, progress);
    c.firmware = c.device.info.firmware;
    const bool wide = flagSet(c.device.info.flags, 4);
    for (int s : usedSlots(c.device)) {
        ++c.programmed;
        if (progress)
            progress(0, 0, QStringLiteral("reading the values of slot %1").arg(s));
        // Only the programmed rows count; a 32-bit all-ones value is no reading.
        const QVector<std::optional<qint64>> values = client.readValues(s, wide);
        c.values.insert(s, values);
        c.readAt = QDateTime::currentDateTime();
        const int last = qMin(int(values.size()), lastProgrammedRow(c.device.table, s));
        for (int r = 0; r < last; ++r)
            if (values.at(r) && (wide || *values.at(r) != 0xFFFFFFFFLL)) {
                ++c.delivering;
                break;
            }
    }
    if (profile)
        c.differences = int(compareProfiles(c.device, *profile, false, false, false).differences.size());
    return c;
}
QString GatewayCheckText(const GatewayCheck &c)
{
    return QStringLiteral("answers, %1 of %2 meters deliver values").arg(c.delivering).arg(c.programmed);
}
} // namespace qvx::site_standin
