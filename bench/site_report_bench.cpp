// A site of 30 gateways over TCP against one simulator process: qvxctl
// check of all 30, and qvxctl report of all 30 written as PDF, both with
// -j 16.  Each gateway holds the simulator's demonstration slot.  Uses the
// qvxsim and qvxctl built beside this benchmark.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

namespace {

QString bin(const char *name)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/") + QLatin1String(name);
}

// Seconds for one qvxctl run; its exit status in code.
double timed(const QStringList &args, int *code)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(bin("qvxctl"), args);
    p.waitForFinished(-1);
    *code = p.exitCode();
    return t.elapsed() / 1000.0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    sim.start(bin("qvxsim"), {"--tcp", "127.0.0.1:0", "--fleet", "30"});
    QByteArray out;
    QDeadlineTimer d(20000);
    while (!out.contains("ready\n") && !d.hasExpired()) {
        sim.waitForReadyRead(100);
        out += sim.readAll();
    }
    QFile site(dir.filePath("site.txt"));
    site.open(QIODevice::WriteOnly);
    auto it = QRegularExpression(QStringLiteral("tcp 127\\.0\\.0\\.1:(\\d+)")).globalMatch(QString::fromLatin1(out));
    int n = 0;
    while (it.hasNext())
        site.write(QStringLiteral("name=\"Feeder %1\" --tcp 127.0.0.1:%2\n").arg(++n).arg(it.next().captured(1)).toLatin1());
    site.close();
    int code = 0;
    const double check = timed({"--targets", site.fileName(), "-j", "16", "-q", "--json", "check"}, &code);
    std::printf("check, %d gateways over TCP, -j 16: %.2f s (exit %d)\n", n, check, code);
    const QString pdf = dir.filePath("site.pdf");
    const double report = timed({"--targets", site.fileName(), "-j", "16", "-q", "report", "-o", pdf}, &code);
    std::printf("report, %d gateways over TCP, -j 16, PDF of %lld bytes: %.2f s (exit %d)\n", n,
                QFileInfo(pdf).size(), report, code);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
