// info: the settings readout and the firmware identification.
#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"

namespace qvx::ctl {

void Runner::validateInfo()
{
    needArgs(1, 1, QStringLiteral("info"));
}

int Runner::infoCmd()
{
    const GatewayInfo i = m_c.readInfo();
    if (m_o.json)
        out(compact(infoToJson(i)));
    else
        for (const QString &l : infoLines(i))
            out(l);
    return ExitOk;
}

} // namespace qvx::ctl
