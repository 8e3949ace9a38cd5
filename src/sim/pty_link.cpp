#include "sim/pty_link.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace qvxsim {

namespace {
QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
} // namespace

PtyChannel::PtyChannel(const QString &name, QObject *parent) : ByteChannel(parent), name_(name) {}

PtyChannel::~PtyChannel()
{
    close();
}

bool PtyChannel::open(const QString &symlinkPath, QString *error)
{
    close();
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        close();
        return false;
    };
    char name[256] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        return fail(QStringLiteral("openpty: ") + errnoText());
    // The slave side stays open here too: without it the master would read
    // EIO between two clients, and whatever a client left set is reset by
    // the next one that opens the port.
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    slavePath_ = QString::fromLocal8Bit(name);
    if (!symlinkPath.isEmpty()) {
        const QFileInfo info(symlinkPath);
        if (info.isSymLink()) {
            ::unlink(QFile::encodeName(symlinkPath).constData());
        } else if (info.exists()) {
            return fail(QStringLiteral("%1 exists and is not a symbolic link").arg(symlinkPath));
        }
        if (::symlink(name, QFile::encodeName(symlinkPath).constData()) != 0)
            return fail(QStringLiteral("cannot create %1: %2").arg(symlinkPath, errnoText()));
        symlink_ = symlinkPath;
    }
    readNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, &PtyChannel::onReadable);
    writeNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_.get(), &QSocketNotifier::activated, this, &PtyChannel::flush);
    return true;
}

void PtyChannel::close()
{
    readNotifier_.reset();
    writeNotifier_.reset();
    if (!symlink_.isEmpty()) {
        // Only our own link: another simulator may have taken the path over.
        const QByteArray path = QFile::encodeName(symlink_);
        char target[256] = {};
        const ssize_t n = ::readlink(path.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, n) == slavePath_)
            ::unlink(path.constData());
        symlink_.clear();
    }
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
    pending_.clear();
}

void PtyChannel::onReadable()
{
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            if (requiredBaud_ && clientBaud() != requiredBaud_())
                continue;
            emit received(QByteArray(buf, n));
            if (master_ < 0)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return; // EAGAIN: all read
    }
}

void PtyChannel::write(const QByteArray &bytes)
{
    if (master_ < 0)
        return;
    pending_.append(bytes);
    flush();
}

void PtyChannel::flush()
{
    while (!pending_.isEmpty()) {
        const ssize_t n = ::write(master_, pending_.constData(), size_t(pending_.size()));
        if (n > 0) {
            pending_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    // Nobody reads the terminal: keep at most a few replies' worth.
    if (pending_.size() > 65536)
        pending_ = pending_.right(65536);
    if (writeNotifier_)
        writeNotifier_->setEnabled(!pending_.isEmpty());
}

int PtyChannel::clientBaud() const
{
    struct termios t {};
    if (master_ < 0 || ::tcgetattr(master_, &t) != 0)
        return 0;
    struct Rate {
        speed_t code;
        int baud;
    };
    static const Rate rates[] = {{B300, 300},     {B600, 600},       {B1200, 1200},    {B2400, 2400},
                                 {B4800, 4800},   {B9600, 9600},     {B19200, 19200},  {B38400, 38400},
                                 {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    const speed_t code = ::cfgetospeed(&t);
    for (const Rate &r : rates)
        if (r.code == code)
            return r.baud;
    return 0;
}

} // namespace qvxsim
