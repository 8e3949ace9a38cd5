// read holding|input START COUNT
#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"

#include <QJsonArray>

namespace qvx::ctl {

void Runner::validateRead()
{
    needArgs(4, 4, QStringLiteral("read holding|input START COUNT"));
    if (arg(1) != QLatin1String("holding") && arg(1) != QLatin1String("input"))
        throw UsageError{QStringLiteral("read: %1 is not holding or input").arg(quoteInput(arg(1)))};
    const int start = addressArg(arg(2));
    const int count = intArg(arg(3), QStringLiteral("COUNT"), 1, 126);
    if (start + count > 65536)
        throw UsageError{QStringLiteral("read: START + COUNT beyond register 65535")};
}

int Runner::readCmd()
{
    const bool input = arg(1) == QLatin1String("input");
    const int start = int(*parseNumber(arg(2), 0, 65535));
    const int count = int(*parseNumber(arg(3), 1, 126));
    const QVector<uint16_t> v = m_c.readRegisters(input, start, count);
    if (m_o.json) {
        QJsonArray regs;
        for (int i = 0; i < v.size(); ++i)
            regs.append(QJsonObject{{QStringLiteral("address"), start + i}, {QStringLiteral("value"), v[i]}});
        out(compact(QJsonObject{{QStringLiteral("registers"), regs}}));
    } else {
        for (int i = 0; i < v.size(); ++i)
            out(QStringLiteral("%1  %2  0x%3")
                    .arg(start + i, 5)
                    .arg(v[i], 5)
                    .arg(v[i], 4, 16, QLatin1Char('0'))
                    .toUpper()
                    .replace(QLatin1String("0X"), QLatin1String("0x")));
    }
    return ExitOk;
}

} // namespace qvx::ctl
