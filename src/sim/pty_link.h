// A pseudo-terminal that plays a serial line: the simulator holds the master
// side, a client (the tool, mbpoll, pymodbus) opens the slave device, which
// can also be reached through a symbolic link such as /tmp/ttyQVX.
#pragma once

#include "sim/link_common.h"
#include "sim/rtu_server.h"

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace qvxsim {

class PtyChannel : public ByteChannel {
    Q_OBJECT
public:
    explicit PtyChannel(const QString &name = QStringLiteral("pty"), QObject *parent = nullptr);
    ~PtyChannel() override;

    // Creates the pair (raw mode) and, when symlinkPath is not empty, a
    // symbolic link to the slave device.  A stale symbolic link at that path
    // is replaced; any other file there is an error.
    bool open(const QString &symlinkPath, QString *error);
    // Removes the symbolic link (if it still points at this terminal) and
    // closes the pair.  Also done by the destructor.
    void close();

    QString slavePath() const { return slavePath_; }
    QString symlinkPath() const { return symlink_; }
    // When set, bytes arrive only while the client's baud rate (as the
    // master side sees it) is the one this returns: a line at another rate
    // hears noise, not frames.  Parity and data bits cannot be matched: the
    // Linux pty refuses even parity and 7 data bits.
    void setRequiredBaud(std::function<int()> baud) { requiredBaud_ = std::move(baud); }
    void write(const QByteArray &bytes) override;
    // The client's baud rate (as the master side sees it), 0 when it cannot
    // be read.
    int clientBaud() const override;
    QString name() const override
    {
        return symlink_.isEmpty() ? name_ + QLatin1Char(' ') + slavePath_
                                  : name_ + QLatin1Char(' ') + symlink_;
    }

private:
    void onReadable();
    void flush();

    QString name_;
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QString symlink_;
    QByteArray pending_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    std::function<int()> requiredBaud_;
};

// Modbus RTU served on a fresh pseudo-terminal.
class PtyLink : public QObject {
    Q_OBJECT
public:
    PtyLink(Device &device, const LinkOptions &options = {}, QObject *parent = nullptr);

    bool open(const QString &symlinkPath = QString());
    void close() { channel_.close(); }
    QString slavePath() const { return channel_.slavePath(); }
    QString symlinkPath() const { return channel_.symlinkPath(); }
    QString errorString() const { return error_; }
    RtuServer &server() { return server_; }
    // Answers only a client at the device's own RTU rate.
    void matchBaud(Device &device);

private:
    PtyChannel channel_;
    RtuServer server_;
    QString error_;
};

} // namespace qvxsim
