// Tools > "Gateway profile..." through the real main window, against two
// simulated gateways run in-process over Modbus TCP on 127.0.0.1: the rig's
// own and a second one the window switches to, as a technician moves from
// one gateway to the next.
#include "common/screenshots.h"
#include "common/window_rig.h"
#include "gateway/profile_dialog.h"
#include "meters/meters_tab.h"
#include "widgets/string_grid.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>

using namespace qvx;
using qvxtest::Link;

namespace {

constexpr int WaitMs = 60000;

struct Rig : qvxtest::WindowRig {
    GatewayProfileDialog *dialog = nullptr;

    explicit Rig(Link link = Link::Tcp) : WindowRig({.link = link})
    {
        child<QAction>("GatewayProfile1")->trigger();
        dialog = child<GatewayProfileDialog>("GatewayProfile");
    }
    // Clicks a button of the dialog and waits until its job has ended.
    bool run(const char *button)
    {
        click(button);
        return QTest::qWaitFor([this] { return !dialog->running(); }, WaitMs);
    }
    ~Rig()
    {
        if (QTest::currentTestFailed())
            qDebug().noquote() << log.join(QLatin1Char('\n'));
    }
    QString heading() { return child<QLabel>("Label_profileHeading")->text(); }
    QString path(const char *name) { return dir.filePath(QLatin1String(name)); }
    // The differs column of the settings row with that caption in the comparison.
    QString differs(const QString &key)
    {
        const auto found = dialog->tree()->findItems(key, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QStringLiteral("(no row)") : found.first()->text(3);
    }
    void openFile(const QString &file)
    {
        dialogs.dialogs.fileAnswers.enqueue(file);
        click("Butt_profileOpen");
    }
};

// A gateway set up unlike the factory: three settings and two slots away
// from a fresh one (network block and address aside).
void setUpSource(qvxsim::Device &d)
{
    d.setFlag(qvxsim::FlagContinuousRead, false);
    d.setFlag(qvxsim::Flag64BitValues, true);
    d.setHolding(qvxsim::Device::RegReadoutMinutes, 30);
    d.programMeter(3, QStringLiteral("87654321"), {QStringLiteral("1.8.0"), QStringLiteral("2.8.0")});
}

// A profile of the factory's settings (network block and address aside) and
// no meters.
GatewayProfile factory()
{
    GatewayProfile p;
    p.info.flags = 1 << 7; // continuous read
    p.info.readoutMinutes = 15;
    p.info.iecLine = 0x50; // 9600 7E
    return p;
}

void writeProfile(const QString &path, const GatewayProfile &p)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(profileToJson(p));
}

} // namespace

class TstProfileDialog : public QObject {
    Q_OBJECT

private slots:
    // Read from one gateway, saved, opened on another: the comparison counts
    // what differs, the apply writes it, and the read-back compares clean.
    void copyToAnotherGateway()
    {
        Rig r;
        setUpSource(r.device);
        QVERIFY(r.run("Butt_profileRead"));
        QVERIFY(r.dialog->profile());
        QCOMPARE(r.dialog->profile()->table.id(3), QStringLiteral("87654321"));
        r.dialogs.dialogs.fileAnswers.enqueue(r.path("site.json"));
        r.click("Butt_profileSave");
        QCOMPARE(r.dialogs.dialogs.raised.last().file.defaultSuffix, QStringLiteral("json"));
        QVERIFY(QFile::exists(r.path("site.json")));

        qvxsim::Device other{QString()};
        other.setHolding(qvxsim::Device::RegIpAddress, 0x0A00); // 10.0.0.9: not compared unticked
        other.setHolding(qvxsim::Device::RegIpAddress + 1, 0x0009);
        qvxsim::TcpServer server(other);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        r.click("Butt_ethernetDisconnect");
        QVERIFY(r.connectTcp(server.serverPort()));
        r.openFile(r.path("site.json"));

        QVERIFY(r.run("Butt_profileCompare"));
        QCOMPARE(r.heading(), QStringLiteral("3 settings and 2 slots differ"));
        QCOMPARE(r.differs(QStringLiteral("IEC readout interval")), QStringLiteral("differs"));
        QCOMPARE(r.differs(QStringLiteral("Static IPv4")), QString());
        QCOMPARE(r.differs(QStringLiteral("Slot 3")), QStringLiteral("differs"));

        const qsizetype from = r.log.size();
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        QVERIFY(r.run("Butt_profileApply"));
        QCOMPARE(r.heading(), QStringLiteral("0 settings and 0 slots differ"));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Gateway profile: writing slot 3"), from) >= 0);
        QCOMPARE(other.meterId(3), QStringLiteral("87654321"));
        QCOMPARE(other.readoutMinutes(), 30);
        QCOMPARE(other.holding(qvxsim::Device::RegIpAddress), uint16_t(0x0A00));
        QVERIFY(r.run("Butt_profileCompare"));
        QCOMPARE(r.heading(), QStringLiteral("0 settings and 0 slots differ"));
    }

    // The unit address moves only when ticked, last, and the window's unit
    // field follows it so the window keeps talking to the gateway.
    void unitAddressFollows()
    {
        Rig r;
        GatewayProfile p = factory();
        p.unit = 7;
        writeProfile(r.path("unit7.json"), p);
        r.openFile(r.path("unit7.json"));
        r.child<QCheckBox>("Check_profileUnit")->setChecked(true);
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        QVERIFY(r.run("Butt_profileApply"));
        QVERIFY2(r.dialogs.dialogs.raised.last().text.contains(QStringLiteral("The unit address changes")),
                 qPrintable(r.dialogs.dialogs.raised.last().text));
        QCOMPARE(r.device.unitAddress(), uint8_t(7));
        QCOMPARE(r.child<QSpinBox>("UDmodbusAddress")->value(), 7);
        QCOMPARE(r.heading(), QStringLiteral("0 settings and 0 slots differ"));
    }

    // A file that is no profile is refused in a message and the log.
    void openRefused()
    {
        Rig r;
        QFile f(r.path("notes.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"format\": \"something else\"}");
        f.close();
        r.openFile(r.path("notes.json"));
        QCOMPARE(r.dialogs.dialogs.raised.last().kind, QStringLiteral("message"));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Gateway profile: can not open")) >= 0);
        QVERIFY(!r.dialog->profile());
        QVERIFY(!r.child<QAbstractButton>("Butt_profileApply")->isEnabled());
    }

    // The profile's meter table goes into the meter tab; nothing is sent.
    void loadIntoMeterTab()
    {
        Rig r;
        GatewayProfile p = factory();
        p.info.flags |= 1 << 5; // 16-digit IDs
        p.table.setId(4, QStringLiteral("1234567890123456"));
        p.table.setCode(4, 1, QStringLiteral("1.8.0"));
        p.table.setCode(4, 2, QStringLiteral("32.7.0"));
        writeProfile(r.path("meters.json"), p);
        r.openFile(r.path("meters.json"));
        const qsizetype sent = r.received.size();
        r.click("Butt_profileLoadMeters");
        MetersTab *tab = r.form->metersTab();
        QCOMPARE(tab->meterTable().id(4), QStringLiteral("1234567890123456"));
        QCOMPARE(tab->meterTable().id(1), QString()); // the demo meter's slot is emptied
        QVERIFY(tab->check16digit()->isChecked());
        QCOMPARE(tab->meterNumber(), 4);
        QCOMPARE(tab->gridRegisters()->cell(1, 2), QStringLiteral("32.7.0"));
        QTest::qWait(200);
        QCOMPARE(r.received.size(), sent);
    }

    // Cancel in the middle of a read and of an apply: the job stops at
    // once, the link stays as it was found, and the next job runs.
    // A job on the window's link holds the auto-read off as a sequence does,
    // and lets the one waiting read go when it ends.
    void jobHoldsPeriodicReads()
    {
        Rig r;
        GatewayClient client(r.session());
        bool held = false;
        int released = 0;
        connect(&r.session().exchange(), &Exchange::sequenceFinished, [&] { ++released; });
        GatewayJob::runSync(client, [&](GatewayClient &c, GatewayJob &) {
            held = c.session().exchange().sequenceRunning();
            r.click("BitBtn3"); // a tab's read waits for the job
            c.readFirmware();
        });
        QVERIFY(held);
        QCOMPARE(r.received.size(), 1);
        QVERIFY(r.log.contains(
            QStringLiteral("A gateway tool is using the link: wait until it has ended, or cancel it")));
        QVERIFY(!r.session().exchange().sequenceRunning());
        QCOMPARE(released, 1);
    }

    void cancel_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("cancelAt");
        QTest::addColumn<QString>("ended");
        QTest::newRow("read, TCP") << Link::Tcp << "Butt_profileRead"
                                   << "Gateway profile: reading slot 5"
                                   << "Gateway profile: read cancelled";
        QTest::newRow("apply, TCP") << Link::Tcp << "Butt_profileApply"
                                    << "Gateway profile: writing slot 3"
                                    << "Gateway profile: apply cancelled";
        QTest::newRow("read, RTU") << Link::Rtu << "Butt_profileRead"
                                   << "Gateway profile: reading slot 5"
                                   << "Gateway profile: read cancelled";
    }
    void cancel()
    {
        QFETCH(Link, link);
        QFETCH(QString, button);
        QFETCH(QString, cancelAt);
        QFETCH(QString, ended);
        Rig r(link);
        GatewayProfile p = factory();
        for (int s = 2; s <= 6; ++s)
            p.table.setId(s, QStringLiteral("1000000%1").arg(s));
        writeProfile(r.path("five.json"), p);
        r.openFile(r.path("five.json"));
        const RequestSettings found = r.session().exchange().settings();
        bool once = false;
        QObject::connect(&r.session(), &Session::logLine, r.dialog, [&](const QString &l) {
            // As the operator's click: an event handled while the request is out.
            if (l == cancelAt && !std::exchange(once, true))
                QTimer::singleShot(0, r.child<QAbstractButton>("Butt_profileCancel"),
                                   &QAbstractButton::click);
        });
        const qsizetype from = r.log.size();
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        QVERIFY(r.run(button.toLatin1().constData()));
        QVERIFY(r.indexOfPrefix(ended, from) >= 0);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Gateway profile: reading slot 6"), from) < 0);
        QCOMPARE(r.device.meterId(6), QString());
        QVERIFY(r.linked());
        QCOMPARE(r.session().exchange().settings().endOnCompleteReply, found.endOnCompleteReply);
        QCOMPARE(r.session().exchange().settings().timeoutMs, found.timeoutMs);
        QCOMPARE(r.session().exchange().settings().unit, found.unit);
        QVERIFY(r.run("Butt_profileRead"));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Gateway profile: read from unit 1"), from) >= 0);
    }

    // "Report..." checks the connected gateway against the open profile and
    // writes its report: the verdicts, the settings in words, the meter
    // table and one reading of its slot.
    void report()
    {
        Rig r;
        QVERIFY(r.run("Butt_profileRead"));
        r.device.setHolding(qvxsim::Device::RegReadoutMinutes, 30);
        r.dialogs.dialogs.fileAnswers.enqueue(r.path("one.html"));
        QVERIFY(r.run("Butt_profileReport"));
        QFile f(r.path("one.html"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromLatin1(f.readAll());
        for (const char *text :
             {"Profile matches (1 difference)</td><td class=\"fail\">FAIL",
              "IEC readout interval: 30 minutes", "12345678",
              "Every programmed meter delivers values (1 of 1)</td><td class=\"pass\">PASS",
              "No CRC errors during the report's reads (0)</td><td class=\"pass\">PASS"})
            QVERIFY2(html.contains(QLatin1String(text)), text);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Gateway profile: report written to")) >= 0);
    }

    // Every control is reached through the accessibility interface by its
    // visible label.
    void labels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label");
        const char *rows[][2] = {
            {"Butt_profileRead", "Read from gateway"},
            {"Butt_profileOpen", "Open..."},
            {"Butt_profileSave", "Save..."},
            {"Butt_profileLoadMeters", "Load meter table into the meter tab"},
            {"Butt_profileCompare", "Compare with gateway"},
            {"Butt_profileApply", "Apply to gateway"},
            {"Check_profileNetwork", "Network block (IP address, gateway, mask, TCP idle time)"},
            {"Check_profileUnit", "Unit address (written last)"},
            {"Check_profileLine", "RTU line (written last)"},
            {"Tree_profile", "Profile"},
            {"Progress_profile", "Progress"},
            {"Butt_profileCancel", "Cancel"},
            {"Butt_profileReport", "Report..."}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << row[0] << row[1];
    }
    void labels()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        Rig r;
        QAccessibleInterface *a =
            QAccessible::queryAccessibleInterface(r.child<QWidget>(name.toLatin1().constData()));
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), label);
    }

    // The settings rows carry the Settings tab's captions, the RTU line
    // among them.
    void settingsRowsInWords()
    {
        Rig r;
        QVERIFY(r.run("Butt_profileRead"));
        QTreeWidgetItem *settings = r.dialog->tree()->topLevelItem(0);
        QStringList captions;
        QMap<QString, QString> values;
        for (int i = 0; i < settings->childCount(); ++i) {
            captions << settings->child(i)->text(0);
            values.insert(settings->child(i)->text(0), settings->child(i)->text(1));
        }
        for (const char *c :
             {"Static IPv4", "Mask", "TCP Idle time", "Set DHCP On/Off", "Change baud after ACK",
              "Use 16-digit ID", "Decode long OBIS", "Save values in 64-bit integer", "Continues Read",
              "IEC serial settings", "RTU serial settings", "IEC readout interval", "Modbus address",
              "Firmware version"})
            QVERIFY2(captions.contains(QLatin1String(c)), c);
        for (const QString &c : captions)
            QVERIFY2(!c.contains(QLatin1Char('_')) && !c.contains(QLatin1Char('.')), qPrintable(c));
        QCOMPARE(values.value("IEC serial settings"), QStringLiteral("9600bps, Even, 7 bits"));
        QCOMPARE(values.value("IEC readout interval"), QStringLiteral("15 minutes"));
        QCOMPARE(values.value("TCP Idle time"), QStringLiteral("120 s"));
        QCOMPARE(values.value("Continues Read"), QStringLiteral("on"));
        // Over TCP the line is the gateway's register.
        QCOMPARE(values.value("RTU serial settings"), QStringLiteral("9600bps, Even"));
    }

    // Apply asks once with the number of writes; No writes nothing.
    void applyAsksFirst()
    {
        Rig r;
        GatewayProfile p = factory();
        p.info.readoutMinutes = 40;
        p.info.iecLine = 0x40; // the simulator's: 9600 7E
        p.rtu = {19200, QStringLiteral("even")};
        p.table.setId(2, QStringLiteral("22222222"));
        writeProfile(r.path("ask.json"), p);
        r.openFile(r.path("ask.json"));
        const qsizetype raised = r.dialogs.dialogs.raised.size();
        QVERIFY(r.run("Butt_profileApply")); // answered No
        QCOMPARE(r.dialogs.dialogs.raised.size(), raised + 1);
        const QString question = r.dialogs.dialogs.raised.last().text;
        QCOMPARE(r.dialogs.dialogs.raised.last().kind, QStringLiteral("question"));
        QVERIFY2(question.contains(QStringLiteral("2 writes (readout period, slot 2)")),
                 qPrintable(question));
        QVERIFY2(question.contains(QStringLiteral("stay as they are")), qPrintable(question));
        QCOMPARE(r.device.readoutMinutes(), 15);
        QCOMPARE(r.device.meterId(2), QString());
        QVERIFY(r.indexOfPrefix(QStringLiteral("Gateway profile: apply not confirmed: nothing written")) >=
                0);

        // With the line ticked it is the last write, and the question says so.
        r.child<QCheckBox>("Check_profileLine")->setChecked(true);
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        QVERIFY(r.run("Butt_profileApply"));
        const QString second = r.dialogs.dialogs.raised.last().text;
        QVERIFY2(second.contains(
                     QStringLiteral("3 writes (readout period, slot 2, RTU line 9600 even -> 19200 even)")),
                 qPrintable(second));
        QVERIFY2(second.contains(QStringLiteral("The RTU line changes")), qPrintable(second));
        QCOMPARE(r.device.readoutMinutes(), 40);
        QCOMPARE(r.device.meterId(2), QStringLiteral("22222222"));
        QCOMPARE(r.device.holding(qvxsim::Device::RegRtuLine), uint16_t(0x50));
        QCOMPARE(r.heading(), QStringLiteral("0 settings and 0 slots differ"));
    }

    // On a serial line a new RTU line is written last, the window's port
    // follows it and the read-back runs at the new rate.
    void lineFollowedOnSerial()
    {
        Rig r(Link::None);
        r.pty = std::make_unique<qvxsim::PtyLink>(r.device, r.sim);
        r.pty->matchBaud(r.device);
        QVERIFY(r.pty->open());
        r.setText("Combo_com2_speed", QStringLiteral("9600"));
        r.setText("Combo_com2_parity", QStringLiteral("Even"));
        QVERIFY(r.openPort(r.pty->slavePath()));
        QVERIFY(r.run("Butt_profileRead"));
        QCOMPARE(r.dialog->profile()->rtu, (RtuLine{9600, QStringLiteral("even")}));
        GatewayProfile p = *r.dialog->profile();
        p.rtu = {19200, QStringLiteral("even")};
        writeProfile(r.path("line.json"), p);
        r.openFile(r.path("line.json"));
        r.child<QCheckBox>("Check_profileLine")->setChecked(true);
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        QVERIFY(r.run("Butt_profileApply"));
        QVERIFY2(
            r.dialogs.dialogs.raised.last().text.contains(QStringLiteral("1 write (RTU line 9600 even -> "
                                                                         "19200 even)")),
            qPrintable(r.dialogs.dialogs.raised.last().text));
        QCOMPARE(r.heading(), QStringLiteral("0 settings and 0 slots differ"));
        QCOMPARE(r.device.rtuLine().baud, 19200);
        QCOMPARE(r.child<QComboBox>("Combo_com2_speed")->currentText(), QStringLiteral("19200"));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Gateway profile: the gateway answers at 19200 even now")) >=
                0);
    }

    // A profile saved before the RTU line was part of it still opens.
    void profileWithoutLineOpens()
    {
        Rig r;
        QFile f(r.path("old.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray old = profileToJson(factory());
        QVERIFY(!old.contains("\"rtu\""));
        f.write(old);
        f.close();
        r.openFile(r.path("old.json"));
        QVERIFY(r.dialog->profile());
        QVERIFY(!r.dialog->profile()->rtu.known());
        QVERIFY(!r.dialog->tree()
                     ->findItems(QStringLiteral("not known"), Qt::MatchExactly | Qt::MatchRecursive, 1)
                     .isEmpty());
    }

    // With QVX_SCREENSHOT_DIR set, the comparison is saved as a picture for
    // the manual.  It is saved again at 916 x 788 and 1600 x 1000 (with
    // the size in its name), to see what is cut off or left blank.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("QVX_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("QVX_SCREENSHOT_DIR not set");
        Rig r;
        setUpSource(r.device);
        QVERIFY(r.run("Butt_profileRead"));
        r.device.setHolding(qvxsim::Device::RegReadoutMinutes, 15);
        r.device.programMeter(3, QStringLiteral("87654321"),
                              {QStringLiteral("1.8.0"), QStringLiteral("4.8.0")});
        QVERIFY(r.run("Butt_profileCompare"));
        r.dialog->resize(760, 560);
        QVERIFY(qvxtest::saveAtSizes(r.dialog, out, QStringLiteral("gateway_profile")));
    }
};

QTEST_MAIN(TstProfileDialog)
#include "tst_profile_dialog.moc"
