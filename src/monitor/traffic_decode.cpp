#include "monitor/traffic_decode.h"

#include "transport/modbus.h"

namespace qvx {
namespace {

int be16(const QByteArray &b, qsizetype at)
{
    return (static_cast<uint8_t>(b.at(at)) << 8) | static_cast<uint8_t>(b.at(at + 1));
}

bool crcOk(const QByteArray &frame)
{
    if (frame.size() < 4)
        return false;
    const uint16_t crc = ModbusCrc16(frame.constData(), frame.size() - 2);
    return static_cast<uint8_t>(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           static_cast<uint8_t>(frame.at(frame.size() - 1)) == (crc >> 8);
}

struct PduText {
    QString text;
    qsizetype expected = -1; // the length the PDU must have, -1 when not known
    bool exception = false;
};

// pdu: function code and fields.  request: the frame was sent by the tool.
PduText decodePdu(const QByteArray &pdu, bool request)
{
    PduText r;
    if (pdu.isEmpty()) {
        r.text = QStringLiteral("no function code");
        r.expected = 1;
        return r;
    }
    const int fn = static_cast<uint8_t>(pdu.at(0));
    const qsizetype n = pdu.size();
    if (fn & 0x80) {
        r.exception = true;
        r.expected = 2;
        const QString of = modbusFunctionName(fn & 0x7F);
        if (n < 2) {
            r.text = QStringLiteral("Exception to %1").arg(of);
            return r;
        }
        const int code = static_cast<uint8_t>(pdu.at(1));
        r.text = QStringLiteral("Exception %1 (%2) to %3").arg(code).arg(modbusExceptionMeaning(code), of);
        return r;
    }
    r.text = modbusFunctionName(fn);
    auto startCount = [&](const char *a, const char *b) {
        if (n >= 5)
            r.text += QStringLiteral(": %1 %2, %3 %4")
                          .arg(QLatin1String(a))
                          .arg(be16(pdu, 1))
                          .arg(QLatin1String(b))
                          .arg(be16(pdu, 3));
    };
    switch (fn) {
    case 1:
    case 2:
    case 3:
    case 4:
        if (request) {
            r.expected = 5;
            startCount("start", "count");
        } else if (n >= 2) {
            const int bytes = static_cast<uint8_t>(pdu.at(1));
            r.expected = 2 + bytes;
            r.text += QStringLiteral(": %1 bytes").arg(bytes);
        } else {
            r.expected = 2;
        }
        break;
    case 5:
    case 6:
        r.expected = 5;
        startCount("address", "value");
        break;
    case 15:
    case 16:
        if (request) {
            if (n >= 6) {
                const int bytes = static_cast<uint8_t>(pdu.at(5));
                r.expected = 6 + bytes;
                startCount("start", "count");
                r.text += QStringLiteral(", %1 bytes").arg(bytes);
            } else {
                r.expected = 6;
            }
        } else {
            r.expected = 5;
            startCount("start", "count");
        }
        break;
    case 43:
        if (n >= 2 && static_cast<uint8_t>(pdu.at(1)) == 14) {
            r.text = QStringLiteral("Read Device Identification");
            if (request) {
                r.expected = 4;
                if (n >= 4)
                    r.text += QStringLiteral(": code %1, object %2")
                                  .arg(static_cast<uint8_t>(pdu.at(2)))
                                  .arg(static_cast<uint8_t>(pdu.at(3)));
            } else if (n >= 7) {
                r.text += QStringLiteral(": %1 objects").arg(static_cast<uint8_t>(pdu.at(6)));
            }
        }
        break;
    default:
        r.text += QStringLiteral(": %1 bytes").arg(n - 1);
        break;
    }
    return r;
}

void join(QString &text, const QString &more)
{
    if (!text.isEmpty())
        text += QStringLiteral("; ");
    text += more;
}

FrameSummary decodeRtu(const TrafficFrame &f, const QByteArray &lastRequest)
{
    FrameSummary s;
    bool request = f.dir == TrafficDir::Tx;
    QByteArray frame = f.bytes;
    QString note;
    // Writes of one coil or register (and diagnostics) are answered with the
    // request's own bytes: there an identical frame is the reply.
    const int fn = frame.size() > 1 ? static_cast<uint8_t>(frame.at(1)) : 0;
    const bool answeredByEcho = fn == 5 || fn == 6 || fn == 8;
    if (!request && !answeredByEcho && !lastRequest.isEmpty() && frame == lastRequest) {
        request = true; // the request's own bytes, read as such
        s.error = true;
        note = QStringLiteral("echo of the request");
    } else if (!crcOk(frame) && frame.size() > 4) {
        if (crcOk(frame.mid(1))) {
            s.error = true;
            note = QStringLiteral("stray byte before the frame");
            frame.remove(0, 1);
        } else if (crcOk(frame.chopped(1))) {
            s.error = true;
            note = QStringLiteral("extra byte after the frame");
            frame.chop(1);
        }
    }
    if (frame.isEmpty())
        return s;
    s.unit = QString::number(static_cast<uint8_t>(frame.at(0)));
    const QByteArray pdu = frame.size() > 3 ? frame.mid(1, frame.size() - 3) : frame.mid(1);
    const PduText p = decodePdu(pdu, request);
    s.text = p.text;
    s.error = s.error || p.exception;
    if (frame.size() < 4 || (p.expected >= 0 && pdu.size() < p.expected)) {
        s.error = true;
        join(s.text, QStringLiteral("incomplete"));
    } else if (!crcOk(frame)) {
        s.error = true;
        join(s.text, QStringLiteral("CRC error"));
    } else if (p.expected >= 0 && pdu.size() > p.expected) {
        s.error = true;
        join(s.text, QStringLiteral("%1 bytes too many").arg(pdu.size() - p.expected));
    }
    if (!note.isEmpty())
        join(s.text, note);
    return s;
}

FrameSummary decodeTcp(const TrafficFrame &f)
{
    FrameSummary s;
    const QByteArray &b = f.bytes;
    if (b.size() < 7) {
        s.error = true;
        s.text = QStringLiteral("incomplete");
        return s;
    }
    const int len = be16(b, 4);
    s.unit = QString::number(static_cast<uint8_t>(b.at(6)));
    const PduText p = decodePdu(b.mid(7, len - 1), f.dir == TrafficDir::Tx);
    s.text = QStringLiteral("id %1: ").arg(be16(b, 0)) + p.text;
    s.error = p.exception;
    if (be16(b, 2) != 0) {
        s.error = true;
        join(s.text, QStringLiteral("protocol id %1").arg(be16(b, 2)));
    }
    if (b.size() < 6 + len || (p.expected >= 0 && len - 1 < p.expected)) {
        s.error = true;
        join(s.text, QStringLiteral("incomplete"));
    } else if (b.size() > 6 + len) {
        s.error = true;
        join(s.text, QStringLiteral("%1 bytes beyond the length").arg(b.size() - 6 - len));
    }
    return s;
}

QString printable(QByteArray bytes)
{
    while (!bytes.isEmpty() && (bytes.endsWith('\n') || bytes.endsWith('\r')))
        bytes.chop(1);
    QString out;
    for (char c : bytes) {
        const auto u = static_cast<uint8_t>(c);
        out += u >= 0x20 && u < 0x7F ? QChar(u) : QChar(u'.');
    }
    return out;
}

FrameSummary decodeIec(const TrafficFrame &f)
{
    FrameSummary s;
    QByteArray b = f.bytes;
    if (b.isEmpty())
        return s;
    if (isIecSignOn(b)) {
        const QByteArray addr = b.mid(2, b.size() - 5);
        s.text = addr.isEmpty() ? QStringLiteral("sign-on request, any meter")
                                : QStringLiteral("sign-on request, address \"%1\"").arg(printable(addr));
        return s;
    }
    const auto first = static_cast<uint8_t>(b.at(0));
    if (first == 0x06) {
        s.text = QStringLiteral("acknowledgement");
        if (b.size() >= 4)
            s.text += QStringLiteral(": protocol %1, baud code %2, mode %3")
                          .arg(QChar(b.at(1)))
                          .arg(QChar(b.at(2)))
                          .arg(QChar(b.at(3)));
        return s;
    }
    if (first == 0x15) {
        s.text = QStringLiteral("NAK (repeat)");
        s.error = true;
        return s;
    }
    if (first == 0x01) {
        s.text = QStringLiteral("command (SOH) ") + printable(b.mid(1));
        return s;
    }
    if (first == '/' && b.size() >= 5) {
        s.text = QStringLiteral("identification: manufacturer %1, baud code %2, \"%3\"")
                     .arg(printable(b.mid(1, 3)), QString(QChar(b.at(4))), printable(b.mid(5)));
        return s;
    }
    QStringList parts;
    if (first == 0x02) {
        parts << QStringLiteral("STX");
        b.remove(0, 1);
    }
    if (f.blockCheck != TrafficFrame::BlockCheck::None) {
        const qsizetype etx = b.size() - 2;
        const QByteArray before = b.left(etx);
        if (!printable(before).isEmpty())
            parts << (before.startsWith("!") ? QStringLiteral("end of data") : printable(before));
        parts << (b.size() >= 2 && b.at(etx) == 0x04 ? QStringLiteral("EOT") : QStringLiteral("ETX"));
        const bool good = f.blockCheck == TrafficFrame::BlockCheck::Good;
        parts << (good ? QStringLiteral("BCC correct") : QStringLiteral("BCC error"));
        s.error = !good;
    } else if (b.startsWith("!")) {
        parts << QStringLiteral("end of data");
    } else {
        parts << QStringLiteral("data \"%1\"").arg(printable(b));
        if (!b.endsWith('\n')) {
            parts << QStringLiteral("incomplete");
            s.error = true;
        }
    }
    s.text = parts.join(QStringLiteral(", "));
    return s;
}

} // namespace

QString modbusFunctionName(int function)
{
    switch (function) {
    case 1:
        return QStringLiteral("Read Coils");
    case 2:
        return QStringLiteral("Read Discrete Inputs");
    case 3:
        return QStringLiteral("Read Holding Registers");
    case 4:
        return QStringLiteral("Read Input Registers");
    case 5:
        return QStringLiteral("Write Single Coil");
    case 6:
        return QStringLiteral("Write Single Register");
    case 8:
        return QStringLiteral("Diagnostics");
    case 15:
        return QStringLiteral("Write Multiple Coils");
    case 16:
        return QStringLiteral("Write Multiple Registers");
    case 17:
        return QStringLiteral("Report Server ID");
    case 23:
        return QStringLiteral("Read/Write Multiple Registers");
    case 43:
        return QStringLiteral("Encapsulated Interface Transport");
    default:
        return QStringLiteral("Function %1").arg(function);
    }
}

QString modbusExceptionMeaning(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("Illegal function");
    case 2:
        return QStringLiteral("Illegal data address");
    case 3:
        return QStringLiteral("Illegal data value");
    case 4:
        return QStringLiteral("Server device failure");
    case 5:
        return QStringLiteral("Acknowledge");
    case 6:
        return QStringLiteral("Server device busy");
    case 8:
        return QStringLiteral("Memory parity error");
    case 10:
        return QStringLiteral("Gateway path unavailable");
    case 11:
        return QStringLiteral("Gateway target device failed to respond");
    default:
        return QStringLiteral("Unknown exception");
    }
}

QString trafficDirText(TrafficDir dir)
{
    return dir == TrafficDir::Tx ? QStringLiteral("TX") : QStringLiteral("RX");
}

QString trafficLinkText(TrafficLink link)
{
    switch (link) {
    case TrafficLink::Rtu:
        return QStringLiteral("RTU");
    case TrafficLink::Tcp:
        return QStringLiteral("TCP");
    case TrafficLink::Iec:
        break;
    }
    return QStringLiteral("IEC");
}

FrameSummary decodeTrafficFrame(const TrafficFrame &frame, const QByteArray &lastRequest)
{
    switch (frame.link) {
    case TrafficLink::Rtu:
        return decodeRtu(frame, lastRequest);
    case TrafficLink::Tcp:
        return decodeTcp(frame);
    case TrafficLink::Iec:
        break;
    }
    return decodeIec(frame);
}

} // namespace qvx
