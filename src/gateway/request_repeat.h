// Which requests may be sent again when their reply was lost or broken.
//
// A lost reply says nothing about whether the gateway carried the request
// out.  Sending a read again is always harmless, and so is a write of
// register values: the same values written twice leave the registers as
// once, and the read-back that follows checks them.  A command is not: the
// "Reset" flag command restarts the gateway, an unknown flag number may be
// anything, and a new unit address or RTU line takes effect at once, so a
// second send goes to a gateway that no longer listens there.
#pragma once

#include "transport/request.h"

namespace qvx {

bool RequestSafeToRepeat(const ModbusRequest &request);

} // namespace qvx
