// qvxctl against the simulator, run as a process: every command, its JSON
// checked against the simulated gateway's registers, the meter data file read
// back with the window's loader, a profile carried from one gateway to
// another, the exit statuses of bad input and a site with a dead target;
// per-target output files, files written whole under a kill or a full disk,
// inputs that are no files or too big, and the target file's refusals.
#include "meters/meter_data_file.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

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

private:
    Simulator sim;
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TstQvxctl)
#include "tst_qvxctl.moc"
