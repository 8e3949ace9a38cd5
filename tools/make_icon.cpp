// Draws the program's icon, the about box logo's bar-graph mark on a white
// rounded tile, and writes it as a PNG of SIZE x SIZE pixels.
//
//   qvx_make_icon SIZE OUTPUT.png
//
// Drawn from the same numbers as the logo (logo_mark.h), at every size from
// vectors rather than scaled from the logo's pixels, so small icons stay sharp.
#include "logo_mark.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>

namespace {

QColor colour(qvxlogo::Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

QImage drawIcon(int size)
{
    using namespace qvxlogo;
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Work on a 48-unit grid whatever the size.
    p.scale(size / 48.0, size / 48.0);

    QPainterPath tile;
    tile.addRoundedRect(QRectF(2.5, 2.5, 43, 43), 8, 8);
    p.setPen(QPen(colour(Navy), 1.5));
    p.setBrush(colour(White));
    p.drawPath(tile);

    // The mark, MarkSize logo pixels square, fills 30 units of the tile.
    const double unit = 30.0 / MarkSize;
    p.translate(9, 9);
    p.scale(unit, unit);
    p.translate(-MarkLeft, -MarkTop);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < static_cast<int>(BarHeights.size()); ++i) {
        const int h = BarHeights[static_cast<size_t>(i)];
        p.setBrush(colour(barColour(i)));
        p.drawRect(QRectF(BarLeft + i * BarPitch, BarBottom - h, BarWidth, h));
    }
    p.end();
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    bool ok = false;
    const int size = argc == 3 ? QString::fromLocal8Bit(argv[1]).toInt(&ok) : 0;
    if (!ok || size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: %s SIZE OUTPUT.png   (SIZE 16 to 1024)\n", argv[0]);
        return 2;
    }
    if (!drawIcon(size).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
