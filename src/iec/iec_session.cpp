#include "iec/iec_session.h"

#include "iec/iec_protocol.h"
#include "transport/modbus.h"

namespace qvx {
namespace {

QString parityName(QSerialPort::Parity p)
{
    switch (p) {
    case QSerialPort::EvenParity:
        return QStringLiteral("even parity");
    case QSerialPort::OddParity:
        return QStringLiteral("odd parity");
    case QSerialPort::NoParity:
        return QStringLiteral("no parity");
    default:
        return QStringLiteral("mark or space parity");
    }
}

QString hex2(uint8_t v)
{
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

int bitsPerChar(const Comm2::LineSettings &s)
{
    return 1 + int(s.dataBits) + (s.parity == QSerialPort::NoParity ? 0 : 1) +
           (s.stopBits == QSerialPort::TwoStop ? 2 : 1);
}

} // namespace

IecReadoutRun::IecReadoutRun(Comm2 &comm, QObject *parent) : QObject(parent), m_comm(comm), m_commAlive(&comm)
{
    for (QTimer *t : {&m_quiet, &m_max, &m_pause}) {
        t->setSingleShot(true);
        t->setTimerType(Qt::PreciseTimer);
    }
    m_tick.setInterval(1000);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        finish(Outcome::Quiet, QStringLiteral("Readout ended: no data for %1 s (%2 bytes)")
                                   .arg(m_options.inactivityMs / 1000.0)
                                   .arg(m_capture.size()));
    });
    connect(&m_max, &QTimer::timeout, this, [this] {
        finish(Outcome::MaxTime, QStringLiteral("Readout ended: %1 s elapsed without the end of the "
                                                "message (%2 bytes)")
                                     .arg(m_options.maxMs / 1000)
                                     .arg(m_capture.size()));
    });
    connect(&m_tick, &QTimer::timeout, this, [this] { emit progress(m_capture.size(), elapsedSeconds()); });
    connect(&m_pause, &QTimer::timeout, this, &IecReadoutRun::switchRate);
}

IecReadoutRun::~IecReadoutRun()
{
    // The port must not stay at a rate of a readout that is gone.
    if (m_started && m_commAlive)
        restoreLine();
}

QByteArray IecReadoutRun::signOnRequest(const QString &address)
{
    return "/?" + address.toLatin1() + "!\r\n";
}

int IecReadoutRun::elapsedSeconds() const
{
    return m_clock.isValid() ? static_cast<int>(m_clock.elapsed() / 1000) : 0;
}

void IecReadoutRun::start(const Options &options)
{
    // A new sign-on inside a run starts over; the owner's capture goes on, so
    // the old run ends without a word.
    if (running()) {
        halt();
        restoreLine();
    }
    m_options = options;
    if (m_options.listenOnly) {
        m_options.untilEnd = true;
        m_options.acknowledge = false;
        m_options.start300 = false;
    }
    m_capture.clear();
    m_acked = false;
    m_framingChecked = false;
    m_etxSeen = false;
    m_endSeen = false;
    m_switchBaud = 0;
    m_outcome = Outcome::Running;
    m_started = true;
    if (m_options.listenOnly) {
        // A meter that sends by itself needs no sign-on; the first byte may
        // be a whole period away, so quiet counts only once it has come.
        m_comm.purge();
        emit logLine(QStringLiteral("Listening: no sign-on sent"));
        m_clock.start();
        m_max.start(m_options.maxMs);
        m_tick.start();
        emit progress(0, 0);
        return;
    }
    const bool verbose = options.acknowledge || options.start300;
    if (options.start300) {
        Comm2::LineSettings s = m_comm.lineSettings();
        s.baudRate = 300;
        s.dataBits = QSerialPort::Data7;
        s.parity = QSerialPort::EvenParity;
        s.stopBits = QSerialPort::OneStop;
        m_comm.applyLine(s);
        emit logLine(QStringLiteral("Sign-on at 300 baud, 7 data bits, even parity"));
    }
    m_comm.purge();
    const QByteArray request = signOnRequest(options.address);
    try {
        m_comm.blockWrite(request);
    } catch (...) {
        // Nothing went out: no run, and the port back at its own rate.
        m_outcome = Outcome::Stopped;
        restoreLine();
        throw;
    }
    if (verbose)
        emit logLine(QStringLiteral("Sign-on sent: ") +
                     QString::fromLatin1(request.left(request.size() - 2)));
    m_clock.start();
    if (options.untilEnd) {
        m_quiet.start(options.inactivityMs);
        m_max.start(options.maxMs);
    }
    m_tick.start();
    emit progress(0, 0);
}

void IecReadoutRun::feed(const QByteArray &bytes)
{
    if (!running() || bytes.isEmpty())
        return;
    m_capture += bytes;
    if (m_options.untilEnd)
        m_quiet.start(m_options.inactivityMs);
    if (m_options.acknowledge && !m_acked)
        checkIdentification();
    if (!m_framingChecked && m_capture.size() >= 64)
        checkFraming(false);
    if (m_options.listenOnly) {
        checkTelegramEnd(bytes);
        return;
    }
    if (!m_options.untilEnd)
        return;
    // Only a new ETX, or the byte after one, can complete the message: the
    // capture is not searched again for every byte of a long readout.
    if (!m_etxSeen && !bytes.contains(IecEtx))
        return;
    m_etxSeen = true;
    const IecMessageEnd end = FindIecMessageEnd(m_capture);
    if (!end.complete)
        return;
    if (end.bccOk())
        finish(Outcome::BccOk, QStringLiteral("Readout complete: %1 bytes, BCC OK").arg(m_capture.size()));
    else
        finish(Outcome::BccError,
               QStringLiteral("Readout complete: %1 bytes, BCC error (computed %2, received %3)")
                   .arg(m_capture.size())
                   .arg(hex2(end.computed), hex2(end.received)));
}

void IecReadoutRun::checkTelegramEnd(const QByteArray &bytes)
{
    // Nothing can end before a "!" or an ETX has come; after one, each piece
    // may complete the telegram (its line feed, its BCC).
    if (!m_endSeen && !bytes.contains('!') && !bytes.contains(IecEtx))
        return;
    m_endSeen = true;
    const IecTelegramEnd end = FindIecTelegramEnd(m_capture);
    if (!end.complete)
        return;
    const QString done = QStringLiteral("Telegram complete: %1 bytes").arg(m_capture.size());
    if (end.dataMessage) {
        if (end.message.bccOk())
            finish(Outcome::BccOk, done + QStringLiteral(", BCC OK"));
        else
            finish(Outcome::BccError, done + QStringLiteral(", BCC error (computed %1, received %2)")
                                                 .arg(hex2(end.message.computed), hex2(end.message.received)));
    } else if (!end.crc) {
        finish(Outcome::TelegramEnd, done);
    } else {
        finish(end.crc->ok() ? Outcome::CrcOk : Outcome::CrcError,
               done + QStringLiteral(", ") + IecP1CrcText(*end.crc));
    }
}

void IecReadoutRun::checkIdentification()
{
    const IecIdentification id = FindIecIdentification(m_capture);
    if (!id.found)
        return;
    m_acked = true;
    emit logLine(QStringLiteral("Identification: ") + QString::fromLatin1(id.line));
    if (id.modeCBaud == 0) {
        emit logLine(QStringLiteral("No acknowledgement sent: the identification announces no mode C rate "
                                    "(baud character '%1')")
                         .arg(QLatin1Char(id.baudChar)));
        return;
    }
    const QByteArray ack = IecAckForReadout(id.baudChar);
    // This runs inside a receive event: a full output queue is reported,
    // not raised through it.
    if (!m_comm.writeText(ack)) {
        emit logLine(
            QStringLiteral("Acknowledgement not sent: output buffer is full. Please check comm status."));
        return;
    }
    emit logLine(QStringLiteral("Acknowledgement sent: %1(data readout at %2 baud)")
                     .arg(hexBytes(ack))
                     .arg(id.modeCBaud));
    m_switchBaud = id.modeCBaud;
    const Comm2::LineSettings now = m_comm.activeLine();
    m_pause.start(IecAckPauseMs(now.baudRate, bitsPerChar(now)));
}

void IecReadoutRun::switchRate()
{
    if (!running() || m_switchBaud == 0)
        return;
    Comm2::LineSettings s = m_comm.activeLine();
    s.baudRate = m_switchBaud;
    if (m_comm.applyLine(s))
        emit logLine(QStringLiteral("Port switched to %1 baud").arg(m_switchBaud));
    else
        emit logLine(QStringLiteral("Port could not be switched to %1 baud").arg(m_switchBaud));
}

void IecReadoutRun::checkFraming(bool atEnd)
{
    const Comm2::LineSettings s = m_comm.activeLine();
    const auto hint = IecFramingCheck(m_capture, int(s.dataBits), s.parity != QSerialPort::NoParity);
    if (hint) {
        m_framingChecked = true;
        emit logLine(hint->message);
    } else if (atEnd || m_capture.size() >= 1024) {
        m_framingChecked = true;
    }
}

void IecReadoutRun::stop()
{
    if (!running())
        return;
    finish(Outcome::Stopped, QString());
}

void IecReadoutRun::restoreLine()
{
    m_started = false;
    if (!(m_comm.activeLine() == m_comm.lineSettings()) && m_comm.isOpen()) {
        m_comm.applyLine(m_comm.lineSettings());
        emit logLine(QStringLiteral("Port back at %1 baud, %2 data bits, %3")
                         .arg(m_comm.lineSettings().baudRate)
                         .arg(int(m_comm.lineSettings().dataBits))
                         .arg(parityName(m_comm.lineSettings().parity)));
    }
}

void IecReadoutRun::halt()
{
    m_quiet.stop();
    m_max.stop();
    m_tick.stop();
    m_pause.stop();
}

void IecReadoutRun::finish(Outcome outcome, const QString &line)
{
    halt();
    m_outcome = outcome;
    if (!m_framingChecked)
        checkFraming(true);
    if (!line.isEmpty())
        emit logLine(line);
    restoreLine();
    emit progress(m_capture.size(), elapsedSeconds());
    emit finished(outcome);
}

} // namespace qvx
