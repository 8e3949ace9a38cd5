// The about box: its texts and fixed size, and the logo decoded through
// libjpeg from the JPEG the build drew.
#include "app/jpeg_image.h"
#include "app/tfabout.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace qvx;

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void boxHasCaptionFixedSizeAndStaysOnTop();
    void showsTitleVersionAndCloseButton();
    void logoIsDecodedThroughLibjpeg();
    void logoCornerColourIsTransparent();
    void notAJpegDecodesToNullImage_data();
    void notAJpegDecodesToNullImage();
};

void TestAbout::boxHasCaptionFixedSizeAndStaysOnTop()
{
    TFAbout about;
    QCOMPARE(about.windowTitle(), QStringLiteral("QVX-24S -> About"));
    QCOMPARE(about.size(), QSize(380, 280));
    QCOMPARE(about.minimumSize(), QSize(380, 280));
    QCOMPARE(about.maximumSize(), QSize(380, 280));
    QVERIFY(about.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!about.isVisible());
}

void TestAbout::showsTitleVersionAndCloseButton()
{
    TFAbout about;
    auto *title = about.findChild<QLabel *>("Label_title");
    QCOMPARE(title->text(), QStringLiteral("QVX-24S decoder"));
    QVERIFY(title->font().bold());
    QVERIFY(title->font().pointSizeF() > about.font().pointSizeF());
    auto *version = about.findChild<QLabel *>("Label_version");
    QCOMPARE(version->text(), QStringLiteral("v 1.0.1.59"));
    QVERIFY(version->font().bold());
    auto *close = about.findChild<QPushButton *>("Button_close");
    QCOMPARE(close->text(), QStringLiteral("Close"));
    about.show();
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void TestAbout::logoIsDecodedThroughLibjpeg()
{
    QFile f(QStringLiteral(":/about/logo.jpg"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("\xff\xd8\xff"));
    const QImage image = decodeJpeg(bytes);
    QCOMPARE(image.size(), QSize(305, 41));

    TFAbout about;
    QVERIFY(!about.logo().isNull());
    QCOMPARE(about.logo().size(), QSize(305, 41));
    QCOMPARE(about.findChild<QLabel *>("Image_logo")->size(), QSize(305, 41));
}

void TestAbout::logoCornerColourIsTransparent()
{
    TFAbout about;
    const QImage logo = about.logo().toImage();
    QCOMPARE(qAlpha(logo.pixel(0, logo.height() - 1)), 0);
    // The lettering itself stays opaque somewhere.
    bool opaque = false;
    for (int x = 0; x < logo.width() && !opaque; ++x)
        opaque = qAlpha(logo.pixel(x, logo.height() / 2)) == 255;
    QVERIFY(opaque);
}

void TestAbout::notAJpegDecodesToNullImage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("not a picture");
    QTest::newRow("truncated header") << QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF", 10);
}

void TestAbout::notAJpegDecodesToNullImage()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(decodeJpeg(bytes).isNull());
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
