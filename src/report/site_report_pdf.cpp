// The report as PDF: the HTML laid out by QTextDocument onto QPdfWriter
// pages (A4), into a QSaveFile so a failed write leaves no half file.
#include "report/site_report.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace qvx {

bool WriteSiteReportPdf(const SiteReport &report, const QString &path, QString *error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    {
        QPdfWriter pdf(&f);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        pdf.setTitle(QStringLiteral("Commissioning report %1").arg(report.siteName));
        pdf.setCreator(QStringLiteral("qvxtool %1").arg(report.toolVersion));
        pdf.setResolution(96);
        QTextDocument doc;
        doc.setHtml(SiteReportHtml(report));
        doc.print(&pdf);
    }
    if (f.commit())
        return true;
    if (error)
        *error = f.errorString();
    return false;
}

} // namespace qvx
