#include "gateway/gateway_client.h"

#include "config/device_codec.h"
#include "core/errors.h"
#include "transport/port_device.h"
#include "core/link_errors.h"
#include "gateway/request_repeat.h"
#include "meters/meter_codec.h"
#include "meters/meter_values.h"
#include "transport/adapter_echo.h"
#include "transport/port_name.h"
#include "transport/reply_check.h"
#include "transport/reply_timer.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <cerrno>

namespace qvx {
namespace {

QSerialPort::Parity serialParity(const QString &p)
{
    if (p == QLatin1String("none"))
        return QSerialPort::NoParity;
    if (p == QLatin1String("odd"))
        return QSerialPort::OddParity;
    return QSerialPort::EvenParity;
}

uint8_t hi(int v)
{
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
uint8_t lo(int v)
{
    return static_cast<uint8_t>(v & 0xFF);
}

} // namespace

GatewayClient::GatewayClient(QObject *parent) : GatewayClient(*new Session, parent)
{
    m_owned.reset(m_session);
    m_echoAdvice = QStringLiteral("if the adapter echoes what it sends, use --echo");
}

GatewayClient::GatewayClient(Session &shared, QObject *parent)
    : QObject(parent), m_session(&shared), m_window(new ReplyTimer(1000, this))
{
    m_window->setObjectName(QStringLiteral("Timer_gateway"));
    m_echoAdvice =
        QStringLiteral("if the adapter echoes what it sends, tick Tools > Options... \"The adapter "
                       "echoes what it sends\"");
    connect(&m_session->comm2(), &Comm2::bytesWrittenTap, this,
            [this](const QByteArray &b) { emit frame(true, b); });
    connect(&m_session->comm2(), &Comm2::bytesReadTap, this,
            [this](const QByteArray &b) { emit frame(false, b); });
    connect(&m_session->socket(), &XportSocket::bytesWrittenTap, this,
            [this](const QByteArray &b) { emit frame(true, b); });
    connect(&m_session->socket(), &XportSocket::bytesReadTap, this,
            [this](const QByteArray &b) { emit frame(false, b); });
    // As the TCP panel does on its disconnect event: requests find the link closed.
    connect(&m_session->socket(), &XportSocket::disconnected, this,
            [this] { m_session->setTcpConnected(false); });
}

GatewayClient::~GatewayClient()
{
    if (m_owned)
        close();
}

void GatewayClient::open(const GatewayLink &link)
{
    m_link = link;
    m_cancelled = false;
    RequestSettings &s = m_session->exchange().settings();
    s.unit = static_cast<uint8_t>(link.unit);
    s.timeoutMs = link.timeoutMs;
    s.endOnCompleteReply = true;
    m_window->setInterval(link.timeoutMs);
    if (!link.tcp) {
        Comm2 &comm = m_session->comm2();
        const QString path = serialDevicePath(link.serialPort);
        comm.setDevicePath(path);
        if (!serialDeviceMayExist(path))
            throw GatewayError(GatewayError::LinkFailed,
                               plainLinkError(LinkErrorKind::PortNotFound, qt_error_string(ENOENT), path));
        const PortOpenFailure failure = comm.probeOpen();
        if (failure != PortOpenFailure::None) {
            const int err = comm.probeSystemError();
            const LinkErrorKind kind = failure == PortOpenFailure::PermissionDenied
                                           ? LinkErrorKind::PortPermissionDenied
                                           : LinkErrorKind::PortBusy;
            throw GatewayError(GatewayError::LinkFailed,
                               plainLinkError(kind, err != 0 ? qt_error_string(err) : QString(), path));
        }
        Comm2::LineSettings line;
        line.baudRate = link.baud;
        line.parity = serialParity(link.parity);
        line.dataBits = link.dataBits == 7 ? QSerialPort::Data7 : QSerialPort::Data8;
        line.stopBits = link.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
        comm.setLineSettings(line);
        try {
            comm.open();
        } catch (const QvxError &e) {
            throw GatewayError(GatewayError::LinkFailed, QStringLiteral("%1: %2").arg(path, e.message()));
        }
        m_session->setSerialPortOpen(true);
        return;
    }
    XportSocket &socket = m_session->socket();
    QEventLoop loop;
    // The whole message, in plain words first: "connection refused by
    // 10.0.0.5:502 (socket error #111)".
    QString failure;
    const QString where = QStringLiteral("%1:%2").arg(link.host).arg(link.port);
    auto c1 = connect(&socket, &XportSocket::connected, &loop, &QEventLoop::quit);
    auto c2 = connect(&socket, &XportSocket::error, &loop, [&](int code) {
        failure = plainLinkError(socketErrorKind(code), QStringLiteral("socket error #%1").arg(code), where);
        loop.quit();
    });
    auto c3 = connect(&socket, &XportSocket::disconnected, &loop, [&] {
        if (failure.isEmpty())
            failure = plainLinkError(LinkErrorKind::RemoteClosed, QString(), where);
        loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, [&] {
        failure = plainLinkError(LinkErrorKind::TimedOut,
                                 QStringLiteral("no connection within %1 ms").arg(limit.interval()), where);
        loop.quit();
    });
    try {
        socket.setHost(link.host);
        socket.setPort(link.port);
        socket.activate();
    } catch (const QvxError &e) {
        failure = plainLinkError(LinkErrorKind::Unknown, e.message(), where);
    }
    if (failure.isEmpty() && !socket.isConnected()) {
        limit.start(qMax(3000, link.timeoutMs));
        loop.exec();
    }
    disconnect(c1);
    disconnect(c2);
    disconnect(c3);
    if (!failure.isEmpty() || !socket.isConnected()) {
        socket.deactivate();
        throw GatewayError(
            GatewayError::LinkFailed,
            failure.isEmpty() ? plainLinkError(LinkErrorKind::Unknown, QStringLiteral("no connection"), where)
                              : failure);
    }
    m_session->setTcpConnected(true);
}

void GatewayClient::close()
{
    if (m_session->SerialPortOpen) {
        m_session->comm2().close();
        m_session->setSerialPortOpen(false);
    }
    if (m_session->TransportMode == TransportModeKind::Tcp) {
        m_session->socket().deactivate();
        m_session->setTcpConnected(false);
    }
}

void GatewayClient::adoptLink(const GatewayLink &link)
{
    m_link = link;
    m_cancelled = false;
    setUnit(link.unit);
    setTimeoutMs(link.timeoutMs);
}

void GatewayClient::setSerialLine(int baud, const QString &parity)
{
    m_link.baud = baud;
    m_link.parity = parity;
    Comm2 &comm = m_session->comm2();
    Comm2::LineSettings line = comm.lineSettings();
    line.baudRate = baud;
    line.parity = serialParity(parity);
    if (line == comm.lineSettings())
        return;
    comm.setLineSettings(line);
    comm.close();
    try {
        comm.open();
    } catch (const QvxError &e) {
        m_session->setSerialPortOpen(false);
        throw GatewayError(GatewayError::LinkFailed, e.message());
    }
}

void GatewayClient::setUnit(int unit)
{
    m_link.unit = unit;
    m_session->exchange().settings().unit = static_cast<uint8_t>(unit);
}

void GatewayClient::setTimeoutMs(int ms)
{
    m_link.timeoutMs = ms;
    m_session->exchange().settings().timeoutMs = ms;
    m_window->setInterval(ms);
}

void GatewayClient::cancel()
{
    m_cancelled = true;
    if (m_window->isEnabled())
        m_window->fireNow();
}

void GatewayClient::setAdapterEchoes(bool on)
{
    m_session->exchange().settings().adapterEchoes = on;
}

QByteArray GatewayClient::transact(const ModbusRequest &request)
{
    const int limit = RequestSafeToRepeat(request) ? m_retryLimit : 0;
    for (int retry = 0;; ++retry) {
        bool lost = false;
        try {
            return transactOnce(request, lost);
        } catch (const GatewayError &e) {
            if (!lost || retry >= limit || m_cancelled || !m_session->linkOpen())
                throw;
            ++m_retries;
            emit retrying(e.message(), retry + 1, limit);
            if (!m_owned)
                m_session->log(
                    QStringLiteral("%1: sent again (%2 of %3)").arg(e.message()).arg(retry + 1).arg(limit));
        }
    }
}

QByteArray GatewayClient::transactOnce(const ModbusRequest &request, bool &lost)
{
    lost = false;
    m_lastReplyBytes = 0;
    m_lastStartsWithRequest = false;
    if (m_cancelled)
        throw GatewayError(GatewayError::Cancelled, QStringLiteral("cancelled"));
    Exchange &exchange = m_session->exchange();
    if (!m_session->linkOpen())
        throw GatewayError(GatewayError::NoAnswer, QStringLiteral("the link is closed"));
    QString lastLog;
    auto logConn = connect(m_session, &Session::logLine, this, [&lastLog](const QString &l) { lastLog = l; });
    request.isRead() || request.function == ModbusFunction::ReadDeviceId ? exchange.beginRead()
                                                                         : exchange.beginWrite();
    ++m_requests;
    try {
        exchange.send(*m_window, request);
    } catch (const QvxError &e) {
        disconnect(logConn);
        exchange.end(*m_window, false);
        throw GatewayError(GatewayError::NoAnswer, e.message());
    }
    if (m_window->isEnabled()) {
        QEventLoop loop;
        connect(m_window, &ReplyTimer::timeout, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const std::optional<WindowReply> reply = exchange.end(*m_window, true);
    if (m_cancelled) {
        disconnect(logConn);
        throw GatewayError(GatewayError::Cancelled, QStringLiteral("cancelled"));
    }
    if (!reply) {
        disconnect(logConn);
        throw GatewayError(GatewayError::NoAnswer, QStringLiteral("the link closed"));
    }
    m_lastStartsWithRequest = reply->startsWithRequest;
    m_lastReplyBytes =
        int(reply->bytes.size()) - (reply->startsWithRequest ? int(RtuRequestFrame(request).size()) : 0);
    const QString what = request.function == ModbusFunction::ReadDeviceId
                             ? QStringLiteral("unit %1, device identification").arg(request.unit)
                             : QStringLiteral("unit %1, register %2").arg(request.unit).arg(request.address);
    // From here on nothing or something broken came back: worth a second try.
    lost = true;
    if (reply->isEmpty()) {
        disconnect(logConn);
        throw GatewayError(
            GatewayError::NoAnswer,
            reply->echoOnly
                ? QStringLiteral("no answer (%1): only the echo of the request came back").arg(what)
                : QStringLiteral("no answer (%1)").arg(what));
    }
    // An adapter that echoes does so every time: sending again would not help.
    if (reply->startsWithRequest)
        lost = false;
    const QString echo =
        reply->startsWithRequest
            ? QStringLiteral("; the reply starts with the request's own bytes: ") + m_echoAdvice
            : QString();
    const bool answers = exchange.answers(*m_window, *reply);
    disconnect(logConn);
    if (!answers)
        throw GatewayError(GatewayError::NoAnswer,
                           QStringLiteral("reply does not answer the request (%1): %2%3")
                               .arg(what, reply->headerMismatch.value_or(lastLog), echo));
    const ReplyCheck check = CheckReply(reply->bytes, request.function == ModbusFunction::ReadDeviceId
                                                          ? ReplyReporting::FirmwareVersion
                                                          : ReplyReporting::Full);
    if (check.failure == ReplyFailure::Exception) {
        // An exception is the gateway's answer: sending again changes nothing.
        lost = false;
        throw GatewayError(GatewayError::Exception,
                           QStringLiteral("exception %1 (%2)%3")
                               .arg(check.exceptionCode)
                               .arg(what)
                               .arg(ExceptionLine(check.exceptionCode).isEmpty()
                                        ? QString()
                                        : QStringLiteral(": ") + ExceptionLine(check.exceptionCode)));
    }
    if (check.failure == ReplyFailure::Crc)
        ++m_crcErrors;
    if (!check.pass)
        throw GatewayError(GatewayError::NoAnswer,
                           QStringLiteral("bad reply (%1): %2%3")
                               .arg(what, check.logLines.join(QLatin1Char(' ')).trimmed(), echo));
    lost = false;
    return check.frame;
}

QVector<uint16_t> GatewayClient::readRegisters(bool input, int start, int count)
{
    const uint8_t unit = m_session->exchange().settings().unit;
    const QByteArray frame = transact(input ? ModbusRequest::readInput(unit, start, count)
                                            : ModbusRequest::readHolding(unit, start, count));
    const RegisterReply r = DecodeRegisterReply(start, frame);
    QVector<uint16_t> values;
    for (const RegisterValue &v : r.registers)
        values << static_cast<uint16_t>(v.high << 8 | v.low);
    if (values.size() != count)
        throw GatewayError(GatewayError::NoAnswer,
                           QStringLiteral("reply holds %1 of %2 registers").arg(values.size()).arg(count));
    return values;
}

void GatewayClient::writeRegisters(int start, const QVector<uint16_t> &values)
{
    const uint8_t unit = m_session->exchange().settings().unit;
    if (values.size() == 1) {
        transact(ModbusRequest::writeSingle(unit, start, hi(values[0]), lo(values[0])));
        return;
    }
    QByteArray data;
    for (uint16_t v : values)
        data.append(char(hi(v))).append(char(lo(v)));
    transact(ModbusRequest::writeMultiple(unit, start, static_cast<uint8_t>(data.size()), data));
}

QString GatewayClient::readFirmware()
{
    const QByteArray frame = transact(ModbusRequest::readDeviceId(m_session->exchange().settings().unit, 2));
    return firmwareText(CheckReply(frame, ReplyReporting::FirmwareVersion)).trimmed();
}

GatewayInfo GatewayClient::readInfo()
{
    GatewayInfo info;
    const uint8_t unit = m_session->exchange().settings().unit;
    for (int step = 7; step <= 13; ++step) {
        const std::optional<StepRequest> r = settingsStepRequest(step);
        const QByteArray frame = transact(ModbusRequest::readHolding(unit, r->address, r->count));
        const SettingsStepResult result = decodeSettingsStep(step, frame);
        const QByteArray d = replyDataBytes(result.check);
        auto need = [&](int n) {
            if (d.size() < n)
                throw GatewayError(GatewayError::NoAnswer,
                                   QStringLiteral("short reply for register %1").arg(r->address));
        };
        auto octets = [&](std::array<uint8_t, 4> &out) {
            need(4);
            for (int i = 0; i < 4; ++i)
                out[size_t(i)] = uint8_t(d.at(i));
        };
        switch (step) {
        case 7:
            octets(info.ip);
            break;
        case 8:
            octets(info.gateway);
            break;
        case 9:
            octets(info.mask);
            break;
        case 10:
            need(4);
            info.tcpIdleMs = quint32(uint8_t(d.at(0))) << 24 | quint32(uint8_t(d.at(1))) << 16 |
                             quint32(uint8_t(d.at(2))) << 8 | quint32(uint8_t(d.at(3)));
            break;
        case 11:
            need(2);
            info.flags = uint8_t(d.at(1));
            break;
        case 12:
            need(2);
            info.iecLine = uint8_t(d.at(1));
            break;
        case 13:
            need(2);
            info.readoutMinutes = int(uint8_t(d.at(0))) << 8 | uint8_t(d.at(1));
            break;
        }
    }
    info.firmware = readFirmware();
    return info;
}

void GatewayClient::readMeterTable(MeterTable &table, bool sixteen, bool longObis, int first, int last,
                                   const std::function<void(int)> &progress)
{
    const uint8_t unit = m_session->exchange().settings().unit;
    const int digits = sixteen ? 16 : 8;
    last = qMin(last, sixteen ? 30 : 32);
    const QByteArray ids =
        transact(ModbusRequest::readHolding(unit, MeterIdBase, sixteen ? MeterIdCount16 : MeterIdCount8));
    const MeterIdsReply idReply = DecodeMeterIds(ids, digits);
    for (int s = first; s <= last; ++s) {
        table.setId(s, s - 1 < idReply.ids.size() ? idReply.ids.at(s - 1) : QString());
        if (progress)
            progress(s);
        const QByteArray list =
            transact(ModbusRequest::readHolding(unit, obisListAddress(s), ObisListRegisters));
        const RegisterEntriesReply r = DecodeRegisterList(list, longObis);
        for (int row = 1; row <= ObisListRows; ++row)
            table.setCode(s, row, row - 1 < r.texts.size() ? r.texts.at(row - 1) : QString());
    }
}

void GatewayClient::writeMeterSlot(const MeterTable &table, int slot, bool sixteen, bool longObis)
{
    const uint8_t unit = m_session->exchange().settings().unit;
    const int digits = sixteen ? 16 : 8;
    transact(ModbusRequest::writeMultiple(unit, meterIdAddress(slot, sixteen), uint8_t(digits / 2),
                                          EncodeMeterId(table.id(slot), digits)));
    QByteArray entries;
    for (int r = 1; r <= ObisListRows; ++r)
        entries += EncodeRegisterEntry(table.code(slot, r), longObis);
    transact(ModbusRequest::writeMultiple(unit, obisListAddress(slot), 2 * ObisListRegisters, entries));
}

QVector<std::optional<qint64>> GatewayClient::readValues(int slot, bool sixtyFourBit)
{
    const uint8_t unit = m_session->exchange().settings().unit;
    const QByteArray frame =
        transact(ModbusRequest::readInput(unit, slotValueAddress(slot), wholeSlotRegisters(sixtyFourBit)));
    return decodeValues(replyDataBytes(frame), sixtyFourBit);
}

void GatewayClient::writeFlag(int bit, bool set)
{
    transact(ModbusRequest::writeSingle(m_session->exchange().settings().unit, DeviceRegister::Flags, 0,
                                        flagCommandValue(bit + 1, set)));
}

void GatewayClient::writeReadoutMinutes(int minutes)
{
    transact(ModbusRequest::writeSingle(m_session->exchange().settings().unit, DeviceRegister::ReadoutMinutes,
                                        hi(minutes), lo(minutes)));
}

void GatewayClient::writeIecLine(uint8_t line)
{
    transact(
        ModbusRequest::writeSingle(m_session->exchange().settings().unit, DeviceRegister::IecLine, 0, line));
}

void GatewayClient::writeNetwork(const GatewayInfo &info)
{
    const uint8_t unit = m_session->exchange().settings().unit;
    const std::pair<int, const std::array<uint8_t, 4> *> blocks[] = {{DeviceRegister::IpAddress, &info.ip},
                                                                     {DeviceRegister::Gateway, &info.gateway},
                                                                     {DeviceRegister::Mask, &info.mask}};
    for (const auto &[address, octets] : blocks)
        transact(ModbusRequest::writeMultiple(unit, address, 4,
                                              QByteArray(reinterpret_cast<const char *>(octets->data()), 4)));
    QByteArray idle;
    for (int shift = 24; shift >= 0; shift -= 8)
        idle.append(char((info.tcpIdleMs >> shift) & 0xFF));
    transact(ModbusRequest::writeMultiple(unit, DeviceRegister::TcpIdle, 4, idle));
}

void GatewayClient::writeUnitAddress(int unit)
{
    const int before = m_session->exchange().settings().unit;
    const ModbusRequest write =
        ModbusRequest::writeSingle(uint8_t(before), DeviceRegister::UnitAddress, 0, lo(unit));
    try {
        transact(write);
    } catch (const GatewayError &e) {
        if (e.kind() != GatewayError::NoAnswer || m_cancelled || !m_session->linkOpen() || m_retryLimit == 0)
            throw;
        // The reply is lost, the write may have arrived: the gateway says
        // where it listens now.  Sent again only where it still answers at
        // the old address.
        setUnit(unit);
        if (answersAtUnit())
            return;
        setUnit(before);
        if (!answersAtUnit())
            throw;
        ++m_retries;
        emit retrying(e.message(), 1, 1);
        if (!m_owned)
            m_session->log(QStringLiteral("%1: the gateway still answers at unit %2, sent again")
                               .arg(e.message())
                               .arg(before));
        bool lost = false;
        transactOnce(write, lost);
    }
    setUnit(unit);
}

bool GatewayClient::answersAtUnit()
{
    try {
        readRegisters(false, DeviceRegister::Flags, 1);
        return true;
    } catch (const GatewayError &e) {
        if (e.kind() == GatewayError::Cancelled)
            throw;
        return e.kind() == GatewayError::Exception;
    }
}

GatewayJob::GatewayJob(GatewayClient &client, Runner runner, QObject *parent)
    : QObject(parent), m_client(client), m_runner(std::move(runner))
{}

void GatewayJob::start()
{
    QTimer::singleShot(0, this, &GatewayJob::run);
}

void GatewayJob::cancel()
{
    m_client.cancel();
}

void GatewayJob::run()
{
    // The window's auto-read must not slip its requests between the job's.
    const Exchange::Hold hold(m_client.session().exchange());
    try {
        m_runner(m_client, *this);
        m_ok = true;
    } catch (const GatewayError &e) {
        m_kind = e.kind();
        m_error = e.message();
    } catch (const QvxError &e) {
        m_kind = GatewayError::NoAnswer;
        m_error = e.message();
    } catch (const std::exception &e) {
        // Nothing may escape into the event loop that started the job.
        m_kind = GatewayError::NoAnswer;
        m_error = QString::fromLocal8Bit(e.what());
    }
    emit finished(m_ok, m_error);
}

void GatewayJob::runSync(GatewayClient &client, const Runner &runner)
{
    GatewayJob job(client, runner);
    QEventLoop loop;
    connect(&job, &GatewayJob::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    if (!job.ok())
        throw GatewayError(*job.errorKind(), job.error());
}

} // namespace qvx
