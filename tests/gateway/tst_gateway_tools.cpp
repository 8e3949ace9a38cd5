// "Find device..." and "Change address or baud safely..." through the real
// main window against the simulated gateway: on a pseudo-terminal that
// answers only at the gateway's own rate, and over Modbus TCP on 127.0.0.1.
#include "common/screenshots.h"
#include "common/window_rig.h"
#include "gateway/find_device_dialog.h"
#include "sim/pty_link.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>

using namespace qvx;
using qvxtest::Link;
using qvxtest::WindowRig;

namespace {

// The window with the simulated gateway on a pseudo-terminal that hears only
// a client at the gateway's own RTU rate.
struct PtyRig : WindowRig {
    PtyRig(int baud, int unit, bool portOpen, int windowRate = 9600)
    {
        qvxsim::LineSettings line = device.rtuLine();
        line.baud = baud;
        device.setRtuLine(line);
        device.setUnitAddress(uint8_t(unit));
        pty = std::make_unique<qvxsim::PtyLink>(device, sim);
        pty->matchBaud(device);
        pty->open();
        setText("Combo_com2_name", pty->slavePath());
        setText("Combo_com2_speed", QString::number(windowRate));
        setText("Combo_com2_parity", QStringLiteral("Even"));
        if (portOpen)
            click("Butt_open_port2");
        log.clear();
    }
};

QWidget *openTool(WindowRig &r, const char *action, const char *dialog)
{
    r.child<QAction>(action)->trigger();
    QWidget *w = r.child<QWidget>(dialog);
    return w->isVisible() ? w : nullptr;
}

bool findIdle(WindowRig &r)
{
    return r.child<QAbstractButton>("Butt_findStart")->isEnabled();
}

void narrowFind(WindowRig &r, int first, int last)
{
    r.child<QSpinBox>("UD_findFirstUnit")->setValue(first);
    r.child<QSpinBox>("UD_findLastUnit")->setValue(last);
}

QStringList resultRow(WindowRig &r, int row)
{
    auto *grid = r.child<QTableWidget>("Grid_findResults");
    QStringList cells;
    for (int c = 0; c < grid->columnCount(); ++c)
        cells << (grid->item(row, c) ? grid->item(row, c)->text() : QString());
    return cells;
}

// The register browser reads register 7 and the gateway answers it as unit.
void readFlags(WindowRig &r, int unit)
{
    r.child<QLineEdit>("EditInputAddress")->setText(QStringLiteral("7"));
    r.child<QLineEdit>("EditInputCount")->setText(QStringLiteral("1"));
    r.replied.clear();
    QVERIFY(r.answered([&] { r.click("BitBtn3"); }));
    QVERIFY(!r.replied.isEmpty());
    QCOMPARE(r.replied.last().left(2), QByteArray() + char(unit) + char(3));
}

} // namespace

class TstGatewayTools : public QObject {
    Q_OBJECT
private slots:
    void findDefaults()
    {
        WindowRig r;
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        QCOMPARE(r.child<QSpinBox>("UD_findFirstUnit")->value(), 1);
        QCOMPARE(r.child<QSpinBox>("UD_findLastUnit")->value(), 247);
        int rates = 0;
        for (int baud : {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
            rates += r.child<QCheckBox>(QStringLiteral("Check_findBaud%1").arg(baud).toLatin1())->isChecked();
        QCOMPARE(rates, 9);
        for (const char *p : {"Check_findParityEven", "Check_findParityNone", "Check_findParityOdd"})
            QVERIFY(r.child<QCheckBox>(p)->isChecked());
        QVERIFY(!r.child<QCheckBox>("Check_findAll")->isChecked());
    }

    void findAndUse_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("portOpen");
        QTest::newRow("serial port open") << false << true;
        QTest::newRow("serial port closed") << false << false;
        QTest::newRow("tcp") << true << false;
    }
    // A gateway at 38400, unit 17: found with the rate, parity, unit and
    // identification; the link stays as it was; "Use" fills the fields.
    void findAndUse()
    {
        QFETCH(bool, tcp);
        QFETCH(bool, portOpen);
        std::unique_ptr<WindowRig> rig;
        if (tcp) {
            rig = std::make_unique<WindowRig>();
            rig->device.setUnitAddress(17);
            QVERIFY(rig->link(Link::Tcp));
        } else {
            rig = std::make_unique<PtyRig>(38400, 17, portOpen);
        }
        WindowRig &r = *rig;
        const qint32 rateBefore = r.session().comm2().lineSettings().baudRate;
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        narrowFind(r, 15, 20);
        r.child<QSpinBox>("UD_findTimeout")->setValue(100);
        // What the line under the bar says while the second probe runs.
        QString trying;
        auto *bar = r.child<QProgressBar>("ProgressBar_find");
        connect(bar, &QProgressBar::valueChanged, bar, [&r, &trying](int value) {
            if (value == 1)
                trying = r.child<QLabel>("Label_findStatus")->text();
        });
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 60000);
        QCOMPARE(r.child<QTableWidget>("Grid_findResults")->rowCount(), 1);
        const QStringList row = resultRow(r, 0);
        QCOMPARE(row.at(0),
                 tcp ? QStringLiteral("127.0.0.1:%1").arg(r.tcp->serverPort()) : r.pty->slavePath());
        QCOMPARE(row.at(1), tcp ? QString() : QStringLiteral("38400"));
        QCOMPARE(row.at(2), tcp ? QString() : QStringLiteral("Even"));
        QCOMPARE(row.at(3), QStringLiteral("17"));
        QVERIFY(!row.at(4).isEmpty());
        QVERIFY(r.indexOfPrefix(QStringLiteral("Find device: unit 17 answers")) >= 0);
        QVERIFY2(QRegularExpression(
                     tcp ? QStringLiteral("^Trying unit 16 \\(2 of 6\\), about \\d+ s left$")
                         : QStringLiteral("^Trying 9600 even unit 16 \\(2 of 162\\), about \\d+ s left$"))
                     .match(trying)
                     .hasMatch(),
                 qPrintable(trying));
        // As it was found: the port open or closed, at its own rate.
        QCOMPARE(r.session().SerialPortOpen, portOpen);
        if (portOpen)
            QCOMPARE(r.session().comm2().lineSettings().baudRate, rateBefore);
        QCOMPARE(int(r.session().exchange().settings().unit), 1);
        QVERIFY(!r.session().exchange().settings().endOnCompleteReply);

        r.click("Butt_findUse");
        QCOMPARE(r.child<QSpinBox>("UDmodbusAddress")->value(), 17);
        QCOMPARE(r.session().SerialPortOpen, portOpen);
        if (tcp)
            return;
        QCOMPARE(r.child<QComboBox>("Combo_com2_speed")->currentText(), QStringLiteral("38400"));
        QCOMPARE(r.child<QComboBox>("Combo_com2_parity")->currentText(), QStringLiteral("Even"));
        if (!portOpen)
            r.click("Butt_open_port2");
        // The window now talks to the gateway: its own read of register 7.
        readFlags(r, 17);
    }

    // Bytes that are no reply count as line activity at that rate, and the
    // next sweep tries that rate first.
    void busyLine()
    {
        WindowRig r;
        qvxsim::PtyChannel line;
        QString error;
        QVERIFY(line.open(QString(), &error));
        line.setRequiredBaud([] { return 19200; });
        connect(&line, &qvxsim::PtyChannel::received, &line,
                [&line](const QByteArray &) { line.write(QByteArray(3, '\0')); });
        r.setText("Combo_com2_name", line.slavePath());
        r.click("Butt_open_port2");
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        auto *dialog = r.child<FindDeviceDialog>("FindDeviceDialog");
        dialog->preset({9600, 19200}, {QStringLiteral("none")}, 1, 2);
        for (int pass = 0; pass < 2; ++pass) {
            r.log.clear();
            r.click("Butt_findStart");
            QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 60000);
            QVERIFY(r.log.first().contains(pass == 0 ? QStringLiteral(" at 9600,19200,")
                                                     : QStringLiteral(" at 19200,9600,")));
        }
        QVERIFY(r.indexOfPrefix(QStringLiteral("Find device: line activity at 19200:")) >= 0);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Find device: line activity at 9600")) < 0);
        QVERIFY(r.child<QLabel>("Label_findActivity")->text().contains(QStringLiteral("at 19200")));
    }

    // The likely units first at every rate: a gateway at the window's unit on
    // the fourth rate is found in the first pass, after 3 rates x 3
    // parities x 12 likely units and two more, not after 3 x 3 x 247.
    void findTriesLikelyUnitsFirst()
    {
        PtyRig r(57600, 17, true);
        r.child<QSpinBox>("UDmodbusAddress")->setValue(17);
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 120000);
        QCOMPARE(resultRow(r, 0).mid(1, 3), (QStringList{"57600", "Even", "17"}));
        QCOMPARE(r.child<QLabel>("Label_findStatus")->text(),
                 QStringLiteral("Found 1 gateway in %1 probes.").arg(3 * 3 * 12 + 2));
        // What the gateway heard at its rate: unit 1, then the window's unit.
        QList<int> units;
        for (const QByteArray &req : r.received)
            units << uint8_t(req.at(0));
        QCOMPARE(units.mid(0, 2), (QList<int>{1, 17}));
    }

    // The time left comes from the probes measured so far.  At 300 baud a
    // silent probe waits 600 ms (wire time and time-out); on a line where
    // something answers every request at once (here an exception from
    // another unit, which ends each window early), the probes take far less,
    // and after the first ones the estimate says so.
    void findEstimateFollowsMeasuredProbes()
    {
        WindowRig r;
        qvxsim::PtyChannel line;
        QString error;
        QVERIFY(line.open(QString(), &error));
        connect(&line, &qvxsim::PtyChannel::received, &line,
                [&line](const QByteArray &) { line.write(withCrc(QByteArray::fromHex("638302"))); });
        r.setText("Combo_com2_name", line.slavePath());
        r.click("Butt_open_port2");
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        r.child<FindDeviceDialog>("FindDeviceDialog")->preset({300}, {QStringLiteral("even")}, 100, 199);
        QStringList seen;
        auto *bar = r.child<QProgressBar>("ProgressBar_find");
        connect(bar, &QProgressBar::valueChanged, bar, [&](int value) {
            seen << r.child<QLabel>("Label_findStatus")->text();
            if (value == 20)
                r.click("Butt_findCancel");
        });
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 120000);
        QVERIFY2(r.child<QLabel>("Label_findStatus")->text().startsWith(QStringLiteral("Cancelled")),
                 qPrintable(r.child<QLabel>("Label_findStatus")->text()));
        // On paper the 90 probes left take 90 x 600 ms = 54 s.
        const QString later = seen.value(9);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("\\(11 of 100\\), about (\\d+) s left$")).match(later);
        QVERIFY2(m.hasMatch(), qPrintable(later));
        QVERIFY2(m.captured(1).toInt() < 40, qPrintable(later));
    }

    // A reply lost on the way: the probe got its answer, the identification
    // that confirms it is sent again, and the gateway is found; the log says
    // what was sent again.
    void findSendsTheIdentificationAgain()
    {
        PtyRig r(9600, 1, true);
        r.setFaults({.dropReplies = true, .every = 2});
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        r.child<FindDeviceDialog>("FindDeviceDialog")->preset({9600}, {QStringLiteral("even")}, 1, 2);
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 60000);
        QCOMPARE(r.child<QTableWidget>("Grid_findResults")->rowCount(), 1);
        QVERIFY(!resultRow(r, 0).at(4).isEmpty());
        QVERIFY(r.indexOfPrefix(
                    QStringLiteral("no answer (unit 1, device identification): sent again (1 of 2)")) >= 0);
    }

    // An adapter that echoes: the search says what to tick, and with Tools >
    // Options... "The adapter echoes what it sends" ticked it finds the
    // gateway.
    void findWithAnEchoingAdapter()
    {
        PtyRig r(9600, 1, true);
        r.setFaults({.echoRequest = true});
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        r.child<FindDeviceDialog>("FindDeviceDialog")->preset({9600}, {QStringLiteral("even")}, 1, 2);
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 60000);
        QCOMPARE(r.child<QTableWidget>("Grid_findResults")->rowCount(), 0);
        QVERIFY2(
            r.child<QLabel>("Label_findStatus")
                ->text()
                .endsWith(QStringLiteral("the replies start with the request's own bytes: if the adapter "
                                         "echoes what it sends, tick Tools > Options... \"The adapter echoes "
                                         "what it sends\".")),
            qPrintable(r.child<QLabel>("Label_findStatus")->text()));

        r.child<QAction>("Options1")->trigger();
        auto *box = r.child<QCheckBox>("CheckAdapterEchoes");
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(box);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("The adapter echoes what it sends"));
        box->setChecked(true);
        QVERIFY(r.session().exchange().settings().adapterEchoes);
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 60000);
        QCOMPARE(r.child<QTableWidget>("Grid_findResults")->rowCount(), 1);
        // The tabs' own reads drop the echo as well.
        readFlags(r, 1);
    }

    void findInterrupted_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("portOpen");
        QTest::newRow("cancel") << "Butt_findCancel"
                                << "Cancelled after" << true;
        QTest::newRow("port closed") << "Butt_open_port2"
                                     << "Stopped: the link is closed" << false;
    }
    // Cancel, or the port closed, in the middle of a full sweep: it stops,
    // says so and leaves the port as it is then (at its own rate).
    void findInterrupted()
    {
        QFETCH(QString, button);
        QFETCH(QString, status);
        QFETCH(bool, portOpen);
        PtyRig r(115200, 200, true);
        QVERIFY(openTool(r, "FindDevice1", "FindDeviceDialog"));
        // The sweep runs in the event loop: the click comes as the
        // operator's would, from there.
        auto *bar = r.child<QProgressBar>("ProgressBar_find");
        connect(bar, &QProgressBar::valueChanged, bar, [&r, bar, button](int value) {
            if (value == 3 && bar->maximum() > 3)
                r.click(button.toLatin1().constData());
        });
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 60000);
        QVERIFY2(r.child<QLabel>("Label_findStatus")->text().startsWith(status),
                 qPrintable(r.child<QLabel>("Label_findStatus")->text()));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Find device: ") + status) >= 0);
        QCOMPARE(r.child<QTableWidget>("Grid_findResults")->rowCount(), 0);
        QCOMPARE(r.session().SerialPortOpen, portOpen);
        if (portOpen)
            QCOMPARE(r.session().comm2().lineSettings().baudRate, 9600);
    }

    void changeLine_data()
    {
        QTest::addColumn<bool>("changeAfterAck");
        QTest::addColumn<bool>("ignoresRate");
        QTest::newRow("with Reset") << false << false;
        QTest::newRow("change baud after ACK") << true << false;
        QTest::newRow("gateway keeps its rate") << false << true;
    }
    // Unit 1 at 9600 becomes unit 5 at 19200, and the window keeps talking to
    // it there; a gateway that keeps its rate is found at the old one.
    void changeLine()
    {
        QFETCH(bool, changeAfterAck);
        QFETCH(bool, ignoresRate);
        PtyRig r(9600, 1, true);
        r.device.setFlag(qvxsim::FlagChangeBaudAfterAck, changeAfterAck);
        r.device.setIgnoreRtuChange(ignoresRate);
        QVERIFY(openTool(r, "ChangeLine1", "ChangeLineDialog"));
        QCOMPARE(r.child<QLabel>("Label_changeCurrent")->text(),
                 QStringLiteral("unit 1 at 9600 Even on %1").arg(r.pty->slavePath()));
        QCOMPARE(r.child<QSpinBox>("UD_changeVerify")->value(), 5);
        if (ignoresRate)
            r.child<QSpinBox>("UD_changeVerify")->setValue(2);
        r.child<QSpinBox>("UD_changeUnit")->setValue(5);
        r.child<QComboBox>("Combo_changeBaud")->setCurrentText(QStringLiteral("19200"));
        r.click("Butt_changeStart");
        QTRY_VERIFY_WITH_TIMEOUT(r.child<QAbstractButton>("Butt_changeStart")->isEnabled(), 60000);

        const int rate = ignoresRate ? 9600 : 19200;
        QCOMPARE(r.device.unitAddress(), 5);
        QCOMPARE(r.device.rtuLine().baud, rate);
        QCOMPARE(r.device.restarts(), changeAfterAck ? 0 : 1);
        QCOMPARE(r.child<QSpinBox>("UDmodbusAddress")->value(), 5);
        QCOMPARE(r.child<QComboBox>("Combo_com2_speed")->currentText(), QString::number(rate));
        QCOMPARE(r.session().comm2().lineSettings().baudRate, rate);
        const QString status = r.child<QLabel>("Label_changeStatus")->text();
        QVERIFY2(status.startsWith(ignoresRate
                                       ? QStringLiteral("The gateway did not answer at unit 5 at 19200")
                                       : QStringLiteral("The gateway answers at unit 5 at 19200")),
                 qPrintable(status));
        if (ignoresRate)
            QVERIFY(status.contains(QStringLiteral("It answers at unit 5 at 9600 Even")));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Change address or baud: ") + status) >= 0);
        QVERIFY(!r.child<QAbstractButton>("Butt_changeFind")->isEnabled());

        // The window's own read of register 7 reaches it where the fields say.
        readFlags(r, 5);
    }

    // A gateway that falls silent after the change: the tool goes back to
    // the old settings, says it answers nowhere that was tried and offers
    // the search.
    void changeLost()
    {
        PtyRig r(9600, 1, true);
        r.child<QSpinBox>("UD_modbusTimeout")->setValue(300);
        QVERIFY(openTool(r, "ChangeLine1", "ChangeLineDialog"));
        r.child<QSpinBox>("UD_changeVerify")->setValue(1);
        r.child<QSpinBox>("UD_changeUnit")->setValue(5);
        r.child<QComboBox>("Combo_changeBaud")->setCurrentText(QStringLiteral("19200"));
        connect(&r.session(), &Session::logLine, r.form.get(), [&r](const QString &line) {
            if (line.startsWith(QStringLiteral("Change address or baud: Talking to the gateway")))
                r.setFaults({.dropReplies = true});
        });
        r.click("Butt_changeStart");
        QTRY_VERIFY_WITH_TIMEOUT(r.child<QAbstractButton>("Butt_changeStart")->isEnabled(), 60000);
        const QString status = r.child<QLabel>("Label_changeStatus")->text();
        QVERIFY2(status.startsWith(QStringLiteral("The gateway answers nowhere that was tried")),
                 qPrintable(status));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Change address or baud: Trying unit 5 at 9600 even")) >= 0);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Change address or baud: Trying unit 1 at 19200 even")) >= 0);
        QCOMPARE(r.child<QSpinBox>("UDmodbusAddress")->value(), 1);
        QCOMPARE(r.session().comm2().lineSettings().baudRate, 9600);
        QVERIFY(r.child<QAbstractButton>("Butt_changeFind")->isEnabled());
    }

    // Cancel while the gateway is sought at its new settings: the dialog
    // says what was done and offers "Find device..." with both settings.
    void changeCancel()
    {
        PtyRig r(9600, 1, true);
        r.device.setIgnoreRtuChange(true);
        QVERIFY(openTool(r, "ChangeLine1", "ChangeLineDialog"));
        r.child<QSpinBox>("UD_changeVerify")->setValue(60);
        r.child<QSpinBox>("UD_changeUnit")->setValue(5);
        r.child<QComboBox>("Combo_changeBaud")->setCurrentText(QStringLiteral("19200"));
        // While it waits for an answer at the new settings, from the event
        // loop as the operator's click would come.
        connect(&r.session(), &Session::logLine, r.form.get(), [&r](const QString &line) {
            if (line.startsWith(QStringLiteral("Change address or baud: Talking to the gateway")))
                QTimer::singleShot(300, r.form.get(), [&r] { r.click("Butt_changeCancel"); });
        });
        r.click("Butt_changeStart");
        QTRY_VERIFY_WITH_TIMEOUT(r.child<QAbstractButton>("Butt_changeStart")->isEnabled(), 60000);
        const QString status = r.child<QLabel>("Label_changeStatus")->text();
        QVERIFY2(status.startsWith(QStringLiteral("Cancelled (done so far: ")), qPrintable(status));
        QVERIFY(status.contains(QStringLiteral("New unit address 5 written")));
        QVERIFY(status.endsWith(
            QStringLiteral("The tool now uses unit 5 at 19200 Even on %1.").arg(r.pty->slavePath())));

        r.click("Butt_changeFind");
        QVERIFY(r.child<QWidget>("FindDeviceDialog")->isVisible());
        QCOMPARE(r.child<QSpinBox>("UD_findFirstUnit")->value(), 1);
        QCOMPARE(r.child<QSpinBox>("UD_findLastUnit")->value(), 5);
        QVERIFY(r.child<QCheckBox>("Check_findBaud19200")->isChecked());
        QVERIFY(r.child<QCheckBox>("Check_findBaud9600")->isChecked());
        QVERIFY(!r.child<QCheckBox>("Check_findBaud38400")->isChecked());
        QVERIFY(!r.child<QCheckBox>("Check_findParityNone")->isChecked());
    }

    // With QVX_SCREENSHOT_DIR set, both dialogs after a run are saved as
    // pictures for the manual.  Each is saved again at 916 x 788 and 1600 x 1000
    // (with the size in its name), to see what is cut off or left blank.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("QVX_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("QVX_SCREENSHOT_DIR not set");
        {
            PtyRig r(38400, 17, true);
            QWidget *find = openTool(r, "FindDevice1", "FindDeviceDialog");
            QVERIFY(find);
            narrowFind(r, 15, 20);
            r.click("Butt_findStart");
            QTRY_VERIFY_WITH_TIMEOUT(findIdle(r), 60000);
            QVERIFY(qvxtest::saveAtSizes(find, out, QStringLiteral("find_device")));
        }
        PtyRig r(9600, 1, true);
        QWidget *change = openTool(r, "ChangeLine1", "ChangeLineDialog");
        QVERIFY(change);
        r.child<QSpinBox>("UD_changeUnit")->setValue(5);
        r.child<QComboBox>("Combo_changeBaud")->setCurrentText(QStringLiteral("19200"));
        r.click("Butt_changeStart");
        QTRY_VERIFY_WITH_TIMEOUT(r.child<QAbstractButton>("Butt_changeStart")->isEnabled(), 60000);
        QVERIFY(qvxtest::saveAtSizes(change, out, QStringLiteral("change_line")));
    }

    void accessibleLabels_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("label");
        const char *rows[][3] = {
            {"FindDevice1", "UD_findFirstUnit", "First unit"},
            {"FindDevice1", "UD_findLastUnit", "Last unit"},
            {"FindDevice1", "Check_findBaud38400", "38400"},
            {"FindDevice1", "Check_findParityNone", "None"},
            {"FindDevice1", "UD_findTimeout", "Time-out per probe (ms)"},
            {"FindDevice1", "Check_findAll", "Find all"},
            {"FindDevice1", "Butt_findStart", "Find"},
            {"FindDevice1", "Butt_findCancel", "Cancel"},
            {"FindDevice1", "Butt_findUse", "Use"},
            {"FindDevice1", "Butt_findClose", "Close"},
            {"FindDevice1", "ProgressBar_find", "Progress"},
            {"FindDevice1", "Grid_findResults", "Results"},
            {"ChangeLine1", "Label_changeCurrent", "Now"},
            {"ChangeLine1", "UD_changeUnit", "New unit address"},
            {"ChangeLine1", "Combo_changeBaud", "New RTU baud rate"},
            {"ChangeLine1", "Combo_changeParity", "New RTU parity"},
            {"ChangeLine1", "UD_changeVerify", "Answer within"},
            {"ChangeLine1", "Butt_changeStart", "Change"},
            {"ChangeLine1", "Butt_changeCancel", "Cancel"},
            {"ChangeLine1", "Butt_changeFind", "Find device..."},
            {"ChangeLine1", "Butt_changeClose", "Close"},
            {"ChangeLine1", "ProgressBar_change", "Progress"},
        };
        for (const auto &row : rows)
            QTest::newRow(row[1]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1])
                                  << QString::fromLatin1(row[2]);
    }
    // Every control by the label the operator sees beside it (or on it).
    void accessibleLabels()
    {
        QFETCH(QString, action);
        QFETCH(QString, control);
        QFETCH(QString, label);
        WindowRig r;
        r.child<QAction>(action.toLatin1())->trigger();
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(r.child<QWidget>(control.toLatin1()));
        QVERIFY(a);
        // A list box's name is its current item on some platforms; its
        // caption then labels it through the relation.
        QString name = a->text(QAccessible::Name);
        for (const auto &rel : a->relations(QAccessible::Label))
            if (rel.first->text(QAccessible::Name) == label)
                name = label;
        QCOMPARE(name, label);
        // The caption beside a field names it through its buddy as well.
        for (QLabel *l : r.form->findChildren<QLabel *>())
            if (l->buddy() == r.child<QWidget>(control.toLatin1()))
                QCOMPARE(l->text(), label);
    }
};

QTEST_MAIN(TstGatewayTools)
#include "tst_gateway_tools.moc"
