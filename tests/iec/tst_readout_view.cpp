// The readout view on screen: control characters show as their names in a
// frame, drawn with the fonts installed here, never as the empty box a font
// without the Unicode control pictures gives.  Rendered on the offscreen
// platform, so it sees what a stock desktop's fonts draw.
#include "iec/iec_lines.h"
#include "iec/readout_view.h"

#include <QFontMetrics>
#include <QImage>
#include <QTest>

using namespace qvx;

namespace {

// Whether any pixel of area differs from the view's background.
bool hasInk(const QImage &area, QRgb background)
{
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x)
            if (area.pixel(x, y) != background)
                return true;
    return false;
}

} // namespace

class TstReadoutView : public QObject {
    Q_OBJECT
private slots:
    // Each control of a readout line against another: both are drawn, and
    // differently, which two empty boxes would not be.
    void controlsShowAsTheirNames_data()
    {
        QTest::addColumn<char>("control");
        QTest::addColumn<char>("other");
        QTest::newRow("STX") << '\x02' << '\x03';
        QTest::newRow("ETX") << '\x03' << '\x02';
        QTest::newRow("CR") << '\r' << '\x02';
        QTest::newRow("NAK") << '\x15' << '\x06';
        QTest::newRow("DEL") << '\x7F' << '\x04';
    }
    void controlsShowAsTheirNames()
    {
        QFETCH(char, control);
        QFETCH(char, other);
        ReadoutView view;
        view.resize(400, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // The picture the view used to draw is what the fonts here may lack.
        if (!QFontMetrics(view.font()).inFont(iecDisplayChar(control)))
            qInfo("%s: the view's font has no control picture for it", QTest::currentDataTag());

        int line = 0;
        QByteArray bytes = "1.8.0(";
        bytes += control;
        bytes += ")";
        bytes += other;
        bytes += "\r\n";
        view.capture(bytes, line);
        const QImage shot = view.viewport()->grab().toImage();
        const QRgb background = view.viewport()->palette().color(QPalette::Base).rgb();

        const QRect at = view.byteRect(0, 6);
        const QRect otherAt = view.byteRect(0, 8);
        QCOMPARE(at.width(), IecControlColumns * QFontMetrics(view.font()).horizontalAdvance(u'0'));
        // Inside the frame: the name's letters.
        const QRect inside = at.adjusted(3, 3, -3, -3);
        QVERIFY(hasInk(shot.copy(inside), background));
        QVERIFY(shot.copy(at) != shot.copy(otherAt));
        // The characters beside it are not drawn over.
        QVERIFY(hasInk(shot.copy(view.byteRect(0, 7)), background));
        QVERIFY(!view.byteRect(0, 7).intersects(at));
        // What the line holds is unchanged.
        QCOMPARE(view.lineText(0).toLatin1(), bytes.chopped(1));
    }
};

QTEST_MAIN(TstReadoutView)
#include "tst_readout_view.moc"
