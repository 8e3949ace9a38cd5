// The "Settings" tab in the shown main window at its size of 916 x 788: every
// control inside its group and the window, none squeezed below what its text
// needs, the register table's six columns without sideways scrolling; grown
// to 1600 x 1000, the last column of every grid takes the room the others
// leave.  With QVX_SCREENSHOT_DIR set, each tab is saved as a picture after a
// session with the simulated device (the README's and the manual's screens,
// 916 x 788), and again at 1600 x 1000 with a size suffix (to look at).
#include "widgets/string_grid.h"
#include "common/screenshots.h"
#include "common/window_rig.h"
#include "config/settings_tab.h"
#include "iec/readout_view.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>

using namespace qvx;
using qvxtest::Link;
using qvxtest::WindowRig;

namespace {
// What is wrong with w's place in the shown window, or nothing.
QString clipping(const QWidget *w, const QWidget *window)
{
    for (const QWidget *p = w->parentWidget(); p && p != window->parentWidget(); p = p->parentWidget())
        if (!p->rect().contains(QRect(w->mapTo(p, QPoint(0, 0)), w->size())))
            return w->objectName() + QStringLiteral(" sticks out of ") + p->objectName();
    // An edit needs room for a few characters only; a word-wrapped label
    // takes more lines instead of more width.
    QSize need = w->minimumSizeHint();
    const auto *label = qobject_cast<const QLabel *>(w);
    if (label && label->wordWrap())
        need.setHeight(label->heightForWidth(label->width()));
    else if (label || qobject_cast<const QCheckBox *>(w) || qobject_cast<const QComboBox *>(w))
        need = w->sizeHint();
    if (const auto *b = qobject_cast<const QPushButton *>(w))
        need.setWidth(b->fontMetrics().horizontalAdvance(b->text()) + 8);
    if (w->width() < need.width() || w->height() < need.height())
        return QStringLiteral("%1 (%2) is %3x%4, needs %5x%6")
            .arg(w->objectName(), label ? label->text() : QString())
            .arg(w->width())
            .arg(w->height())
            .arg(need.width())
            .arg(need.height());
    return {};
}
} // namespace

class TstSettingsLayout : public QObject {
    Q_OBJECT

private slots:
    void settingsTabFitsTheWindow()
    {
        WindowRig rig({.link = Link::Tcp, .shown = true});
        QCOMPARE(rig.form->size(), QSize(916, 788));
        QStringList problems;
        int checked = 0;
        for (QWidget *w : rig.form->settingsTab()->findChildren<QWidget *>()) {
            const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
                                 qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w) ||
                                 qobject_cast<QLabel *>(w) || qobject_cast<QGroupBox *>(w);
            // The edit inside a combo or spin box is sized by its owner.
            QWidget *owner = w->parentWidget();
            if (!w->isVisible() || !control || qobject_cast<QComboBox *>(owner) ||
                qobject_cast<QAbstractSpinBox *>(owner))
                continue;
            ++checked;
            if (const QString p = clipping(w, rig.form.get()); !p.isEmpty())
                problems << p;
        }
        QVERIFY(checked > 40);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        auto *grid = rig.child<StringGrid>("gridInputRegisters");
        QVERIFY(grid->viewport()->width() >= 72 + 77 + 141 + 74 + 147 + 64);
        QCOMPARE(grid->horizontalScrollBar()->maximum(), 0);
        for (const char *name : {"Edit_QVXIP", "Edit_QVXMASK", "Edit_QVXGW"}) {
            auto *edit = rig.child<QLineEdit>(name);
            QVERIFY(edit->width() > edit->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")));
        }
    }

    // A by-id or pseudo-terminal path longer than the box: the line under it
    // shows it whole inside the window; a short name needs no such line.
    void longPortNameIsShownWhole()
    {
        WindowRig rig({.shown = true});
        const QString path = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K2XYZ-if00-port0");
        for (QSize size : {QSize(916, 788), QSize(1600, 1000)}) {
            QVERIFY(qvxtest::resizeShown(rig.form.get(), size));
            rig.setText("Combo_com2_name", path);
            auto *whole = rig.child<QLabel>("Label_com2_name_whole");
            QTRY_VERIFY(whole->isVisible());
            QCOMPARE(whole->text().remove(QChar(0x200B)), path);
            QCOMPARE(rig.child<QComboBox>("Combo_com2_name")->toolTip(), path);
            QTRY_VERIFY2(whole->height() >= whole->heightForWidth(whole->width()),
                         qPrintable(clipping(whole, rig.form.get())));
            QCOMPARE(clipping(whole, rig.form.get()), QString());
            QVERIFY(rig.form->settingsTab()->rect().contains(
                QRect(whole->mapTo(rig.form->settingsTab(), QPoint(0, 0)), whole->size())));
            rig.setText("Combo_com2_name", QStringLiteral("COM1"));
            QTRY_VERIFY(!whole->isVisible());
        }
    }

    void screenshots()
    {
        const QString out = qEnvironmentVariable("QVX_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("QVX_SCREENSHOT_DIR not set");
        WindowRig rig({.link = Link::Tcp, .timeoutMs = 100, .shown = true});
        rig.setText("EditInputAddress", QStringLiteral("55400"));
        rig.setText("EditInputCount", QStringLiteral("6"));
        QVERIFY(rig.answered([&] { rig.click("BitBtn3"); }));
        rig.click("Butt_status");
        QVERIFY(rig.waitForLine(QStringLiteral("IEC readout interval: "), 0));
        const char *fields[][2] = {{"Combo_baud", "9600"},
                                   {"Combo_parity", "Even"},
                                   {"Combo_selectFlag", "Save values in 64-bit integer"},
                                   {"Edit_QVXIP", "192.168.100.100"},
                                   {"Edit_QVXMASK", "255.255.255.0"},
                                   {"Edit_QVXGW", "192.168.100.1"}};
        for (const auto &f : fields)
            rig.setText(f[0], QLatin1String(f[1]));
        // A USB adapter's name as Linux gives it, shown whole under its box.
        rig.setText("Combo_com2_name",
                    QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K2XYZ-if00-port0"));
        // The meter tab with the demo meter's codes and values, the readout
        // tab with a meter's answer parsed (values with their units).
        rig.form->tabs()->setCurrentIndex(1);
        QVERIFY(rig.answered([&] { rig.click("BitBtn15"); }));
        QVERIFY(rig.answered([&] { rig.click("BitBtn19"); }));
        rig.form->tabs()->setCurrentIndex(2);
        rig.child<ReadoutView>("Memo_readout")
            ->paste(QStringLiteral("/XYZ5METER-1234\r\n\x02"
                                   "0.0.0(12345678)\r\n1.8.0(0001234.567*kWh)\r\n2.8.0(0000012.345*kWh)\r\n"
                                   "1.7.0(0001.234*kW)\r\n32.7.0(230.1*V)\r\n"
                                   "1.8.1(0000987.654*kWh)(2026-01-01 00:00)\r\n!\r\n\x03"));
        rig.click("BitBtn20");
        QDir().mkpath(out);
        const char *names[] = {"settings", "meters", "readout"};
        for (QSize size : {QSize(916, 788), QSize(1600, 1000)}) {
            QVERIFY(qvxtest::resizeShown(rig.form.get(), size));
            for (int i = 0; i < 3; ++i) {
                rig.form->tabs()->setCurrentIndex(i);
                QTest::qWait(50);
                const QString name = QLatin1String(names[i]);
                QVERIFY(rig.form->grab().save(size == QSize(916, 788) ? out + QLatin1Char('/') + name + ".png"
                                                                      : qvxtest::sizedName(out, name, size)));
            }
        }
    }

    // Grown to 1600 x 1000, no grid leaves a blank strip: the last column
    // reaches the right edge, the others keep the widths they had.
    void lastColumnsFillTheGrownWindow()
    {
        WindowRig rig({.shown = true});
        const struct {
            int tab;
            const char *grid;
        } grids[] = {
            {0, "gridInputRegisters"}, {1, "Grid_registers"}, {1, "Grid_meterValue"}, {2, "gridIEC"}};
        QList<QList<int>> before;
        for (const auto &g : grids) {
            auto *grid = rig.child<StringGrid>(g.grid);
            QList<int> widths;
            for (int c = 0; c < grid->colCount(); ++c)
                widths << grid->ownWidth(c);
            before << widths;
        }
        QVERIFY(qvxtest::resizeShown(rig.form.get(), QSize(1600, 1000)));
        for (qsizetype i = 0; i < before.size(); ++i) {
            rig.form->tabs()->setCurrentIndex(grids[i].tab);
            auto *grid = rig.child<StringGrid>(grids[i].grid);
            const QList<int> &widths = before.at(i);
            const int last = grid->colCount() - 1;
            int others = 0;
            for (int c = 0; c < last; ++c) {
                QCOMPARE(grid->columnWidth(c), widths.at(c));
                others += widths.at(c);
            }
            QTRY_COMPARE(grid->columnWidth(last), grid->viewport()->width() - others);
            QVERIFY2(grid->columnWidth(last) > widths.at(last), grids[i].grid);
            QCOMPARE(grid->ownWidth(last), widths.at(last));
            QCOMPARE(grid->horizontalScrollBar()->maximum(), 0);
        }
    }
};

QTEST_MAIN(TstSettingsLayout)
#include "tst_settings_layout.moc"
