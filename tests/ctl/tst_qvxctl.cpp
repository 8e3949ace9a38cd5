// qvxctl against the simulator, run as a process: every command, its JSON
// checked against the simulated gateway's registers, the meter data file read
// back with the window's loader, a profile carried from one gateway to
// another, the exit statuses of bad input and a site with a dead target;
// per-target output files, files written whole under a kill or a full disk,
// inputs that are no files or too big, and the target file's refusals.
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
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

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

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(f.fileName()));
    return f.fileName();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Under -v every frame goes to standard error: none means nothing was sent.
bool sentNothing(const Run &r)
{
    return !r.err.contains(" > ");
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
        // Options are checked before anything is sent, the link included.
        QTest::newRow("tcp twice") << QStringList{"--tcp", "127.0.0.1:1", "--tcp", "127.0.0.1:2", "info"} << 2
                                   << "--tcp given twice (\"127.0.0.1:1\" and \"127.0.0.1:2\")";
        QTest::newRow("slot 31 of 30")
            << QStringList{"--tcp", "127.0.0.1:1", "meters", "read", "--slot", "31", "--id-digits", "16"} << 2
            << "--slot: the gateway has 30 slots with 16-digit IDs";
        QTest::newRow("negative start") << QStringList{"--tcp", "127.0.0.1:1", "read", "holding", "-1", "1"}
                                        << 2 << "START: -1 is not a register address";
        QTest::newRow("negative unit") << QStringList{"--tcp", "127.0.0.1:1", "--unit", "-1", "info"} << 2
                                       << "--unit: must be 1..247, not \"-1\"";
        QTest::newRow("output of info") << QStringList{"--tcp", "127.0.0.1:1", "info", "-o", "x.txt"} << 2
                                        << "-o: only meters read writes a file";
        QTest::newRow("long argument cut")
            << QStringList{"--tcp", "127.0.0.1:1", "read", QString(5000, QLatin1Char('h')), "0", "1"} << 2
            << "...\" (5000 characters) is not holding or input";
        QTest::newRow("long option cut")
            << QStringList{"--tcp", "127.0.0.1:1", "--" + QString(3000, 'x'), "info"} << 2
            << "... (3018 characters)";
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

    // Every data set of every line reaches the rows, with all its groups,
    // as JSON and as the semicolon-separated file; a meter that pushes is
    // listened to, its P1 CRC checked.
    void iecDataSetRows_data()
    {
        QTest::addColumn<QStringList>("meter");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("check"); // "bcc ok", "crc error"...
        const QStringList shapes{"--meter-sets-per-line", "4", "--meter-demand", "--meter-billing",
                                 "--meter-sub-values", "--meter-bang-on-last"};
        QTest::newRow("readout, several sets a line")
            << shapes + QStringList{"--meter-bcc", "LF"} << QStringList{"readout", "12345678", "--until-end"}
            << 0 << "bcc ok";
        QTest::newRow("readout, no identification, BCC SOH")
            << shapes + QStringList{"--meter-no-ident", "--meter-bcc", "SOH"}
            << QStringList{"readout", "12345678", "--until-end"} << 0 << "bcc ok";
        QTest::newRow("listen, P1 with CRC") << shapes + QStringList{"--meter-push", "1", "--meter-p1-crc"}
                                             << QStringList{"listen"} << 0 << "crc ok";
        QTest::newRow("listen, CRC error")
            << shapes + QStringList{"--meter-push", "1", "--meter-p1-crc", "--meter-bad-bcc"}
            << QStringList{"listen"} << 1 << "crc error";
        QTest::newRow("listen, without CRC") << shapes + QStringList{"--meter-push", "1"}
                                             << QStringList{"listen"} << 0 << "bcc ok";
    }
    void iecDataSetRows()
    {
        QFETCH(QStringList, meter);
        QFETCH(QStringList, command);
        QFETCH(int, code);
        QFETCH(QString, check);
        Simulator s;
        const QString pty = dir.filePath(QStringLiteral("ttyRows"));
        QVERIFY(s.start(QStringList{"--tcp", "127.0.0.1:0", "--meter-pty", pty} + meter));
        const Run r = ctl(QStringList{"--serial", pty, "--json", "iec"} + command);
        QVERIFY2(r.code == code, r.err.constData());
        const QJsonObject o = r.json();
        const QStringList c = check.split(QLatin1Char(' '));
        QCOMPARE(o.value(c.at(0)).toString(), c.at(1));
        if (c.at(1) == QLatin1String("error")) {
            QVERIFY2(r.err.contains("CRC error (computed " + o.value("crc_computed").toString().toLatin1() +
                                    ", received " + o.value("crc_received").toString().toLatin1() + ")"),
                     r.err.constData());
            return;
        }
        QMap<QString, QJsonObject> byCode;
        for (const QJsonValue &row : o.value("rows").toArray())
            byCode.insert(row.toObject().value("obis").toString(), row.toObject());
        // Every data set the meter has, the last of each line included.
        for (const char *k : {"0.0.0", "1.8.0", "0.9.1", "14.7.0", "13.7.0", "1.6.0", "0.1.2*04", "9.4", "F.F"})
            QVERIFY2(byCode.contains(QLatin1String(k)), k);
        const QJsonObject demand = byCode.value("1.6.0");
        QCOMPARE(demand.value("unit").toString(), QStringLiteral("kW"));
        QCOMPARE(demand.value("values").toArray().at(1).toObject().value("value").toString(),
                 QStringLiteral("2403100930"));
        QCOMPARE(byCode.value("0.1.2*04").value("value").toString(), QStringLiteral("24-03-01 00:00"));
        QCOMPARE(byCode.value("9.4").value("values").toArray().at(0).toObject().value("parts").toArray().size(),
                 2);
        // The table's unit is apart from what the meter sent.
        QCOMPARE(byCode.value("0.0.0").value("unit").toString(), QString());
        QCOMPARE(byCode.value("14.7.0").value("unit_from_table").toString(), QStringLiteral("Hz"));
        QVERIFY(byCode.value("1.8.0").value("line").toInt() > 0);

        // The same rows as a file.
        if (command.first() != QLatin1String("readout"))
            return;
        const QString file = dir.filePath(QStringLiteral("rows.csv"));
        const Run csv = ctl(QStringList{"--serial", pty, "iec"} + command + QStringList{"--csv", "-o", file});
        QVERIFY2(csv.code == 0, csv.err.constData());
        const QList<QByteArray> lines = readAll(file).split('\n');
        QCOMPARE(lines.first(), QByteArray("obis;address;value;unit;unit_from_table;name;values;line;\r"));
        QCOMPARE(lines.size() - 2, o.value("rows").toArray().size());
        bool found = false;
        for (const QByteArray &l : lines)
            found |= l.startsWith("1.6.0;1.6.0;02.468;kW;kW;Maximum demand, import;(02.468*kW)(2403100930);");
        QVERIFY(found);
    }

    // A link that cannot be made is said in plain words, the system's text
    // after them, on one line of stderr.
    void closedTcpPortInPlainWords()
    {
        quint16 deadPort = 0;
        {
            QTcpServer gone;
            QVERIFY(gone.listen(QHostAddress::LocalHost));
            deadPort = gone.serverPort();
        }
        const QString where = QStringLiteral("127.0.0.1:%1").arg(deadPort);
        const Run r = ctl({"--tcp", where, "info"});
        QCOMPARE(r.code, 3);
        QCOMPARE(
            r.err,
            QStringLiteral("qvxctl: connection refused by %1 (socket error #111)\n").arg(where).toUtf8());
    }

    // With --targets an output names a pattern: one file a target, in the
    // form asked for; a pattern that would have two targets write one file
    // is refused before anything is sent.
    void outputPatterns()
    {
        const QString site =
            writeFile(dir, "named.txt",
                      QStringLiteral("--tcp %1 --name north\n--tcp %2\n--tcp %3 --name south\n")
                          .arg(sim.tcp(0), sim.tcp(1), sim.tcp(2))
                          .toLatin1());
        const Run save =
            ctl({"--targets", site, "-j", "3", "profile", "save", dir.filePath("p-{name}.json")});
        QVERIFY2(save.code == 0, save.err.constData());
        const QString derived = QStringLiteral("p-127.0.0.1-%1-u1.json").arg(sim.ports.at(1));
        for (const QString &name : {QStringLiteral("p-north.json"), derived, QStringLiteral("p-south.json")})
            QVERIFY2(readAll(dir.filePath(name)).contains("qvx-profile/1"), qPrintable(name));

        // The meter data file, not the JSON the target's run reports in.
        const Run meters =
            ctl({"--targets", site, "meters", "read", "-o", dir.filePath("t-{host}-{port}.txt")});
        QVERIFY2(meters.code == 0, meters.err.constData());
        const QByteArray table =
            readAll(dir.filePath(QStringLiteral("t-127.0.0.1-%1.txt").arg(sim.ports.at(2))));
        QVERIFY2(table.startsWith("12345678;\r\n"), table.left(40).constData());

        for (const QStringList &command : {QStringList{"profile", "save", dir.filePath("one.json")},
                                           QStringList{"meters", "read", "-o", dir.filePath("{unit}.txt")}}) {
            const Run r = ctl(QStringList{"--targets", site, "-v"} + command);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains("lines 1 and 2 would both write"), r.err.constData());
            QVERIFY(sentNothing(r));
        }
        QVERIFY(!QFile::exists(dir.filePath("one.json")));
        const Run unknown = ctl({"--targets", site, "profile", "save", dir.filePath("{nmae}.json")});
        QCOMPARE(unknown.code, 2);
        QVERIFY2(unknown.err.contains("{nmae} is not {name}"), unknown.err.constData());
    }

    // A file is replaced whole or not at all: a size limit (as a full disk)
    // and a kill at any point leave the old file as it was.
    void writesWholeOrNotAtAll_data()
    {
        QTest::addColumn<int>("killAfterReplies"); // 0: a size limit instead
        QTest::newRow("file size limit") << 0;
        QTest::newRow("kill after the first reply") << 1;
        QTest::newRow("kill half-way") << 20;
        QTest::newRow("kill after the last reply") << -1;
    }
    void writesWholeOrNotAtAll()
    {
        QFETCH(int, killAfterReplies);
        const QByteArray old = "{\"format\": \"qvx-profile/1\", \"old\": true}\n";
        const QString file = writeFile(dir, "kept.json", old);
        if (killAfterReplies == 0) {
            QProcess p;
            p.start("sh", QStringList{"-c", "ulimit -f 4; exec \"$0\" \"$@\"", bin("qvxctl")} + tcp(sim) +
                              QStringList{"profile", "save", file});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 2);
            const QByteArray e = p.readAllStandardError();
            QVERIFY2(e.contains("not written (File too large); the file is as it was"), e.constData());
            QCOMPARE(readAll(file), old);
            return;
        }
        if (killAfterReplies < 0) {
            // As many replies as a whole save takes.
            const Run whole =
                ctl(tcp(sim) + QStringList{"-v", "profile", "save", dir.filePath("count.json")});
            QCOMPARE(whole.code, 0);
            killAfterReplies = int(whole.err.count(" < "));
        }
        QProcess p;
        p.start(bin("qvxctl"), tcp(sim) + QStringList{"-v", "profile", "save", file});
        QByteArray e;
        QDeadlineTimer deadline(60000);
        while (e.count(" < ") < killAfterReplies && !deadline.hasExpired() &&
               p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(100);
            e += p.readAllStandardError();
        }
        p.kill();
        p.waitForFinished(10000);
        const QByteArray now = readAll(file);
        QVERIFY2(now == old || now.trimmed().endsWith('}'), now.right(60).constData());
        if (now != old)
            QVERIFY(now.contains("qvx-profile/1"));
    }

    // An output that cannot be written is found before the first request.
    void unwritableOutputRefusedFirst_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such folder") << QStringList{"meters", "read", "-o", "/nonexistent/t.txt"}
                                        << "the folder /nonexistent does not exist";
        QTest::newRow("a folder") << QStringList{"meters", "read", "--json", "-o", "/tmp"}
                                  << "/tmp: is a folder";
        QTest::newRow("a device") << QStringList{"profile", "save", "/dev/null"}
                                  << "/dev/null: not a regular file";
        QTest::newRow("no temporary file there")
            << QStringList{"profile", "save", "/proc/qvx.json"} << "/proc/qvx.json: cannot be written";
    }
    void unwritableOutputRefusedFirst()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, message);
        const Run r = ctl(tcp(sim) + QStringList{"-v"} + command);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(sentNothing(r));
    }

    // What is not a regular file, or far too big for one, is refused with
    // one line before anything is read into memory or sent.
    void inputsBounded_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("endless device") << "/dev/zero"
                                        << "/dev/zero: not a regular file";
        QTest::newRow("fifo") << "fifo"
                              << "not a regular file";
        QTest::newRow("oversized") << "big"
                                   << "1048577 bytes; an input file is at most 1048576 bytes";
    }
    void inputsBounded()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QString path = kind;
        if (kind == QLatin1String("fifo")) {
            path = dir.filePath("fifo");
            QFile::remove(path);
            QCOMPARE(QProcess::execute("mkfifo", {path}), 0);
        } else if (kind == QLatin1String("big")) {
            path = writeFile(dir, "big.json", QByteArray(1024 * 1024 + 1, ' '));
        }
        for (const QStringList &command :
             {QStringList{"profile", "apply", path}, QStringList{"meters", "diff", path},
              QStringList{"--targets", path, "info"}}) {
            const Run r = ctl((command.first() == QLatin1String("--targets") ? QStringList{} : tcp(sim)) +
                                  QStringList{"-v"} + command,
                              20000);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
            QCOMPARE(r.err.count('\n'), 1);
            QVERIFY(sentNothing(r));
        }
    }

    // A target file names one link a line and each gateway once; a file
    // without targets is a mistake; quoted input is cut short.
    void targetFileRefusals_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("tcp and serial on one line")
            << QByteArray("--tcp 127.0.0.1:1\n--tcp 127.0.0.1:2 --serial /dev/ttyS0\n")
            << "line 2: --tcp and --serial: give one link";
        QTest::newRow("option twice")
            << QByteArray("--tcp 127.0.0.1:1 --unit 2 --unit 3\n") << "line 1: --unit given twice";
        QTest::newRow("same gateway twice")
            << QByteArray("--tcp 127.0.0.1:1\n# again\n--tcp 127.0.0.1:1 --timeout 300\n")
            << "line 3: the same gateway as line 1 (--tcp 127.0.0.1:1 --unit 1); --allow-duplicates";
        QTest::newRow("empty") << QByteArray("# nothing yet\n\n") << "no targets";
        QTest::newRow("name twice") << QByteArray("--tcp 127.0.0.1:1 --name a\n--tcp 127.0.0.1:2 --name a\n")
                                    << "line 2: name \"a\" is already line 1's";
        QTest::newRow("long garbage line")
            << QByteArray(200000, 'A') + '\n'
            << "line 1: \"" + QString(40, QLatin1Char('A')) + "...\" (200000 characters) is not an option";
    }
    void targetFileRefusals()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        const Run r = ctl({"--targets", writeFile(dir, "refused.txt", file), "info"});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.left(300).constData());
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(r.err.size() < 300);
    }

    // Results come in the file's order, each failure with its reason; in
    // JSON error is null when there is none and each difference an object.
    void resultsInFileOrderWithReasons()
    {
        Simulator fleet;
        QVERIFY(fleet.start({"--tcp", "127.0.0.1:0", "--fleet", "3"}));
        const QString profile = dir.filePath("fleet.json");
        QCOMPARE(ctl(tcp(fleet, 2) + QStringList{"profile", "save", profile}).code, 0);
        QCOMPARE(ctl(tcp(fleet, 0) + QStringList{"write", "100", "42"}).code, 0);
        const QString site =
            writeFile(dir, "order.txt",
                      QStringLiteral("--tcp %1 --name differs\n--tcp 127.0.0.1:1 --name stopped\n"
                                     "--tcp %2 --name same\n--tcp %3 --name same2\n")
                          .arg(fleet.tcp(0), fleet.tcp(2), fleet.tcp(1))
                          .toLatin1());
        const Run text = ctl({"--targets", site, "-j", "4", "--timeout", "500", "profile", "diff", profile});
        QCOMPARE(text.code, 1);
        const QList<QByteArray> lines = text.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines.at(0).contains(fleet.tcp(0).toLatin1()) &&
                     lines.at(0).endsWith("FAILED  differs: 1 setting"),
                 lines.at(0).constData());
        QVERIFY2(lines.at(1).contains("127.0.0.1:1 ") && lines.at(1).contains("FAILED  no answer: "),
                 lines.at(1).constData());
        QVERIFY2(lines.at(2).contains(fleet.tcp(2).toLatin1()) && lines.at(2).endsWith("ok"),
                 lines.at(2).constData());
        QVERIFY(lines.at(3).contains(fleet.tcp(1).toLatin1()));

        const Run json =
            ctl({"--targets", site, "-j", "4", "--timeout", "500", "--json", "profile", "diff", profile});
        QCOMPARE(json.code, 1);
        const QList<QByteArray> objects = json.out.trimmed().split('\n');
        QCOMPARE(objects.size(), 4);
        const QJsonObject differs = QJsonDocument::fromJson(objects.at(0)).object();
        QCOMPARE(differs.value("name").toString(), QStringLiteral("differs"));
        QCOMPARE(differs.value("error").toString(), QStringLiteral("differs: 1 setting"));
        const QJsonObject d =
            differs.value("result").toObject().value("differences").toArray().at(0).toObject();
        QCOMPARE(d.value("what").toString(), QStringLiteral("readout_minutes"));
        QCOMPARE(d.value("gateway").toString(), QStringLiteral("42"));
        QCOMPARE(d.value("profile").toString(), QStringLiteral("15"));
        QCOMPARE(QJsonDocument::fromJson(objects.at(1)).object().value("line").toInt(), 2);
        const QJsonObject same = QJsonDocument::fromJson(objects.at(2)).object();
        QVERIFY(same.value("ok").toBool());
        QVERIFY(same.contains("error") && same.value("error").isNull());

        // The same gateway twice, allowed: one after the other, both done.
        const QString twice =
            writeFile(dir, "twice.txt",
                      QStringLiteral("--tcp %1\n--tcp %1 --timeout 800\n").arg(fleet.tcp(1)).toLatin1());
        const Run dup = ctl({"--targets", twice, "-j", "2", "--allow-duplicates", "info"});
        QVERIFY2(dup.code == 0, dup.err.constData());
        QVERIFY(dup.err.contains("2 ok, 0 failed"));
    }

    // A file of one slot writes that slot only and names it; --all writes
    // every slot and erases the empty ones; --dry-run sends nothing.
    void oneSlotFileTouchesOneSlot()
    {
        Simulator g;
        QVERIFY(g.start({"--tcp", "127.0.0.1:0"}));
        const QString file = dir.filePath("s2.csv");
        QCOMPARE(ctl(tcp(g) + QStringList{"meters", "read", "--slot", "2", "-o", file}).code, 0);

        const Run dry = ctl(tcp(g) + QStringList{"-v", "meters", "write", file, "--dry-run"});
        QVERIFY2(dry.code == 0, dry.err.constData());
        QVERIFY2(!dry.err.contains(" > "), dry.err.constData()); // nothing on the wire
        QVERIFY2(dry.out.contains("slot 2: ID FFFFFFFF to registers 802-803"), dry.out.constData());
        QVERIFY(dry.out.contains("2 write request(s) for 1 slot(s)"));
        QVERIFY(dry.out.contains("slot(s) 1, 3-32 not in the file: left as they are"));
        // No gateway is needed for it at all.
        QCOMPARE(ctl({"--tcp", "127.0.0.1:1", "meters", "write", file, "--dry-run", "--all"}).code, 0);

        const Run w = ctl(tcp(g) + QStringList{"meters", "write", file});
        QVERIFY2(w.code == 0, w.err.constData());
        QVERIFY2(w.out.contains("1 slot(s) written and read back: 2\n"), w.out.constData());
        QVERIFY(w.out.contains("slot(s) 1, 3-32 not in the file: left as they are"));
        QJsonObject slot1 = ctl(tcp(g) + QStringList{"--json", "meters", "read", "--slot", "1"})
                                .json()
                                .value("slots")
                                .toArray()
                                .at(0)
                                .toObject();
        QCOMPARE(slot1.value("id").toString(), QStringLiteral("12345678"));
        QVERIFY(!slot1.value("obis").toArray().at(0).toString().startsWith("255."));

        const Run all = ctl(tcp(g) + QStringList{"meters", "write", file, "--all"});
        QVERIFY2(all.code == 0, all.err.constData());
        QVERIFY2(all.out.contains("32 slot(s) written and read back: 1-32 (31 erased: 1, 3-32)"),
                 all.out.constData());
        slot1 = ctl(tcp(g) + QStringList{"--json", "meters", "read", "--slot", "1"})
                    .json()
                    .value("slots")
                    .toArray()
                    .at(0)
                    .toObject();
        QCOMPARE(slot1.value("id").toString(), QStringLiteral("FFFFFFFF"));
    }

    // A meter file the gateway could not take as written is refused before
    // the first request, each problem named by its line.
    void meterFileRefused_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("message");
        QTest::newRow("garbage row")
            << QByteArray("\n4;;") << QByteArray("\ngarbage")
            << "line 5: slot 1 row 4 is \"4;\", the OBIS code and \";\", not \"garbage\"";
        QTest::newRow("extra field") << QByteArray("2;;") << QByteArray("2;1.8.0;x;")
                                     << "line 3: slot 1 row 2";
        QTest::newRow("empty ID") << QByteArray("12345678;") << QByteArray(";")
                                  << "line 1: slot 1 has OBIS codes but no meter ID";
        QTest::newRow("word as ID") << QByteArray("12345678;") << QByteArray("hello;")
                                    << "line 1: slot 1 meter ID \"hello\": \"h\" is not a digit or F";
        QTest::newRow("22-digit ID") << QByteArray("12345678;") << QByteArray("1234567890123456789012;")
                                     << "line 1: slot 1 meter ID \"1234567890123456789012\": 22 characters";
        QTest::newRow("word as code") << QByteArray("2;;") << QByteArray("2;abc;")
                                      << "line 3: slot 1 row 2 \"abc\": \"abc\" is not a number 0..255";
        QTest::newRow("code above 255") << QByteArray("2;;") << QByteArray("2;999.999.999;")
                                        << "line 3: slot 1 row 2 \"999.999.999\": 999 is above 255";
        QTest::newRow("UTF-16") << QByteArray() << QByteArray() << "the file is UTF-16 text";
    }
    void meterFileRefused()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, message);
        qvx::MeterTable t;
        t.setId(1, QStringLiteral("12345678"));
        t.setCode(1, 1, QStringLiteral("1.8.0"));
        t.setCode(1, 3, QStringLiteral("2.8.0"));
        QByteArray bytes = qvx::meterDataFileBytes(t);
        if (from.isEmpty()) {
            QByteArray utf16("\xFF\xFE", 2);
            for (char c : bytes)
                utf16 += QByteArray(1, c) + QByteArray(1, '\0');
            bytes = utf16;
        } else {
            bytes.replace(bytes.indexOf(from), from.size(), to);
        }
        QFile f(dir.filePath("refused.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        for (const char *sub : {"write", "diff"}) {
            const Run r = ctl(tcp(sim) + QStringList{"-v", "meters", sub, f.fileName()});
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
            QVERIFY2(r.err.contains("refused; nothing was sent"), r.err.constData());
            QVERIFY2(!r.err.contains(" > "), r.err.constData());
        }
    }

    // A file in the other ID format than the gateway's: only the flag
    // register is read, nothing is written.
    void meterFileOfOtherFormatRefused()
    {
        qvx::MeterTable t;
        t.setId(4, QStringLiteral("1234567890123456"));
        const QString file = dir.filePath("sixteen.csv");
        QVERIFY(!qvx::saveMeterDataFile(file, t));
        const Run r = ctl(tcp(sim) + QStringList{"-v", "meters", "write", file});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("line 196: slot 4 meter ID \"1234567890123456\": 16 characters; the gateway "
                                "takes 8-digit IDs"),
                 r.err.constData());
        QCOMPARE(r.err.count(" > "), 1);
        // Given the formats, not even that.
        const Run given = ctl(
            tcp(sim) + QStringList{"-v", "meters", "write", file, "--id-digits", "8", "--long-obis", "off"});
        QCOMPARE(given.code, 2);
        QVERIFY(!given.err.contains(" > "));
    }

    // Profile fields the gateway cannot hold are each named; nothing is sent.
    void profileRefused()
    {
        const QString saved = dir.filePath("good.json");
        QCOMPARE(ctl(tcp(sim, 2) + QStringList{"profile", "save", saved}).code, 0);
        QFile in(saved);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QJsonObject o = QJsonDocument::fromJson(in.readAll()).object();
        o.insert("readout_minutes", 5000);
        QJsonObject meters = o.value("meters").toObject();
        QJsonArray slotList = meters.value("slots").toArray();
        QJsonObject s1 = slotList.at(0).toObject();
        QJsonArray obis = s1.value("obis").toArray();
        obis.replace(0, QStringLiteral("abc"));
        obis.replace(1, QStringLiteral("999.999.999"));
        s1.insert("obis", obis);
        slotList.replace(0, s1);
        QJsonObject s2 = slotList.at(1).toObject();
        s2.insert("id", QStringLiteral("hello"));
        slotList.replace(1, s2);
        QJsonObject s3 = slotList.at(2).toObject();
        s3.insert("id", QStringLiteral("1234567890123456789012"));
        slotList.replace(2, s3);
        meters.insert("slots", slotList);
        o.insert("meters", meters);
        QFile bad(dir.filePath("refused.json"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QJsonDocument(o).toJson());
        bad.close();
        for (const char *sub : {"apply", "diff"}) {
            const Run r = ctl(tcp(sim, 2) + QStringList{"-v", "profile", sub, bad.fileName()});
            QCOMPARE(r.code, 2);
            QVERIFY2(!r.err.contains(" > "), r.err.constData());
            for (const char *m : {"readout_minutes: 5000; the gateway takes 1..1440 minutes",
                                  "meters: slot 1 row 1 \"abc\": \"abc\" is not a number 0..255",
                                  "meters: slot 1 row 2 \"999.999.999\": 999 is above 255",
                                  "meters: slot 2 id \"hello\": \"h\" is not a digit or F",
                                  "meters: slot 3 id \"1234567890123456789012\": 22 characters"})
                QVERIFY2(r.err.contains(m), r.err.constData());
        }
    }

    // A profile that lists some slots compares and writes only those; the
    // RTU line is written only with --with-line.
    void partialProfileAndLine()
    {
        Simulator g;
        QVERIFY(g.start({"--tcp", "127.0.0.1:0"}));
        const QString saved = dir.filePath("whole.json");
        QCOMPARE(ctl(tcp(g) + QStringList{"profile", "save", saved}).code, 0);
        QFile in(saved);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QJsonObject o = QJsonDocument::fromJson(in.readAll()).object();
        QCOMPARE(o.value("rtu").toObject().value("baud").toInt(), 9600);
        QJsonObject s2{{"slot", 2}, {"id", "87654321"}, {"obis", QJsonArray{"1.8.0"}}};
        o.insert("meters", QJsonObject{{"slots", QJsonArray{s2}}});
        o.insert("rtu", QJsonObject{{"baud", 19200}, {"parity", "even"}});
        QFile part(dir.filePath("part.json"));
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write(QJsonDocument(o).toJson());
        part.close();

        const Run d = ctl(tcp(g) + QStringList{"profile", "diff", part.fileName()});
        QCOMPARE(d.code, 1);
        QVERIFY2(d.out.contains("slot 2 id") && !d.out.contains("slot 1 ") && !d.out.contains("rtu"),
                 d.out.constData());
        const Run a = ctl(tcp(g) + QStringList{"profile", "apply", part.fileName()});
        QVERIFY2(a.code == 0, a.err.constData());
        QVERIFY(a.err.contains("the profile holds slot(s) 2; the others are left alone"));
        QVERIFY(ctl(tcp(g) + QStringList{"meters", "read", "--slot", "1"}).out.startsWith("12345678;"));
        QVERIFY(ctl(tcp(g) + QStringList{"read", "holding", "32786", "1"}).out.contains("0x0040"));

        const Run line = ctl(tcp(g) + QStringList{"profile", "apply", part.fileName(), "--with-line"});
        QVERIFY2(line.code == 0, line.err.constData());
        QVERIFY(ctl(tcp(g) + QStringList{"read", "holding", "32786", "1"}).out.contains("0x0050"));
        QCOMPARE(ctl(tcp(g) + QStringList{"profile", "diff", part.fileName(), "--with-line"}).code, 0);
    }

    // On a serial line the new RTU line is written last and the tool
    // follows it: the read-back runs at the new rate.
    void profileLineFollowedOnSerial()
    {
        Simulator g;
        const QString pty = dir.filePath("ttyLine");
        QVERIFY(g.start({"--tcp", "127.0.0.1:0", "--pty", pty, "--match-baud"}));
        const QStringList at9600{"--serial", pty, "--baud", "9600", "--parity", "even"};
        const QString file = dir.filePath("line.json");
        QCOMPARE(ctl(at9600 + QStringList{"profile", "save", file}).code, 0);
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QJsonObject o = QJsonDocument::fromJson(in.readAll()).object();
        in.close();
        QCOMPARE(o.value("rtu").toObject().value("baud").toInt(), 9600);
        o.insert("rtu", QJsonObject{{"baud", 19200}, {"parity", "even"}});
        QVERIFY(in.open(QIODevice::WriteOnly | QIODevice::Truncate));
        in.write(QJsonDocument(o).toJson());
        in.close();
        // Without --with-line the line is neither compared nor written.
        QCOMPARE(ctl(at9600 + QStringList{"profile", "diff", file}).code, 0);
        const Run a = ctl(at9600 + QStringList{"--json", "profile", "apply", file, "--with-line"});
        QVERIFY2(a.code == 0, a.err.constData());
        QCOMPARE(a.json().value("writes").toInt(), 1);
        const QStringList at19200{"--serial", pty, "--baud", "19200", "--parity", "even"};
        QCOMPARE(ctl(at19200 + QStringList{"profile", "diff", file, "--with-line"}).code, 0);
    }

    // A site of six gateways: four over TCP, one stopped, one on a serial
    // line.  One differs from its profile in a setting, one has a meter that
    // delivers no values.  check shows each state and exits 1; the report
    // holds every gateway's verdict as PDF (read back with pdftotext and
    // rendered with pdftoppm), HTML and JSON.
    void siteCheckAndReport()
    {
        Simulator site;
        const QString pty = dir.filePath("ttySite");
        QVERIFY(site.start({"--tcp", "127.0.0.1:0", "--fleet", "4", "--pty", pty}));
        QCOMPARE(site.ports.size(), 4);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString stopped = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        const QString p0 = dir.filePath("site0.json"), p1 = dir.filePath("site1.json");
        QCOMPARE(ctl({"--tcp", site.tcp(0), "-q", "profile", "save", p0}).code, 0);
        QCOMPARE(ctl({"--tcp", site.tcp(1), "-q", "profile", "save", p1}).code, 0);
        // The differing one: its readout period changed after its profile was saved.
        QCOMPARE(ctl({"--tcp", site.tcp(1), "-q", "write", "100", "30"}).code, 0);
        // Slot 2 of the third asks its meter for codes the meter does not have.
        QFile meters(dir.filePath("silent.json"));
        QVERIFY(meters.open(QIODevice::WriteOnly));
        meters.write(R"({"slots":[{"slot":2,"id":"87654321","obis":["99.1.0","99.2.0"]}]})");
        meters.close();
        QCOMPARE(ctl({"--tcp", site.tcp(2), "-q", "meters", "write", meters.fileName()}).code, 0);
        QFile file(dir.filePath("north.site"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("# Site North\n"
                                  "name=\"Feeder 1\" profile=site0.json --tcp %1\n"
                                  "name=\"Feeder 2\" profile=site1.json --tcp %2\n\n"
                                  "name=\"Silent meter\" --tcp %3\n"
                                  "name=Plain --tcp %4\n"
                                  "name=\"Stopped one\" --tcp %5\n"
                                  "name=\"On the line\" profile=site0.json --serial %6 --timeout 300\n")
                       .arg(site.tcp(0), site.tcp(1), site.tcp(2), site.tcp(3), stopped, pty)
                       .toLatin1());
        file.close();

        const Run check = ctl({"--targets", file.fileName(), "-j", "4", "--json", "check"});
        QCOMPARE(check.code, 1);
        const QList<QByteArray> lines = check.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 6);
        const QStringList names{"Feeder 1", "Feeder 2", "Silent meter", "Plain", "Stopped one", "On the line"};
        const QStringList states{"answers", "answers", "answers", "answers", "no answer", "answers"};
        const QStringList profiles{"matches", "1 difference", "none", "none", "none", "matches"};
        const QStringList verdicts{"ok", "profile: 1 difference", "1 meter delivers no values", "ok", "no answer",
                                   "ok"};
        for (int i = 0; i < 6; ++i) {
            const QJsonObject o = QJsonDocument::fromJson(lines.at(i)).object();
            QCOMPARE(o.value("name").toString(), names.at(i));
            QCOMPARE(o.value("state").toString(), states.at(i));
            QCOMPARE(o.value("profile").toString(), profiles.at(i));
            QCOMPARE(o.value("verdict").toString(), verdicts.at(i));
        }
        const QJsonObject silent = QJsonDocument::fromJson(lines.at(2)).object();
        QCOMPARE(silent.value("programmed").toInt(), 2);
        QCOMPARE(silent.value("delivering").toInt(), 1);
        const QJsonObject first = QJsonDocument::fromJson(lines.at(0)).object();
        QVERIFY(first.value("settings").toArray().contains(QJsonValue("IEC readout interval: 15 minutes")));
        const QJsonObject slot1 = first.value("slots").toArray().at(0).toObject();
        QCOMPARE(slot1.value("codes").toArray().at(0).toObject().value("name").toString(),
                 QStringLiteral("Active energy import (+A), total [kWh]"));
        QVERIFY(QJsonDocument::fromJson(lines.at(1)).object().value("differences").toArray().at(0).toString()
                    .startsWith("readout_minutes"));
        // One gateway by its LINK options alone.
        QCOMPARE(ctl({"--tcp", site.tcp(0), "check", "--profile", p0}).code, 0);

        const QString pdf = dir.filePath("north.pdf"), html = dir.filePath("north.html");
        const Run report = ctl({"--targets", file.fileName(), "-j", "4", "report", "-o", pdf, "--technician",
                                "Jo Field", "--customer", "North Power"});
        QVERIFY2(report.code == 1, report.err.constData());
        QProcess text;
        text.start("pdftotext", {"-layout", pdf, "-"});
        QVERIFY(text.waitForFinished(30000));
        // The PDF sets "fi" and "ff" as ligatures; pdftotext hands them back as one character.
        const QString words = QString::fromUtf8(text.readAllStandardOutput())
                                  .replace(QChar(0xFB01), QLatin1String("fi"))
                                  .replace(QChar(0xFB00), QLatin1String("ff"))
                                  .simplified();
        for (const char *w : {"Site summary", "6 gateway(s): 5 answer", "Jo Field", "North Power", "Feeder 2",
                              "Profile matches (1 difference)", "FAIL", "PASS", "Every programmed meter delivers values (1 of 2)", "Stopped one", "Signatures",
                              "Meters (1 of 32 slots programmed)"})
            QVERIFY2(words.contains(QLatin1String(w)), w);
        QProcess render;
        render.start("pdftoppm", {"-png", "-r", "40", "-f", "1", "-l", "1", pdf, dir.filePath("page")});
        QVERIFY(render.waitForFinished(30000));
        QCOMPARE(render.exitCode(), 0);
        QVERIFY(QFile::exists(dir.filePath("page-1.png")) || QFile::exists(dir.filePath("page-01.png")));

        QCOMPARE(ctl({"--targets", file.fileName(), "-j", "4", "report", "-o", html}).code, 1);
        QFile h(html);
        QVERIFY(h.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(h.readAll().replace("<!DOCTYPE html>", "").replace("&", "&amp;"));
        QStringList verdictCells;
        bool inVerdict = false;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("td"))
                inVerdict = xml.attributes().hasAttribute("class");
            else if (xml.isCharacters() && inVerdict && !xml.isWhitespace())
                verdictCells << xml.text().toString();
            else if (xml.isEndElement())
                inVerdict = false;
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(verdictCells.mid(0, 6), verdicts);

        const Run json = ctl({"--targets", file.fileName(), "-j", "4", "--json", "report"});
        QCOMPARE(json.code, 1);
        QCOMPARE(json.json().value("summary").toObject().value("ok").toInt(), 3);
        QCOMPARE(json.json().value("gateways").toArray().size(), 6);
    }

    // Bad site lines are refused with their numbers before anything is sent.
    void badSiteLinesRefused()
    {
        QFile file(dir.filePath("bad.site"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("name=\"A\" --tcp %1\nname=\"open --tcp %1\n").arg(sim.tcp(0)).toLatin1());
        file.close();
        const Run r = ctl({"--targets", file.fileName(), "-v", "check"});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains("line 2: a quote (\") is not closed"), r.err.constData());
        QVERIFY(!r.err.contains(" > "));
        QVERIFY(r.out.isEmpty());
    }
private:
    Simulator sim;
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TstQvxctl)
#include "tst_qvxctl.moc"
