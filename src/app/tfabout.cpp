#include "app/tfabout.h"

#include "app/jpeg_image.h"

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace qvx {
namespace {

// The logo is drawn "transparent": pixels of the colour of its bottom-left
// corner let the box's background show through.  JPEG blurs that colour a
// little, so near matches count too.
QPixmap transparentLogo()
{
    QFile f(QStringLiteral(":/about/logo.jpg"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QImage image = decodeJpeg(f.readAll());
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QColor key = image.pixelColor(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            if (qAbs(qRed(p) - key.red()) + qAbs(qGreen(p) - key.green()) + qAbs(qBlue(p) - key.blue()) < 48)
                line[x] = qRgba(0, 0, 0, 0);
        }
    }
    return QPixmap::fromImage(image);
}

QLabel *centred(const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setAlignment(Qt::AlignHCenter);
    return l;
}

} // namespace

TFAbout::TFAbout(QWidget *parent) : QDialog(parent), m_logo(new QLabel(this))
{
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral("QVX-24S -> About"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(380, 280);
    setModal(false);

    m_logo->setObjectName(QStringLiteral("Image_logo"));
    m_logo->setFixedSize(305, 41);
    m_logo->setAlignment(Qt::AlignCenter);
    m_logo->setPixmap(transparentLogo());

    auto *title = centred(QStringLiteral("QVX-24S decoder"), this);
    title->setObjectName(QStringLiteral("Label_title"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    title->setFont(big);

    auto *version = centred(QStringLiteral("v 1.0.1.59"), this);
    version->setObjectName(QStringLiteral("Label_version"));
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);

    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Button_close"));
    connect(close, &QPushButton::clicked, this, &TFAbout::Button_closeClick);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_logo, 0, Qt::AlignHCenter);
    layout->addWidget(title);
    layout->addWidget(version);
    layout->addSpacing(6);
    layout->addWidget(centred(QStringLiteral("Service tool for the QVX-24S field gateway:"), this));
    layout->addWidget(centred(QStringLiteral("meter readings from IEC 62056-21 served over Modbus."), this));
    layout->addWidget(centred(QStringLiteral("Made by the QVX tools team."), this));
    layout->addSpacing(6);
    layout->addWidget(centred(QStringLiteral("support@example.com"), this));
    layout->addWidget(centred(QStringLiteral("https://www.example.com/qvx-24s"), this));
    layout->addStretch(1);
    layout->addWidget(close, 0, Qt::AlignHCenter);

    centreOnScreen();
}

QPixmap TFAbout::logo() const
{
    return m_logo->pixmap();
}

void TFAbout::centreOnScreen()
{
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - rect().center());
}

void TFAbout::Button_closeClick()
{
    hide();
}

} // namespace qvx
