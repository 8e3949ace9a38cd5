// The "Settings" tab in the shown main window at its size of 916 x 788: every
// control inside its group and the window, none squeezed below what its text
// needs, the register table's six columns without sideways scrolling.  With
// QVX_SCREENSHOT_DIR set, each tab is saved as a picture after a session with
// the simulated device (the README's screens).
#include "widgets/string_grid.h"
#include "common/window_rig.h"
#include "config/settings_tab.h"

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
        QDir().mkpath(out);
        const char *names[] = {"settings.png", "meters.png", "readout.png"};
        for (int i = 0; i < 3; ++i) {
            rig.form->tabs()->setCurrentIndex(i);
            QTest::qWait(50);
            QVERIFY(rig.form->grab().save(out + QLatin1Char('/') + QLatin1String(names[i])));
        }
    }
};

QTEST_MAIN(TstSettingsLayout)
#include "tst_settings_layout.moc"
