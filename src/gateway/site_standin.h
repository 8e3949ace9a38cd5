// The site pieces the window needs until the shared site file, check and
// report code is in: the site file's lines (a name and a profile beside
// qvxctl's link options), one gateway's check, and its text.  Kept in a
// namespace of their own so that they make way for the shared ones.
#pragma once
#include "gateway/gateway_runners.h"
#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <optional>
namespace qvx::site_standin {

struct SiteGateway {
    QString name;
    QString profile;
    GatewayLink link;
    int line = 0;
};
struct SiteFile {
    QVector<SiteGateway> gateways;
    QStringList lines;
};
struct SiteParse {
    std::optional<SiteFile> site;
    QStringList errors;
};
SiteParse ParseSiteFile(const QByteArray &bytes, const GatewayLink &defaults);
QByteArray SiteFileBytes(const SiteFile &site);
QString SiteProfilePath(const QString &sitePath, const QString &profile);

struct GatewayCheck {
    QString firmware;
    int programmed = 0;
    int delivering = 0;
    std::optional<int> differences; // nothing: no profile
    GatewayProfile device;
    // One reading of each programmed slot (element 0 is row 1), and when.
    QMap<int, QVector<std::optional<qint64>>> values;
    QDateTime readAt;
};
GatewayCheck CheckGateway(GatewayClient &client, const SiteGateway &gateway,
                          const std::optional<GatewayProfile> &profile, const GatewayProgress &progress);
QString GatewayCheckText(const GatewayCheck &check);
} // namespace qvx::site_standin

namespace qvx {
using namespace site_standin;
}
