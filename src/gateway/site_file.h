// A site: the gateways of one installation in one text file, shared by the
// window's site window and qvxctl --targets.  The format is the targets
// file's (one gateway a line as its LINK options, "#" comments, blank lines)
// with name="..." and profile=FILE per line, e.g.
//   name="Feeder 3" profile=feeders.json --tcp 10.0.0.13 --unit 3
// Plain code, no I/O: the callers read and write the bytes.
#pragma once

#include "gateway/gateway_format.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

namespace qvx {

struct SiteGateway {
    // The line in the file (from 1); 0 for a gateway added since it was read.
    int line = 0;
    // name= and profile= as written (either may be empty).
    QString name;
    QString profile;
    // The LINK options, as qvxctl takes them ("--tcp", "10.0.0.13", ...).
    QStringList linkArgs;
    // What the options say.
    GatewayLink link;
    // --name, when the line gives one (qvxctl's output file names).
    QString fileName;
    // The name to show: name=, else --name, else the link's.
    QString shownName() const;
};

struct SiteFile {
    // Every line as read (without line ends), for saving with its comments
    // and blank lines.
    QStringList lines;
    QList<SiteGateway> gateways;
    // "line N: what" for every bad line; gateways is then empty, and
    // nothing is to be sent.
    QStringList errors;
    bool ok() const { return errors.isEmpty(); }
};

// Latin-1 text, lines ended by LF or CR LF.
SiteFile ParseSiteFile(QByteArrayView latin1);
// The file as it is to be saved, Latin-1 with CR LF: every line read, a
// gateway's line rewritten when its fields were changed (its comment kept)
// and left out when the gateway was removed; gateways with line 0 appended.
QByteArray SiteFileBytes(const SiteFile &site);
// The LINK options that say link, for a gateway added by its fields
// ("--tcp", "10.0.0.13:502", "--unit", "3").
QStringList SiteLinkArgs(const GatewayLink &link);
// One gateway's line as the file holds it.
QString SiteGatewayLine(const SiteGateway &gateway);
// A profile named in the site file: relative names are relative to the
// site file's folder.  Empty for an empty profile.
QString SiteProfilePath(const QString &siteFilePath, const QString &profile);

} // namespace qvx
