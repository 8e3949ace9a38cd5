// values SLOT: the collected values, once or every period.
#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QTimer>

namespace qvx::ctl {

void Runner::validateValues()
{
    const QCommandLineParser &p = *m_o.parser;
    needArgs(2, 2, QStringLiteral("values SLOT [--64bit] [--every SECONDS] [--count N]"));
    intArg(arg(1), QStringLiteral("SLOT"), 1, 32);
    intOption(p, QStringLiteral("every"), 1, 86400, 0);
    intOption(p, QStringLiteral("count"), 1, 1000000000, 0);
}

int Runner::valuesCmd()
{
    const QCommandLineParser &p = *m_o.parser;
    const int slot = int(*parseNumber(arg(1), 1, 32));
    const bool wide = p.isSet(QStringLiteral("64bit"));
    const int every = intOption(p, QStringLiteral("every"), 1, 86400, 0);
    const int count = intOption(p, QStringLiteral("count"), 1, 1000000000, every ? 0 : 1);
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; count == 0 || n < count; ++n) {
        if (n > 0) {
            // Waits to the next period; Ctrl+C ends the wait.
            const qint64 due = qint64(n) * every * 1000;
            QEventLoop loop;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
                if (g_interrupted || clock.elapsed() >= due)
                    loop.quit();
            });
            tick.start(50);
            loop.exec();
            if (g_interrupted)
                break;
        }
        const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
        const QVector<std::optional<qint64>> v = m_c.readValues(slot, wide);
        if (m_o.json) {
            QJsonArray rows;
            for (int r = 0; r < v.size(); ++r)
                rows.append(QJsonObject{{QStringLiteral("row"), r + 1},
                                        {QStringLiteral("value"), v[r] ? QJsonValue(*v[r]) : QJsonValue()}});
            out(compact(QJsonObject{{QStringLiteral("time"), stamp},
                                    {QStringLiteral("slot"), slot},
                                    {QStringLiteral("values"), rows}}));
        } else {
            out(stamp + QStringLiteral("  slot %1").arg(slot));
            for (int r = 0; r < v.size(); ++r)
                out(QStringLiteral("  %1  %2")
                        .arg(r + 1, 2)
                        .arg(v[r] ? QString::number(*v[r]) : QStringLiteral("-")));
        }
    }
    return ExitOk;
}

} // namespace qvx::ctl
