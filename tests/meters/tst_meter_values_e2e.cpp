// Collected values through the real main window against the simulated
// gateway, run in-process behind a Modbus TCP server on 127.0.0.1: whole-slot
// and single-row reads in 32- and 64-bit mode, what an empty or failed reply
// leaves, the periodic reading and the values log.
#include "app/string_grid.h"
#include "app/tform1.h"
#include "common/scripted_dialogs.h"
#include "meters/meter_values_panel.h"
#include "meters/meters_tab.h"
#include "sim/device.h"
#include "sim/tcp_server.h"
#include "transport/modbus.h"
#include "transport/reply_timer.h"
#include "transport/session.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qvx;

namespace {

const QStringList Codes = {"1.8.0",  "1.8.1",  "1.8.2",  "2.8.0",  "1.7.0",  "2.7.0",  "16.7.0", "32.7.0",
                           "52.7.0", "72.7.0", "31.7.0", "51.7.0", "71.7.0", "14.7.0", "96.1.0"};
const QString Old = QStringLiteral("old");
// Long enough for one reply window on a busy machine.
constexpr int WindowWaitMs = 10000;

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Rig {
    QTemporaryDir dir;
    qvxtest::ScopedDialogs scripted;
    qvxsim::Device device{QString()};
    qvxsim::TcpServer server{device};
    std::unique_ptr<TForm1> form;
    QStringList log;

    Rig()
    {
        for (int slot = 1; slot <= 3; ++slot)
            device.programMeter(slot, QStringLiteral("1000000%1").arg(slot), Codes);
        device.readoutNow();
        server.listen(QHostAddress::LocalHost, 0);
        form = std::make_unique<TForm1>(dir.path());
        QObject::connect(&session(), &Session::logLine, form.get(), [this](const QString &l) { log << l; });
    }
    bool connectTcp()
    {
        child<QLineEdit>("Edit_remoteIP")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>("Edit_port")->setText(QString::number(server.serverPort()));
        child<QPushButton>("Butt_connectEthernet")->click();
        QDeadlineTimer deadline(5000);
        while (session().TransportMode != TransportModeKind::Tcp && !deadline.hasExpired())
            QTest::qWait(20);
        return session().TransportMode == TransportModeKind::Tcp;
    }

    template <class T> T *child(const char *name)
    {
        T *c = form->findChild<T *>(QLatin1String(name));
        if (!c)
            qFatal("missing control %s", name);
        return c;
    }
    Session &session() { return form->session(); }
    MetersTab &tab() { return *form->metersTab(); }
    MeterValuesPanel &panel() { return *tab().valuesPanel(); }
    StringGrid &grid() { return *child<StringGrid>("Grid_meterValue"); }
    void trigger(const char *action) { child<QAction>(action)->trigger(); }
    void setSlot(int n) { child<QSpinBox>("UD_meterNumber")->setValue(n); }
    void set64bit(bool on)
    {
        device.setFlag(qvxsim::Flag64BitValues, on);
        device.readoutNow();
        tab().check64bit()->setChecked(on);
    }
    void fillOld()
    {
        for (int r = 1; r < grid().rowCount(); ++r) {
            grid().setCell(0, r, Old);
            grid().setCell(1, r, Old);
        }
    }
    // Waits for the end of the reply window: the next "Respond:" line.
    bool waitForRespond()
    {
        const qsizetype from = log.size();
        QDeadlineTimer deadline(WindowWaitMs);
        while (!deadline.hasExpired()) {
            for (qsizetype i = from; i < log.size(); ++i)
                if (log.at(i).startsWith(QStringLiteral("Respond:")))
                    return true;
            QTest::qWait(20);
        }
        return false;
    }
    // The request lines sent so far, as the unit and PDU they end with.
    bool sent(int start, int count) const
    {
        const QString pdu = hexBytes(QByteArray(1, '\x01') + pduReadInput(start, count));
        for (const QString &l : log)
            if (l.startsWith(QStringLiteral("SENT:")) && l.endsWith(pdu))
                return true;
        return false;
    }
    qsizetype sentCount() const
    {
        return std::count_if(log.cbegin(), log.cend(),
                             [](const QString &l) { return l.startsWith("SENT:"); });
    }
    // The device's value of row r of slot n as the grid shows it; Old where
    // the device holds no value.
    QString deviceValue(int n, int r, bool wide) const
    {
        const int a = qvxsim::Device::valueAddress(n, r, wide);
        uint64_t u = 0;
        for (int i = 0; i < (wide ? 4 : 2); ++i)
            u = u << 16 | device.input(a + i);
        if (!wide)
            return QString::number(u);
        return u == UINT64_MAX ? Old : QString::number(static_cast<qint64>(u));
    }
    QString logPath() const { return dir.filePath(QStringLiteral("files/logvalues.txt")); }
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
    void init()
    {
        rig = std::make_unique<Rig>();
        QVERIFY(rig->server.serverPort() != 0);
    }
    void cleanup() { rig.reset(); }

    void controlsCarryTheirNamesAndDefaults()
    {
        Rig &r = *rig;
        QCOMPARE(r.child<QPushButton>("BitBtn19")->text(), QStringLiteral("Read real values"));
        QCOMPARE(r.child<QCheckBox>("Check_autoRead")->text(), QStringLiteral("Auto Read values"));
        QCOMPARE(r.child<QCheckBox>("Check_autoSave")->text(), QStringLiteral("Auto Save values"));
        QCOMPARE(r.child<QAction>("Readcurrent1")->text(), QStringLiteral("Read current"));
        QCOMPARE(r.child<QAction>("Readall1")->text(), QStringLiteral("Read all"));
        QCOMPARE(r.child<QAction>("Cleaetable1")->text(), QStringLiteral("Clear table"));
        auto *period = r.child<QSpinBox>("UD_autoRead");
        QCOMPARE(period->findChild<QLineEdit *>(), r.child<QLineEdit>("Edit_autoread"));
        QCOMPARE(period->accessibleName(), QStringLiteral("Read period"));
        QCOMPARE(period->minimum(), 10);
        QCOMPARE(period->maximum(), 990);
        QCOMPARE(r.child<QLineEdit>("Edit_autoread")->text(), QStringLiteral("10"));
        QCOMPARE(r.grid().colCount(), 2);
        QCOMPARE(r.grid().rowCount(), 64);
        QCOMPARE(r.grid().columnWidth(0), 41);
        QCOMPARE(r.grid().columnWidth(1), 97);
        // The period holds from the start.
        QCOMPARE(r.panel().timerAutoReadValues().interval(), 10000);
        QVERIFY(!r.panel().timerAutoReadValues().isEnabled());
    }

    void noLinkSendsNothing()
    {
        Rig &r = *rig;
        r.child<QPushButton>("BitBtn19")->click();
        r.trigger("Readcurrent1");
        const QString message = QStringLiteral("Serial or TCP port for modbus is not open...");
        QCOMPARE(r.log, (QStringList{message, message}));
    }

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
        r.set64bit(wide);
        r.setSlot(3);
        r.fillOld();
        if (menu)
            r.trigger("Readall1");
        else
            r.child<QPushButton>("BitBtn19")->click();
        QVERIFY(r.waitForRespond());
        QVERIFY(r.sent(1256, count));
        QVERIFY(!r.log.last().endsWith(QStringLiteral("Respond:")));
        for (int row = 1; row <= 63; ++row) {
            const QString expected = row <= rows ? r.deviceValue(3, row, wide) : Old;
            QCOMPARE(r.grid().cell(1, row), expected);
            QCOMPARE(r.grid().cell(0, row), expected == Old ? Old : QString::number(row));
        }
        // The simulated meters report a reading in the first rows.
        QVERIFY(r.grid().cell(1, 1) != Old && r.grid().cell(1, 1) != QStringLiteral("4294967295"));

        r.trigger("Cleaetable1");
        QCOMPARE(r.grid().cell(1, 1), QString());
        QCOMPARE(r.grid().cell(0, 1), QStringLiteral("1"));
        QCOMPARE(r.grid().cell(1, 63), QString());
    }

    void readCurrent_data()
    {
        QTest::addColumn<bool>("wide");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("row"); // -1: no row clicked yet
        QTest::addColumn<int>("address");
        QTest::newRow("32-bit, slot 3 row 2") << false << 3 << 2 << 1258;
        QTest::newRow("64-bit, slot 3 row 2") << true << 3 << 2 << 1260;
        QTest::newRow("64-bit, slot 1 row 33 beyond the block") << true << 1 << 33 << 1128;
        QTest::newRow("nothing clicked: row 1") << false << 2 << -1 << 1128;
    }
    void readCurrent()
    {
        QFETCH(bool, wide);
        QFETCH(int, slot);
        QFETCH(int, row);
        QFETCH(int, address);
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        r.set64bit(wide);
        r.setSlot(slot);
        r.fillOld();
        if (row > 0)
            r.grid().setCurrentIndex(r.grid().model()->index(row, 0));
        else
            row = 1;
        r.trigger("Readcurrent1");
        QVERIFY(r.waitForRespond());
        QVERIFY(r.sent(address, wide ? 4 : 2));
        // The value at that address, whatever slot's block it lies in.
        const int a = address;
        uint64_t u = 0;
        for (int i = 0; i < (wide ? 4 : 2); ++i)
            u = u << 16 | r.device.input(a + i);
        QCOMPARE(r.grid().cell(1, row), wide ? QString::number(qint64(u)) : QString::number(u));
        QCOMPARE(r.grid().cell(0, row), QString::number(row));
        QCOMPARE(r.grid().cell(1, row == 1 ? 2 : 1), Old);
    }

    void readCurrentNeedsAValueRow()
    {
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        r.grid().setCurrentIndex(r.grid().model()->index(0, 1));
        r.trigger("Readcurrent1");
        QCOMPARE(r.log.last(), QStringLiteral("No row selected, click with mouse on row of interest..."));
        QCOMPARE(r.sentCount(), 0);
    }

    // Neither an empty reply nor one that fails its checks changes the grid
    // or adds a reading to the log.
    void unansweredReadChangesNothing_data()
    {
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QString>("message");
        QTest::newRow("no reply") << true << QString();
        QTest::newRow("exception reply") << false << QStringLiteral("Error - SLAVE DEVICE FAILURE\r");
    }
    void unansweredReadChangesNothing()
    {
        QFETCH(bool, drop);
        QFETCH(QString, message);
        Rig &r = *rig;
        qvxsim::Faults faults;
        faults.dropReplies = drop;
        if (!drop)
            faults.exceptionRanges = {{1000, 1125}};
        r.server.setFaults(faults);
        QVERIFY(r.makeLog());
        r.child<QCheckBox>("Check_autoSave")->setChecked(true);
        QVERIFY(r.connectTcp());
        r.fillOld();
        r.child<QPushButton>("BitBtn19")->click();
        QVERIFY(r.waitForRespond());
        if (drop)
            QCOMPARE(r.log.last(), QStringLiteral("Respond:"));
        else
            QCOMPARE(r.log.last(), message);
        for (int row = 1; row <= 63; ++row)
            QCOMPARE(r.grid().cell(1, row), Old);
        QCOMPARE(readAll(r.logPath()), QByteArray());
    }

    void autoReadReadsTheSlotOfEachTick()
    {
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        auto *period = r.child<QSpinBox>("UD_autoRead");
        ReplyTimer &timer = r.panel().timerAutoReadValues();
        period->setValue(990);
        QCOMPARE(timer.interval(), 990000);
        period->setValue(10);
        r.child<QCheckBox>("Check_autoRead")->click();
        QVERIFY(timer.isEnabled());
        QCOMPARE(timer.interval(), 10000);

        r.setSlot(1);
        r.panel().Timer_autoReadValuesTimer();
        QVERIFY(r.waitForRespond());
        r.setSlot(3);
        r.panel().Timer_autoReadValuesTimer();
        QVERIFY(r.waitForRespond());
        QVERIFY(r.sent(1000, 126));
        QVERIFY(r.sent(1256, 126));
        QCOMPARE(r.grid().cell(1, 1), r.deviceValue(3, 1, false));

        r.child<QCheckBox>("Check_autoRead")->click();
        QVERIFY(!timer.isEnabled());
    }

    void autoReadTicksAtItsPeriod()
    {
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        QSignalSpy ticks(&r.panel().timerAutoReadValues(), &ReplyTimer::timeout);
        QElapsedTimer clock;
        clock.start();
        r.child<QCheckBox>("Check_autoRead")->click();
        QVERIFY(ticks.wait(30000));
        // Qt's coarse timers may fire up to 5 % early.
        QVERIFY(clock.elapsed() >= 9500);
        QVERIFY(r.sent(1000, 126));
        QVERIFY(r.waitForRespond());
        QVERIFY(r.panel().timerAutoReadValues().isEnabled());
        r.child<QCheckBox>("Check_autoRead")->click();
    }

    void autoSaveAddsOneBlockPerReading()
    {
        Rig &r = *rig;
        QVERIFY(r.makeLog());
        QVERIFY(r.connectTcp());
        r.child<QCheckBox>("Check_autoSave")->setChecked(true);
        QByteArray expected;
        for (int reading = 1; reading <= 2; ++reading) {
            r.child<QPushButton>("BitBtn19")->click();
            QVERIFY(r.waitForRespond());
            const QByteArray file = readAll(r.logPath());
            QVERIFY(file.startsWith(expected));
            const QList<QByteArray> lines = file.mid(expected.size()).split('\n');
            QCOMPARE(lines.size(), 1 + 1 + 63 + 1);
            QCOMPARE(lines.at(0), QByteArray("\r"));
            QVERIFY(lines.at(1).contains(',') && lines.at(1).endsWith('\r'));
            for (int row = 1; row <= 63; ++row)
                QCOMPARE(lines.at(1 + row),
                         (QString::number(row) + ';' + r.grid().cell(1, row) + ";\r").toLatin1());
            QCOMPARE(lines.last(), QByteArray());
            expected = file;
        }
        // A single-row read adds no reading.
        r.trigger("Readcurrent1");
        QVERIFY(r.waitForRespond());
        QCOMPARE(readAll(r.logPath()), expected);
    }

    void autoSaveWithoutTheFileSaysSo()
    {
        Rig &r = *rig;
        QVERIFY(r.connectTcp());
        r.child<QCheckBox>("Check_autoSave")->setChecked(true);
        r.child<QPushButton>("BitBtn19")->click();
        QVERIFY(r.waitForRespond());
        QCOMPARE(r.log.last(), QStringLiteral("Can not write file, no rights..."));
        QVERIFY(!QFile::exists(r.logPath()));
        QVERIFY(!QDir(r.dir.filePath(QStringLiteral("files"))).exists());
    }
};

QTEST_MAIN(TstMeterValuesE2e)
#include "tst_meter_values_e2e.moc"
