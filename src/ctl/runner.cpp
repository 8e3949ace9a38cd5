#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"

#include <QJsonObject>
#include <QTime>
#include <QTimer>

namespace qvx::ctl {

void Runner::validate()
{
    const QCommandLineParser &p = *m_o.parser;
    if (m_o.args.isEmpty())
        throw UsageError{QStringLiteral("no command; see qvxctl --help")};
    const QString cmd = m_o.args.first();
    if (cmd == QLatin1String("read")) {
        validateRead();
    } else if (cmd == QLatin1String("write")) {
        validateWrite();
    } else if (cmd == QLatin1String("info")) {
        validateInfo();
    } else if (cmd == QLatin1String("meters")) {
        validateMeters();
    } else if (cmd == QLatin1String("values")) {
        validateValues();
    } else if (cmd == QLatin1String("profile")) {
        validateProfile();
    } else if (cmd == QLatin1String("scan")) {
        validateScan();
    } else {
        throw UsageError{QStringLiteral("unknown command %1; see qvxctl --help").arg(quoteInput(cmd))};
    }
    // Only meters read writes to -o; anywhere else it would be ignored.
    if (p.isSet(QStringLiteral("output")) &&
        !(cmd == QLatin1String("meters") && arg(1) == QLatin1String("read")))
        throw UsageError{QStringLiteral("-o: only meters read writes a file (profile save takes its FILE)")};
}

int Runner::run()
{
    const QString cmd = m_o.args.first();
    if (cmd == QLatin1String("read"))
        return readCmd();
    if (cmd == QLatin1String("write"))
        return writeCmd();
    if (cmd == QLatin1String("info"))
        return infoCmd();
    if (cmd == QLatin1String("meters"))
        return metersCmd();
    if (cmd == QLatin1String("values"))
        return valuesCmd();
    if (cmd == QLatin1String("profile"))
        return profileCmd();
    return scanCmd();
}

// The kind of a failure as a target's result names it.
QString errorKindName(GatewayError::Kind k)
{
    switch (k) {
    case GatewayError::LinkFailed:
        return QStringLiteral("link");
    case GatewayError::NoAnswer:
        return QStringLiteral("no answer");
    case GatewayError::Exception:
        return QStringLiteral("exception");
    case GatewayError::Mismatch:
        return QStringLiteral("differs");
    default:
        return QStringLiteral("interrupted");
    }
}

int exitFor(GatewayError::Kind k)
{
    return k == GatewayError::LinkFailed ? ExitLink : ExitGateway;
}

// Runs the command on one gateway; returns the exit status.
int runOne(Options &o)
{
    GatewayClient client;
    client.setRetryLimit(o.retries);
    client.setAdapterEchoes(o.echo);
    Runner runner(o, client);
    runner.validate(); // raises UsageError before anything opens
    if (runner.offline())
        return runner.run();
    if (!o.quiet)
        QObject::connect(&client, &GatewayClient::retrying, [](const QString &why, int retry, int limit) {
            err(QStringLiteral("%1: sent again (%2 of %3)").arg(why).arg(retry).arg(limit));
        });
    if (o.verbose) {
        QObject::connect(&client, &GatewayClient::frame, [](bool sent, const QByteArray &b) {
            err(QStringLiteral("%1 %2 %3")
                    .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                         sent ? QStringLiteral(">") : QStringLiteral("<"),
                         QString::fromLatin1(b.toHex(' ').toUpper())));
        });
    }
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [&] {
        if (g_interrupted)
            client.cancel();
    });
    interruptWatch.start(100);
    try {
        client.open(o.link);
        int rc = ExitOk;
        std::optional<UsageError> usage;
        GatewayJob::runSync(client, [&](GatewayClient &, GatewayJob &) {
            try {
                rc = runner.run();
            } catch (const UsageError &e) {
                usage = e;
            }
        });
        if (usage)
            throw *usage;
        if (client.retries() > 0 && !o.quiet && !runner.m_retriesCounted)
            err(QStringLiteral("%1 request(s), %2 sent again after a lost or broken reply")
                    .arg(client.requests())
                    .arg(client.retries()));
        return rc;
    } catch (const GatewayError &e) {
        if (o.json && !o.args.isEmpty())
            out(compact(QJsonObject{{QStringLiteral("error"), e.message()},
                                    {QStringLiteral("kind"), errorKindName(e.kind())}}));
        if (client.retries() > 0 && !o.quiet && !runner.m_retriesCounted)
            err(QStringLiteral("%1 request(s), %2 sent again after a lost or broken reply")
                    .arg(client.requests())
                    .arg(client.retries()));
        if (e.kind() == GatewayError::Cancelled) {
            // Whatever was under way is named, so nothing half-done goes unnoticed.
            err(QStringLiteral("qvxctl: interrupted") +
                (runner.m_step.isEmpty() ? QString() : QStringLiteral(" during ") + runner.m_step));
            return 130;
        }
        err(QStringLiteral("qvxctl: ") + e.message());
        return exitFor(e.kind());
    }
}

} // namespace qvx::ctl
