// Collected values through the real main window against the simulated
// gateway, in-process behind a Modbus TCP server on 127.0.0.1.
#include "common/window_rig.h"
#include "widgets/string_grid.h"
#include "meters/meter_values_panel.h"
#include "meters/meters_tab.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSpinBox>

using namespace qvx;

namespace {

const QString Old = QStringLiteral("old");

struct Rig : qvxtest::WindowRig {
    Rig() : WindowRig({.demoMeter = false})
    {
        for (int slot = 1; slot <= 3; ++slot)
            device.programMeter(slot, QStringLiteral("1000000%1").arg(slot),
                                {"1.8.0", "2.8.0", "1.7.0", "16.7.0", "32.7.0", "96.1.0"});
        device.readoutNow();
    }
    bool connectTcp() { return link(qvxtest::Link::Tcp); }
    MeterValuesPanel &panel() { return *form->metersTab()->valuesPanel(); }
    StringGrid &grid() { return *child<StringGrid>("Grid_meterValue"); }
    void setup(bool wide, int slot)
    {
        device.setFlag(qvxsim::Flag64BitValues, wide);
        device.readoutNow();
        form->metersTab()->check64bit()->setChecked(wide);
        child<QSpinBox>("UD_meterNumber")->setValue(slot);
        for (int r = 1; r < grid().rowCount(); ++r) {
            grid().setCell(0, r, Old);
            grid().setCell(1, r, Old);
        }
    }
    // Waits for the end of the reply window: the next "Respond:" line.
    bool windowEnded() { return waitForLine(QStringLiteral("Respond:"), log.size(), 10000); }
    bool sent(int start, int count) const
    {
        const QString pdu = hexBytes(QByteArray(1, '\x01') + pduReadInput(start, count));
        return std::any_of(log.cbegin(), log.cend(), [&](const QString &l) {
            return l.startsWith(QStringLiteral("SENT:")) && l.endsWith(pdu);
        });
    }
    // The device's value at an input address as the grid shows it; Old for
    // the 64-bit "no value".
    QString deviceValue(int address, bool wide) const
    {
        uint64_t u = 0;
        for (int i = 0; i < (wide ? 4 : 2); ++i)
            u = u << 16 | device.input(address + i);
        if (!wide)
            return QString::number(u);
        return u == UINT64_MAX ? Old : QString::number(static_cast<qint64>(u));
    }
    QString logPath() const { return dir.filePath(QStringLiteral("files/logvalues.txt")); }
    QByteArray logFile() const
    {
        QFile f(logPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("missing");
    }
    bool makeLog()
    {
        QFile f(logPath());
        return QDir(dir.path()).mkpath(QStringLiteral("files")) && f.open(QIODevice::WriteOnly);
    }
};

} // namespace

class TstMeterValuesE2e : public QObject {
    Q_OBJECT
    std::unique_ptr<Rig> rig;

private slots:
    void init() { rig = std::make_unique<Rig>(); }
    void cleanup() { rig.reset(); }

    void wholeSlotRead_data()
    {
        QTest::addColumn<bool>("wide");
        QTest::addColumn<bool>("menu");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("rows");
        QTest::newRow("32-bit, button") << false << false << 126 << 63;
        QTest::newRow("32-bit, Read all") << false << true << 126 << 63;
        QTest::newRow("64-bit, button") << true << false << 120 << 30;
    }
    void wholeSlotRead()
    {
        QFETCH(bool, wide);
        QFETCH(bool, menu);
        QFETCH(int, count);
        QFETCH(int, rows);
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        r.setup(wide, 3);
        if (menu)
            r.child<QAction>("Readall1")->trigger();
        else
            r.click("BitBtn19");
        QVERIFY(r.windowEnded());
        QVERIFY(r.sent(1256, count));
        for (int row = 1; row <= 63; ++row) {
            const QString expected =
                row <= rows ? r.deviceValue(1256 + (wide ? 4 : 2) * (row - 1), wide) : Old;
            QCOMPARE(r.grid().cell(1, row), expected);
            QCOMPARE(r.grid().cell(0, row), expected == Old ? Old : QString::number(row));
        }
        QVERIFY(r.grid().cell(1, 1) != Old); // the meter reports its first code
        r.child<QAction>("Cleaetable1")->trigger();
        QCOMPARE(r.grid().cell(1, 1), QString());
        QCOMPARE(r.grid().cell(0, 1), QStringLiteral("1"));
    }

    void readCurrent_data()
    {
        QTest::addColumn<bool>("wide");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("row"); // -1: no row clicked yet
        QTest::addColumn<int>("address");
        QTest::newRow("32-bit, slot 3 row 2") << false << 3 << 2 << 1258;
        QTest::newRow("64-bit, slot 3 row 2") << true << 3 << 2 << 1260;
        QTest::newRow("64-bit, slot 1 row 33") << true << 1 << 33 << 1128;
        QTest::newRow("nothing clicked: row 1") << false << 2 << -1 << 1128;
        QTest::newRow("header row") << false << 1 << 0 << 0;
    }
    void readCurrent()
    {
        QFETCH(bool, wide);
        QFETCH(int, slot);
        QFETCH(int, row);
        QFETCH(int, address);
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        r.setup(wide, slot);
        if (row >= 0)
            r.grid().setCurrentIndex(r.grid().model()->index(row, 0));
        row = qMax(row, 1);
        r.child<QAction>("Readcurrent1")->trigger();
        if (address == 0) {
            QCOMPARE(r.log.last(), QStringLiteral("No row selected, click with mouse on row of interest..."));
            QVERIFY(!r.log.join(' ').contains(QStringLiteral("SENT:")));
            return;
        }
        QVERIFY(r.windowEnded());
        QVERIFY(r.sent(address, wide ? 4 : 2));
        QCOMPARE(r.grid().cell(1, row), r.deviceValue(address, wide));
        QCOMPARE(r.grid().cell(0, row), QString::number(row));
        QCOMPARE(r.grid().cell(1, row == 1 ? 2 : 1), Old);
    }

    // Neither an empty reply nor a failed one changes the grid or the log file.
    void unansweredReadChangesNothing_data()
    {
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QString>("last");
        QTest::newRow("no reply") << true << "Respond:";
        QTest::newRow("exception reply") << false << "Error - SLAVE DEVICE FAILURE\r";
    }
    void unansweredReadChangesNothing()
    {
        QFETCH(bool, drop);
        QFETCH(QString, last);
        Rig &r = *rig;
        qvxsim::Faults faults;
        faults.dropReplies = drop;
        if (!drop)
            faults.exceptionRanges = {{1000, 1125}};
        r.setFaults(faults);
        QVERIFY(r.makeLog());
        r.click("Check_autoSave");
        QVERIFY(r.connectTcp());
        r.setup(false, 1);
        r.click("BitBtn19");
        QVERIFY(r.windowEnded());
        QCOMPARE(r.log.last(), last);
        for (int row = 1; row <= 63; ++row)
            QCOMPARE(r.grid().cell(1, row), Old);
        QCOMPARE(r.logFile(), QByteArray());
    }

    // Each tick reads the slot selected then; one real tick after 10 s.
    void autoReadTicks()
    {
        Rig &r = *rig;
        ReplyTimer &timer = r.panel().timerAutoReadValues();
        QCOMPARE(timer.interval(), 10000); // from the start
        auto *period = r.child<QSpinBox>("UD_autoRead");
        period->setValue(990);
        QCOMPARE(timer.interval(), 990000);
        period->setValue(10);
        r.panel().Timer_autoReadValuesTimer();
        QCOMPARE(r.log, QStringList{"Serial or TCP port for modbus is not open..."});

        QVERIFY(r.connectTcp());
        r.setup(false, 3);
        r.panel().Timer_autoReadValuesTimer();
        QVERIFY(r.windowEnded());
        QVERIFY(r.sent(1256, 126));

        r.child<QSpinBox>("UD_meterNumber")->setValue(2);
        QSignalSpy ticks(&timer, &ReplyTimer::timeout);
        QElapsedTimer clock;
        clock.start();
        r.click("Check_autoRead");
        QVERIFY(ticks.wait(30000));
        QVERIFY(clock.elapsed() >= 9500); // coarse timers may fire 5 % early
        QVERIFY(r.sent(1128, 126));
        QVERIFY(r.windowEnded());
        QVERIFY(timer.isEnabled());
        r.click("Check_autoRead");
        QVERIFY(!timer.isEnabled());
    }

    void autoSaveAddsOneBlockPerReading()
    {
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        r.click("Check_autoSave");
        r.click("BitBtn19");
        QVERIFY(r.windowEnded());
        QCOMPARE(r.log.last(), QStringLiteral("Can not write file, no rights..."));
        QVERIFY(!QDir(r.dir.filePath(QStringLiteral("files"))).exists());

        QVERIFY(r.makeLog());
        QByteArray before;
        for (int reading = 1; reading <= 2; ++reading) {
            r.click("BitBtn19");
            QVERIFY(r.windowEnded());
            const QByteArray file = r.logFile();
            QVERIFY(file.startsWith(before));
            const QList<QByteArray> lines = file.mid(before.size()).split('\n');
            QCOMPARE(lines.size(), 1 + 1 + 63 + 1);
            QCOMPARE(lines.at(0), QByteArray("\r"));
            QVERIFY(lines.at(1).contains(','));
            for (int row = 1; row <= 63; ++row)
                QCOMPARE(lines.at(1 + row),
                         QString("%1;%2;\r").arg(row).arg(r.grid().cell(1, row)).toLatin1());
            before = file;
        }
        r.child<QAction>("Readcurrent1")->trigger(); // single values are not logged
        QVERIFY(r.windowEnded());
        QCOMPARE(r.logFile(), before);
    }
};

QTEST_MAIN(TstMeterValuesE2e)
#include "tst_meter_values_e2e.moc"
