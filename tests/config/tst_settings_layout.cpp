// The "Settings" tab in the shown main window at its size of 916 x 788: every
// control inside the window and inside its group, none squeezed below the
// size it needs, the register table's six columns without sideways
// scrolling.  With QVX_SCREENSHOT_DIR set, each tab is also saved as a
// picture (settings.png, meters.png, readout.png) after a session with the
// simulated device.
#include "app/string_grid.h"
#include "sim_rig.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QPushButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabWidget>

using namespace qvx;
using qvxtest::Link;
using qvxtest::SimRig;

namespace {

bool isControl(const QWidget *w)
{
    return qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QLineEdit *>(w) ||
           qobject_cast<const QComboBox *>(w) || qobject_cast<const QAbstractSpinBox *>(w) ||
           qobject_cast<const QLabel *>(w) || qobject_cast<const QGroupBox *>(w) ||
           qobject_cast<const StringGrid *>(w);
}

// What is wrong with w's place in the shown window, or nothing.
QString clipping(const QWidget *w, const QWidget *window)
{
    const QString name =
        w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
    // Inside every ancestor up to the window.
    for (const QWidget *p = w->parentWidget(); p && p != window->parentWidget(); p = p->parentWidget()) {
        const QRect inParent(w->mapTo(p, QPoint(0, 0)), w->size());
        if (!p->rect().contains(inParent))
            return name + QStringLiteral(" sticks out of ") + p->objectName();
    }
    // Not squeezed below what its text needs.  A line edit only needs room
    // for a few characters; a word-wrapped label takes more lines instead.
    QSize need = w->minimumSizeHint();
    const auto *label = qobject_cast<const QLabel *>(w);
    if (label && label->wordWrap())
        need.setHeight(label->heightForWidth(label->width()));
    else if (label || qobject_cast<const QCheckBox *>(w))
        need = w->sizeHint();
    if (const auto *b = qobject_cast<const QPushButton *>(w))
        need.setWidth(b->fontMetrics().horizontalAdvance(b->text()) + 8);
    if (qobject_cast<const QComboBox *>(w))
        need.setWidth(w->sizeHint().width());
    if (w->width() < need.width() || w->height() < need.height())
        return name + QStringLiteral(" is %1x%2, needs %3x%4")
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
        SimRig rig(Link::Tcp);
        QVERIFY(rig.ready());
        TForm1 &form = *rig.form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.size(), QSize(916, 788));
        QCOMPARE(form.tabs()->currentIndex(), 0);

        QWidget *tab = form.settingsTab();
        QStringList problems;
        int checked = 0;
        for (QWidget *w : tab->findChildren<QWidget *>()) {
            if (!w->isVisible() || !isControl(w))
                continue;
            // The edit inside a combo or spin box is sized by its owner.
            if (qobject_cast<QComboBox *>(w->parentWidget()) ||
                qobject_cast<QAbstractSpinBox *>(w->parentWidget()))
                continue;
            ++checked;
            const QString p = clipping(w, &form);
            if (!p.isEmpty())
                problems << p;
        }
        QVERIFY(checked > 40);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));

        auto *grid = rig.child<StringGrid>("gridInputRegisters");
        int columns = 0;
        for (int c = 0; c < 6; ++c)
            columns += grid->columnWidth(c);
        QVERIFY(grid->viewport()->width() >= columns);
        // The device's address fields show a whole address.
        for (const char *name : {"Edit_QVXIP", "Edit_QVXMASK", "Edit_QVXGW"}) {
            auto *edit = rig.child<QLineEdit>(name);
            QVERIFY(edit->width() > edit->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")));
        }
        QCOMPARE(grid->horizontalScrollBar()->maximum(), 0);
    }

    // Pictures for the README, with the simulator's answers in them.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("QVX_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("QVX_SCREENSHOT_DIR not set");
        SimRig rig(Link::Tcp);
        QVERIFY(rig.ready());
        TForm1 &form = *rig.form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        rig.setText("EditInputAddress", QStringLiteral("55400"));
        rig.setText("EditInputCount", QStringLiteral("6"));
        rig.click("BitBtn3");
        QVERIFY(rig.waitForRespond());
        rig.click("Butt_status");
        QTRY_VERIFY_WITH_TIMEOUT(rig.readout().StatusStep > SettingsReadout::LastStep, 15000);
        rig.setText("Combo_baud", QStringLiteral("9600"));
        rig.setText("Combo_parity", QStringLiteral("Even"));
        rig.setText("Combo_selectFlag", QStringLiteral("Save values in 64-bit integer"));
        rig.setText("Edit_QVXIP", QStringLiteral("192.168.100.100"));
        rig.setText("Edit_QVXMASK", QStringLiteral("255.255.255.0"));
        rig.setText("Edit_QVXGW", QStringLiteral("192.168.100.1"));
        QDir().mkpath(out);
        const char *names[] = {"settings.png", "meters.png", "readout.png"};
        for (int i = 0; i < 3; ++i) {
            form.tabs()->setCurrentIndex(i);
            QTest::qWait(50);
            QVERIFY(form.grab().save(out + QLatin1Char('/') + QLatin1String(names[i])));
        }
    }
};

QTEST_MAIN(TstSettingsLayout)
#include "tst_settings_layout.moc"
