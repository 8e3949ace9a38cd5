// The monitor's one-line reading of a frame: unit, function by name, start
// and count or byte count, exception and its meaning, and what is wrong with
// the frame (CRC error, incomplete, echo of the request, stray or extra
// byte); for the IEC readout the sign-on, identification, acknowledgement,
// data lines and the block check.
#pragma once

#include "monitor/traffic_frame.h"

#include <QString>

namespace qvx {

struct FrameSummary {
    QString unit; // the unit address as a number, empty where none
    QString text;
    bool error = false; // the frame is damaged, an exception or an echo
};

// lastRequest: the previous frame sent on the same link (for the echo check).
FrameSummary decodeTrafficFrame(const TrafficFrame &frame, const QByteArray &lastRequest = {});

// The name of a Modbus function code ("Read Holding Registers"), or
// "Function n" for one this tool does not know.
QString modbusFunctionName(int function);
// The meaning of a Modbus exception code ("Illegal data address"), or
// "Unknown exception".
QString modbusExceptionMeaning(int code);

// "TX"/"RX" and "RTU"/"TCP"/"IEC".
QString trafficDirText(TrafficDir dir);
QString trafficLinkText(TrafficLink link);

} // namespace qvx
