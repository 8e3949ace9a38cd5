#include "transport/comm2.h"

#include "core/errors.h"
#include "transport/port_device.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <cerrno>
#include <chrono>
#ifndef Q_OS_WIN
#include <QFile>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qvx {

namespace {
// Microseconds since the epoch, for the traffic taps.
qint64 tapClockUsec()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
} // namespace

Comm2::Comm2(QObject *parent) : QObject(parent), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, [this] {
        const qint64 n = m_port->bytesAvailable();
        if (n > 0)
            emit rxChar(static_cast<int>(qMin<qint64>(n, INT32_MAX)));
    });
    // Line errors (parity, framing) never reach the program: the port is
    // opened with IGNPAR, so the driver drops such bytes and QSerialPort
    // reports none.  A device that goes away is handled in onPortError; other
    // errors are read where an operation checks them.
    connect(m_port, &QSerialPort::errorOccurred, this, &Comm2::onPortError);
}

bool isDeviceLossError(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

LinkErrorKind serialErrorKind(QSerialPort::SerialPortError error, int systemError)
{
    if (const LinkErrorKind k = serialSystemErrorKind(systemError); k != LinkErrorKind::Unknown)
        return k;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return LinkErrorKind::PortNotFound;
    case QSerialPort::PermissionError:
        // Qt says so for a lock file held by another program as well; the
        // system's number (above) tells a refusal apart.
        return systemError == 0 ? LinkErrorKind::PortBusy : LinkErrorKind::PortPermissionDenied;
    case QSerialPort::OpenError:
        return LinkErrorKind::PortOpenFailed;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        return LinkErrorKind::PortLost;
    default:
        return LinkErrorKind::Unknown;
    }
}

void Comm2::onPortError(QSerialPort::SerialPortError error)
{
    if (m_opening || m_lossPending || !m_port->isOpen() || !isDeviceLossError(error))
        return;
    // A hung-up line stays readable for ever: every read fails at once and the
    // notifier fires again, a busy loop that would burn a whole core.  Stop
    // reading by releasing the device, and let the program close its side of
    // the link.  The release waits for the next turn of the event loop: this
    // runs inside the port's own notifier, which closing would delete.
    m_lossPending = true;
    // Whatever the system calls it ("Inappropriate ioctl for device" for a
    // hung-up pty), the operator hears what happened first.
    const QString reason = plainLinkError(LinkErrorKind::PortLost, m_port->errorString(), QString());
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (!m_lossPending)
                return; // closed (and perhaps reopened) meanwhile
            m_lossPending = false;
            close();
            emit deviceLost(reason);
        },
        Qt::QueuedConnection);
}

Comm2::~Comm2()
{
    // Nobody hears a closing from the destructor: the owner that listens
    // may be half gone already.
    blockSignals(true);
    close();
}

namespace {

// The system's error number when this user may not open the device for
// reading and writing, 0 when the system lets it (busy or not).
int deviceAccessError(const QString &path)
{
#ifdef Q_OS_WIN
    (void)path;
    return 0;
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
#endif
}

} // namespace

PortOpenFailure Comm2::probeOpen()
{
    QSerialPort probe;
    probe.setPortName(m_path);
    m_probeError = 0;
    if (probe.open(QIODevice::ReadWrite)) {
        probe.close();
        return PortOpenFailure::None;
    }
    // Qt reports a busy device and a refused one alike; ask the system which.
    m_probeError = deviceAccessError(m_path);
    const PortOpenFailure failure = portOpenFailure(m_probeError);
    return failure == PortOpenFailure::None ? PortOpenFailure::InUse : failure;
}

void Comm2::failOpen(int err)
{
    // The error number and the words as the operator can act on them, the
    // system's own text after them.
    const QString reason =
        plainLinkError(serialErrorKind(m_port->error(), err), m_port->errorString(), QString());
    const int code = err != 0 ? err : static_cast<int>(m_port->error());
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
    m_virtualLine = false;
    throw QvxError(
        QStringLiteral("Can't open specified device %1 (Error %2, %3)").arg(m_path).arg(code).arg(reason));
}

bool Comm2::hasModemLines()
{
    m_port->clearError();
    m_port->pinoutSignals();
    // A pty answers the modem-status ioctl with ENOTTY: QSerialPort says
    // "unsupported" on Linux, while Wine, which maps a pty as a COM port,
    // passes it on as "request not supported", which Qt knows by no name.
    // A real port always tells its lines, so any failure means there are none.
    const bool has = m_port->error() == QSerialPort::NoError;
    m_port->clearError();
    return has;
}

void Comm2::open()
{
    if (m_port->isOpen())
        return;
    if (!serialDeviceMayExist(m_path))
        throw QvxError(QStringLiteral("Specified device not found (%1).").arg(m_path));
    m_port->setPortName(m_path);
    // QSerialPort applies its stored settings while opening.  Start from ones
    // every tty accepts, so that settings kept from an earlier device (7 data
    // bits on a real UART, say) cannot fail the open of a pty.
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->clearError();
    m_opening = true;
    struct OpeningDone {
        bool &flag;
        ~OpeningDone() { flag = false; }
    } openingDone{m_opening};
    errno = 0;
    if (!m_port->open(QIODevice::ReadWrite))
        failOpen(errno);
    m_virtualLine = !hasModemLines();

    if (const int err = applySettings(m_settings); err != 0)
        failOpen(err > 0 ? err : 0);
    // Every byte is kept until the receive handler takes it.
    m_port->setReadBufferSize(0);
    // DTR and RTS are held inactive; a port without these lines just says so.
    m_port->setDataTerminalReady(false);
    m_port->setRequestToSend(false);
    m_port->clearError();
    emit lineInUseChanged();
}

int Comm2::applySettings(const LineSettings &s)
{
    // errno is taken right after the failing call: Qt keeps it, but anything
    // later may not.
    auto apply = [this](auto setter) {
        errno = 0;
        if (setter())
            return 0;
        const int err = errno;
        if (m_virtualLine && m_port->error() == QSerialPort::UnsupportedOperationError) {
            m_port->clearError();
            return 0;
        }
        return err != 0 ? err : -1;
    };
    int err = apply([&] { return m_port->setBaudRate(s.baudRate); });
    if (err == 0)
        err = apply([&] { return m_port->setParity(s.parity); });
    if (err == 0)
        err = apply([&] { return m_port->setDataBits(s.dataBits); });
    if (err == 0)
        err = apply([&] { return m_port->setStopBits(s.stopBits); });
    if (err == 0)
        err = apply([&] { return m_port->setFlowControl(QSerialPort::NoFlowControl); });
    if (err == 0 && !(m_active == s)) {
        m_active = s;
        emit lineInUseChanged();
    }
    return err;
}

bool Comm2::applyLine(const LineSettings &s)
{
    if (!m_port->isOpen())
        return false;
    const int err = applySettings(s);
    m_port->clearError();
    return err == 0;
}

void Comm2::close()
{
    m_lossPending = false;
    const bool wasOpen = m_port->isOpen();
    if (wasOpen)
        m_port->close();
    m_port->clearError();
    m_virtualLine = false;
    if (wasOpen)
        emit lineInUseChanged();
}

bool Comm2::isOpen() const
{
    return m_port->isOpen();
}

void Comm2::blockWrite(const QByteArray &bytes)
{
    if (!writeText(bytes))
        throw QvxError(QStringLiteral("Output buffer is full. Please check comm status."));
}

bool Comm2::writeText(const QByteArray &text)
{
    if (!m_port->isOpen())
        return true;
    auto fits = [&] { return m_port->bytesToWrite() + text.size() <= TransmitQueueSize; };
    if (!fits()) {
        // waitForBytesWritten() hands queued bytes to the driver as it can take
        // them; it returns false at once when nothing is queued (a block larger
        // than the whole queue can never fit) or on a line failure.
        QDeadlineTimer deadline(FullQueueWaitMs);
        while (!fits() && !deadline.hasExpired()) {
            if (!m_port->waitForBytesWritten(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
                break;
        }
        if (!fits())
            return false;
    }
    const qint64 written = m_port->write(text);
    if (written > 0)
        emit bytesWrittenTap(text.left(written), tapClockUsec());
    return written == text.size();
}

void Comm2::setRts(bool on)
{
    if (!m_port->isOpen())
        return;
    m_port->clearError();
    errno = 0;
    if (m_port->setRequestToSend(on))
        return;
    const int err = errno;
    // A pty answers the modem-line ioctls with ENOTTY, which QSerialPort
    // reports as an unsupported operation (under Wine as another error, see
    // hasModemLines): there is no line to key.
    if (m_virtualLine || m_port->error() == QSerialPort::UnsupportedOperationError) {
        m_port->clearError();
        return;
    }
    const QString text = m_port->errorString();
    m_port->clearError();
    throw QvxError(QStringLiteral("Error calling comm function (%1), %2").arg(err).arg(text));
}

void Comm2::purge()
{
    if (!m_port->isOpen())
        return;
    // clear() drops the driver's queues and QSerialPort's own write queue;
    // bytes it already took from the driver are dropped here as well.
    m_port->clear(QSerialPort::AllDirections);
    if (const QByteArray dropped = m_port->readAll(); !dropped.isEmpty())
        emit bytesReadTap(dropped, tapClockUsec());
}

QByteArray Comm2::read(qint64 count)
{
    if (!m_port->isOpen())
        return {};
    const QByteArray chunk = m_port->read(count);
    if (!chunk.isEmpty())
        emit bytesReadTap(chunk, tapClockUsec());
    return chunk;
}

qint64 Comm2::bytesWaiting() const
{
    return m_port->isOpen() ? m_port->bytesAvailable() : 0;
}

QStringList Comm2::systemPortNames()
{
    QStringList names;
#ifdef Q_OS_WIN
    static const QRegularExpression standard(QStringLiteral("^COM([1-9]|1[0-9]|20)$"));
#else
    static const QRegularExpression standard(QStringLiteral("^ttyS([0-9]|1[0-9])$"));
#endif
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
        if (!name.isEmpty() && !standard.match(name).hasMatch() && !names.contains(name))
            names << name;
    }
#ifndef Q_OS_WIN
    // Names that survive re-plugging an adapter into another socket.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const QStringList ids =
        byId.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &id : ids)
        names << byId.filePath(id);
#endif
    return names;
}

Comm2::LineSettings lineSettingsFromTexts(const QString &speed, const QString &parity,
                                          const QString &dataBits, const QString &stopBits)
{
    Comm2::LineSettings s;
    s.baudRate = 19200;
    for (qint32 rate : StandardBaudRates) {
        if (speed == QString::number(rate))
            s.baudRate = rate;
    }
    if (parity == QLatin1String("None"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("Odd"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("Mark"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("Space"))
        s.parity = QSerialPort::SpaceParity;
    else
        s.parity = QSerialPort::EvenParity;
    s.dataBits = dataBits == QLatin1String("7") ? QSerialPort::Data7 : QSerialPort::Data8;
    s.stopBits = stopBits == QLatin1String("2") ? QSerialPort::TwoStop : QSerialPort::OneStop;
    return s;
}

QString serialStatusText(const QString &name, const QString &speed, const QString &dataBits,
                         const QString &parity, const QString &devicePath, const Comm2::LineSettings &inUse)
{
    const Comm2::LineSettings boxes = lineSettingsFromTexts(speed, parity, dataBits, QString());
    const QString nameText = serialDevicePath(name) == devicePath ? name : devicePath;
    const QString speedText = boxes.baudRate == inUse.baudRate ? speed : QString::number(inUse.baudRate);
    const QString bitsText =
        boxes.dataBits == inUse.dataBits ? dataBits : QString::number(int(inUse.dataBits));
    QString parityText = parity;
    if (boxes.parity != inUse.parity) {
        switch (inUse.parity) {
        case QSerialPort::NoParity:
            parityText = QStringLiteral("None");
            break;
        case QSerialPort::OddParity:
            parityText = QStringLiteral("Odd");
            break;
        case QSerialPort::MarkParity:
            parityText = QStringLiteral("Mark");
            break;
        case QSerialPort::SpaceParity:
            parityText = QStringLiteral("Space");
            break;
        default:
            parityText = QStringLiteral("Even");
            break;
        }
    }
    return nameText + QStringLiteral(" - ") + speedText + QLatin1Char(',') + bitsText + QLatin1Char(',') +
           parityText;
}

} // namespace qvx
