// qvxsim: a simulated QVX-24S gateway (Modbus TCP and RTU) and a simulated
// electricity meter (IEC 62056-21), for development, tests, demonstrations
// and training without hardware.
#include "sim/device.h"
#include "sim/meter_link.h"
#include "sim/pty_link.h"
#include "sim/quit_on_signal.h"
#include "sim/serial_link.h"
#include "sim/tcp_server.h"
#include "transport/modbus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace qvxsim;

namespace {

void out(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

[[noreturn]] void usageError(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("qvxsim: %1\nTry 'qvxsim --help'.\n").arg(message)), stderr);
    std::exit(2);
}

const char *Description = R"(Simulated QVX-24S gateway and electricity meter.

Serves one simulated QVX-24S over Modbus TCP and Modbus RTU (pseudo-terminal
or serial port), any combination at once, all with the same device state.
Without --tcp, --pty or --serial it serves TCP on 127.0.0.1:1502.
Prints one line per link it opened and then "ready" on standard output.
Stops on SIGINT, SIGTERM or SIGHUP and removes the links it made.

Device behaviour:
  Functions 3, 4, 6, 16 and 43/14 (device identification, codes 1-4;
  vendor, product code "QVX-24S", revision 2.14 and four more objects).
  Reads and writes of 1 to 126 registers. Exceptions: 1 unknown function,
  2 unknown register (any register of the request outside the map below),
  3 bad count, length or value (a function 16 write is all or nothing).
  RTU: frames found by length and CRC; a bad CRC or another unit address
  gets no answer; unit 0 is a broadcast, carried out without a reply.
  TCP: answers its unit address and also unit ids 0 and 255.
  Holding registers: 0-127 general (7 flags, 100 readout period 1-1440
  min, the others spare storage), 800-927 meter IDs, 1000-5095 OBIS lists
  (128 per slot), 32785 unit address, 32786 RTU port, 32787 IEC port,
  55400-55419 IPv4 address/gateway/mask and 55418-55419 TCP idle time (ms).
  Input registers: 1000-5095 collected values, all FF where none.
  Factory state: unit 1, RTU 9600 8E1, IEC 9600 7E1, readout every 15 min,
  flags: only "Continues Read", IPv4 192.168.1.100/24 gateway 192.168.1.1,
  TCP idle time 120 s, slot 1 programmed for the meter --meter-address
  with 15 OBIS codes (one of them, 96.1.0, has no value).
  Flag commands (register 7, low byte = flag number, +128 to set):
  1 DHCP, 2, 3, 4 "Change baud after ACK", 5 64-bit values, 6 16-digit
  IDs, 7 long OBIS, 8 "Continues Read"; 17 "Reset" (with or without +128)
  restarts the device: pending RTU settings take effect, collected values
  are cleared and read again at once. Other numbers: exception 3.
  A new unit address (32785) takes effect after the reply to its write.
  New RTU settings (32786) take effect after the reply when flag 4 is
  set, else at the next "Reset" or restart of the simulator; the IEC
  settings (32787) and the IPv4 settings are stored only (the simulator
  keeps listening where --tcp says; DHCP changes nothing).
  A TCP connection silent for longer than the TCP idle time is closed.
  Values: the device reads every programmed slot's meter every second
  with "Continues Read", else every readout period, and at once after a
  change of programming or flags. A value is the meter's reading with
  the decimal point removed (1.8.0 0001234.567 kWh -> 1234567); energy
  registers grow, power, voltage, current and frequency wander. 32-bit:
  rows 1-63, 2 registers each, unsigned (a negative reading has no value);
  64-bit (flag 5): rows 1-32, 4 registers each, signed. A slot's meter is
  matched by ID, its OBIS entries by C.D.E.
  --state keeps all holding registers except the values: settings and
  meter programming, saved within a second of each change and at exit.

Meter behaviour:
  Answers "/?" + address + "!" CR LF for --meter-address and for an empty
  address, 200 ms after the request, with "/QVX5SIMMETER" CR LF, STX, data
  lines such as 1.8.0(0001234.567*kWh) CR LF, "!" CR LF, ETX and the BCC
  (XOR of the bytes after STX up to and including ETX), paced at its
  line's rate. Other addresses are ignored; so is a request that comes
  while it is still answering. Its readings are those of the same meter
  behind the gateway.
  --meter-mode-c: sends the identification line alone, at the rate the
  client's port runs at (on a pseudo-terminal read from its master side),
  waits up to 2 s for the acknowledgement ACK "0" Z "0" CR LF and sends the
  data block 200 ms later at the rate Z names ('0' 300 ... '5' 9600,
  '6' 19200); without an acknowledgement it sends nothing more. The fifth
  character of --meter-ident is the baud character it announces.
  --meter-history N adds N billing-period lines such as 1.8.0*01(...): at
  300 baud the default answer takes about 14 s, each line about 0.8 s more.
  --meter-bad-bcc, --meter-lf-only and --meter-leading-del imitate meters
  that send a wrong block check character, end lines with LF alone, or
  send one DEL (0x7F) before the identification line.
  --meter-parity-on-wire sends every character with its parity bit as the
  top bit (7E1 or 7O1 lines), as a port set to 8 data bits without parity
  reads such a meter; a pseudo-terminal cannot carry 7-bit framing.
  Shapes of real meters' answers: --meter-sets-per-line N (N data sets a
  line), --meter-demand (1.6.0(02.468*kW)(2403100930)), --meter-billing
  (0.1.2*04(24-03-01 00:00)), --meter-sub-values (9.4(088*C&082*C)),
  --meter-no-ident (the answer starts at STX), --meter-bang-on-last ("!"
  ends the last data line), --meter-bcc LF|SOH (a filler data set 0.0.1(..)
  makes the block check character that byte).
  --meter-push SECONDS sends the answer by itself every SECONDS (mode D);
  --meter-p1-crc sends it as a P1 telegram: no STX, "!" and the CRC-16 in
  four hexadecimal digits (wrong with --meter-bad-bcc).

Faults (Modbus links only; each a switch, combinable):
  --fault-every N makes them hit every N-th reply only; exceptions for
  chosen registers always hold and the request is then not carried out.
  On TCP, --fault-crc has no effect (there is no CRC).)";

struct Links {
    std::unique_ptr<TcpServer> tcp;
    std::vector<std::unique_ptr<TcpServer>> fleet;
    std::vector<std::unique_ptr<PtyLink>> ptys;
    std::vector<std::unique_ptr<SerialLink>> serials;
    std::vector<std::unique_ptr<MeterLink>> meters;
};

char parseParity(const QString &text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("even") || t == QLatin1String("e"))
        return 'E';
    if (t == QLatin1String("odd") || t == QLatin1String("o"))
        return 'O';
    if (t == QLatin1String("none") || t == QLatin1String("n"))
        return 'N';
    usageError(QStringLiteral("parity must be even, odd or none: %1").arg(text));
}

int parseInt(const QString &text, int lo, int hi, const QString &what)
{
    bool ok = false;
    const int v = text.toInt(&ok, 0);
    if (!ok || v < lo || v > hi)
        usageError(QStringLiteral("%1 must be %2 to %3: %4").arg(what).arg(lo).arg(hi).arg(text));
    return v;
}

int parseBaud(const QString &text, const QString &what)
{
    const int baud = parseInt(text, 1, 1000000, what);
    if (codeForBaud(baud) < 0)
        usageError(
            QStringLiteral("%1 must be one of 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200")
                .arg(what));
    return baud;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvxsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));

    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(Description));
    p.addHelpOption();
    p.addVersionOption();
    auto opt = [&p](const QString &name, const QString &help, const QString &value = QString()) {
        QCommandLineOption o(name, help, value);
        p.addOption(o);
        return o;
    };
    const auto oTcp =
        opt(QStringLiteral("tcp"), QStringLiteral("Serve Modbus TCP on HOST:PORT (port 0: any free port)."),
            QStringLiteral("HOST:PORT"));
    const auto oPty = opt(QStringLiteral("pty"),
                          QStringLiteral("Serve Modbus RTU on a new pseudo-terminal and make PATH a symbolic "
                                         "link to it (a stale link is replaced). Repeatable."),
                          QStringLiteral("PATH"));
    const auto oSerial = opt(QStringLiteral("serial"),
                             QStringLiteral("Serve Modbus RTU on a serial port (8 data bits, 1 stop bit). "
                                            "Repeatable."),
                             QStringLiteral("DEVICE"));
    const auto oBaud =
        opt(QStringLiteral("baud"),
            QStringLiteral("RTU baud rate: 300 ... 115200 (default 9600; sets register 32786)."),
            QStringLiteral("N"));
    const auto oParity =
        opt(QStringLiteral("parity"), QStringLiteral("RTU parity: even, odd or none (default even)."),
            QStringLiteral("P"));
    const auto oUnit =
        opt(QStringLiteral("unit"), QStringLiteral("Unit address 1..247 (default 1)."), QStringLiteral("N"));
    const auto oState =
        opt(QStringLiteral("state"),
            QStringLiteral("Load settings and meter programming from FILE if it exists and keep "
                           "them there. --unit, --baud and --parity, when given, override it."),
            QStringLiteral("FILE"));
    const auto oEmpty = opt(QStringLiteral("empty"),
                            QStringLiteral("Start with an empty meter table (no demonstration slot 1)."));
    const auto oPace =
        opt(QStringLiteral("pace"),
            QStringLiteral("Send RTU replies byte by byte at the line's rate (11 bits a character at "
                           "8E1 or 8O1, 10 at 8N1); without it replies go out at once."));
    const auto oVerbose = opt(
        QStringLiteral("verbose"),
        QStringLiteral("Print every frame received (RX) and sent (TX) with time stamp and link, in hex."));
    const auto oMeterPty =
        opt(QStringLiteral("meter-pty"),
            QStringLiteral("Run the simulated meter on a new pseudo-terminal, PATH linking to it."),
            QStringLiteral("PATH"));
    const auto oMeterSerial =
        opt(QStringLiteral("meter-serial"), QStringLiteral("Run the simulated meter on a serial port."),
            QStringLiteral("DEVICE"));
    const auto oMeterAddress =
        opt(QStringLiteral("meter-address"),
            QStringLiteral("The meter's address (its ID), default 12345678."), QStringLiteral("ADDR"));
    const auto oMeterBaud = opt(QStringLiteral("meter-baud"),
                                QStringLiteral("Meter line baud rate (default 9600)."), QStringLiteral("N"));
    const auto oMeterParity =
        opt(QStringLiteral("meter-parity"),
            QStringLiteral("Meter line parity: even, odd or none (default even)."), QStringLiteral("P"));
    const auto oMeterBits =
        opt(QStringLiteral("meter-data-bits"), QStringLiteral("Meter line data bits, 7 or 8 (default 7)."),
            QStringLiteral("N"));
    const auto oMeterIdent =
        opt(QStringLiteral("meter-ident"),
            QStringLiteral("The meter's identification line without CR LF (default /QVX5SIMMETER; the "
                           "fifth character is the baud character)."),
            QStringLiteral("TEXT"));
    const auto oMeterModeC = opt(QStringLiteral("meter-mode-c"),
                                 QStringLiteral("Mode C: wait for the acknowledgement after the "
                                                "identification line and switch to the rate it asks for."));
    const auto oMeterHistory =
        opt(QStringLiteral("meter-history"),
            QStringLiteral("Add N billing-period lines to the readout (default 0)."), QStringLiteral("N"));
    const auto oMeterBadBcc =
        opt(QStringLiteral("meter-bad-bcc"), QStringLiteral("Send a wrong block check character."));
    const auto oMeterLfOnly =
        opt(QStringLiteral("meter-lf-only"), QStringLiteral("End the readout's lines with LF alone."));
    const auto oMeterDel = opt(QStringLiteral("meter-leading-del"),
                               QStringLiteral("Send one DEL (0x7F) before the identification line."));
    const auto oMeterParityOnWire =
        opt(QStringLiteral("meter-parity-on-wire"),
            QStringLiteral("Send the parity bit of a 7-bit line as each character's top bit, as a "
                           "client set to 8 data bits without parity sees it."));
    const auto oMeterSetsPerLine = opt(QStringLiteral("meter-sets-per-line"),
                                       QStringLiteral("Put N data sets on each line (default 1)."),
                                       QStringLiteral("N"));
    const auto oMeterDemand = opt(QStringLiteral("meter-demand"),
                                  QStringLiteral("Add a maximum demand with its time stamp."));
    const auto oMeterBilling =
        opt(QStringLiteral("meter-billing"), QStringLiteral("Add a billing value with its date."));
    const auto oMeterSubValues =
        opt(QStringLiteral("meter-sub-values"), QStringLiteral("Add a data set with '&' sub-values."));
    const auto oMeterNoIdent = opt(QStringLiteral("meter-no-ident"),
                                   QStringLiteral("Send no identification line: the answer starts at STX."));
    const auto oMeterBangOnLast =
        opt(QStringLiteral("meter-bang-on-last"), QStringLiteral("End the last data line with \"!\"."));
    const auto oMeterBcc = opt(QStringLiteral("meter-bcc"),
                               QStringLiteral("Make the block check character LF or SOH."),
                               QStringLiteral("LF|SOH"));
    const auto oMeterPush = opt(QStringLiteral("meter-push"),
                                QStringLiteral("Send the answer by itself every SECONDS."),
                                QStringLiteral("SECONDS"));
    const auto oMeterP1Crc =
        opt(QStringLiteral("meter-p1-crc"), QStringLiteral("Send a P1 telegram with its CRC-16."));
    const auto oDelay = opt(QStringLiteral("fault-delay"), QStringLiteral("Fault: start each reply MS late."),
                            QStringLiteral("MS"));
    const auto oDrop = opt(QStringLiteral("fault-drop"), QStringLiteral("Fault: send no reply."));
    const auto oCrc =
        opt(QStringLiteral("fault-crc"), QStringLiteral("Fault: invert both CRC bytes of the reply."));
    const auto oTrailing = opt(QStringLiteral("fault-trailing-zero"),
                               QStringLiteral("Fault: send one 0x00 byte after the reply."));
    const auto oSplit =
        opt(QStringLiteral("fault-split"),
            QStringLiteral("Fault: send the reply in two halves with a pause of MS between them."),
            QStringLiteral("MS"));
    const auto oStray = opt(QStringLiteral("fault-stray-byte"),
                            QStringLiteral("Fault: send one stray byte (0x00) before the reply."));
    const auto oStrayValue =
        opt(QStringLiteral("fault-stray-value"),
            QStringLiteral("The stray byte's value, 0..255 (0x.. for hex)."), QStringLiteral("N"));
    const auto oEcho =
        opt(QStringLiteral("fault-echo"),
            QStringLiteral("Fault: send the request back before the reply, as a 2-wire adapter "
                           "echoes it."));
    const auto oOtherUnit =
        opt(QStringLiteral("fault-other-unit"),
            QStringLiteral("Fault: reply from another unit address (unit % 247 + 1), CRC valid."));
    const auto oException =
        opt(QStringLiteral("fault-exception"),
            QStringLiteral("Fault: answer an exception to any request that touches these registers, e.g. "
                           "7,100,1000-1125; the request is not carried out."),
            QStringLiteral("LIST"));
    const auto oExceptionCode =
        opt(QStringLiteral("fault-exception-code"),
            QStringLiteral("Exception code for --fault-exception (default 4, device failure)."),
            QStringLiteral("N"));
    const auto oEvery = opt(QStringLiteral("fault-every"),
                            QStringLiteral("Apply the faults to every N-th reply only (default 1: all)."),
                            QStringLiteral("N"));
    const auto oFleet =
        opt(QStringLiteral("fleet"),
            QStringLiteral("With --tcp HOST:PORT: serve N independent gateways on ports PORT to PORT+N-1, "
                           "each with its own state (--state and the serial links belong to the first)."),
            QStringLiteral("N"));
    const auto oMatchBaud =
        opt(QStringLiteral("match-baud"),
            QStringLiteral("On a pseudo-terminal answer only a client whose baud rate is the gateway's own "
                           "RTU rate (register 32786), as a real line would; parity is not matched."));
    const auto oIgnoreBaud =
        opt(QStringLiteral("ignore-baud-change"),
            QStringLiteral("Acknowledge a new RTU line (register 32786) but keep answering at the old one, "
                           "also after \"Reset\" and with \"Change baud after ACK\"."));
    p.process(app);
    if (!p.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument %1").arg(p.positionalArguments().first()));

    // --- the device -----------------------------------------------------------
    const QString meterAddress = p.isSet(oMeterAddress) ? p.value(oMeterAddress) : QStringLiteral("12345678");
    Device device(p.isSet(oEmpty) ? QString() : meterAddress);
    const QString statePath = p.value(oState);
    if (!statePath.isEmpty() && QFileInfo::exists(statePath)) {
        QString error;
        if (!device.loadState(statePath, &error)) {
            std::fputs(qPrintable(QStringLiteral("qvxsim: cannot load %1: %2\n").arg(statePath, error)),
                       stderr);
            return 1;
        }
    }
    if (p.isSet(oUnit))
        device.setUnitAddress(
            static_cast<uint8_t>(parseInt(p.value(oUnit), 1, 247, QStringLiteral("--unit"))));
    if (p.isSet(oBaud) || p.isSet(oParity)) {
        LineSettings line = device.rtuLine();
        if (p.isSet(oBaud))
            line.baud = parseBaud(p.value(oBaud), QStringLiteral("--baud"));
        if (p.isSet(oParity))
            line.parity = parseParity(p.value(oParity));
        device.setRtuLine(line);
    }

    device.setIgnoreRtuChange(p.isSet(oIgnoreBaud));

    LinkOptions link;
    Faults &f = link.faults;
    if (p.isSet(oDelay))
        f.delayMs = parseInt(p.value(oDelay), 0, 600000, QStringLiteral("--fault-delay"));
    f.dropReplies = p.isSet(oDrop);
    f.corruptCrc = p.isSet(oCrc);
    f.trailingZero = p.isSet(oTrailing);
    if (p.isSet(oSplit))
        f.splitPauseMs = parseInt(p.value(oSplit), 0, 600000, QStringLiteral("--fault-split"));
    f.strayLeadingByte = p.isSet(oStray) || p.isSet(oStrayValue);
    if (p.isSet(oStrayValue))
        f.strayByte = static_cast<uint8_t>(
            parseInt(p.value(oStrayValue), 0, 255, QStringLiteral("--fault-stray-value")));
    f.echoRequest = p.isSet(oEcho);
    f.otherUnit = p.isSet(oOtherUnit);
    if (p.isSet(oException) && !parseAddressList(p.value(oException), &f.exceptionRanges))
        usageError(QStringLiteral("--fault-exception wants registers such as 7,100,1000-1125"));
    if (p.isSet(oExceptionCode))
        f.exceptionCode = static_cast<uint8_t>(
            parseInt(p.value(oExceptionCode), 1, 255, QStringLiteral("--fault-exception-code")));
    if (p.isSet(oEvery))
        f.every = parseInt(p.value(oEvery), 1, 1000000, QStringLiteral("--fault-every"));
    link.pace = p.isSet(oPace);
    if (p.isSet(oVerbose))
        link.monitor = [](const QString &name, const QString &dir, const QByteArray &bytes) {
            out(QStringLiteral("%1 %2 %3 %4")
                    .arg(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")), name, dir,
                         qvx::hexBytes(bytes).trimmed()));
        };

    MeterOptions meter;
    meter.address = meterAddress;
    if (p.isSet(oMeterBaud))
        meter.line.baud = parseBaud(p.value(oMeterBaud), QStringLiteral("--meter-baud"));
    if (p.isSet(oMeterParity))
        meter.line.parity = parseParity(p.value(oMeterParity));
    if (p.isSet(oMeterBits))
        meter.line.dataBits = parseInt(p.value(oMeterBits), 7, 8, QStringLiteral("--meter-data-bits"));
    if (p.isSet(oMeterIdent)) {
        meter.identification = p.value(oMeterIdent).toLatin1();
        if (!meter.identification.startsWith('/') || meter.identification.size() < 5 ||
            meter.identification.contains('\n') || meter.identification.contains('\r'))
            usageError(QStringLiteral("--meter-ident wants a line such as /QVX5SIMMETER"));
    }
    meter.modeC = p.isSet(oMeterModeC);
    if (p.isSet(oMeterHistory))
        meter.historyLines = parseInt(p.value(oMeterHistory), 0, 10000, QStringLiteral("--meter-history"));
    meter.style.wrongBcc = p.isSet(oMeterBadBcc);
    meter.style.lfOnly = p.isSet(oMeterLfOnly);
    meter.style.leadingDel = p.isSet(oMeterDel);
    meter.parityOnWire = p.isSet(oMeterParityOnWire);
    if (p.isSet(oMeterSetsPerLine))
        meter.style.setsPerLine =
            parseInt(p.value(oMeterSetsPerLine), 1, 1000, QStringLiteral("--meter-sets-per-line"));
    meter.demandLine = p.isSet(oMeterDemand);
    meter.billingLine = p.isSet(oMeterBilling);
    meter.subValueLine = p.isSet(oMeterSubValues);
    meter.style.noIdentification = p.isSet(oMeterNoIdent);
    meter.style.bangOnLastLine = p.isSet(oMeterBangOnLast);
    if (p.isSet(oMeterBcc)) {
        const QString v = p.value(oMeterBcc).toUpper();
        if (v != QLatin1String("LF") && v != QLatin1String("SOH"))
            usageError(QStringLiteral("--meter-bcc wants LF or SOH"));
        meter.style.bccValue = v == QLatin1String("LF") ? 0x0A : 0x01;
    }
    if (p.isSet(oMeterPush))
        meter.pushSeconds = parseInt(p.value(oMeterPush), 1, 3600, QStringLiteral("--meter-push"));
    meter.style.p1Crc = p.isSet(oMeterP1Crc);
    meter.monitor = link.monitor;

    // --- signals: handled in the event loop ------------------------------------
    if (!quitOnSignals())
        return 1;

    // --- links ---------------------------------------------------------------
    std::vector<std::unique_ptr<Device>> fleetDevices;
    Links links;
    auto fail = [](const QString &what) {
        std::fputs(qPrintable(QStringLiteral("qvxsim: %1\n").arg(what)), stderr);
        return 1;
    };
    const bool anyLink = p.isSet(oTcp) || p.isSet(oPty) || p.isSet(oSerial);
    if (p.isSet(oTcp) || !anyLink) {
        const QString endpoint = p.isSet(oTcp) ? p.value(oTcp) : QStringLiteral("127.0.0.1:1502");
        const qsizetype colon = endpoint.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0)
            usageError(QStringLiteral("--tcp wants HOST:PORT, e.g. 127.0.0.1:1502"));
        QString host = endpoint.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        const QHostAddress address =
            host == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
        if (address.isNull())
            usageError(QStringLiteral("--tcp: not an IP address: %1").arg(host));
        const int port = parseInt(endpoint.mid(colon + 1), 0, 65535, QStringLiteral("--tcp port"));
        links.tcp = std::make_unique<TcpServer>(device, link);
        if (!links.tcp->listen(address, static_cast<quint16>(port)))
            return fail(QStringLiteral("cannot listen on %1: %2").arg(endpoint, links.tcp->errorString()));
        out(QStringLiteral("tcp %1:%2")
                .arg(links.tcp->serverAddress().toString())
                .arg(links.tcp->serverPort()));
        // The rest of a fleet: each gateway its own device on the next port.
        const int fleet = p.isSet(oFleet) ? parseInt(p.value(oFleet), 1, 1000, QStringLiteral("--fleet")) : 1;
        for (int i = 1; i < fleet; ++i) {
            auto d = std::make_unique<Device>(p.isSet(oEmpty) ? QString() : meterAddress);
            d->setUnitAddress(device.unitAddress());
            d->setRtuLine(device.rtuLine());
            auto server = std::make_unique<TcpServer>(*d, link);
            const quint16 next = port == 0 ? 0 : static_cast<quint16>(port + i);
            if (port + i > 65535 || !server->listen(address, next))
                return fail(QStringLiteral("cannot listen on %1:%2: %3")
                                .arg(host)
                                .arg(port + i)
                                .arg(server->errorString()));
            out(QStringLiteral("tcp %1:%2")
                    .arg(server->serverAddress().toString())
                    .arg(server->serverPort()));
            fleetDevices.push_back(std::move(d));
            links.fleet.push_back(std::move(server));
        }
    } else if (p.isSet(oFleet)) {
        usageError(QStringLiteral("--fleet needs --tcp HOST:PORT"));
    }
    for (const QString &path : p.values(oPty)) {
        auto pty = std::make_unique<PtyLink>(device, link);
        if (p.isSet(oMatchBaud))
            pty->matchBaud(device);
        if (!pty->open(path))
            return fail(pty->errorString());
        out(QStringLiteral("pty %1 -> %2").arg(path, pty->slavePath()));
        links.ptys.push_back(std::move(pty));
    }
    for (const QString &dev : p.values(oSerial)) {
        auto serial = std::make_unique<SerialLink>(device, link);
        if (!serial->open(dev))
            return fail(serial->errorString());
        out(QStringLiteral("serial %1").arg(dev));
        links.serials.push_back(std::move(serial));
    }
    for (const QString &path : p.values(oMeterPty)) {
        auto m = std::make_unique<MeterLink>(device, meter);
        if (!m->openPty(path))
            return fail(m->errorString());
        out(QStringLiteral("meter-pty %1 -> %2").arg(path, m->slavePath()));
        links.meters.push_back(std::move(m));
    }
    for (const QString &dev : p.values(oMeterSerial)) {
        auto m = std::make_unique<MeterLink>(device, meter);
        if (!m->openSerial(dev))
            return fail(m->errorString());
        out(QStringLiteral("meter-serial %1").arg(dev));
        links.meters.push_back(std::move(m));
    }

    // --- time and persistence --------------------------------------------------
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer ticker;
    ticker.setInterval(100);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        device.tick(now - last);
        for (const auto &d : fleetDevices)
            d->tick(now - last);
        last = now;
    });
    ticker.start();

    quint64 savedRevision = device.settingsRevision();
    auto save = [&] {
        if (statePath.isEmpty() || device.settingsRevision() == savedRevision)
            return;
        QString error;
        if (device.saveState(statePath, &error))
            savedRevision = device.settingsRevision();
        else
            std::fputs(qPrintable(QStringLiteral("qvxsim: cannot save %1: %2\n").arg(statePath, error)),
                       stderr);
    };
    if (!statePath.isEmpty() && !QFileInfo::exists(statePath))
        savedRevision = ~quint64(0); // write the starting state so the file exists
    save();
    QTimer saver;
    saver.setInterval(500);
    QObject::connect(&saver, &QTimer::timeout, save);
    saver.start();

    out(QStringLiteral("ready"));
    const int rc = app.exec();
    save();
    return rc;
}
