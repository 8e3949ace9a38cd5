// The register-pair lister: when a device write was started while the custom
// command's reply window was open, the reply the window ends on is listed
// byte by byte as "Modbus k -> Mbus v" lines, so the operator can read a
// register reply that came in there.
#pragma once

#include "transport/reply_check.h"

#include <QByteArray>
#include <QStringList>

namespace qvx {

struct RegisterPairListing {
    // The common reply checks; on failure their lines are all that is logged.
    ReplyCheck check;
    // On pass: two lines per pair of data bytes, numbered from 1.
    QStringList lines;
};

// Checks reply (RTU form) and lists its data bytes.  A pair is listed while
// its first byte lies within the byte count's data bytes; an odd count thus
// lists one byte more, the one after the data.  Only bytes the frame holds
// are listed: a byte count larger than what arrived lists what arrived.
RegisterPairListing ListRegisterPairs(const QByteArray &reply);

} // namespace qvx
