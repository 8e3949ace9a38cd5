#include "gateway/request_repeat.h"

#include "config/device_codec.h"
#include "gateway/gateway_format.h"

namespace qvx {
namespace {

// Flag numbers of the stored flags: their commands set or clear one bit,
// which a second time changes nothing.
bool storedFlagCommand(uint8_t value)
{
    const int number = value & 0x7F;
    for (const GatewayFlag &f : gatewayFlags())
        if (f.bit + 1 == number)
            return true;
    return false;
}

bool touches(int first, int count, int reg)
{
    return first <= reg && reg < first + count;
}

} // namespace

bool RequestSafeToRepeat(const ModbusRequest &r)
{
    int first = r.address, count = 0;
    switch (r.function) {
    case ModbusFunction::ReadHolding:
    case ModbusFunction::ReadInput:
    case ModbusFunction::ReadDeviceId:
        return true;
    case ModbusFunction::WriteSingle:
        if (r.address == DeviceRegister::Flags)
            return r.valueHigh == 0 && storedFlagCommand(r.valueLow);
        count = 1;
        break;
    case ModbusFunction::WriteMultiple:
        count = (r.byteCount + 1) / 2;
        // Written as several registers, register 7 is a command all the same.
        if (touches(first, count, DeviceRegister::Flags))
            return false;
        break;
    }
    return !touches(first, count, DeviceRegister::UnitAddress) &&
           !touches(first, count, DeviceRegister::RtuLine);
}

} // namespace qvx
