// The commissioning report of a site: a summary first (counts and every
// gateway's verdict), then per gateway what it holds and that its meters
// answer.  HTML and JSON are plain text built from the checks; the PDF is
// the HTML laid out by Qt's own text document and PDF writer.
#pragma once

#include "gateway/site_check.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace qvx {

struct SiteReport {
    QDateTime date;
    QString toolVersion;
    QString technician;
    QString customer;
    QString siteName;
    QList<GatewayCheck> gateways;
};

struct SiteReportCounts {
    int gateways = 0;
    int answering = 0;
    int profileMatches = 0;
    int profileDiffers = 0;
    int allDelivering = 0;
    int ok = 0;
};
SiteReportCounts siteReportCounts(const SiteReport &report);

QString SiteReportHtml(const SiteReport &report);
QJsonObject SiteReportJson(const SiteReport &report);
// Written whole (QSaveFile) or not at all; error says why.  Needs a
// QGuiApplication.
bool WriteSiteReportPdf(const SiteReport &report, const QString &path, QString *error);
// The HTML, Latin-1 (characters beyond it as references), written whole.
bool WriteSiteReportHtml(const SiteReport &report, const QString &path, QString *error);
// As PDF when path ends in ".pdf" (any case), else as HTML.
bool WriteSiteReport(const SiteReport &report, const QString &path, QString *error);

} // namespace qvx
