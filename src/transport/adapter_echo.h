// Two-wire RS-485 adapters that hand back what they send: the received bytes
// then start with the request's own frame, and the reply follows it.  Plain
// rules over byte strings, so the request path and its tests share them.
#pragma once

#include "transport/request.h"

#include <QByteArray>
#include <QByteArrayView>

namespace qvx {

// The RTU frame of request as it goes on the wire (CRC included).
QByteArray RtuRequestFrame(const ModbusRequest &request);

// received without a leading copy of requestFrame: the bytes after it when
// received starts with the whole frame, nothing when received is only the
// first part of it (the echo still arriving, or all that came), otherwise
// received unchanged.
QByteArray StripRequestEcho(QByteArrayView received, QByteArrayView requestFrame);

// True when received looks like an echo followed by (or instead of) the
// reply, on a link that does not strip echoes: it starts with the request's
// frame and more than a filler byte follows, or it is the frame alone (and
// the request is not a single-register write, whose genuine reply is the
// same bytes).
bool StartsWithRequestEcho(QByteArrayView received, const ModbusRequest &request);

} // namespace qvx
