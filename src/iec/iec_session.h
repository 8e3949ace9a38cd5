// One IEC 62056-21 readout on a serial port, without widgets, so that the
// readout tab and the command-line tool run the same steps: the sign-on
// (optionally at 300 baud 7E1, as an optical probe needs), in mode C the
// acknowledgement and the switch to the announced rate, and the capture until
// the message is complete (ETX and its block check character), until the
// line has been quiet for a while, or until a maximum time.  Afterwards the
// port runs at its own settings again.
//
// The owner delivers the received bytes with feed(): the window's session
// reads the port and hands them on, a command-line tool reads them itself.
#pragma once

#include "transport/comm2.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace qvx {

class IecReadoutRun : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString address;
        // Capture until the message is complete, the line is quiet for
        // inactivityMs, or maxMs have passed.  Otherwise the owner ends the
        // run with stop() (the tab's ten-second window).
        bool untilEnd = false;
        int inactivityMs = 3000;
        int maxMs = 5 * 60 * 1000;
        // Mode C: acknowledge the identification line and switch to its rate.
        bool acknowledge = false;
        // Send the sign-on at 300 baud, 7 data bits, even parity.
        bool start300 = false;
        // Send nothing (no sign-on, no acknowledgement; start300 and
        // acknowledge do not apply) and capture at the port's own settings
        // until the end of a telegram (FindIecTelegramEnd), inactivityMs of
        // quiet after its first byte, or maxMs: untilEnd is implied, and the
        // wait for the first byte is bounded by maxMs alone.
        bool listenOnly = false;
    };

    // TelegramEnd, CrcOk and CrcError end a listen without an STX: a telegram
    // without CRC digits after its "!", with a CRC that holds, or one that
    // does not.  A listened telegram with an STX ends in BccOk or BccError.
    enum class Outcome { Running, BccOk, BccError, Quiet, MaxTime, Stopped, TelegramEnd, CrcOk, CrcError };

    explicit IecReadoutRun(Comm2 &comm, QObject *parent = nullptr);
    ~IecReadoutRun() override;

    // The sign-on request for a meter address: "/?" address "!" CR LF.
    static QByteArray signOnRequest(const QString &address);

    // Starts a run on the open port: purges it, sets the start rate, writes
    // the sign-on.  A run already going is ended first (its rate undone,
    // without finished()).
    // The port's write errors propagate.
    void start(const Options &options);
    // The bytes of one receive event.
    void feed(const QByteArray &bytes);
    // Ends the run now (the port goes back to its settings); nothing when idle.
    void stop();

    bool running() const { return m_outcome == Outcome::Running && m_started; }
    Outcome outcome() const { return m_outcome; }
    const QByteArray &capture() const { return m_capture; }
    int elapsedSeconds() const;

signals:
    // A step or the end, as one log line.
    void logLine(const QString &line);
    // Once a second and at every end: bytes received, seconds elapsed.
    void progress(qint64 bytes, int seconds);
    void finished(IecReadoutRun::Outcome outcome);

private:
    void finish(Outcome outcome, const QString &line);
    void halt();
    void checkIdentification();
    void switchRate();
    void checkFraming(bool atEnd);
    void checkTelegramEnd(const QByteArray &bytes);
    void restoreLine();

    Comm2 &m_comm;
    // Cleared when the port goes first (the window's Session is destroyed
    // before the tabs that hold a run).
    QPointer<Comm2> m_commAlive;
    Options m_options;
    QByteArray m_capture;
    Outcome m_outcome = Outcome::Stopped;
    bool m_started = false;
    bool m_acked = false;
    bool m_framingChecked = false;
    bool m_etxSeen = false;
    bool m_endSeen = false; // listening: a "!" or ETX has arrived
    int m_switchBaud = 0;
    QElapsedTimer m_clock;
    QTimer m_quiet;
    QTimer m_max;
    QTimer m_tick;
    QTimer m_pause;
};

} // namespace qvx
