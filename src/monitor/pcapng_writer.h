// The monitor's capture file: pcapng that Wireshark and tshark open.
//
// Each frame becomes one IPv4 packet (link type LINKTYPE_IPV4, 228) between
// the tool (10.0.0.1) and the other end:
//  - Modbus TCP: TCP between port 49152 and port 502 of 10.0.0.2, with
//    running sequence numbers, so Wireshark dissects it as Modbus/TCP with no
//    setup;
//  - Modbus RTU: UDP between port 49153 and port 502 of 10.0.1.2, the RTU
//    frame as the payload, CRC included.  Wireshark's Modbus RTU dissector is
//    not bound to any port by default: "Decode As" UDP port 502 as Modbus RTU
//    (tshark: -d udp.port==502,mbrtu).  The ports tell requests from replies;
//  - IEC 62056-21: UDP between port 49154 and port 62056 of 10.0.2.2, shown
//    as data.
// Every packet carries its frame's summary as a comment.
#pragma once

#include "monitor/traffic_frame.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qvx {

inline constexpr quint16 CaptureModbusPort = 502;
inline constexpr quint16 CaptureIecPort = 62056;

class PcapngWriter {
public:
    PcapngWriter();
    // Appends one frame; comment (may be empty) goes into the packet's
    // comment option.
    void add(const TrafficFrame &frame, const QString &comment = {});
    // The file so far.
    const QByteArray &bytes() const { return m_out; }

private:
    QByteArray ipPacket(const TrafficFrame &frame);

    QByteArray m_out;
    quint16 m_ipId = 1;
    quint32 m_toolSeq = 1;
    quint32 m_deviceSeq = 1;
};

} // namespace qvx
