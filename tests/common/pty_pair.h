// A real pseudo-terminal pair for link tests.  The program opens the
// terminal side by its path (slavePath()) as it would a serial port; the test
// talks through the other side (the peer).  Open a fresh pair in every test:
// a pty keeps its line settings and buffered bytes between users.
//
// The peer side is put in raw mode at once (no echo, no line editing, no
// CR/LF translation) so bytes pass unchanged in both directions.  The pair
// also keeps the terminal side open itself, so the line stays up while the
// program closes and reopens the port: the peer never sees a hang-up, and
// bytes it writes meanwhile wait for the next open.
//
// Reads and writes never block the test: they poll the peer and keep the Qt
// event loop turning meanwhile, because the program's serial writes only
// leave QSerialPort's queue from the event loop.
//
// Things a Linux pty does that a UART does not: the modem-line ioctls (RTS,
// DTR, TIOCMGET) fail with ENOTTY; tcsetattr() refuses even parity (PARENB
// without PARODD) and 7 data bits with EINVAL, while it keeps PARODD, CMSPAR
// and CSTOPB as given but clears PARENB; the speed is stored and can be read
// back with termios().
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace qvxtest {

class PtyPair {
public:
    PtyPair()
    {
        char name[256] = {};
        if (::openpty(&m_peer, &m_terminal, name, nullptr, nullptr) != 0) {
            m_peer = m_terminal = -1;
            return;
        }
        m_path = QString::fromLocal8Bit(name);
        termios t{};
        ::tcgetattr(m_peer, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_peer, TCSANOW, &t);
        ::fcntl(m_peer, F_SETFL, ::fcntl(m_peer, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair()
    {
        if (m_terminal >= 0)
            ::close(m_terminal);
        if (m_peer >= 0)
            ::close(m_peer);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_peer >= 0; }
    // The device path the program opens, e.g. "/dev/pts/3".
    QString slavePath() const { return m_path; }
    int peerFd() const { return m_peer; }

    // The terminal side's current line settings (speed, c_cflag bits).
    termios termiosNow() const
    {
        termios t{};
        ::tcgetattr(m_peer, &t);
        return t;
    }

    // Writes all bytes from the peer; false when they could not all be
    // written before the deadline.
    bool write(const QByteArray &bytes, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_peer, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (deadline.hasExpired())
                return false;
            turn(POLLOUT);
        }
        return true;
    }

    // Reads from the peer until count bytes have come or the deadline passes;
    // returns what came.
    QByteArray read(qsizetype count, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        QByteArray got;
        for (;;) {
            got += readAvailable(count - got.size());
            if (got.size() >= count || deadline.hasExpired())
                return got;
            turn(POLLIN);
        }
    }

    // Whatever the peer can read now, at most max bytes (all when max < 0).
    QByteArray readAvailable(qsizetype max = -1)
    {
        QByteArray got;
        char buf[4096];
        while (max < 0 || got.size() < max) {
            const size_t want =
                max < 0 ? sizeof buf : size_t(qMin<qsizetype>(qsizetype(sizeof buf), max - got.size()));
            const ssize_t n = ::read(m_peer, buf, want);
            if (n <= 0)
                break; // EAGAIN: nothing now; EIO: the terminal side is closed
            got.append(buf, n);
        }
        return got;
    }

private:
    // One short turn of the event loop and of the peer's poll.
    void turn(short events)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{m_peer, events, 0};
        ::poll(&p, 1, 5);
    }

    int m_peer = -1;
    int m_terminal = -1;
    QString m_path;
};

} // namespace qvxtest
