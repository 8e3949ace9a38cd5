// qvxctl on a site: a profile with a full meter table (32 slots, every row)
// applied to 25 and to 50 simulated gateways with -j 16, and scan finding a
// gateway on a pseudo-terminal at the factory rate and at the ninth rate
// tried.  Uses the qvxsim and qvxctl built beside this benchmark.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

namespace {

QString bin(const char *name)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/") + QLatin1String(name);
}

struct Sim {
    QProcess p;
    QList<int> ports;
    bool start(const QStringList &args)
    {
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(bin("qvxsim"), args);
        QByteArray out;
        QDeadlineTimer d(20000);
        while (!out.contains("ready\n") && !d.hasExpired()) {
            p.waitForReadyRead(100);
            out += p.readAll();
        }
        auto it = QRegularExpression(QStringLiteral("tcp 127\\.0\\.0\\.1:(\\d+)"))
                      .globalMatch(QString::fromLatin1(out));
        while (it.hasNext())
            ports << it.next().captured(1).toInt();
        return out.contains("ready\n");
    }
    ~Sim()
    {
        p.terminate();
        p.waitForFinished(3000);
    }
};

QByteArray run(const QStringList &args, int *code)
{
    QProcess p;
    p.start(bin("qvxctl"), args);
    p.waitForFinished(-1);
    *code = p.exitCode();
    return p.readAllStandardOutput();
}

// Applies the profile to a fresh fleet of n gateways; returns seconds and
// adds the requests sent.
double applyTo(int n, const QString &profile, const QString &dir, int basePort, long *requests)
{
    Sim sim;
    if (!sim.start({"--tcp", QStringLiteral("127.0.0.1:%1").arg(basePort), "--fleet", QString::number(n),
                    "--empty"}))
        return -1;
    QFile targets(dir + QStringLiteral("/targets%1.txt").arg(n));
    targets.open(QIODevice::WriteOnly);
    for (int port : sim.ports)
        targets.write(QStringLiteral("--tcp 127.0.0.1:%1\n").arg(port).toLatin1());
    targets.close();
    QElapsedTimer t;
    t.start();
    int code = 0;
    const QByteArray out = run(
        {"--targets", targets.fileName(), "-j", "16", "--json", "-q", "profile", "apply", profile}, &code);
    const double seconds = t.elapsed() / 1000.0;
    int ok = 0;
    for (const QByteArray &line : out.trimmed().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        ok += o.value(QLatin1String("ok")).toBool();
        *requests += o.value(QLatin1String("result")).toObject().value(QLatin1String("requests")).toInt();
    }
    if (ok != n)
        std::printf("  %d of %d gateways failed (exit %d)\n", n - ok, n, code);
    return seconds;
}

double scanAt(int baud, const QString &dir, const QString &units, int *probes)
{
    Sim sim;
    const QString pty = dir + QStringLiteral("/ttyScan%1").arg(baud);
    if (!sim.start({"--tcp", "127.0.0.1:0", "--pty", pty, "--match-baud", "--baud", QString::number(baud)}))
        return -1;
    int code = 0;
    const QJsonObject o =
        QJsonDocument::fromJson(run({"--serial", pty, "--json", "scan", "--units", units}, &code)).object();
    *probes = o.value(QLatin1String("probes")).toInt();
    return code == 0 ? o.value(QLatin1String("seconds")).toDouble() : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // A profile with every slot and every row programmed.
    QJsonArray slotList;
    for (int s = 1; s <= 32; ++s) {
        QJsonArray obis;
        for (int r = 1; r <= 63; ++r)
            obis.append(QStringLiteral("%1.%2.%3.0").arg(1 + r % 90).arg(8 + s % 10).arg(r % 10));
        slotList.append(
            QJsonObject{{"slot", s}, {"id", QStringLiteral("%1").arg(10000000 + s)}, {"obis", obis}});
    }
    const QJsonObject profile{
        {"format", "qvx-profile/1"},
        {"ip", "192.168.1.100"},
        {"gateway", "192.168.1.1"},
        {"mask", "255.255.255.0"},
        {"tcp_idle_ms", 120000},
        {"readout_minutes", 30},
        {"unit", 1},
        {"firmware", ""},
        {"flags", QJsonObject{{"dhcp", false},
                              {"change_baud_after_ack", false},
                              {"values_64bit", true},
                              {"id_16digit", false},
                              {"long_obis", false},
                              {"continuous_read", true}}},
        {"iec", QJsonObject{{"baud", 9600}, {"parity", "even"}, {"data_bits", 7}}},
        {"meters", QJsonObject{{"slots", slotList}}},
    };
    const QString path = dir.filePath(QStringLiteral("profile.json"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QJsonDocument(profile).toJson());
    f.close();

    long req25 = 0, req50 = 0;
    const double t25 = applyTo(25, path, dir.path(), 25100, &req25);
    const double t50 = applyTo(50, path, dir.path(), 25200, &req50);
    std::printf("profile apply, full meter table, -j 16:\n");
    std::printf("  25 gateways: %.2f s, %ld requests, %.0f requests/s\n", t25, req25, req25 / t25);
    std::printf("  50 gateways: %.2f s, %ld requests, %.0f requests/s (%.2fx the time for 25)\n", t50, req50,
                req50 / t50, t50 / t25);

    int probes = 0;
    const double factory = scanAt(9600, dir.path(), QStringLiteral("1-247"), &probes);
    std::printf("scan, pty, gateway at factory 9600 unit 1: %.3f s, %d probe(s)\n", factory, probes);
    const double ninth = scanAt(300, dir.path(), QStringLiteral("1-4"), &probes);
    std::printf("scan, pty, gateway at 300 Bd (ninth rate tried) unit 1, --units 1-4: %.2f s, %d probes "
                "(%.1f ms a probe)\n",
                ninth, probes, 1000 * ninth / probes);
    return 0;
}
