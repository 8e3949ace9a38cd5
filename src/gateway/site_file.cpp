#include "gateway/site_file.h"

#include <QDir>
#include <QFileInfo>

namespace qvx {

namespace {

SiteGateway fromTarget(const Target &t)
{
    SiteGateway g;
    g.line = t.line;
    g.name = t.title;
    g.profile = t.profile;
    g.linkArgs = t.linkArgs;
    g.link = t.link;
    if (t.nameGiven)
        g.fileName = t.name;
    return g;
}

// A word as the file writes it: quoted when it holds white space or "#".
QString word(const QString &key, const QString &value)
{
    bool quote = value.isEmpty();
    for (const QChar c : value)
        quote = quote || c.isSpace() || c == QLatin1Char('#');
    QString v = value;
    v.remove(QLatin1Char('"'));
    return key + (quote ? QLatin1Char('"') + v + QLatin1Char('"') : v);
}

bool sameFields(const SiteGateway &a, const SiteGateway &b)
{
    return a.name == b.name && a.profile == b.profile && a.linkArgs == b.linkArgs && a.fileName == b.fileName;
}

// The comment of a line ("# ..." outside quotes), with the space before it.
QString commentOf(const QString &line)
{
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('"'))
            quoted = !quoted;
        else if (line.at(i) == QLatin1Char('#') && !quoted)
            return QStringLiteral("  ") + line.mid(i);
    }
    return {};
}

} // namespace

QString SiteGateway::shownName() const
{
    if (!name.isEmpty())
        return name;
    return fileName.isEmpty() ? linkName(link) : fileName;
}

SiteFile ParseSiteFile(QByteArrayView latin1)
{
    SiteFile site;
    // Split as the gateway lines are parsed: a CR inside a line is white
    // space there, so only the one before the LF goes, or saving would join
    // two words into one.
    site.lines = QString::fromLatin1(latin1).split(QLatin1Char('\n'));
    for (QString &line : site.lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    // A final line end is not a line of its own.
    if (!site.lines.isEmpty() && site.lines.last().isEmpty())
        site.lines.removeLast();
    const TargetList list = parseTargetFile(latin1.toByteArray(), GatewayLink{}, false, &site.errors);
    if (!site.errors.isEmpty())
        return site;
    // A site may be empty while it is being made; a targets file may not.
    if (list.error)
        return site;
    for (const Target &t : list.targets)
        site.gateways.append(fromTarget(t));
    return site;
}

QStringList SiteLinkArgs(const GatewayLink &link)
{
    QStringList a;
    if (link.tcp)
        a << QStringLiteral("--tcp") << QStringLiteral("%1:%2").arg(link.host).arg(link.port);
    else
        a << QStringLiteral("--serial") << link.serialPort << QStringLiteral("--baud")
          << QString::number(link.baud) << QStringLiteral("--parity") << link.parity;
    return a << QStringLiteral("--unit") << QString::number(link.unit);
}

QString SiteGatewayLine(const SiteGateway &g)
{
    QStringList w;
    if (!g.name.isEmpty())
        w << word(QStringLiteral("name="), g.name);
    if (!g.profile.isEmpty())
        w << word(QStringLiteral("profile="), g.profile);
    for (const QString &a : g.linkArgs)
        w << word(QString(), a);
    if (!g.fileName.isEmpty())
        w << QStringLiteral("--name") << g.fileName;
    return w.join(QLatin1Char(' '));
}

QByteArray SiteFileBytes(const SiteFile &site)
{
    QStringList out;
    for (int i = 0; i < site.lines.size(); ++i) {
        const QString &line = site.lines.at(i);
        const TargetList one = parseTargetFile(line.toLatin1(), GatewayLink{});
        if (one.targets.isEmpty()) {
            // A comment, a blank line or a line that was never a gateway.
            out << line;
            continue;
        }
        const SiteGateway *now = nullptr;
        for (const SiteGateway &g : site.gateways)
            if (g.line == i + 1)
                now = &g;
        if (!now)
            continue; // removed
        SiteGateway before = fromTarget(one.targets.first());
        out << (sameFields(before, *now) ? line : SiteGatewayLine(*now) + commentOf(line));
    }
    for (const SiteGateway &g : site.gateways)
        if (g.line <= 0 || g.line > site.lines.size())
            out << SiteGatewayLine(g);
    QByteArray bytes;
    for (const QString &l : out)
        bytes += l.toLatin1() + "\r\n";
    return bytes;
}

QString SiteProfilePath(const QString &siteFilePath, const QString &profile)
{
    if (profile.isEmpty())
        return {};
    if (QDir::isAbsolutePath(profile))
        return QDir::cleanPath(profile);
    return QDir::cleanPath(QFileInfo(siteFilePath).path() + QLatin1Char('/') + profile);
}

} // namespace qvx
