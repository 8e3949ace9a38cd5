// Tools > "Site..." through the real main window against a site of six
// simulated gateways run in-process: four over Modbus TCP on 127.0.0.1 (one
// as its profile says, one with a differing setting, one stopped, one with a
// meter that delivers no values) and two units on one pseudo-terminal that
// the window's serial port reaches.
#include "common/screenshots.h"
#include "common/window_rig.h"
#include "gateway/find_device_dialog.h"
#include "gateway/site_dialog.h"
#include "sim/pty_link.h"
#include "sim/rtu_server.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>
#include <QXmlStreamReader>

using namespace qvx;
using qvxtest::Link;

namespace {

constexpr int WaitMs = 90000;

// A gateway over TCP with a count of the frames that reached it.
struct TcpGateway {
    qvxsim::Device device;
    int frames = 0;
    int writes = 0;
    std::unique_ptr<qvxsim::TcpServer> server;
    TcpGateway() : device(QStringLiteral("12345678"))
    {
        qvxsim::LinkOptions o;
        o.monitor = [this](const QString &, const QString &direction, const QByteArray &bytes) {
            if (direction != QLatin1String("RX"))
                return;
            ++frames;
            const auto function = bytes.size() > 7 ? uint8_t(bytes.at(7)) : 0;
            writes += function == 6 || function == 16;
        };
        server = std::make_unique<qvxsim::TcpServer>(device, o);
        server->listen(QHostAddress::LocalHost, 0);
    }
};

struct Rig : qvxtest::WindowRig {
    SiteDialog *dialog = nullptr;
    TcpGateway tcp[4]; // matches, differs, stopped, silent meter
    quint16 stoppedPort = 0;
    qvxsim::Device second{QStringLiteral("12345678")};
    qvxsim::PtyChannel channel;
    std::unique_ptr<qvxsim::RtuServer> first, secondServer;

    Rig() : WindowRig({.timeoutMs = 300})
    {
        // The differing gateway reads its meters every 30 minutes.
        tcp[1].device.setHolding(qvxsim::Device::RegReadoutMinutes, 30);
        // The stopped one: nothing listens on its port any more.
        stoppedPort = tcp[2].server->serverPort();
        tcp[2].server->close();
        // The silent meter: a code its meter does not have.
        tcp[3].device.programMeter(2, QStringLiteral("22222222"), {QStringLiteral("99.99.9")});
        // Two units on one line, the window's serial port.
        second.setUnitAddress(2);
        QString error;
        channel.open(QString(), &error);
        first = std::make_unique<qvxsim::RtuServer>(device, &channel, sim);
        secondServer = std::make_unique<qvxsim::RtuServer>(second, &channel, sim);
        setText("Combo_com2_name", channel.slavePath());
        setText("Combo_com2_speed", QStringLiteral("9600"));
        setText("Combo_com2_parity", QStringLiteral("Even"));
        click("Butt_open_port2");

        // The site's profile: what the matching gateway holds.
        GatewayProfile site;
        GatewayClient reader;
        GatewayLink link;
        link.tcp = true;
        link.host = QStringLiteral("127.0.0.1");
        link.port = tcp[0].server->serverPort();
        reader.open(link);
        GatewayJob::runSync(reader, [&](GatewayClient &c, GatewayJob &) { site = readGatewayProfile(c); });
        reader.close();
        tcp[0].frames = 0;
        QFile profile(dir.filePath(QStringLiteral("site.json")));
        profile.open(QIODevice::WriteOnly);
        profile.write(profileToJson(site));
        profile.close();
        child<QAction>("Site1")->trigger();
        dialog = child<SiteDialog>("SiteDialog");
        log.clear();
    }
    ~Rig()
    {
        if (QTest::currentTestFailed())
            qDebug().noquote() << log.join(QLatin1Char('\n'));
    }
    QString path(const char *name) { return dir.filePath(QLatin1String(name)); }
    QByteArray siteText()
    {
        const QString serial = channel.slavePath();
        return QStringLiteral("# the test site\n"
                              "name=Matches profile=site.json --tcp 127.0.0.1:%1\n"
                              "name=Differs profile=site.json --tcp 127.0.0.1:%2\n"
                              "\n"
                              "name=Stopped profile=site.json --tcp 127.0.0.1:%3\n"
                              "name=Silent --tcp 127.0.0.1:%4\n"
                              "name=Line-1 profile=site.json --serial %5 --baud 9600 --parity even --unit 1\n"
                              "name=Line-2 --serial %5 --baud 9600 --parity even --unit 2\n")
            .arg(tcp[0].server->serverPort())
            .arg(tcp[1].server->serverPort())
            .arg(stoppedPort)
            .arg(tcp[3].server->serverPort())
            .arg(serial)
            .toLatin1();
    }
    void writeSite(const QByteArray &bytes, const char *name = "site.txt")
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    bool openSite(const char *name = "site.txt")
    {
        dialogs.dialogs.fileAnswers.enqueue(path(name));
        click("Butt_siteOpen");
        return dialog->rows().size() == 6;
    }
    bool run(const char *button)
    {
        click(button);
        return QTest::qWaitFor([this] { return !dialog->running(); }, WaitMs);
    }
    QString cell(int row, int column)
    {
        QTableWidgetItem *i = dialog->table()->item(row, column);
        return i ? i->text() : QString();
    }
    void select(std::initializer_list<int> rows)
    {
        dialog->table()->clearSelection();
        for (int r : rows)
            for (int c = 0; c < dialog->table()->columnCount(); ++c)
                dialog->table()->item(r, c)->setSelected(true);
    }
};

enum Col { Name, LinkCol, Unit, State, Firmware, Programmed, Delivering, Profile, Checked };

} // namespace

class TstSiteDialog : public QObject {
    Q_OBJECT

private slots:
    // "Check all" reads every gateway, the TCP ones at once and the two on
    // the serial line one after the other, and each row shows what it found.
    void checkAllShowsEachState()
    {
        Rig r;
        r.writeSite(r.siteText());
        QVERIFY(r.openSite());
        QVERIFY(r.run("Butt_siteCheckAll"));
        QCOMPARE(r.cell(0, State), QStringLiteral("answers"));
        QCOMPARE(r.cell(0, Profile), QStringLiteral("matches"));
        QCOMPARE(r.cell(0, Programmed), QStringLiteral("1 of 32"));
        QCOMPARE(r.cell(0, Delivering), QStringLiteral("1 of 1"));
        QVERIFY(!r.cell(0, Firmware).isEmpty());
        QCOMPARE(r.cell(1, Profile), QStringLiteral("1 difference"));
        // A link that does not open is no answer, as qvxctl check says.
        QVERIFY2(r.cell(2, State).startsWith(QStringLiteral("no answer: ")), qPrintable(r.cell(2, State)));
        QCOMPARE(r.cell(3, Delivering), QStringLiteral("1 of 2"));
        QCOMPARE(r.cell(3, Profile), QStringLiteral("none"));
        QCOMPARE(r.cell(4, State), QStringLiteral("answers"));
        QCOMPARE(r.cell(4, Profile), QStringLiteral("matches"));
        QCOMPARE(r.cell(5, State), QStringLiteral("answers"));
        for (int row = 0; row < 6; ++row)
            QVERIFY(!r.cell(row, Checked).isEmpty());
        QVERIFY(r.indexOfPrefix(QStringLiteral("Site: check of 6 gateway(s) done")) >= 0);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Site: Stopped: ")) >= 0);
        // The window's port is as it was.
        QVERIFY(r.portOpen());
    }

    // One question for every selected gateway; only the differing one is
    // written, the matching one selected beside it is only read, and the
    // rest hear nothing.
    void applyWritesOnlyTheDiffering()
    {
        Rig r;
        r.writeSite(r.siteText());
        QVERIFY(r.openSite());
        r.select({0, 1});
        const int silentFrames = r.tcp[3].frames;
        const qsizetype serialFrames = r.received.size();
        const qsizetype asked = r.dialogs.dialogs.raised.size();
        r.dialogs.dialogs.yesNoAnswers.enqueue(true);
        QVERIFY(r.run("Butt_siteApply"));
        QTRY_VERIFY_WITH_TIMEOUT(!r.dialog->running(), WaitMs);
        QCOMPARE(r.dialogs.dialogs.raised.size(), asked + 1);
        const QString question = r.dialogs.dialogs.raised.last().text;
        QVERIFY2(question.contains(QStringLiteral("1 gateway, 1 write in all")), qPrintable(question));
        QVERIFY2(question.contains(QStringLiteral("Differs")) && !question.contains(QStringLiteral("Matches")),
                 qPrintable(question));
        QCOMPARE(r.tcp[1].device.readoutMinutes(), 15);
        QCOMPARE(r.tcp[1].writes, 1);
        QCOMPARE(r.tcp[0].writes, 0);
        QCOMPARE(r.tcp[3].frames, silentFrames);
        QCOMPARE(r.received.size(), serialFrames);
        QCOMPARE(r.cell(1, Profile), QStringLiteral("matches"));
    }

    // Cancel ends the requests in flight; nothing more goes out after it.
    void cancelEndsTheRequestInFlight()
    {
        Rig r;
        r.setFaults({.dropReplies = true}); // the serial units stay silent
        r.writeSite(r.siteText());
        QVERIFY(r.openSite());
        bool once = false;
        QObject::connect(&r.session(), &Session::logLine, r.dialog, [&](const QString &l) {
            if (l.startsWith(QStringLiteral("Site: Line-1: on")) && !std::exchange(once, true))
                QTimer::singleShot(0, r.child<QAbstractButton>("Butt_siteCancel"), &QAbstractButton::click);
        });
        QVERIFY(r.run("Butt_siteCheckAll"));
        QVERIFY(once);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Site: check cancelled")) >= 0);
        QCOMPARE(r.cell(4, 9), QStringLiteral("cancelled"));
        QVERIFY(r.indexOfPrefix(QStringLiteral("Site: Line-2: on")) < 0);
        const qsizetype sent = r.received.size();
        QTest::qWait(500);
        QCOMPARE(r.received.size(), sent);
        QVERIFY(r.portOpen());
    }

    // Over TCP Cancel reaches the threads' clients: each request in flight
    // ends, no gateway is read to its end.
    void cancelOverTcp()
    {
        Rig r;
        for (TcpGateway &g : r.tcp)
            g.server->setFaults({.delayMs = 200});
        r.writeSite(r.siteText());
        QVERIFY(r.openSite());
        bool once = false;
        QObject::connect(&r.session(), &Session::logLine, r.dialog, [&](const QString &l) {
            if (l == QStringLiteral("Site: Matches: reading slot 2") && !std::exchange(once, true))
                QTimer::singleShot(0, r.child<QAbstractButton>("Butt_siteCancel"), &QAbstractButton::click);
        });
        QVERIFY(r.run("Butt_siteCheckAll"));
        QVERIFY(once);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Site: Matches: cancelled")) >= 0);
        QVERIFY(r.indexOfPrefix(QStringLiteral("Site: Matches: reading slot 32")) < 0);
        QCOMPARE(r.cell(0, State), QStringLiteral("not checked"));
        const int frames = r.tcp[0].frames;
        QTest::qWait(500);
        QCOMPARE(r.tcp[0].frames, frames);
    }

    // A site file with bad lines is refused with their numbers; nothing is sent.
    void badLinesRefused()
    {
        Rig r;
        r.writeSite("# site\n--tcp 127.0.0.1:1502\n--tcp 300.1.1.1\n\nname=x --baud 12\n", "bad.txt");
        const qsizetype sent = r.received.size();
        r.dialogs.dialogs.fileAnswers.enqueue(r.path("bad.txt"));
        r.click("Butt_siteOpen");
        QCOMPARE(r.dialogs.dialogs.raised.last().kind, QStringLiteral("message"));
        const QString text = r.dialogs.dialogs.raised.last().text;
        QVERIFY2(text.contains(QStringLiteral("line 3")) && text.contains(QStringLiteral("line 5")), qPrintable(text));
        QVERIFY(r.dialog->rows().isEmpty());
        QCOMPARE(r.received.size(), sent);
    }

    // Saved, the site keeps its comments and blank lines; Add puts a
    // gateway in by its link and Use puts it into the window's fields.
    void saveAddUse()
    {
        Rig r;
        r.writeSite(r.siteText());
        QVERIFY(r.openSite());
        r.click("Butt_siteAdd");
        r.child<QComboBox>("Combo_siteAddLink")->setCurrentText(QStringLiteral("TCP"));
        r.child<QLineEdit>("Edit_siteAddHost")->setText(QStringLiteral("10.0.0.13"));
        r.child<QLineEdit>("Edit_siteAddPort")->setText(QStringLiteral("502"));
        r.child<QLineEdit>("Edit_siteAddName")->setText(QStringLiteral("Feeder-3"));
        r.child<QSpinBox>("UD_siteAddUnit")->setValue(3);
        r.click("Butt_siteAddGateway");
        QCOMPARE(r.dialog->rows().size(), 7);
        QCOMPARE(r.cell(6, Name), QStringLiteral("Feeder-3"));
        r.dialogs.dialogs.fileAnswers.enqueue(r.path("saved.txt"));
        r.click("Butt_siteSave");
        QFile saved(r.path("saved.txt"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        QVERIFY(bytes.startsWith("# the test site"));
        QVERIFY(bytes.contains("\r\n\r\n"));
        QVERIFY(bytes.contains("10.0.0.13"));

        r.select({6});
        r.click("Butt_siteUse");
        QCOMPARE(r.child<QLineEdit>("Edit_remoteIP")->text(), QStringLiteral("10.0.0.13"));
        QCOMPARE(r.child<QSpinBox>("UDmodbusAddress")->value(), 3);
    }

    // "Add from scan..." takes every unit "Find device..." finds on the
    // window's serial line with "Find all".
    void addFromScan()
    {
        Rig r;
        r.click("Butt_siteScan");
        auto *find = r.child<FindDeviceDialog>("FindDeviceDialog");
        QVERIFY(r.child<QCheckBox>("Check_findAll")->isChecked());
        find->preset({9600}, {QStringLiteral("even")}, 1, 3);
        r.click("Butt_findStart");
        QTRY_VERIFY_WITH_TIMEOUT(!find->running(), WaitMs);
        QCOMPARE(r.dialog->rows().size(), 2);
        QCOMPARE(r.dialog->rows().at(1).gateway.link.unit, 2);
        QCOMPARE(r.dialog->rows().at(1).gateway.link.serialPort, r.channel.slavePath());
        QVERIFY(r.indexOfPrefix(QStringLiteral("Site: added")) >= 0);
    }

    // The report holds every gateway's verdicts: as PDF (its text and its
    // first page as a picture) and as HTML.
    void report()
    {
        Rig r;
        r.writeSite(r.siteText());
        QVERIFY(r.openSite());
        QVERIFY(r.run("Butt_siteCheckAll"));
        r.child<QLineEdit>("Edit_siteTechnician")->setText(QStringLiteral("A. Technician"));
        r.child<QLineEdit>("Edit_siteCustomer")->setText(QStringLiteral("Substation North"));
        r.dialogs.dialogs.fileAnswers.enqueue(r.path("report.html"));
        QVERIFY(r.run("Butt_siteReport"));
        QFile html(r.path("report.html"));
        QVERIFY(html.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(html.readAll());
        for (const char *name : {"Matches", "Differs", "Stopped", "Silent", "Line-1", "Line-2"})
            QVERIFY2(text.contains(QLatin1String(name)), name);
        QVERIFY(text.contains(QStringLiteral("Substation North")));
        // Parsed: the summary table (after the head's) has one row per
        // gateway: name, link, unit, state, meters, profile, verdict.
        QXmlStreamReader xml(text.section(QStringLiteral("<table"), 2, 2)
                                 .prepend(QStringLiteral("<table"))
                                 .section(QStringLiteral("</table>"), 0, 0) +
                             QStringLiteral("</table>"));
        QStringList cells;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("td"))
                cells << xml.readElementText();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        constexpr int Cols = 7;
        QCOMPARE(cells.size(), 6 * Cols);
        QCOMPARE(cells.at(3), QStringLiteral("answers"));
        QCOMPARE(cells.at(6), QStringLiteral("ok"));
        QCOMPARE(cells.at(1 * Cols + 5), QStringLiteral("1 difference"));
        QCOMPARE(cells.at(2 * Cols + 3), QStringLiteral("no answer"));
        QCOMPARE(cells.at(3 * Cols + 4), QStringLiteral("1 of 2 deliver"));
        QCOMPARE(cells.at(3 * Cols + 6), QStringLiteral("1 meter delivers no values"));
        // Why the stopped one did not answer stands in its own section.
        QVERIFY(text.contains(QStringLiteral("refused")));

        r.dialogs.dialogs.fileAnswers.enqueue(r.path("report.pdf"));
        QVERIFY(r.run("Butt_siteReport"));
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {r.path("report.pdf"), QStringLiteral("-")});
        QVERIFY(p.waitForFinished(30000));
        // Ligatures ("ff") come back as one character each.
        const QString pdf = QString::fromUtf8(p.readAllStandardOutput()).normalized(QString::NormalizationForm_KC);
        for (const char *name : {"Matches", "Differs", "Stopped", "Silent", "Line-1", "Line-2"})
            QVERIFY2(pdf.contains(QLatin1String(name)), name);
        for (const char *verdict :
             {"Profile matches", "FAIL", "2 match their profile", "No CRC errors", "A. Technician"})
            QVERIFY2(pdf.contains(QLatin1String(verdict)), verdict);
        QProcess render;
        render.start(QStringLiteral("pdftoppm"),
                     {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("50"), QStringLiteral("-f"),
                      QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"), r.path("report.pdf"),
                      r.path("page")});
        QVERIFY(render.waitForFinished(30000));
        QCOMPARE(render.exitCode(), 0);
    }

    void labels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label");
        const char *rows[][2] = {{"Butt_siteOpen", "Open site..."},
                                 {"Butt_siteSave", "Save site..."},
                                 {"Butt_siteAdd", "Add..."},
                                 {"Butt_siteScan", "Add from scan..."},
                                 {"Butt_siteCheckAll", "Check all"},
                                 {"Butt_siteCheckSelected", "Check selected"},
                                 {"Butt_siteApply", "Apply profile to selected"},
                                 {"Butt_siteUse", "Use"},
                                 {"Butt_siteReport", "Report..."},
                                 {"Butt_siteCancel", "Cancel"},
                                 {"Edit_siteTechnician", "Technician"},
                                 {"Edit_siteCustomer", "Customer"},
                                 {"Grid_site", "Gateways"},
                                 {"Progress_site", "Progress"},
                                 {"Edit_siteAddName", "Name"},
                                 {"Combo_siteAddLink", "Link"},
                                 {"Edit_siteAddHost", "TCP host"},
                                 {"Edit_siteAddPort", "TCP port"},
                                 {"Edit_siteAddSerial", "Serial port"},
                                 {"Combo_siteAddBaud", "Baud rate"},
                                 {"Combo_siteAddParity", "Parity"},
                                 {"UD_siteAddUnit", "Unit"},
                                 {"Edit_siteAddProfile", "Profile file"},
                                 {"Butt_siteAddGateway", "Add"},
                                 {"Butt_siteAddClose", "Close"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << row[0] << row[1];
    }
    void labels()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        Rig r;
        r.click("Butt_siteAdd");
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(r.child<QWidget>(name.toLatin1().constData()));
        QVERIFY(a);
        // A list box's name is its current item; its caption then labels
        // it through the relation.
        QString accessible = a->text(QAccessible::Name);
        for (const auto &rel : a->relations(QAccessible::Label))
            if (rel.first->text(QAccessible::Name) == label)
                accessible = label;
        QCOMPARE(accessible, label);
    }

    // With QVX_SCREENSHOT_DIR set: the site window after "Check all", and
    // the report's first page as the technician hands it over.
    void screenshots()
    {
        const QString out = qEnvironmentVariable("QVX_SCREENSHOT_DIR");
        if (out.isEmpty())
            QSKIP("QVX_SCREENSHOT_DIR not set");
        Rig r;
        r.writeSite(r.siteText());
        QVERIFY(r.openSite());
        QVERIFY(r.run("Butt_siteCheckAll"));
        r.dialog->show();
        r.dialog->resize(1400, 440);
        QVERIFY(qvxtest::saveAtSizes(r.dialog, out, QStringLiteral("site")));
        r.child<QLineEdit>("Edit_siteTechnician")->setText(QStringLiteral("A. Technician"));
        r.child<QLineEdit>("Edit_siteCustomer")->setText(QStringLiteral("Substation North"));
        r.dialogs.dialogs.fileAnswers.enqueue(r.path("report.pdf"));
        QVERIFY(r.run("Butt_siteReport"));
        QProcess render;
        render.start(QStringLiteral("pdftoppm"),
                     {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-f"),
                      QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"),
                      r.path("report.pdf"), out + QStringLiteral("/site_report")});
        QVERIFY(render.waitForFinished(30000));
        QCOMPARE(render.exitCode(), 0);
    }
};

QTEST_MAIN(TstSiteDialog)
#include "tst_site_dialog.moc"
