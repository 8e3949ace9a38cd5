// The status bar of the real window: each panel says what it is about and
// what it shows to the accessibility interface, shows its whole text at the
// window's size, and the serial panel follows the line in use when a gateway
// tool moves it.
#include "common/window_rig.h"
#include "sim/pty_link.h"
#include "transport/reply_check.h"
#include "widgets/status_panel.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QStatusBar>

using namespace qvx;
using qvxtest::WindowRig;

namespace {

const char *const Roles[4] = {"TCP connection", "Serial port", "Last CRC error", "Status"};

StatusPanel *panel(WindowRig &r, int i)
{
    return r.form->findChild<StatusPanel *>(QStringLiteral("StatusPanel%1").arg(i));
}

QString accessibleName(QWidget *w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

// The simulated gateway on a pseudo-terminal that answers only at its own
// rate, the window's port open at that rate.
struct PtyRig : WindowRig {
    explicit PtyRig(int baud) : WindowRig({.shown = true})
    {
        qvxsim::LineSettings line = device.rtuLine();
        line.baud = baud;
        device.setRtuLine(line);
        pty = std::make_unique<qvxsim::PtyLink>(device, sim);
        pty->matchBaud(device);
        pty->open();
        setText("Combo_com2_speed", QString::number(baud));
        setText("Combo_com2_parity", QStringLiteral("Even"));
        openPort(pty->slavePath());
    }
    QString line(int baud) const { return QStringLiteral("%1 - %2,8,Even").arg(pty->slavePath()).arg(baud); }
};

} // namespace

class TstStatusBar : public QObject {
    Q_OBJECT
private slots:
    // Role and text together, as the panels change.
    void panelsNameTheirRoleAndText()
    {
        PtyRig r(38400);
        const QString texts[4] = {QStringLiteral("Connected to 10.0.0.5"), r.line(38400), CrcStatusText,
                                  QStringLiteral("3/8")};
        r.session().setStatus(0, texts[0]);
        r.session().setStatus(2, texts[2]);
        r.session().setStatus(3, texts[3]);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(panel(r, i)->text(), texts[i]);
            QCOMPARE(accessibleName(panel(r, i)), QLatin1String(Roles[i]) + QStringLiteral(": ") + texts[i]);
        }
        r.session().setStatus(3, QString());
        QCOMPARE(accessibleName(panel(r, 3)), QStringLiteral("Status"));
        r.click("Butt_open_port2");
        QCOMPARE(accessibleName(panel(r, 1)), QStringLiteral("Serial port: ") +
                                                  r.session().comm2().devicePath() +
                                                  QStringLiteral(" is closed"));
    }

    // At the window's own size every panel is wide enough for its text,
    // also in a font larger than the panels were drawn for.
    void panelsShowTheirWholeText()
    {
        PtyRig r(38400);
        QCOMPARE(r.form->size(), QSize(916, 788));
        QFont larger = r.form->statusBar()->font();
        larger.setPointSizeF(larger.pointSizeF() * 1.25);
        r.form->statusBar()->setFont(larger);
        r.session().setStatus(0, QStringLiteral("Connected to 192.168.100.200"));
        r.session().setStatus(2, CrcStatusText);
        r.session().setStatus(3, QStringLiteral("30/32"));
        // The TCP panel's text is wider than the panel was meant to be.
        QVERIFY(panel(r, 0)->fontMetrics().horizontalAdvance(panel(r, 0)->text()) > 200);
        for (int i = 0; i < 4; ++i) {
            StatusPanel *p = panel(r, i);
            const int needed = p->fontMetrics().horizontalAdvance(p->text());
            QTRY_VERIFY2(p->contentsRect().width() > needed,
                         qPrintable(QStringLiteral("%1: %2 px for %3 px of \"%4\"")
                                        .arg(p->role())
                                        .arg(p->contentsRect().width())
                                        .arg(needed)
                                        .arg(p->text())));
        }
    }

    // "Change address or baud safely..." moves the tool from 38400 to 19200:
    // the serial panel says 19200.
    void serialPanelFollowsAChangeOfLine()
    {
        PtyRig r(38400);
        QCOMPARE(r.session().status(1), r.line(38400));
        r.child<QAction>("ChangeLine1")->trigger();
        r.child<QComboBox>("Combo_changeBaud")->setCurrentText(QStringLiteral("19200"));
        r.click("Butt_changeStart");
        QTRY_VERIFY_WITH_TIMEOUT(r.child<QAbstractButton>("Butt_changeStart")->isEnabled(), 60000);
        QCOMPARE(r.device.rtuLine().baud, 19200);
        QCOMPARE(r.session().status(1), r.line(19200));
        QCOMPARE(panel(r, 1)->text(), r.line(19200));
        QCOMPARE(accessibleName(panel(r, 1)), QStringLiteral("Serial port: ") + r.line(19200));
    }

    // The port closed and opened again with other fields: the panel says the
    // new line, and a data-bits box changed while open (which only takes
    // effect at the next opening) leaves it as the port runs.
    void serialPanelFollowsTheFields()
    {
        PtyRig r(38400);
        r.click("Butt_open_port2");
        r.setText("Combo_com2_speed", QStringLiteral("9600"));
        r.click("Butt_open_port2");
        QCOMPARE(r.session().status(1), r.line(9600));
        r.setText("Combo_dbits", QStringLiteral("7"));
        QCOMPARE(r.session().status(1), r.line(9600));
    }
};

QTEST_MAIN(TstStatusBar)
#include "tst_status_bar.moc"
