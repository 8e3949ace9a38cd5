// qvxctl against the simulator, run as a process: every command, its JSON
// checked against the simulated gateway's registers, the meter data file read
// back with the window's loader, a profile carried from one gateway to
// another, the exit statuses of bad input and a site with a dead target.
#include "common/pty_pair.h"
#include "meters/meter_data_file.h"
#include "transport/modbus.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString bin(const char *name)
{
    return qEnvironmentVariable("QVX_BIN_DIR") + QLatin1Char('/') + QLatin1String(name);
}

// A simulator process with a fleet of TCP gateways and optionally a pty.
struct Simulator {
    QProcess process;
    QList<quint16> ports;

    bool start(const QStringList &extra)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(bin("qvxsim"), extra);
        QByteArray out;
        QDeadlineTimer deadline(10000);
        while (!out.contains("ready\n") && !deadline.hasExpired()) {
            process.waitForReadyRead(100);
            out += process.readAll();
        }
        auto it = QRegularExpression(QStringLiteral("tcp 127\\.0\\.0\\.1:(\\d+)"))
                      .globalMatch(QString::fromLatin1(out));
        while (it.hasNext())
            ports << static_cast<quint16>(it.next().captured(1).toUInt());
        return out.contains("ready\n");
    }
    QString tcp(int i = 0) const { return QStringLiteral("127.0.0.1:%1").arg(ports.value(i)); }
    ~Simulator()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(2000);
    }
};

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

Run ctl(const QStringList &args, int timeoutMs = 60000)
{
    QProcess p;
    p.start(bin("qvxctl"), args);
    p.waitForFinished(timeoutMs);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// The program run while the test plays the other end of its line: tick runs
// every 15 ms until the program has ended.
Run ctlWhile(const QStringList &args, const std::function<void()> &tick, int timeoutMs = 120000)
{
    QProcess p;
    QTimer every;
    QObject::connect(&every, &QTimer::timeout, tick);
    every.start(15);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    p.start(bin("qvxctl"), args);
    loop.exec();
    return {p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput(), p.readAllStandardError()};
}

QStringList tcp(const Simulator &s, int i = 0)
{
    return {QStringLiteral("--tcp"), s.tcp(i)};
}

} // namespace

class TstQvxctl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(sim.start({"--tcp", "127.0.0.1:0", "--fleet", "3"}));
        QCOMPARE(sim.ports.size(), 3);
        QVERIFY(dir.isValid());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown command")
            << QStringList{"--tcp", "127.0.0.1:1", "frobnicate"} << 2 << "unknown command \"frobnicate\"";
        QTest::newRow("unit 300") << QStringList{"--tcp", "127.0.0.1:1", "--unit", "300", "info"} << 2
                                  << "--unit: must be 1..247, not \"300\"";
        QTest::newRow("unknown option")
            << QStringList{"--tcp", "127.0.0.1:1", "--bogus", "info"} << 2 << "Unknown option 'bogus'";
        QTest::newRow("count 127") << QStringList{"--tcp", "127.0.0.1:1", "read", "holding", "0", "127"} << 2
                                   << "COUNT: must be 1..126";
        QTest::newRow("no such port") << QStringList{"--serial", "/dev/qvx-no-such-port", "info"} << 3
                                      << "/dev/qvx-no-such-port: no such port";
        QTest::newRow("missing file")
            << QStringList{"--tcp", "127.0.0.1:1", "meters", "write", "/nonexistent/x"} << 2
            << "/nonexistent/x:";
        QTest::newRow("iec over tcp") << QStringList{"--tcp", "127.0.0.1:1", "iec", "readout", ""} << 2
                                      << "a meter is read on a serial port";
        QTest::newRow("iec address") << QStringList{"--serial", "/dev/null", "iec", "readout", "12!3"} << 2
                                     << "ADDRESS: \"!\" cannot be sent";
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        const Run r = ctl(args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        QCOMPARE(r.err.count('\n'), 1);
    }

    void helpAndVersion()
    {
        const Run help = ctl({"--help"});
        QCOMPARE(help.code, 0);
        for (const char *word : {"scan", "meters write", "profile apply", "--targets", "--json"})
            QVERIFY2(help.out.contains(word), word);
        QVERIFY(ctl({"values", "--help"}).out.contains("--every"));
        QVERIFY(ctl({"--version"}).out.startsWith("qvxctl "));
    }

    void writeThenRead()
    {
        QCOMPARE(ctl(tcp(sim) + QStringList{"write", "20", "0x1234", "7"}).code, 0);
        QCOMPARE(ctl(tcp(sim) + QStringList{"write", "22", "65535"}).code, 0);
        const Run r = ctl(tcp(sim) + QStringList{"--json", "read", "holding", "20", "3"});
        QCOMPARE(r.code, 0);
        const QJsonArray regs = r.json().value("registers").toArray();
        QCOMPARE(regs.size(), 3);
        QCOMPARE(regs.at(0).toObject().value("address").toInt(), 20);
        QCOMPARE(regs.at(0).toObject().value("value").toInt(), 0x1234);
        QCOMPARE(regs.at(2).toObject().value("value").toInt(), 65535);
        QVERIFY(ctl(tcp(sim) + QStringList{"read", "holding", "20", "1"}).out.contains("4660  0x1234"));
        // An exception reply: register 60000 is outside the map.
        const Run e = ctl(tcp(sim) + QStringList{"read", "holding", "60000", "1"});
        QCOMPARE(e.code, 1);
        QVERIFY2(e.err.contains("exception 2"), e.err.constData());
    }

    void info()
    {
        const Run r = ctl(tcp(sim, 2) + QStringList{"--json", "info"});
        QCOMPARE(r.code, 0);
        const QJsonObject o = r.json();
        QCOMPARE(o.value("ip").toString(), QStringLiteral("192.168.1.100"));
        QCOMPARE(o.value("mask").toString(), QStringLiteral("255.255.255.0"));
        QCOMPARE(o.value("tcp_idle_ms").toInt(), 120000);
        QCOMPARE(o.value("readout_minutes").toInt(), 15);
        QCOMPARE(o.value("flags").toObject().value("continuous_read").toBool(), true);
        QCOMPARE(o.value("flags").toObject().value("dhcp").toBool(), false);
        QCOMPARE(o.value("iec").toObject().value("baud").toInt(), 9600);
        QVERIFY(o.value("firmware").toString().contains("QVX-24S"));
    }

    void meterFileRoundTrip()
    {
        const QString file = dir.filePath("meters.txt");
        QCOMPARE(ctl(tcp(sim) + QStringList{"meters", "read", "-o", file}).code, 0);
        // The window's own loader reads it.
        const qvx::MeterDataRead read = qvx::readMeterDataFile(file);
        QVERIFY(!read.error);
        QCOMPARE(read.lines.size(), qvx::MeterDataFileLines);
        qvx::MeterTable table;
        QVERIFY(!qvx::loadMeterDataLines(read.lines, table));
        QCOMPARE(table.id(1), QStringLiteral("12345678"));
        QVERIFY(!table.code(1, 1).isEmpty());

        // Programmed into another gateway, which then diffs clean ...
        table.setId(2, QStringLiteral("87654321"));
        table.setCode(2, 63, QStringLiteral("2.8.0.0"));
        QVERIFY(!qvx::saveMeterDataFile(file, table));
        QCOMPARE(ctl(tcp(sim, 1) + QStringList{"meters", "diff", file}).code, 1);
        const Run w = ctl(tcp(sim, 1) + QStringList{"meters", "write", file});
        QVERIFY2(w.code == 0, w.err.constData());
        QCOMPARE(ctl(tcp(sim, 1) + QStringList{"meters", "diff", file}).code, 0);
        // ... and a changed row is named by slot and row.
        table.setCode(3, 5, QStringLiteral("1.8.2.0"));
        QVERIFY(!qvx::saveMeterDataFile(file, table));
        const Run d = ctl(tcp(sim, 1) + QStringList{"meters", "diff", file});
        QCOMPARE(d.code, 1);
        QVERIFY2(d.out.contains("slot 3 row 5"), d.out.constData());

        const Run j = ctl(tcp(sim, 1) + QStringList{"--json", "meters", "read", "--slot", "2"});
        const QJsonArray slotArr = j.json().value("slots").toArray();
        QCOMPARE(slotArr.size(), 1);
        QCOMPARE(slotArr.at(0).toObject().value("id").toString(), QStringLiteral("87654321"));
        QCOMPARE(slotArr.at(0).toObject().value("obis").toArray().size(), 63);
        QCOMPARE(slotArr.at(0).toObject().value("obis").toArray().at(62).toString(),
                 QStringLiteral("2.8.0.0"));
    }

    void values()
    {
        const Run r = ctl(tcp(sim) + QStringList{"--json", "values", "1", "--every", "1", "--count", "2"});
        QCOMPARE(r.code, 0);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        const QJsonObject o = QJsonDocument::fromJson(lines.at(0)).object();
        QCOMPARE(o.value("slot").toInt(), 1);
        QVERIFY(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).isValid());
        const QJsonArray v = o.value("values").toArray();
        QCOMPARE(v.size(), 63);
        QCOMPARE(v.at(0).toObject().value("row").toInt(), 1);
        QVERIFY(v.at(0).toObject().value("value").isDouble());
    }

    void profileCarried()
    {
        const QString file = dir.filePath("profile.json");
        QCOMPARE(ctl(tcp(sim) + QStringList{"write", "100", "42"}).code, 0);
        QCOMPARE(ctl(tcp(sim) + QStringList{"profile", "save", file}).code, 0);
        QCOMPARE(ctl(tcp(sim, 2) + QStringList{"profile", "diff", file}).code, 1);
        const Run a = ctl(tcp(sim, 2) + QStringList{"--json", "profile", "apply", file});
        QVERIFY2(a.code == 0, a.err.constData());
        QVERIFY(a.json().value("writes").toInt() >= 1);
        QCOMPARE(ctl(tcp(sim, 2) + QStringList{"profile", "diff", file}).code, 0);
        QCOMPARE(ctl(tcp(sim, 2) + QStringList{"read", "holding", "100", "1"}).out.contains(" 42 "), true);

        // A malformed profile writes nothing.
        QFile bad(dir.filePath("bad.json"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"format\": \"qvx-profile/1\", \"ip\": 5}");
        bad.close();
        const Run b = ctl(tcp(sim, 2) + QStringList{"-v", "profile", "apply", bad.fileName()});
        QCOMPARE(b.code, 2);
        QVERIFY(!b.err.contains(" > "));
    }

    void targets()
    {
        QFile list(dir.filePath("site.txt"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(
            QStringLiteral("# the site\n--tcp %1\n\n--tcp %2 --unit 1\n--tcp 127.0.0.1:1 # gone\n--tcp %3\n")
                .arg(sim.tcp(0), sim.tcp(1), sim.tcp(2))
                .toLatin1());
        list.close();
        const Run r = ctl({"--targets", list.fileName(), "-j", "4", "--json", "--timeout", "500", "info"});
        QCOMPARE(r.code, 1);
        const QList<QByteArray> lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        int ok = 0;
        for (const QByteArray &l : lines) {
            const QJsonObject o = QJsonDocument::fromJson(l).object();
            if (o.value("ok").toBool()) {
                ++ok;
                QCOMPARE(o.value("result").toObject().value("ip").toString(),
                         QStringLiteral("192.168.1.100"));
            } else {
                QVERIFY(o.value("target").toString().contains("127.0.0.1:1 "));
                QVERIFY(!o.value("error").toString().isEmpty());
            }
        }
        QCOMPARE(ok, 3);
        QVERIFY(r.err.contains("3 ok, 1 failed"));

        QFile badList(dir.filePath("bad.txt"));
        QVERIFY(badList.open(QIODevice::WriteOnly));
        badList.write("--tcp 127.0.0.1\n--unit 3 --tcp 10.0.0.999\n");
        badList.close();
        const Run b = ctl({"--targets", badList.fileName(), "info"});
        QCOMPARE(b.code, 2);
        QVERIFY2(b.err.contains("line 2: --tcp"), b.err.constData());
    }

    void scanOnPty()
    {
        Simulator serial;
        const QString pty = dir.filePath("ttyScan");
        QVERIFY(serial.start(
            {"--tcp", "127.0.0.1:0", "--pty", pty, "--match-baud", "--baud", "19200", "--unit", "3"}));
        const Run r = ctl({"--serial", pty, "--json", "scan", "--units", "1-4", "--parities", "even"});
        QVERIFY2(r.code == 0, r.err.constData());
        const QJsonArray found = r.json().value("found").toArray();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.at(0).toObject().value("baud").toInt(), 19200);
        QCOMPARE(found.at(0).toObject().value("unit").toInt(), 3);
        // 9600 was tried first: four probes there, three at 19200.
        QCOMPARE(r.json().value("probes").toInt(), 7);
    }

    // One reply in 20 lost: a whole apply (some hundred requests) gets
    // through by sending a lost one again, and says how often it did; without
    // retries it stops on the first loss.
    void applyOnALossyLine()
    {
        const QString file = dir.filePath("lossy.json");
        QCOMPARE(ctl(tcp(sim) + QStringList{"write", "100", "33"}).code, 0);
        QCOMPARE(ctl(tcp(sim) + QStringList{"profile", "save", file}).code, 0);
        Simulator lossy;
        QVERIFY(lossy.start({"--tcp", "127.0.0.1:0", "--fault-every", "20", "--fault-drop"}));
        const QStringList link{"--tcp", lossy.tcp(), "--timeout", "300"};
        const Run once = ctl(link + QStringList{"--retries", "0", "profile", "apply", file});
        QCOMPARE(once.code, 1);
        QVERIFY2(once.err.contains("no answer"), once.err.constData());

        const Run a = ctl(link + QStringList{"--json", "profile", "apply", file});
        QVERIFY2(a.code == 0, a.err.constData());
        const QJsonObject o = a.json();
        QVERIFY(o.value("retries").toInt() >= 1);
        QVERIFY(o.value("requests").toInt() > 80);
        QVERIFY(o.value("differences").toArray().isEmpty());
        QVERIFY2(a.err.contains(": sent again (1 of 2)"), a.err.constData());
        const Run text = ctl(link + QStringList{"profile", "apply", file});
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^0 change\\(s\\) written, \\d+ request\\(s\\), [1-9]\\d* retried$"),
                     QRegularExpression::MultilineOption)
                     .match(QString::fromLatin1(text.out))
                     .hasMatch(),
                 text.out.constData());
        QCOMPARE(ctl(link + QStringList{"profile", "diff", file}).code, 0);
    }

    // An adapter that hands back what it sends: every reply fails without
    // --echo, and the error says so; with --echo reads and writes work.
    void echoingAdapter()
    {
        Simulator echo;
        const QString pty = dir.filePath("ttyEcho");
        QVERIFY(echo.start({"--tcp", "127.0.0.1:0", "--pty", pty, "--fault-echo"}));
        const Run plain = ctl({"--serial", pty, "read", "holding", "7", "1"});
        QCOMPARE(plain.code, 1);
        QVERIFY2(
            plain.err.contains("the reply starts with the request's own bytes: if the adapter echoes what "
                               "it sends, use --echo"),
            plain.err.constData());
        // An echo comes back every time: nothing is sent again.
        QVERIFY(!plain.err.contains("sent again"));
        QCOMPARE(plain.err.count('\n'), 1);

        const QStringList link{"--serial", pty, "--echo"};
        QCOMPARE(ctl(link + QStringList{"write", "20", "4711"}).code, 0);
        const Run r = ctl(link + QStringList{"--json", "read", "holding", "20", "1"});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.json().value("registers").toArray().at(0).toObject().value("value").toInt(), 4711);
        const Run s = ctl(
            link + QStringList{"--json", "scan", "--units", "1-2", "--bauds", "9600", "--parities", "even"});
        QVERIFY2(s.code == 0, s.err.constData());
        QCOMPARE(s.json().value("found").toArray().size(), 1);
        const Run noEcho =
            ctl({"--serial", pty, "scan", "--units", "1-2", "--bauds", "9600", "--parities", "even"});
        QCOMPARE(noEcho.code, 1);
        QVERIFY2(noEcho.err.trimmed().endsWith("if the adapter echoes what it sends, use --echo"),
                 noEcho.err.constData());
    }

    // A line where something else talks: a frame from unit 9 every 15 ms,
    // every third an exception.  The probe at unit 9 gets an answer that
    // fits, but the identification does not: no gateway is reported, the
    // traffic is, and the progress comes line by line off a terminal.
    void foreignTrafficIsNoGateway()
    {
        qvxtest::PtyPair line;
        QVERIFY(line.isValid());
        const QByteArray data = qvx::withCrc(QByteArray::fromHex("0903020080"));
        const QByteArray exception = qvx::withCrc(QByteArray::fromHex("098302"));
        int n = 0;
        const Run r = ctlWhile({"--serial", line.slavePath(), "--json", "scan", "--all", "--units", "1-20",
                                "--bauds", "9600", "--parities", "even"},
                               [&] {
                                   line.readAvailable();
                                   line.write(++n % 3 ? data : exception);
                               });
        QCOMPARE(r.code, 1);
        const QJsonObject o = r.json();
        QVERIFY2(o.value("found").toArray().isEmpty(), r.out.constData());
        QCOMPARE(o.value("probes").toInt(), 20);
        const QJsonArray unconfirmed = o.value("unconfirmed").toArray();
        QVERIFY2(!unconfirmed.isEmpty(), r.out.constData());
        for (const QJsonValue &c : unconfirmed)
            QCOMPARE(c.toObject().value("unit").toInt(), 9);
        QVERIFY(o.value("activity").toArray().at(0).toObject().value("bytes").toInt() > 0);
        QVERIFY2(r.err.contains("scan: 9600 even, units 1-10 (probe 1 of 20), about "), r.err.constData());
        QVERIFY2(r.err.contains("scan: 9600 even, units 11-20 (probe 11 of 20), about "), r.err.constData());
        QVERIFY2(r.err.contains("qvxctl: no gateway found; the line carries other traffic (") &&
                     r.err.contains(" bytes at 9600)"),
                 r.err.constData());
    }

    // The likely units go first at every rate: a gateway at the --unit on the
    // second rate is found after the first rate's twelve likely units, not
    // after all 247 of them.
    void scanTriesLikelyUnitsFirst()
    {
        Simulator serial;
        const QString pty = dir.filePath("ttyLikely");
        QVERIFY(serial.start(
            {"--tcp", "127.0.0.1:0", "--pty", pty, "--match-baud", "--baud", "19200", "--unit", "200"}));
        const Run r = ctl({"--serial", pty, "--unit", "200", "--json", "scan", "--bauds", "9600,19200",
                           "--parities", "even"});
        QVERIFY2(r.code == 0, r.err.constData());
        QCOMPARE(r.json().value("found").toArray().at(0).toObject().value("unit").toInt(), 200);
        QCOMPARE(r.json().value("probes").toInt(), 12 + 2);
    }

    // A meter read to the end of its message: the answer as received, or its
    // rows with names and the check; the exit status says whether it held.
    void iecReadout_data()
    {
        QTest::addColumn<QStringList>("meter");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("bcc");
        QTest::addColumn<QString>("step");
        QTest::newRow("to the end") << QStringList{} << QStringList{"--json"} << 0 << "ok"
                                    << "Readout complete: ";
        QTest::newRow("wrong check") << QStringList{"--meter-bad-bcc"} << QStringList{"--json"} << 1
                                     << "error"
                                     << "BCC error (computed ";
        QTest::newRow("mode C from 300") << QStringList{"--meter-mode-c", "--meter-ident", "/QVX5MODEC"}
                                         << QStringList{"--json", "--mode-c", "--start-300"} << 0 << "ok"
                                         << "Port switched to 9600 baud";
        QTest::newRow("raw") << QStringList{} << QStringList{} << 0 << QString() << "BCC OK";
        QTest::newRow("silent gateway line") << QStringList{"gateway"} << QStringList{"--json"} << 1 << "none"
                                             << "the meter did not answer";
    }
    void iecReadout()
    {
        QFETCH(QStringList, meter);
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, bcc);
        QFETCH(QString, step);
        Simulator s;
        const QString pty = dir.filePath(QStringLiteral("ttyMeter"));
        // A gateway's line stays silent to a sign-on.
        QVERIFY(s.start(meter.value(0) == QLatin1String("gateway")
                            ? QStringList{"--tcp", "127.0.0.1:0", "--pty", pty}
                            : QStringList{"--tcp", "127.0.0.1:0", "--meter-pty", pty} + meter));
        const Run r =
            ctl(QStringList{"--serial", pty, "iec", "readout", "12345678", "--until-end"} + options);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(step.toUtf8()), r.err.constData());
        if (bcc.isEmpty()) {
            QVERIFY2(r.out.startsWith("/QVX5SIMMETER\r\n\x02"
                                      "0.0.0(12345678)\r\n"),
                     r.out.left(40).constData());
            QVERIFY(r.out.contains("!\r\n\x03"));
            return;
        }
        const QJsonObject o = r.json();
        QCOMPARE(o.value("bcc").toString(), bcc);
        if (bcc == QLatin1String("none"))
            return;
        QCOMPARE(o.value("identification").toString().left(5), QStringLiteral("/QVX5"));
        QJsonObject energy;
        for (const QJsonValue &row : o.value("rows").toArray())
            if (row.toObject().value("obis") == QLatin1String("1.8.0"))
                energy = row.toObject();
        QCOMPARE(energy.value("unit").toString(), QStringLiteral("kWh"));
        QVERIFY(energy.value("name").toString().startsWith(QStringLiteral("Active energy import")));
        QVERIFY(energy.value("value").toString().toDouble() > 0);
    }

private:
    Simulator sim;
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TstQvxctl)
#include "tst_qvxctl.moc"
