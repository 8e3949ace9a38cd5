#include "transport/comm2.h"

#include "app/errors.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace qvx {

Comm2::Comm2(QObject *parent)
    : QObject(parent), m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, [this] {
        const qint64 n = m_port->bytesAvailable();
        if (n > 0)
            emit rxChar(static_cast<int>(qMin<qint64>(n, INT32_MAX)));
    });
    // Line errors (parity, framing) are cleared and not reported.
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError && e != QSerialPort::ResourceError)
            m_port->clearError();
    });
}

Comm2::~Comm2() { close(); }

bool Comm2::testOpen()
{
    QSerialPort probe;
    probe.setPortName(m_path);
    if (!probe.open(QIODevice::ReadWrite))
        return false;
    probe.close();
    return true;
}

void Comm2::open()
{
    if (m_port->isOpen())
        return;
    m_port->setPortName(m_path);
    if (!QFileInfo::exists(m_path))
        throw QvxError(QStringLiteral("Specified device not found (%1).").arg(m_path));
    auto fail = [this](const QString &step) {
        const QString reason = m_port->errorString();
        const int code = static_cast<int>(m_port->error());
        if (m_port->isOpen())
            m_port->close();
        throw QvxError(QStringLiteral("Can't open specified device %1 (Error %2, %3)")
                           .arg(m_path)
                           .arg(code)
                           .arg(step.isEmpty() ? reason : step + QStringLiteral(": ") + reason));
    };
    if (!m_port->open(QIODevice::ReadWrite))
        fail(QString());
    if (!m_port->setBaudRate(m_settings.baudRate))
        fail(QStringLiteral("baud rate"));
    if (!m_port->setParity(m_settings.parity))
        fail(QStringLiteral("parity"));
    if (!m_port->setDataBits(m_settings.dataBits))
        fail(QStringLiteral("data bits"));
    if (!m_port->setStopBits(m_settings.stopBits))
        fail(QStringLiteral("stop bits"));
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->setReadBufferSize(0);
    // DTR and RTS are held inactive; a port without these lines just says so.
    m_port->setDataTerminalReady(false);
    m_port->setRequestToSend(false);
    m_port->clearError();
}

void Comm2::close()
{
    if (m_port->isOpen())
        m_port->close();
}

bool Comm2::isOpen() const { return m_port->isOpen(); }

void Comm2::blockWrite(const QByteArray &bytes)
{
    if (!writeText(bytes))
        throw QvxError(QStringLiteral("Output buffer is full. Please check comm status."));
}

bool Comm2::writeText(const QByteArray &text)
{
    if (!m_port->isOpen())
        return true;
    if (m_port->bytesToWrite() + text.size() > TransmitQueueSize) {
        QDeadlineTimer deadline(1000);
        while (m_port->bytesToWrite() + text.size() > TransmitQueueSize && !deadline.hasExpired()) {
            if (!m_port->waitForBytesWritten(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
                break;
        }
        if (m_port->bytesToWrite() + text.size() > TransmitQueueSize)
            return false;
    }
    return m_port->write(text) == text.size();
}

void Comm2::setRts(bool on)
{
    if (!m_port->isOpen())
        return;
    errno = 0;
    if (m_port->setRequestToSend(on))
        return;
    const int err = errno;
    if (m_port->error() == QSerialPort::UnsupportedOperationError || err == ENOTTY || err == EINVAL) {
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
    m_port->clear(QSerialPort::AllDirections);
    // clear() drops the driver's queues; bytes QSerialPort already read into
    // its own buffer are dropped here as well.
    m_port->readAll();
}

QByteArray Comm2::read(qint64 count)
{
    if (!m_port->isOpen())
        return {};
    return m_port->read(count);
}

qint64 Comm2::bytesWaiting() const { return m_port->isOpen() ? m_port->bytesAvailable() : 0; }

} // namespace qvx
