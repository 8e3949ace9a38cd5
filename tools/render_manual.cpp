// Renders the user manual from Markdown to PDF with Qt's own text document
// and PDF writer, so the build needs nothing beyond Qt.  Pictures are taken
// from paths relative to the Markdown file and made to fit the page width.
//
//   QT_QPA_PLATFORM=offscreen qvx_render_manual manual.md UsrMan.pdf
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>
#include <cstdio>

namespace {

// Gives every picture of doc a width that fits maxWidth; returns the names of
// pictures that could not be read.
QStringList fitImages(QTextDocument &doc, const QDir &base, qreal maxWidth)
{
    QStringList missing;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            const QString file = base.filePath(image.name());
            const QSize size = QImageReader(file).size();
            if (!size.isValid()) {
                missing << image.name();
                continue;
            }
            // By its full path: printing works on a copy of the document,
            // which does not keep the base URL.
            image.setName(QUrl::fromLocalFile(file).toString());
            const qreal width = qMin<qreal>(size.width(), maxWidth);
            image.setWidth(width);
            image.setHeight(width * size.height() / size.width());
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
    return missing;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MANUAL.md OUTPUT.pdf\n", argv[0]);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const QDir base = QFileInfo(source).absoluteDir();
    QTextDocument doc;
    // Relative picture paths are read from the Markdown file's folder.
    doc.setBaseUrl(QUrl::fromLocalFile(base.absolutePath() + QLatin1Char('/')));
    doc.setMarkdown(QString::fromUtf8(in.readAll()));

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setTitle(QStringLiteral("QVX-24S decoder - User manual"));
    pdf.setCreator(QStringLiteral("qvxtool build"));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    // The text width in the document's own units (the screen's 96 dpi, which
    // the print scales from), a little less for the frame's margin.
    const qreal textWidthMm = pdf.pageLayout().paintRect(QPageLayout::Millimeter).width();
    const qreal textWidth = textWidthMm / 25.4 * 96.0 - 2 * doc.documentMargin();
    const QStringList missing = fitImages(doc, base, textWidth);
    for (const QString &name : missing)
        std::fprintf(stderr, "%s: cannot read picture %s\n", argv[0], qPrintable(name));
    if (!missing.isEmpty())
        return 1;
    doc.print(&pdf);
    if (!QFile::exists(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
