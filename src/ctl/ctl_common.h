// What every qvxctl command shares: exit statuses, usage errors, the
// interrupt flag, standard output and error, the parsed options, and the
// input and output file rules.
#pragma once

#include "gateway/gateway_format.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <atomic>

namespace qvx::ctl {

enum Exit { ExitOk = 0, ExitGateway = 1, ExitUsage = 2, ExitLink = 3 };

struct UsageError {
    QString message;
};

extern std::atomic<bool> g_interrupted;

// Ctrl+C only raises a flag; the running request sees it at its next check.
void installInterruptHandler();
bool stderrIsTerminal();
void out(const QString &line);
void err(const QString &line);
// "15 min 46 s", "12 s".
QString durationText(qint64 ms);
QString compact(const QJsonObject &o);
// Difference lines as objects: what, gateway and the file's value under
// otherKey ("profile" or "file").
QJsonArray differencesJson(const QStringList &lines, const char *otherKey);

struct Options {
    GatewayLink link;
    bool timeoutGiven = false;
    bool json = false;
    // The form of a written file (meters read -o): JSON or the meter data
    // file.  As --json, except in a target's run, where --json is the
    // result line's form and this the form the whole run was asked for.
    bool fileJson = false;
    // The command is checked for --targets: its output names a pattern,
    // whose files are checked one by one.
    bool targetsCheck = false;
    bool verbose = false;
    bool quiet = false;
    // Sends of a request whose reply was lost or broken, after the first.
    int retries = 2;
    bool echo = false;
    QStringList args; // command and its arguments
    QCommandLineParser *parser = nullptr;
};

int intOption(const QCommandLineParser &p, const QString &name, qint64 min, qint64 max, int fallback);
int intArg(const QString &text, const QString &what, qint64 min, qint64 max);
int addressArg(const QString &text);

// A profile, meter data or targets file is some ten KB; a megabyte is far
// beyond any real one and still little to hold.
constexpr qint64 MaxInputBytes = 1024 * 1024;

// Reads a whole input file, refusing what is not a regular file (a device
// never ends, a pipe may never answer) and what is beyond MaxInputBytes.
QByteArray readFileOrThrow(const QString &path);
// Checks, before anything is sent, that path can be written: the temporary
// file a save writes beside it is made and dropped again.
void checkWritable(const QString &path);
// Writes bytes to path whole, through a temporary file renamed over it: a
// full disk, a size limit or a kill leaves the old file as it was.
void writeWholeFile(const QString &path, const QByteArray &bytes);
// One usage error naming every problem, each line as qvxctl's own.
UsageError refused(const QString &path, const QStringList &problems);
// "1, 3-5, 9".
QString slotListText(const QVector<int> &slotNums);

} // namespace qvx::ctl
