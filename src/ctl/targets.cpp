#include "ctl/targets.h"

#include "gateway/gateway_format.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QTimer>
#include <functional>
#include <optional>

namespace qvx::ctl {

namespace {

// Why a target's run failed, in a few words: from the differences it
// printed, the kind of error it ended with, or its last line on standard error.
QString failureReason(int code, const QJsonArray &results, const QString &errText)
{
    QStringList whats;
    QJsonObject error;
    for (const QJsonValue &v : results) {
        const QJsonObject r = v.toObject();
        for (const QJsonValue &d : r.value(QLatin1String("differences")).toArray())
            whats << d.toObject().value(QLatin1String("what")).toString();
        if (r.contains(QLatin1String("error")))
            error = r;
    }
    const QString kind = error.value(QLatin1String("kind")).toString();
    const QString message = error.value(QLatin1String("error")).toString();
    if (!whats.isEmpty())
        return (kind == QLatin1String("differs") ? QStringLiteral("read-back ") : QString()) +
               differsText(whats);
    if (kind == QLatin1String("link") || kind == QLatin1String("no answer"))
        return message.startsWith(QLatin1String("no answer")) ? message
                                                              : QStringLiteral("no answer: ") + message;
    if (!kind.isEmpty())
        return kind + QStringLiteral(": ") + message;
    QString last = errText.section(QLatin1Char('\n'), -1);
    if (last.startsWith(QLatin1String("qvxctl: ")))
        last = last.mid(8);
    if (code == ExitUsage)
        return QStringLiteral("refused: ") + last;
    if (code == 130)
        return QStringLiteral("interrupted");
    return last.isEmpty() ? QStringLiteral("exit status %1").arg(code) : last;
}

} // namespace

int runTargets(Options &o, const QVector<QStringList> &forward, const QVector<Target> &targets, int jobs)
{
    int next = 0, done = 0, failed = 0, worst = ExitOk, printed = 0;
    QVector<std::optional<QString>> lines(targets.size());
    QEventLoop loop;
    QList<QProcess *> running;
    bool serialBusy = false;
    QSet<QString> busy;
    QElapsedTimer clock;
    clock.start();
    auto flush = [&] {
        while (printed < lines.size() && lines.at(printed))
            out(*lines.at(printed++));
    };
    std::function<void()> launch = [&] {
        while (next < targets.size() && running.size() < jobs && !g_interrupted) {
            const Target &target = targets.at(next);
            const GatewayLink &t = target.link;
            // The next target waits rather than being overtaken: the
            // order of the file is the order of the work.
            if ((!t.tcp && serialBusy) || busy.contains(connectionKey(t)))
                break;
            const int index = next++;
            auto *proc = new QProcess;
            QStringList a = t.describe().split(QLatin1Char(' '));
            if (!t.tcp)
                a << QStringLiteral("--data-bits") << QString::number(t.dataBits)
                  << QStringLiteral("--stop-bits") << QString::number(t.stopBits);
            a << QStringLiteral("--timeout") << QString::number(t.timeoutMs) << QStringLiteral("--as-target")
              << (o.json ? QStringLiteral("json") : QStringLiteral("text")) << QStringLiteral("-q")
              << forward.at(index);
            if (!t.tcp)
                serialBusy = true;
            busy.insert(connectionKey(t));
            running << proc;
            QObject::connect(proc, &QProcess::finished, &loop, [&, proc, index, target](int code) {
                const GatewayLink &link = target.link;
                const QList<QByteArray> outLines = proc->readAllStandardOutput().trimmed().split('\n');
                const QString errText = QString::fromLocal8Bit(proc->readAllStandardError()).trimmed();
                QJsonArray results2;
                for (const QByteArray &l : outLines)
                    if (!l.isEmpty())
                        results2.append(QJsonDocument::fromJson(l).object());
                const QString reason = code == 0 ? QString() : failureReason(code, results2, errText);
                QJsonObject r{{QStringLiteral("target"), link.describe()},
                              {QStringLiteral("name"), target.name},
                              {QStringLiteral("line"), target.line},
                              {QStringLiteral("ok"), code == 0},
                              {QStringLiteral("error"), code == 0 ? QJsonValue() : QJsonValue(reason)}};
                r.insert(QStringLiteral("result"),
                         results2.size() == 1 ? QJsonValue(results2.at(0)) : QJsonValue(results2));
                lines[index] = o.json ? compact(r)
                                      : QStringLiteral("%1  %2%3")
                                            .arg(link.describe().leftJustified(40))
                                            .arg(code == 0 ? QStringLiteral("ok") : QStringLiteral("FAILED"))
                                            .arg(code == 0 ? QString() : QStringLiteral("  ") + reason);
                flush();
                // A target that cannot be reached is one gateway that did not
                // answer: the run as a whole still opened what it had to.
                if (code != 0) {
                    ++failed;
                    worst = qMax(worst, code == ExitUsage ? int(ExitUsage) : int(ExitGateway));
                }
                ++done;
                if (!link.tcp)
                    serialBusy = false;
                busy.remove(connectionKey(link));
                running.removeOne(proc);
                proc->deleteLater();
                launch();
                if (running.isEmpty())
                    loop.quit();
            });
            proc->start(QCoreApplication::applicationFilePath(), a);
        }
    };
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [&] {
        if (g_interrupted)
            for (QProcess *p : running)
                p->terminate();
    });
    interruptWatch.start(100);
    launch();
    if (!running.isEmpty())
        loop.exec();
    // After an interrupt the targets not run leave gaps; the rest still shows.
    for (; printed < lines.size(); ++printed)
        if (lines.at(printed))
            out(*lines.at(printed));
    if (!o.quiet)
        err(QStringLiteral("%1 target(s): %2 ok, %3 failed, %4 not run, %5 s")
                .arg(targets.size())
                .arg(done - failed)
                .arg(failed)
                .arg(targets.size() - done)
                .arg(clock.elapsed() / 1000.0, 0, 'f', 2));
    if (g_interrupted)
        return 130;
    return worst;
}

} // namespace qvx::ctl
