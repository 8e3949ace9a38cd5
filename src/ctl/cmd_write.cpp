// write START VALUE...
#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"

namespace qvx::ctl {

void Runner::validateWrite()
{
    needArgs(3, 126, QStringLiteral("write START VALUE..."));
    const int start = addressArg(arg(1));
    for (int i = 2; i < m_o.args.size(); ++i)
        m_values << uint16_t(intArg(arg(i), QStringLiteral("VALUE"), 0, 65535));
    if (start + m_values.size() > 65536)
        throw UsageError{QStringLiteral("write: values beyond register 65535")};
}

int Runner::writeCmd()
{
    const int start = int(*parseNumber(arg(1), 0, 65535));
    m_c.writeRegisters(start, m_values);
    if (m_o.json)
        out(compact(
            QJsonObject{{QStringLiteral("written"), m_values.size()}, {QStringLiteral("start"), start}}));
    else if (!m_o.quiet)
        out(QStringLiteral("wrote %1 register(s) from %2").arg(m_values.size()).arg(start));
    return ExitOk;
}

} // namespace qvx::ctl
