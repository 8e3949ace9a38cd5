// A readout while "Auto Read values" is on, through the real window with the
// test playing the meter on a pseudo-terminal: the periodic read sends
// nothing onto the meter's line while the readout has it, no Modbus check
// sees the meter's bytes, the readout tab says that a read waits, and one
// read follows the readout's end.
#include "common/pty_pair.h"
#include "common/window_rig.h"
#include "iec/readout_tab.h"
#include "meters/meter_values_panel.h"
#include "meters/meters_tab.h"
#include "sim/meter.h"
#include "transport/modbus.h"
#include "transport/reply_check.h"
#include "widgets/status_panel.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>

using namespace qvx;

namespace {

const QByteArray Answer = qvxsim::buildMeterAnswer("/XXX5METER", {"1.8.0(0001234.567*kWh)", "0.0.0(4711)"});
const QByteArray SignOn = "/?!\r\n";
// Read input registers 1000.. of slot 1, 126 registers, unit 1.
const QByteArray ValueRead = rtuFrame(1, QByteArray::fromHex("0403E8007E"));

struct Rig : qvxtest::WindowRig {
    qvxtest::PtyPair pty;
    ReadoutTab *tab = form->readoutTab();

    Rig()
    {
        setText("Combo_com2_name", pty.slavePath());
        // Ticks come from the test alone.
        child<QSpinBox>("UD_autoRead")->setValue(990);
        child<QCheckBox>("Check_autoRead")->setChecked(true);
        child<QCheckBox>("CheckBox_untilEnd")->setChecked(true);
    }
    MeterValuesPanel &panel() { return *form->metersTab()->valuesPanel(); }
    QLabel *waiting() { return child<QLabel>("Label_readoutWaiting"); }
    qsizetype count(const QString &prefix) const
    {
        qsizetype n = 0;
        for (const QString &l : log)
            n += l.startsWith(prefix) ? 1 : 0;
        return n;
    }
    // The meter answers; the readout ends complete.
    bool meterAnswers()
    {
        const qsizetype from = log.size();
        return pty.write(Answer) &&
               waitForLine(QStringLiteral("Readout complete: %1 bytes, BCC OK").arg(Answer.size()), from);
    }
    // The one read after the readout: its frame on the line, its window ended.
    bool readsOnceAfter(qsizetype completeAt)
    {
        if (pty.read(ValueRead.size(), 10000) != ValueRead)
            return false;
        if (!waitForLine(QStringLiteral("Respond:"), completeAt))
            return false;
        return indexOfPrefix(QStringLiteral("SENT:"), completeAt) > completeAt;
    }
};

} // namespace

class TstReadoutAutoRead : public QObject {
    Q_OBJECT
private slots:
    void periodicReadWaitsForTheReadout()
    {
        Rig r;
        QVERIFY(r.pty.isValid());
        r.click("Button4");
        QCOMPARE(r.pty.read(SignOn.size()), SignOn);
        QVERIFY(r.waiting()->isHidden());

        // A tick while the readout has the line: nothing is sent, and the tab says why.
        r.panel().Timer_autoReadValuesTimer();
        QVERIFY(!r.waiting()->isHidden());
        QVERIFY2(r.waiting()->text().contains(QStringLiteral("periodic value read")) &&
                     r.waiting()->text().contains(QStringLiteral("waiting")),
                 qPrintable(r.waiting()->text()));
        QCOMPARE(QAccessible::queryAccessibleInterface(r.waiting())->text(QAccessible::Name),
                 r.waiting()->text());
        QCOMPARE(r.count(QStringLiteral("SENT:")), 0);
        // The progress panel says what it is and how far the readout is.
        StatusPanel *progress = r.tab->progressPanel();
        QTRY_VERIFY_WITH_TIMEOUT(!progress->isHidden(), 5000);
        QVERIFY(QAccessible::queryAccessibleInterface(progress)
                    ->text(QAccessible::Name)
                    .startsWith(QStringLiteral("Readout progress: Readout: ")));

        QVERIFY2(r.meterAnswers(), qPrintable(r.log.join('\n')));
        const qsizetype complete = r.indexOfPrefix(QStringLiteral("Readout complete: "));
        // The bytes after the sign-on are the one read that followed the end.
        QVERIFY2(r.readsOnceAfter(complete), qPrintable(r.log.join('\n')));
        QCOMPARE(r.count(QStringLiteral("SENT:")), 1);
        QVERIFY(r.waiting()->isHidden());
        QCOMPARE(r.session().status(CrcStatusPanel), QString());
        QVERIFY(!r.log.contains(QStringLiteral("Error in CRC field")));
    }

    // A read that went out just before the readout: its window ends without
    // a look at the meter's bytes, and the read is made again afterwards.
    void readCutShortByAReadoutIsNotChecked()
    {
        Rig r;
        QVERIFY(r.openPort(r.pty.slavePath()));
        r.panel().Timer_autoReadValuesTimer();
        QCOMPARE(r.pty.read(ValueRead.size()), ValueRead);
        r.click("Button4");
        QVERIFY(r.indexOfPrefix(QStringLiteral("Value read stopped: a readout took the serial line")) >= 0);
        QCOMPARE(r.pty.read(SignOn.size()), SignOn);
        QVERIFY(!r.waiting()->isHidden());

        QVERIFY2(r.meterAnswers(), qPrintable(r.log.join('\n')));
        const qsizetype complete = r.indexOfPrefix(QStringLiteral("Readout complete: "));
        QCOMPARE(r.indexOfPrefix(QStringLiteral("Respond:")), -1);
        QVERIFY2(r.readsOnceAfter(complete), qPrintable(r.log.join('\n')));
        QCOMPARE(r.count(QStringLiteral("SENT:")), 2);
        QCOMPARE(r.session().status(CrcStatusPanel), QString());
        QVERIFY(!r.log.contains(QStringLiteral("Error in CRC field")));
    }
};

QTEST_MAIN(TstReadoutAutoRead)
#include "tst_readout_autoread.moc"
