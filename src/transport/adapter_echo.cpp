#include "transport/adapter_echo.h"

#include "transport/modbus.h"

namespace qvx {

QByteArray RtuRequestFrame(const ModbusRequest &request)
{
    return rtuFrame(request.unit, request.pdu());
}

QByteArray StripRequestEcho(QByteArrayView received, QByteArrayView requestFrame)
{
    if (requestFrame.isEmpty())
        return received.toByteArray();
    if (received.startsWith(requestFrame))
        return received.sliced(requestFrame.size()).toByteArray();
    if (!received.isEmpty() && requestFrame.startsWith(received))
        return {};
    return received.toByteArray();
}

bool StartsWithRequestEcho(QByteArrayView received, const ModbusRequest &request)
{
    const QByteArray frame = RtuRequestFrame(request);
    if (!received.startsWith(frame))
        return false;
    const QByteArrayView rest = received.sliced(frame.size());
    // A write of one register is answered with its own bytes (and perhaps a
    // filler byte): that alone is no sign of an echo.
    const bool fillerOnly = rest.isEmpty() || (rest.size() == 1 && rest.at(0) == '\0');
    return !fillerOnly || request.function != ModbusFunction::WriteSingle;
}

} // namespace qvx
