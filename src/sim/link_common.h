// What every link of the simulator shares: its options (fault switches,
// pacing, the frame monitor), the transmitter that puts replies on the wire
// with pauses and at a line's pace, and the byte channel a serial-style link
// runs over.
#pragma once

#include "sim/device.h"
#include "sim/faults.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace qvxsim {

// Called for every frame received ("RX") and every piece sent ("TX").
using FrameMonitor =
    std::function<void(const QString &link, const QString &direction, const QByteArray &bytes)>;

struct LinkOptions {
    Faults faults;
    // Serial links: every reply byte at the line's pace (TCP is never paced).
    bool pace = false;
    FrameMonitor monitor;
};

// Sends queued chunks in order: each after its pause, byte by byte at
// charTimeUs per character when paced, at once otherwise.  Timer driven, so
// the event loop keeps running while a reply trickles out.
class Transmitter : public QObject {
    Q_OBJECT
public:
    using WriteFn = std::function<void(const QByteArray &)>;
    explicit Transmitter(WriteFn write, QObject *parent = nullptr);

    void send(const QList<Chunk> &chunks, qint64 charTimeUs);
    bool busy() const { return !queue_.isEmpty(); }
    void clear();

signals:
    // One chunk has been handed to the write function completely.
    void chunkSent(const QByteArray &bytes);
    // Everything queued has been handed to the write function.
    void idle();

private:
    void pump();

    struct Item {
        int pauseMs;
        QByteArray bytes;
        qint64 charTimeUs;
    };
    WriteFn write_;
    QList<Item> queue_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool pauseDone_ = false;
    bool started_ = false;
    qsizetype sent_ = 0;
};

// A byte pipe with a serial line behind it (a pseudo-terminal or a port).
class ByteChannel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void write(const QByteArray &bytes) = 0;
    // A port switches to new line settings; a pseudo-terminal has none.
    virtual void applyLine(const LineSettings &) {}
    // The rate the client at the other end has set, where the channel can
    // tell (a pseudo-terminal: the master side reflects the terminal's
    // settings); 0 when it cannot.
    virtual int clientBaud() const { return 0; }
    virtual QString name() const = 0;

signals:
    void received(const QByteArray &bytes);
};

} // namespace qvxsim
