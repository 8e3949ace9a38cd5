// qvxctl: the gateway from the command line.  One command on one gateway, or
// on every target of a target file.  Every encoding and decoder is the
// window's own (through the gateway runners), so both always agree.
#include "core/errors.h"
#include "core/input_text.h"
#include "ctl/iec_rows.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"
#include "iec/iec_lines.h"
#include "iec/iec_parse.h"
#include "iec/iec_protocol.h"
#include "iec/iec_session.h"
#include "iec/obis.h"
#include "meters/meter_codec.h"
#include "meters/meter_data_file.h"
#include "meters/meter_file_check.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace qvx;

namespace {

enum Exit { ExitOk = 0, ExitGateway = 1, ExitUsage = 2, ExitLink = 3 };

struct UsageError {
    QString message;
};

std::atomic<bool> g_interrupted{false};

// Ctrl+C only raises a flag; the running request sees it at its next check.
void installInterruptHandler()
{
    std::signal(SIGINT, [](int) { g_interrupted = true; });
#ifdef SIGTERM
    std::signal(SIGTERM, [](int) { g_interrupted = true; });
#endif
#ifdef SIGXFSZ
    // A file size limit then fails the write (and the old file stays) instead
    // of killing the program with a temporary file half written.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return isatty(STDERR_FILENO);
#else
    return false;
#endif
}

void out(const QString &line)
{
    const QByteArray b = line.toLocal8Bit() + '\n';
    fwrite(b.constData(), 1, size_t(b.size()), stdout);
    fflush(stdout);
}

void err(const QString &line)
{
    const QByteArray b = line.toLocal8Bit() + '\n';
    fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

// "15 min 46 s", "12 s".
QString durationText(qint64 ms)
{
    const qint64 sec = (qMax<qint64>(0, ms) + 999) / 1000;
    return sec >= 60 ? QStringLiteral("%1 min %2 s").arg(sec / 60).arg(sec % 60)
                     : QStringLiteral("%1 s").arg(sec);
}

QString compact(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// Difference lines as objects: what, gateway and the file's value under
// otherKey ("profile" or "file").
QJsonArray differencesJson(const QStringList &lines, const char *otherKey)
{
    QJsonArray a;
    for (const QString &l : lines)
        a.append(differenceToJson(l, QLatin1String(otherKey)));
    return a;
}

const char *const Help = R"(Commands:
  scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]
                         find gateways (serial: rates, parities and units; TCP: units)
  read holding|input START COUNT
                         read 1..126 registers
  write START VALUE...   write registers (one: function 6, several: function 16)
  info                   the settings readout and the firmware identification
  meters read [--slot N] [-o FILE] [--id-digits 8|16] [--long-obis on|off]
                         the meter table, as a meter data file (or JSON)
  meters write FILE [--slot N | --all] [--dry-run]
                         program the slots the file holds (a meter data or JSON
                         file) and read them back; --all: every slot, empty ones
                         erased; --dry-run: list the writes, send nothing
  meters diff FILE       what differs between the gateway and the file's slots (exit 1)
  values SLOT [--64bit] [--every SECONDS] [--count N]
                         the slot's collected values with a time stamp
  profile save FILE      settings and meter table to a profile (qvx-profile/1)
  profile diff FILE      what differs between the gateway and the profile
  profile apply FILE [--with-address] [--with-network] [--with-line]
                         write what differs, then read everything back
  iec readout ADDRESS [--until-end] [--mode-c] [--start-300] [--json|--csv] [-o FILE]
                         read a meter directly over IEC 62056-21 (serial only)
  iec listen [--json|--csv] [-o FILE]
                         capture a telegram a meter sends by itself (serial only)

Many gateways: --targets FILE runs the command on every target, one a line as
LINK options ("--tcp 10.0.0.5 --unit 3"), optionally "--name NAME", # comments;
-j N at once; results in the file's order with the reason of each failure.
One link a line; the same gateway twice is refused (--allow-duplicates runs
them one after the other).  An output file is then a pattern with {name},
{host}, {port}, {unit} (-o 'tables/{name}.txt'); two targets never write one
file.  Without --name a target is named by its link: 10.0.0.5-502-u3.

Files: FILE and the targets file must be regular files of at most 1 MiB.
Every output is written whole (a temporary file, then renamed) or not at all,
and it is checked to be writable before the first request.

Files are checked whole before the first request: a meter ID, OBIS code, line
or profile field the gateway could not take as written is named (by line or
field) and the file is refused with exit status 2.

A request whose reply was lost or broken is sent again (--retries N, 2 by default):
reads and writes of register values, never a command such as "Reset".  --echo: the
serial adapter hands back what it sends; the echo is dropped from each reply.

Exit status: 0 done; 1 a gateway did not answer, answered with an exception or
failed a read-back or diff; 2 usage error or refused file; 3 the link could not
be opened.
)";

struct CommandHelp {
    const char *name;
    const char *text;
};
const CommandHelp CommandHelps[] = {
    {"scan", "qvxctl [LINK] scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]\n"
             "Finds gateways.  Serial: first the likely units (1, --unit, 247, 2-10) at every rate\n"
             "(most likely first) and parity, then the other units at the rates where the line\n"
             "showed activity, then at the rest; stops at the first gateway unless --all.  Each\n"
             "probe waits the wire time plus --timeout (50 ms by default for scan).  A find counts\n"
             "once the device identification is answered too; other traffic on the line is\n"
             "reported as such.  A line for each rate, parity and pass with the time left goes\n"
             "to standard error.  TCP: sweeps the units, likely ones first.\n"},
    {"read", "qvxctl [LINK] read holding|input START COUNT\nReads COUNT (1..126) registers from START.\n"},
    {"write",
     "qvxctl [LINK] write START VALUE...\nWrites values (decimal or 0x-hex) from START: one with function "
     "6, several with 16.\n"},
    {"info",
     "qvxctl [LINK] info\nReads the settings (IPv4 block, TCP idle time, flags, IEC line, readout period)\n"
     "and the firmware identification.\n"},
    {"meters", "qvxctl [LINK] meters read [--slot N] [-o FILE] [--id-digits 8|16] [--long-obis on|off]\n"
               "qvxctl [LINK] meters write FILE [--slot N | --all] [--dry-run]\n"
               "qvxctl [LINK] meters diff FILE [--slot N]\n"
               "The meter table as a meter data file (the window's format) or JSON.  A file holds\n"
               "the slots it gives an ID; an empty block (or entry) is not part of it, so write\n"
               "and diff touch only the slots the file holds and name them.  --all writes every\n"
               "slot, the empty ones erased; --dry-run lists the writes and sends nothing.\n"
               "The file is checked before the first write: a line that is not as the format\n"
               "says, an ID that is not 8 or 16 digits and F (as the gateway's flag says), an\n"
               "OBIS code the gateway would not store as written, or text that is not Latin-1\n"
               "is named by its line and the file is refused (exit 2).  Without --id-digits\n"
               "and --long-obis the gateway's flag register is read first for its formats.  Output\n"
               "FILE is written whole or not at all; with --targets -o is a pattern ({name},\n"
               "{host}, {port}, {unit}).\n"},
    {"values", "qvxctl [LINK] values SLOT [--64bit] [--every SECONDS] [--count N]\n"
               "The slot's collected values; with --every one reading per period until --count or Ctrl+C.\n"},
    {"profile", "qvxctl [LINK] profile save|diff FILE\nqvxctl [LINK] profile apply FILE [--with-address] "
                "[--with-network] [--with-line]\n"
                "A gateway profile is one JSON file (\"format\": \"qvx-profile/1\").  Every field is\n"
                "checked against what the gateway takes (readout_minutes 1..1440, unit 1..247,\n"
                "the nine rates, IDs and OBIS codes by the profile's own flags) before the first\n"
                "request; each offending field is named and the file refused (exit 2).  Only the\n"
                "slots the profile lists with an ID are compared and written.  The unit address\n"
                "(--with-address) and the RTU line (--with-line, \"rtu\") are written last and\n"
                "the tool follows them on a serial link.  A profile is at most 1 MiB; save writes it\n"
                "whole or not at all, with --targets FILE is a pattern as for -o.\n"},
    {"iec", "qvxctl --serial PORT [--baud N] [--data-bits 7|8] [--parity P] iec readout ADDRESS\n"
            "        [--until-end] [--mode-c] [--start-300]\n"
            "Reads a meter on PORT: sends the sign-on for ADDRESS (\"\" for any meter) and captures\n"
            "the answer for 10 s, or with --until-end until ETX and the block check character, 3 s\n"
            "of silence or 5 minutes.  --mode-c acknowledges the identification line and switches\n"
            "to the rate it announces; --start-300 sends the sign-on at 300 baud 7E1.  The line is\n"
            "7 data bits with even parity unless --data-bits or --parity say otherwise.  Prints\n"
            "the answer as received, or with --json one row per data set (obis, address, value,\n"
            "unit as sent, unit_from_table, name, values: every group, line) and the check; --csv\n"
            "the same rows separated by \";\" (Latin-1, CR LF).  -o FILE writes the output whole.\n"
            "Steps go to standard error.  Exit 1 when the meter did not answer, the check failed\n"
            "or, with --until-end, the message did not end.\n"
            "qvxctl --serial PORT [--baud N] [--data-bits 7|8] [--parity P] iec listen [--json|--csv]\n"
            "Sends nothing: captures what a meter sends by itself (mode D, a P1 port) until the end\n"
            "of its telegram (ETX and BCC, or the \"!\" line, whose four hexadecimal digits are checked\n"
            "as a P1 CRC-16), 3 s of silence after its first byte or 5 minutes.  Exit 1 when no whole\n"
            "telegram came or its check failed.\n"},
};

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

int intOption(const QCommandLineParser &p, const QString &name, qint64 min, qint64 max, int fallback)
{
    if (!p.isSet(name))
        return fallback;
    const std::optional<qint64> v = parseNumber(p.value(name), min, max);
    if (!v)
        throw UsageError{QStringLiteral("--%1: must be %2..%3, not %4")
                             .arg(name)
                             .arg(min)
                             .arg(max)
                             .arg(quoteInput(p.value(name)))};
    return int(*v);
}

int intArg(const QString &text, const QString &what, qint64 min, qint64 max)
{
    const std::optional<qint64> v = parseNumber(text, min, max);
    if (!v)
        throw UsageError{
            QStringLiteral("%1: must be %2..%3, not %4").arg(what).arg(min).arg(max).arg(quoteInput(text))};
    return int(*v);
}

int addressArg(const QString &text)
{
    const std::optional<qint64> v = parseNumber(text, 0, 65535);
    if (!v)
        throw UsageError{
            QStringLiteral("START: %1 is not a register address (0..65535)").arg(cutInput(text))};
    return int(*v);
}

// A profile, meter data or targets file is some ten KB; a megabyte is far
// beyond any real one and still little to hold.
constexpr qint64 MaxInputBytes = 1024 * 1024;

// Reads a whole input file, refusing what is not a regular file (a device
// never ends, a pipe may never answer) and what is beyond MaxInputBytes.
QByteArray readFileOrThrow(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw UsageError{QStringLiteral("%1: no such file").arg(path)};
    if (!info.isFile())
        throw UsageError{QStringLiteral("%1: not a regular file (a folder, a device or a pipe)").arg(path)};
    auto tooBig = [&](qint64 size) {
        return UsageError{QStringLiteral("%1: %2 bytes; an input file is at most %3 bytes (1 MiB)")
                              .arg(path)
                              .arg(size)
                              .arg(MaxInputBytes)};
    };
    if (info.size() > MaxInputBytes)
        throw tooBig(info.size());
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw UsageError{QStringLiteral("%1: %2").arg(path, f.errorString())};
    // The file may have grown since it was looked at.
    const QByteArray bytes = f.read(MaxInputBytes + 1);
    if (bytes.size() > MaxInputBytes)
        throw tooBig(bytes.size());
    return bytes;
}

// Checks, before anything is sent, that path can be written: the temporary
// file a save writes beside it is made and dropped again.
void checkWritable(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        throw UsageError{QStringLiteral("%1: is a folder; give a file name").arg(path)};
    if (info.exists() && !info.isFile())
        throw UsageError{QStringLiteral("%1: not a regular file; a file is written whole and renamed over "
                                        "it, so give a file name (without -o the output goes to standard "
                                        "output)")
                             .arg(path)};
    if (!info.dir().exists())
        throw UsageError{QStringLiteral("%1: the folder %2 does not exist").arg(path, info.dir().path())};
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly))
        throw UsageError{QStringLiteral("%1: cannot be written: %2").arg(path, probe.errorString())};
    probe.cancelWriting();
}

// Writes bytes to path whole, through a temporary file renamed over it: a
// full disk, a size limit or a kill leaves the old file as it was.
void writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile f(path);
    // flush() before commit(): a write that fails only when the buffer goes
    // to the disk must not be committed.
    errno = 0;
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush() && f.commit())
        return;
    // A short write (a full disk, a file size limit) leaves Qt without a
    // message of its own; the system's is still there.
    const int code = errno;
    QString why = f.errorString();
    if ((why.isEmpty() || why == QLatin1String("Unknown error")) && code != 0)
        why = QString::fromLocal8Bit(std::strerror(code));
    f.cancelWriting();
    throw UsageError{QStringLiteral("%1: not written (%2); the file is as it was").arg(path, why)};
}

// A meter table from a meter data file or a JSON file of the same shape,
// checked before anything is sent: every line or entry the gateway could
// not take as written is named, and the file is refused.
struct MeterFile {
    MeterTable table;
    // The slots the file holds; an empty block or entry is not part of it.
    QVector<int> held;
    // A meter data file (problems by line) rather than JSON (by slot).
    bool dataFile = false;
    MeterFileCheck check;
    // 8 or 16 as the file's IDs say, 0 when they do not.
    int idDigits = 0;
    bool longCodes = false;
};

// The file's problems for a gateway of that format.
QStringList meterFileProblems(const MeterFile &f, int digits, bool longObis)
{
    return f.dataFile ? meterDataFormatProblems(f.check, digits, longObis)
                      : meterTableProblems(f.table, f.held, digits, longObis);
}

// One usage error naming every problem, each line as qvxctl's own.
UsageError refused(const QString &path, const QStringList &problems)
{
    QStringList lines;
    for (const QString &p : problems)
        lines << path + QStringLiteral(": ") + p;
    lines << path + QStringLiteral(": refused; nothing was sent");
    return UsageError{lines.join(QStringLiteral("\nqvxctl: "))};
}

MeterFile loadTableFile(const QString &path)
{
    const QByteArray bytes = readFileOrThrow(path);
    MeterFile f;
    if (bytes.trimmed().startsWith('{')) {
        QJsonParseError e;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &e);
        if (e.error != QJsonParseError::NoError)
            throw UsageError{
                QStringLiteral("%1: offset %2: %3").arg(path).arg(e.offset).arg(e.errorString())};
        const QStringList shape = meterTableFromJson(doc.object(), f.table, &f.held);
        if (!shape.isEmpty())
            throw refused(path, shape);
        QVector<int> lengths;
        for (int s : f.held) {
            if (!lengths.contains(int(f.table.id(s).size())))
                lengths << int(f.table.id(s).size());
            for (int r = 1; r <= ObisListRows; ++r)
                f.longCodes = f.longCodes || hasLongObisPrefix(f.table.code(s, r));
        }
        f.idDigits =
            lengths.size() == 1 && (lengths.first() == 8 || lengths.first() == 16) ? lengths.first() : 0;
    } else {
        f.dataFile = true;
        f.check = checkMeterDataFile(bytes);
        if (!f.check.ok())
            throw refused(path, f.check.problems);
        f.table = f.check.table;
        f.held = f.check.held;
        f.idDigits = f.check.idDigits;
        f.longCodes = f.check.longObisCodes;
    }
    // What no gateway format takes: the file's own IDs and codes say the
    // format (the gateway's is checked once it is known).
    const QStringList problems = meterFileProblems(f, f.idDigits ? f.idDigits : 8, f.longCodes);
    if (!problems.isEmpty())
        throw refused(path, problems);
    if (f.held.isEmpty())
        throw UsageError{QStringLiteral("%1: holds no slot (every block is empty)").arg(path)};
    return f;
}

// "1, 3-5, 9".
QString slotListText(const QVector<int> &slotNums)
{
    QStringList parts;
    for (qsizetype i = 0; i < slotNums.size();) {
        qsizetype j = i;
        while (j + 1 < slotNums.size() && slotNums[j + 1] == slotNums[j] + 1)
            ++j;
        parts << (j == i ? QString::number(slotNums[i])
                         : QStringLiteral("%1-%2").arg(slotNums[i]).arg(slotNums[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

class Runner {
public:
    Runner(Options &o, GatewayClient &c) : m_o(o), m_c(c) {}
    // Validates arguments and opens nothing; run() then does the work.
    void validate();
    int run();
    // The command sends nothing and needs no link (meters write --dry-run).
    bool offline() const { return m_dryRun; }

private:
    QString arg(int i) const { return i < m_o.args.size() ? m_o.args.at(i) : QString(); }
    void needArgs(int min, int max, const QString &usage)
    {
        if (m_o.args.size() < min || (max >= 0 && m_o.args.size() > max))
            throw UsageError{QStringLiteral("usage: qvxctl [LINK] ") + usage};
    }
    void info(const QString &line)
    {
        if (!m_o.quiet)
            err(line);
    }
    void flagsFor(bool &sixteen, bool &longObis);
    int readCmd();
    int writeCmd();
    int infoCmd();
    int metersCmd();
    int metersDryRun();
    // The slots meters write/diff take from the file for a gateway of
    // slotCount slots, with --slot and --all.
    QVector<int> metersSlots(int slotCount);
    int valuesCmd();
    int profileCmd();
    int scanCmd();
    // Progress: remembered for an interrupt's message, shown on a terminal.
    GatewayProgress tracker()
    {
        return [this](int done, int total, const QString &what) {
            m_step = what;
            if (!m_o.quiet && stderrIsTerminal() && total > 0)
                fprintf(stderr, "\r%d of %d: %s      ", done, total, qPrintable(what));
        };
    }

public:
    QString m_step;
    // The command's own summary counted the retries.
    bool m_retriesCounted = false;

private:
    Options &m_o;
    GatewayClient &m_c;
    // Checked before anything is sent.
    QVector<uint16_t> m_values;
    MeterFile m_file;
    bool m_dryRun = false;
    std::optional<GatewayProfile> m_profile;
};

void Runner::validate()
{
    const QCommandLineParser &p = *m_o.parser;
    if (m_o.args.isEmpty())
        throw UsageError{QStringLiteral("no command; see qvxctl --help")};
    const QString cmd = m_o.args.first();
    if (cmd == QLatin1String("read")) {
        needArgs(4, 4, QStringLiteral("read holding|input START COUNT"));
        if (arg(1) != QLatin1String("holding") && arg(1) != QLatin1String("input"))
            throw UsageError{QStringLiteral("read: %1 is not holding or input").arg(quoteInput(arg(1)))};
        const int start = addressArg(arg(2));
        const int count = intArg(arg(3), QStringLiteral("COUNT"), 1, 126);
        if (start + count > 65536)
            throw UsageError{QStringLiteral("read: START + COUNT beyond register 65535")};
    } else if (cmd == QLatin1String("write")) {
        needArgs(3, 126, QStringLiteral("write START VALUE..."));
        const int start = addressArg(arg(1));
        for (int i = 2; i < m_o.args.size(); ++i)
            m_values << uint16_t(intArg(arg(i), QStringLiteral("VALUE"), 0, 65535));
        if (start + m_values.size() > 65536)
            throw UsageError{QStringLiteral("write: values beyond register 65535")};
    } else if (cmd == QLatin1String("info")) {
        needArgs(1, 1, QStringLiteral("info"));
    } else if (cmd == QLatin1String("meters")) {
        const QString sub = arg(1);
        if (sub == QLatin1String("read")) {
            needArgs(2, 2, QStringLiteral("meters read [--slot N] [-o FILE]"));
            if (p.isSet(QStringLiteral("output")) && !m_o.targetsCheck)
                checkWritable(p.value(QStringLiteral("output")));
        } else if (sub == QLatin1String("write") || sub == QLatin1String("diff")) {
            needArgs(3, 3, QStringLiteral("meters %1 FILE").arg(sub));
            m_file = loadTableFile(arg(2));
        } else {
            throw UsageError{QStringLiteral("meters: %1 is not read, write or diff").arg(quoteInput(sub))};
        }
        const int slot = intOption(p, QStringLiteral("slot"), 1, 32, 0);
        intOption(p, QStringLiteral("id-digits"), 8, 16, 8);
        if (p.isSet(QStringLiteral("id-digits")) &&
            p.value(QStringLiteral("id-digits")) != QLatin1String("8") &&
            p.value(QStringLiteral("id-digits")) != QLatin1String("16"))
            throw UsageError{QStringLiteral("--id-digits: must be 8 or 16")};
        if (p.isSet(QStringLiteral("long-obis")) &&
            p.value(QStringLiteral("long-obis")) != QLatin1String("on") &&
            p.value(QStringLiteral("long-obis")) != QLatin1String("off"))
            throw UsageError{QStringLiteral("--long-obis: must be on or off")};
        // With 16-digit IDs the gateway has 30 slots: known before any request.
        if (slot > 30 && p.value(QStringLiteral("id-digits")) == QLatin1String("16"))
            throw UsageError{QStringLiteral("--slot: the gateway has 30 slots with 16-digit IDs")};
        const bool write = sub == QLatin1String("write");
        if (!write && (p.isSet(QStringLiteral("all")) || p.isSet(QStringLiteral("dry-run"))))
            throw UsageError{QStringLiteral("--all and --dry-run: for meters write only")};
        if (p.isSet(QStringLiteral("all")) && p.isSet(QStringLiteral("slot")))
            throw UsageError{QStringLiteral("--all and --slot: give one")};
        const int only = slot;
        if (only && sub != QLatin1String("read") && !m_file.held.contains(only))
            throw UsageError{QStringLiteral("%1: holds no slot %2 (it holds %3)")
                                 .arg(arg(2))
                                 .arg(only)
                                 .arg(slotListText(m_file.held))};
        // With the gateway's formats given, everything is checked here,
        // before the link opens.
        if (sub != QLatin1String("read") && p.isSet(QStringLiteral("id-digits")) &&
            p.isSet(QStringLiteral("long-obis"))) {
            const QStringList problems =
                meterFileProblems(m_file, p.value(QStringLiteral("id-digits")).toInt(),
                                  p.value(QStringLiteral("long-obis")) == QLatin1String("on"));
            if (!problems.isEmpty())
                throw refused(arg(2), problems);
        }
        m_dryRun = write && p.isSet(QStringLiteral("dry-run"));
    } else if (cmd == QLatin1String("values")) {
        needArgs(2, 2, QStringLiteral("values SLOT [--64bit] [--every SECONDS] [--count N]"));
        intArg(arg(1), QStringLiteral("SLOT"), 1, 32);
        intOption(p, QStringLiteral("every"), 1, 86400, 0);
        intOption(p, QStringLiteral("count"), 1, 1000000000, 0);
    } else if (cmd == QLatin1String("profile")) {
        const QString sub = arg(1);
        if (sub != QLatin1String("save") && sub != QLatin1String("diff") && sub != QLatin1String("apply"))
            throw UsageError{QStringLiteral("profile: %1 is not save, diff or apply").arg(quoteInput(sub))};
        needArgs(3, 3, QStringLiteral("profile %1 FILE").arg(sub));
        if (sub == QLatin1String("save") && !m_o.targetsCheck)
            checkWritable(arg(2));
        if (sub != QLatin1String("save")) {
            const ProfileParse r = parseProfile(readFileOrThrow(arg(2)));
            if (!r.profile)
                throw refused(arg(2), r.errors);
            m_profile = r.profile;
            if (p.isSet(QStringLiteral("with-line")) && !m_profile->rtu.known())
                throw UsageError{
                    QStringLiteral("%1: --with-line: the profile holds no RTU line (\"rtu\")").arg(arg(2))};
        }
    } else if (cmd == QLatin1String("scan")) {
        needArgs(1, 1, QStringLiteral("scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]"));
    } else {
        throw UsageError{QStringLiteral("unknown command %1; see qvxctl --help").arg(quoteInput(cmd))};
    }
    // Only meters read writes to -o; anywhere else it would be ignored.
    if (p.isSet(QStringLiteral("output")) &&
        !(cmd == QLatin1String("meters") && arg(1) == QLatin1String("read")))
        throw UsageError{QStringLiteral("-o: only meters read writes a file (profile save takes its FILE)")};
}

int Runner::run()
{
    const QString cmd = m_o.args.first();
    if (cmd == QLatin1String("read"))
        return readCmd();
    if (cmd == QLatin1String("write"))
        return writeCmd();
    if (cmd == QLatin1String("info"))
        return infoCmd();
    if (cmd == QLatin1String("meters"))
        return metersCmd();
    if (cmd == QLatin1String("values"))
        return valuesCmd();
    if (cmd == QLatin1String("profile"))
        return profileCmd();
    return scanCmd();
}

int Runner::readCmd()
{
    const bool input = arg(1) == QLatin1String("input");
    const int start = int(*parseNumber(arg(2), 0, 65535));
    const int count = int(*parseNumber(arg(3), 1, 126));
    const QVector<uint16_t> v = m_c.readRegisters(input, start, count);
    if (m_o.json) {
        QJsonArray regs;
        for (int i = 0; i < v.size(); ++i)
            regs.append(QJsonObject{{QStringLiteral("address"), start + i}, {QStringLiteral("value"), v[i]}});
        out(compact(QJsonObject{{QStringLiteral("registers"), regs}}));
    } else {
        for (int i = 0; i < v.size(); ++i)
            out(QStringLiteral("%1  %2  0x%3")
                    .arg(start + i, 5)
                    .arg(v[i], 5)
                    .arg(v[i], 4, 16, QLatin1Char('0'))
                    .toUpper()
                    .replace(QLatin1String("0X"), QLatin1String("0x")));
    }
    return ExitOk;
}

int Runner::writeCmd()
{
    const int start = int(*parseNumber(arg(1), 0, 65535));
    m_c.writeRegisters(start, m_values);
    if (m_o.json)
        out(compact(
            QJsonObject{{QStringLiteral("written"), m_values.size()}, {QStringLiteral("start"), start}}));
    else if (!m_o.quiet)
        out(QStringLiteral("wrote %1 register(s) from %2").arg(m_values.size()).arg(start));
    return ExitOk;
}

int Runner::infoCmd()
{
    const GatewayInfo i = m_c.readInfo();
    if (m_o.json)
        out(compact(infoToJson(i)));
    else
        for (const QString &l : infoLines(i))
            out(l);
    return ExitOk;
}

void Runner::flagsFor(bool &sixteen, bool &longObis)
{
    const QCommandLineParser &p = *m_o.parser;
    const bool digitsGiven = p.isSet(QStringLiteral("id-digits"));
    const bool longGiven = p.isSet(QStringLiteral("long-obis"));
    uint8_t flags = 0;
    if (!digitsGiven || !longGiven)
        flags = uint8_t(m_c.readRegisters(false, 7, 1).at(0) & 0xFF);
    sixteen = digitsGiven ? p.value(QStringLiteral("id-digits")) == QLatin1String("16") : flagSet(flags, 5);
    longObis = longGiven ? p.value(QStringLiteral("long-obis")) == QLatin1String("on") : flagSet(flags, 6);
}

QVector<int> Runner::metersSlots(int slotCount)
{
    const QCommandLineParser &p = *m_o.parser;
    const int only = intOption(p, QStringLiteral("slot"), 1, 32, 0);
    QVector<int> slotNums;
    if (p.isSet(QStringLiteral("all"))) {
        for (int s = 1; s <= slotCount; ++s)
            slotNums << s;
        return slotNums;
    }
    for (int s : m_file.held)
        if (!only || s == only)
            slotNums << s;
    return slotNums;
}

int Runner::metersDryRun()
{
    const QCommandLineParser &p = *m_o.parser;
    // Nothing is asked of the gateway: its formats come from the options,
    // else from the file.
    const bool sixteen = p.isSet(QStringLiteral("id-digits"))
                             ? p.value(QStringLiteral("id-digits")) == QLatin1String("16")
                             : m_file.idDigits == 16;
    const bool longObis = p.isSet(QStringLiteral("long-obis"))
                              ? p.value(QStringLiteral("long-obis")) == QLatin1String("on")
                              : m_file.longCodes;
    const QStringList problems = meterFileProblems(m_file, sixteen ? 16 : 8, longObis);
    if (!problems.isEmpty())
        throw refused(arg(2), problems);
    const int slotCount = sixteen ? 30 : 32;
    const QVector<int> slotNums = metersSlots(slotCount);
    QVector<int> erased, left;
    for (int s = 1; s <= slotCount; ++s)
        if (!slotNums.contains(s))
            left << s;
    QJsonArray requests;
    QStringList lines;
    const int digits = sixteen ? 16 : 8;
    for (int s : slotNums) {
        const bool empty = meterSlotEmpty(m_file.table, s);
        if (empty)
            erased << s;
        int codes = 0;
        for (int r = 1; r <= ObisListRows; ++r)
            codes += m_file.table.code(s, r).isEmpty() ? 0 : 1;
        const int idAt = meterIdAddress(s, sixteen), listAt = obisListAddress(s);
        const QString id = empty ? QStringLiteral("erased") : m_file.table.id(s);
        requests.append(
            QJsonObject{{QStringLiteral("function"), 16},
                        {QStringLiteral("start"), idAt},
                        {QStringLiteral("count"), digits / 4},
                        {QStringLiteral("what"), QStringLiteral("slot %1 id %2").arg(s).arg(id)}});
        requests.append(QJsonObject{
            {QStringLiteral("function"), 16},
            {QStringLiteral("start"), listAt},
            {QStringLiteral("count"), ObisListRegisters},
            {QStringLiteral("what"), QStringLiteral("slot %1 obis list, %2 code(s)").arg(s).arg(codes)}});
        lines << (empty ? QStringLiteral("slot %1: erase: ID to registers %2-%3, %4 empty rows to %5-%6")
                              .arg(s)
                              .arg(idAt)
                              .arg(idAt + digits / 4 - 1)
                              .arg(ObisListRows)
                              .arg(listAt)
                              .arg(listAt + ObisListRegisters - 1)
                        : QStringLiteral(
                              "slot %1: ID %2 to registers %3-%4, %5 code(s) and %6 empty rows to %7-%8")
                              .arg(s)
                              .arg(id)
                              .arg(idAt)
                              .arg(idAt + digits / 4 - 1)
                              .arg(codes)
                              .arg(ObisListRows - codes)
                              .arg(listAt)
                              .arg(listAt + ObisListRegisters - 1));
    }
    if (m_o.json) {
        out(compact(QJsonObject{{QStringLiteral("dry_run"), true},
                                {QStringLiteral("id_digits"), digits},
                                {QStringLiteral("long_obis"), longObis},
                                {QStringLiteral("slots"), int(slotNums.size())},
                                {QStringLiteral("erased"), int(erased.size())},
                                {QStringLiteral("requests"), requests}}));
        return ExitOk;
    }
    out(QStringLiteral("dry run, nothing sent: %1-digit IDs, long OBIS %2 (%3)")
            .arg(digits)
            .arg(longObis ? QStringLiteral("on") : QStringLiteral("off"))
            .arg(
                p.isSet(QStringLiteral("id-digits")) && p.isSet(QStringLiteral("long-obis"))
                    ? QStringLiteral("as given")
                    : QStringLiteral("as the file suggests; --id-digits and --long-obis say the gateway's")));
    for (const QString &l : lines)
        out(l);
    out(QStringLiteral("%1 write request(s) for %2 slot(s)%3, then the slots read back")
            .arg(requests.size())
            .arg(slotNums.size())
            .arg(erased.isEmpty() ? QString() : QStringLiteral(", %1 of them erased").arg(erased.size())));
    if (!left.isEmpty())
        out(QStringLiteral("slot(s) %1 not in the file: left as they are").arg(slotListText(left)));
    return ExitOk;
}

int Runner::metersCmd()
{
    const QCommandLineParser &p = *m_o.parser;
    const QString sub = arg(1);
    if (m_dryRun)
        return metersDryRun();
    bool sixteen = false, longObis = false;
    flagsFor(sixteen, longObis);
    const int slotCount = sixteen ? 30 : 32;
    const int only = intOption(p, QStringLiteral("slot"), 1, 32, 0);
    if (only > slotCount)
        throw UsageError{QStringLiteral("--slot: the gateway has %1 slots with 16-digit IDs").arg(slotCount)};
    const int first = only ? only : 1, last = only ? only : slotCount;
    auto progress = [&](int s) {
        if (!m_o.quiet && stderrIsTerminal())
            fprintf(stderr, "\rslot %d of %d", s, last);
    };
    if (sub == QLatin1String("read")) {
        MeterTable table;
        m_c.readMeterTable(table, sixteen, longObis, first, last, progress);
        if (!m_o.quiet && stderrIsTerminal())
            fprintf(stderr, "\n");
        const bool toFile = p.isSet(QStringLiteral("output"));
        const QByteArray doc =
            QJsonDocument(meterTableToJson(table, first, last)).toJson(QJsonDocument::Compact);
        if (toFile && m_o.fileJson) {
            writeWholeFile(p.value(QStringLiteral("output")), doc + '\n');
        } else if (toFile) {
            // The bytes "Save to file meter data" writes.
            writeWholeFile(p.value(QStringLiteral("output")), meterDataFileBytes(table));
        } else if (m_o.json) {
            out(QString::fromUtf8(doc));
        } else {
            const QByteArray b = meterDataFileBytes(table);
            fwrite(b.constData(), 1, size_t(b.size()), stdout);
        }
        return ExitOk;
    }
    // The gateway's formats are known now: the file is checked for them
    // before the first write (only the flag register was read).
    const QStringList problems = meterFileProblems(m_file, sixteen ? 16 : 8, longObis);
    if (!problems.isEmpty())
        throw refused(arg(2), problems);
    const QVector<int> slotNums = metersSlots(slotCount);
    QVector<int> erased, left;
    for (int s : slotNums)
        if (meterSlotEmpty(m_file.table, s))
            erased << s;
    for (int s = 1; s <= slotCount; ++s)
        if (!slotNums.contains(s))
            left << s;
    const bool write = sub == QLatin1String("write");
    const QStringList diffs =
        programMeterTable(m_c, m_file.table, slotNums, {sixteen, longObis}, write, tracker());
    if (!m_o.quiet && stderrIsTerminal())
        fprintf(stderr, "\n");
    if (m_o.json) {
        QJsonArray written, erasedJson;
        for (int s : slotNums)
            written.append(s);
        for (int s : erased)
            erasedJson.append(s);
        out(compact(QJsonObject{{QStringLiteral("slots"), int(slotNums.size())},
                                {write ? QStringLiteral("written") : QStringLiteral("compared"), written},
                                {QStringLiteral("erased"), erasedJson},
                                {QStringLiteral("differences"), differencesJson(diffs, "file")}}));
    } else {
        for (const QString &d : diffs)
            out(d);
        if (diffs.isEmpty() && !m_o.quiet) {
            if (write)
                out(QStringLiteral("%1 slot(s) written and read back: %2%3")
                        .arg(slotNums.size())
                        .arg(slotListText(slotNums))
                        .arg(erased.isEmpty() ? QString()
                                              : QStringLiteral(" (%1 erased: %2)")
                                                    .arg(erased.size())
                                                    .arg(slotListText(erased))));
            else
                out(QStringLiteral("no differences in slot(s) %1").arg(slotListText(slotNums)));
        }
        if (!left.isEmpty() && !m_o.quiet)
            out(QStringLiteral("slot(s) %1 not in the file: %2")
                    .arg(slotListText(left),
                         write ? QStringLiteral("left as they are") : QStringLiteral("not compared")));
    }
    if (!diffs.isEmpty() && write)
        throw GatewayError(GatewayError::Mismatch, QStringLiteral("read-back differs: ") + diffs.first());
    return diffs.isEmpty() ? ExitOk : ExitGateway;
}

int Runner::valuesCmd()
{
    const QCommandLineParser &p = *m_o.parser;
    const int slot = int(*parseNumber(arg(1), 1, 32));
    const bool wide = p.isSet(QStringLiteral("64bit"));
    const int every = intOption(p, QStringLiteral("every"), 1, 86400, 0);
    const int count = intOption(p, QStringLiteral("count"), 1, 1000000000, every ? 0 : 1);
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; count == 0 || n < count; ++n) {
        if (n > 0) {
            // Waits to the next period; Ctrl+C ends the wait.
            const qint64 due = qint64(n) * every * 1000;
            QEventLoop loop;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
                if (g_interrupted || clock.elapsed() >= due)
                    loop.quit();
            });
            tick.start(50);
            loop.exec();
            if (g_interrupted)
                break;
        }
        const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
        const QVector<std::optional<qint64>> v = m_c.readValues(slot, wide);
        if (m_o.json) {
            QJsonArray rows;
            for (int r = 0; r < v.size(); ++r)
                rows.append(QJsonObject{{QStringLiteral("row"), r + 1},
                                        {QStringLiteral("value"), v[r] ? QJsonValue(*v[r]) : QJsonValue()}});
            out(compact(QJsonObject{{QStringLiteral("time"), stamp},
                                    {QStringLiteral("slot"), slot},
                                    {QStringLiteral("values"), rows}}));
        } else {
            out(stamp + QStringLiteral("  slot %1").arg(slot));
            for (int r = 0; r < v.size(); ++r)
                out(QStringLiteral("  %1  %2")
                        .arg(r + 1, 2)
                        .arg(v[r] ? QString::number(*v[r]) : QStringLiteral("-")));
        }
    }
    return ExitOk;
}

int Runner::profileCmd()
{
    const QString sub = arg(1);
    const QCommandLineParser &p = *m_o.parser;
    if (sub == QLatin1String("save")) {
        const GatewayProfile prof = readGatewayProfile(m_c, tracker());
        writeWholeFile(arg(2), profileToJson(prof));
        if (m_o.json)
            out(compact(QJsonObject{{QStringLiteral("saved"), arg(2)}}));
        else if (!m_o.quiet)
            out(QStringLiteral("profile saved to ") + arg(2));
        return ExitOk;
    }
    const bool network = p.isSet(QStringLiteral("with-network"));
    const bool address = p.isSet(QStringLiteral("with-address"));
    const bool line = p.isSet(QStringLiteral("with-line"));
    const QVector<int> held = profileSlots(*m_profile);
    if (held.size() < (flagSet(m_profile->info.flags, 5) ? 30 : 32))
        info(QStringLiteral("the profile holds slot(s) %1; the others are left alone")
                 .arg(held.isEmpty() ? QStringLiteral("none") : slotListText(held)));
    if (sub == QLatin1String("diff")) {
        GatewayProfile file = *m_profile;
        const bool sixteen = flagSet(file.info.flags, 5), longObis = flagSet(file.info.flags, 6);
        normalizeMeterTable(file.table, held, sixteen, longObis);
        const GatewayProfile device = readGatewayProfile(m_c, tracker());
        const QStringList d = profileDifferences(device, file, network, address, line);
        if (m_o.json)
            out(compact(QJsonObject{{QStringLiteral("differences"), differencesJson(d, "profile")}}));
        else
            for (const QString &l : d)
                out(l);
        if (d.isEmpty() && !m_o.json && !m_o.quiet)
            out(QStringLiteral("no differences"));
        return d.isEmpty() ? ExitOk : ExitGateway;
    }
    const ProfileApplyResult applied =
        applyGatewayProfile(m_c, *m_profile, network, address, line, tracker());
    const int writes = applied.writes;
    const QStringList &d = applied.differences;
    m_retriesCounted = true;
    if (m_o.json)
        out(compact(QJsonObject{{QStringLiteral("writes"), writes},
                                {QStringLiteral("requests"), m_c.requests()},
                                {QStringLiteral("retries"), m_c.retries()},
                                {QStringLiteral("differences"), differencesJson(d, "profile")}}));
    else if (!m_o.quiet)
        out(QStringLiteral("%1 change(s) written, %2 request(s), %3 retried")
                .arg(writes)
                .arg(m_c.requests())
                .arg(m_c.retries()));
    if (!d.isEmpty())
        throw GatewayError(GatewayError::Mismatch,
                           QStringLiteral("read-back differs: ") + d.join(QStringLiteral("; ")));
    return ExitOk;
}

int Runner::scanCmd()
{
    const QCommandLineParser &p = *m_o.parser;
    int firstUnit = 1, lastUnit = 247;
    if (p.isSet(QStringLiteral("units"))) {
        const QStringList r = p.value(QStringLiteral("units")).split(QLatin1Char('-'));
        firstUnit = intArg(r.first(), QStringLiteral("--units"), 1, 247);
        lastUnit = r.size() == 2 ? intArg(r.last(), QStringLiteral("--units"), firstUnit, 247) : firstUnit;
        if (r.size() > 2)
            throw UsageError{
                QStringLiteral("--units: A-B, not %1").arg(quoteInput(p.value(QStringLiteral("units"))))};
    }
    QVector<int> bauds = scanBaudOrder();
    if (p.isSet(QStringLiteral("bauds"))) {
        bauds.clear();
        for (const QString &b : p.value(QStringLiteral("bauds")).split(QLatin1Char(',')))
            bauds << intArg(b, QStringLiteral("--bauds"), 300, 115200);
    }
    QStringList parities{QStringLiteral("even"), QStringLiteral("none"), QStringLiteral("odd")};
    if (p.isSet(QStringLiteral("parities"))) {
        parities = p.value(QStringLiteral("parities")).toLower().split(QLatin1Char(','));
        for (const QString &x : parities)
            if (x != QLatin1String("none") && x != QLatin1String("even") && x != QLatin1String("odd"))
                throw UsageError{
                    QStringLiteral("--parities: %1 is not none, even or odd").arg(quoteInput(x))};
    }
    const bool tcp = m_c.linkSettings().tcp;
    ScanPlan plan;
    plan.bauds = bauds;
    plan.parities = parities;
    plan.firstUnit = firstUnit;
    plan.lastUnit = lastUnit;
    plan.timeoutMs = m_o.timeoutGiven ? m_c.linkSettings().timeoutMs : 50;
    plan.all = p.isSet(QStringLiteral("all"));
    // --unit is tried among the likely units (1, it, 247, 2-10).
    plan.fieldUnit = m_c.linkSettings().unit;
    QElapsedTimer clock;
    clock.start();
    const bool terminal = !m_o.quiet && stderrIsTerminal();
    // A line for each rate, parity and pass, on a terminal or not (a full
    // sweep takes minutes); on a terminal also a counter for each probe.
    const ScanResult r = scanGateways(m_c, plan, [&](const ScanStep &s) {
        m_step = s.what;
        if (m_o.quiet)
            return;
        if (s.groupStart) {
            const QString where = tcp ? QStringLiteral("units")
                                      : QStringLiteral("%1 %2, units").arg(s.probe.baud).arg(s.probe.parity);
            const QString line = QStringLiteral("scan: %1 %2 (probe %3 of %4), about %5 left")
                                     .arg(where, scanUnitsText(s.units))
                                     .arg(s.done + 1)
                                     .arg(s.total)
                                     .arg(durationText(s.msLeft));
            err(terminal ? QStringLiteral("\r") + line.leftJustified(78) : line);
        }
        if (terminal)
            fprintf(stderr, "\r%d of %d: %s, about %s left      ", s.done + 1, s.total, qPrintable(s.what),
                    qPrintable(durationText(s.msLeft)));
    });
    const int n = r.probes;
    QJsonArray found;
    const QString port =
        tcp ? QStringLiteral("%1:%2").arg(m_c.linkSettings().host).arg(m_c.linkSettings().port)
            : m_c.linkSettings().serialPort;
    if (terminal)
        fprintf(stderr, "\n");
    for (const ScanHit &h : r.found) {
        found.append(QJsonObject{{QStringLiteral("port"), port},
                                 {QStringLiteral("baud"), tcp ? QJsonValue() : QJsonValue(h.baud)},
                                 {QStringLiteral("parity"), tcp ? QJsonValue() : QJsonValue(h.parity)},
                                 {QStringLiteral("unit"), h.unit},
                                 {QStringLiteral("firmware"), h.firmware}});
        if (!m_o.json)
            out(tcp ? QStringLiteral("found %1 unit %2  %3").arg(port).arg(h.unit).arg(h.firmware)
                    : QStringLiteral("found %1 %2 %3 unit %4  %5")
                          .arg(port)
                          .arg(h.baud)
                          .arg(h.parity)
                          .arg(h.unit)
                          .arg(h.firmware));
    }
    // What answered but was no gateway, and the traffic that answered no probe.
    QJsonArray unconfirmed, activity;
    for (const ScanCandidate &c : r.unconfirmed) {
        unconfirmed.append(QJsonObject{{QStringLiteral("baud"), tcp ? QJsonValue() : QJsonValue(c.baud)},
                                       {QStringLiteral("parity"), tcp ? QJsonValue() : QJsonValue(c.parity)},
                                       {QStringLiteral("unit"), c.unit},
                                       {QStringLiteral("reason"), c.reason}});
        info(tcp ? QStringLiteral("not counted: unit %1 %2").arg(c.unit).arg(c.reason)
                 : QStringLiteral("not counted: %1 %2 unit %3 %4")
                       .arg(c.baud)
                       .arg(c.parity)
                       .arg(c.unit)
                       .arg(c.reason));
    }
    QStringList traffic;
    for (auto it = r.activity.cbegin(); it != r.activity.cend(); ++it) {
        activity.append(QJsonObject{{QStringLiteral("baud"), tcp ? QJsonValue() : QJsonValue(it.key())},
                                    {QStringLiteral("bytes"), it.value()}});
        traffic << (tcp ? QStringLiteral("%1 bytes").arg(it.value())
                        : QStringLiteral("%1 bytes at %2").arg(it.value()).arg(it.key()));
    }
    if (!traffic.isEmpty())
        info(QStringLiteral("line traffic that answered no probe: ") + traffic.join(QStringLiteral(", ")));
    const double seconds = clock.elapsed() / 1000.0;
    if (m_o.json)
        out(compact(QJsonObject{{QStringLiteral("found"), found},
                                {QStringLiteral("probes"), n},
                                {QStringLiteral("retries"), m_c.retries()},
                                {QStringLiteral("unconfirmed"), unconfirmed},
                                {QStringLiteral("activity"), activity},
                                {QStringLiteral("seconds"), seconds}}));
    else if (!m_o.quiet)
        err(QStringLiteral("%1 probe(s) in %2 s").arg(n).arg(seconds, 0, 'f', 2));
    m_retriesCounted = true;
    if (!found.isEmpty())
        return ExitOk;
    // Nothing found: the last line says what the line showed instead.
    if (r.echoes > 0 && !m_o.echo)
        err(QStringLiteral("qvxctl: no gateway found; the replies start with the request's own bytes: if the "
                           "adapter echoes what it sends, use --echo"));
    else if (!traffic.isEmpty())
        err(QStringLiteral("qvxctl: no gateway found; the line carries other traffic (%1)")
                .arg(traffic.join(QStringLiteral(", "))));
    else
        err(QStringLiteral("qvxctl: no gateway found"));
    return ExitGateway;
}

// The kind of a failure as a target's result names it.
QString errorKindName(GatewayError::Kind k)
{
    switch (k) {
    case GatewayError::LinkFailed:
        return QStringLiteral("link");
    case GatewayError::NoAnswer:
        return QStringLiteral("no answer");
    case GatewayError::Exception:
        return QStringLiteral("exception");
    case GatewayError::Mismatch:
        return QStringLiteral("differs");
    default:
        return QStringLiteral("interrupted");
    }
}

int exitFor(GatewayError::Kind k)
{
    return k == GatewayError::LinkFailed ? ExitLink : ExitGateway;
}

// Runs the command on one gateway; returns the exit status.
int runOne(Options &o)
{
    GatewayClient client;
    client.setRetryLimit(o.retries);
    client.setAdapterEchoes(o.echo);
    Runner runner(o, client);
    runner.validate(); // raises UsageError before anything opens
    if (runner.offline())
        return runner.run();
    if (!o.quiet)
        QObject::connect(&client, &GatewayClient::retrying, [](const QString &why, int retry, int limit) {
            err(QStringLiteral("%1: sent again (%2 of %3)").arg(why).arg(retry).arg(limit));
        });
    if (o.verbose) {
        QObject::connect(&client, &GatewayClient::frame, [](bool sent, const QByteArray &b) {
            err(QStringLiteral("%1 %2 %3")
                    .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                         sent ? QStringLiteral(">") : QStringLiteral("<"),
                         QString::fromLatin1(b.toHex(' ').toUpper())));
        });
    }
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [&] {
        if (g_interrupted)
            client.cancel();
    });
    interruptWatch.start(100);
    try {
        client.open(o.link);
        int rc = ExitOk;
        std::optional<UsageError> usage;
        GatewayJob::runSync(client, [&](GatewayClient &, GatewayJob &) {
            try {
                rc = runner.run();
            } catch (const UsageError &e) {
                usage = e;
            }
        });
        if (usage)
            throw *usage;
        if (client.retries() > 0 && !o.quiet && !runner.m_retriesCounted)
            err(QStringLiteral("%1 request(s), %2 sent again after a lost or broken reply")
                    .arg(client.requests())
                    .arg(client.retries()));
        return rc;
    } catch (const GatewayError &e) {
        if (o.json && !o.args.isEmpty())
            out(compact(QJsonObject{{QStringLiteral("error"), e.message()},
                                    {QStringLiteral("kind"), errorKindName(e.kind())}}));
        if (client.retries() > 0 && !o.quiet && !runner.m_retriesCounted)
            err(QStringLiteral("%1 request(s), %2 sent again after a lost or broken reply")
                    .arg(client.requests())
                    .arg(client.retries()));
        if (e.kind() == GatewayError::Cancelled) {
            // Whatever was under way is named, so nothing half-done goes unnoticed.
            err(QStringLiteral("qvxctl: interrupted") +
                (runner.m_step.isEmpty() ? QString() : QStringLiteral(" during ") + runner.m_step));
            return 130;
        }
        err(QStringLiteral("qvxctl: ") + e.message());
        return exitFor(e.kind());
    }
}

// --- iec readout ---------------------------------------------------------------

// The meter's address as it goes into the sign-on "/?" address "!": up to 32
// printable characters, none of them the sign-on's own delimiters.
std::optional<QString> iecAddressError(const QString &address)
{
    if (address.size() > 32)
        return QStringLiteral("ADDRESS: at most 32 characters");
    for (const QChar c : address)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || c == QLatin1Char('/') || c == QLatin1Char('!') ||
            c == QLatin1Char('?'))
            return QStringLiteral("ADDRESS: \"%1\" cannot be sent in a sign-on").arg(c);
    return std::nullopt;
}

QString outcomeName(IecReadoutRun::Outcome o)
{
    switch (o) {
    case IecReadoutRun::Outcome::BccOk:
    case IecReadoutRun::Outcome::BccError:
    case IecReadoutRun::Outcome::TelegramEnd:
    case IecReadoutRun::Outcome::CrcOk:
    case IecReadoutRun::Outcome::CrcError:
        return QStringLiteral("complete");
    case IecReadoutRun::Outcome::Quiet:
        return QStringLiteral("quiet");
    case IecReadoutRun::Outcome::MaxTime:
        return QStringLiteral("max-time");
    default:
        return QStringLiteral("stopped");
    }
}

// One readout of a meter on the serial link: the same run as the window's
// readout tab, its steps on standard error, the answer on standard output.
int runIecReadout(Options &o)
{
    const QCommandLineParser &p = *o.parser;
    const bool listen = o.args.size() == 2 && o.args.at(1) == QLatin1String("listen");
    if (!listen && (o.args.size() != 3 || o.args.at(1) != QLatin1String("readout")))
        throw UsageError{QStringLiteral("usage: qvxctl --serial PORT iec readout ADDRESS [--until-end] "
                                        "[--mode-c] [--start-300], or iec listen")};
    const bool csv = p.isSet(QStringLiteral("csv"));
    if (csv && o.json)
        throw UsageError{QStringLiteral("--json and --csv: give one output form")};
    if (p.isSet(QStringLiteral("output")))
        checkWritable(p.value(QStringLiteral("output")));
    if (p.isSet(QStringLiteral("tcp")) || !p.isSet(QStringLiteral("serial")))
        throw UsageError{QStringLiteral("iec readout: a meter is read on a serial port; give --serial PORT")};
    const QString address = o.args.value(2);
    if (const std::optional<QString> e = iecAddressError(address))
        throw UsageError{*e};
    // A meter's line is 7 data bits with even parity unless told otherwise.
    if (!p.isSet(QStringLiteral("data-bits")))
        o.link.dataBits = 7;

    GatewayClient client;
    try {
        client.open(o.link);
    } catch (const GatewayError &e) {
        err(QStringLiteral("qvxctl: ") + e.message());
        return ExitLink;
    }
    Session &session = client.session();
    IecReadoutRun run(session.comm2());
    QObject::connect(&run, &IecReadoutRun::logLine, [&o](const QString &line) {
        if (!o.quiet)
            err(line);
    });
    QObject::connect(&session, &Session::readoutBytes, &run, &IecReadoutRun::feed);
    if (o.verbose)
        QObject::connect(&session.comm2(), &Comm2::bytesReadTap, [](const QByteArray &b, qint64) {
            err(QStringLiteral("%1 < %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                                              QString::fromLatin1(b.toHex(' ').toUpper())));
        });

    IecReadoutRun::Options options;
    options.address = address;
    options.untilEnd = p.isSet(QStringLiteral("until-end"));
    options.listenOnly = listen;
    options.acknowledge = p.isSet(QStringLiteral("mode-c"));
    options.start300 = p.isSet(QStringLiteral("start-300"));
    QEventLoop loop;
    QObject::connect(&run, &IecReadoutRun::finished, &loop, &QEventLoop::quit);
    // Without --until-end the capture lasts ten seconds, as the readout tab's.
    QTimer window;
    window.setSingleShot(true);
    QObject::connect(&window, &QTimer::timeout, &run, &IecReadoutRun::stop);
    QTimer interruptWatch;
    bool interrupted = false;
    QObject::connect(&interruptWatch, &QTimer::timeout, [&] {
        if (g_interrupted && run.running()) {
            interrupted = true;
            run.stop();
        }
    });
    interruptWatch.start(100);
    // An adapter pulled during the readout ends it at once, and says so.
    QString lost;
    QObject::connect(&session.comm2(), &Comm2::deviceLost, &run, [&](const QString &reason) {
        lost = reason;
        run.stop();
    });
    try {
        session.ReadoutCaptureActive = true;
        run.start(options);
    } catch (const QvxError &e) {
        err(QStringLiteral("qvxctl: ") + e.message());
        return ExitLink;
    }
    if (!options.untilEnd && !listen)
        window.start(10000);
    if (run.running())
        loop.exec();
    session.ReadoutCaptureActive = false;

    const QByteArray capture = run.capture();
    const IecMessageEnd end = FindIecMessageEnd(capture);
    const IecReadoutRun::Outcome outcome = run.outcome();
    QByteArray output;
    if (o.json) {
        const IecIdentification id = FindIecIdentification(capture);
        QJsonObject r{{QStringLiteral("bytes"), int(capture.size())},
                      {QStringLiteral("outcome"), outcomeName(outcome)},
                      {QStringLiteral("identification"),
                       id.found ? QJsonValue(QString::fromLatin1(id.line)) : QJsonValue()},
                      {QStringLiteral("bcc"), !end.complete ? QStringLiteral("none")
                                              : end.bccOk() ? QStringLiteral("ok")
                                                            : QStringLiteral("error")},
                      {QStringLiteral("rows"), IecDataSetRowsJson(capture)}};
        AddIecCrcJson(r, capture);
        if (end.complete) {
            r.insert(QStringLiteral("bcc_computed"),
                     QStringLiteral("%1").arg(end.computed, 2, 16, QLatin1Char('0')).toUpper());
            r.insert(QStringLiteral("bcc_received"),
                     QStringLiteral("%1").arg(end.received, 2, 16, QLatin1Char('0')).toUpper());
        }
        output = compact(r).toLocal8Bit() + '\n';
    } else {
        output = csv ? IecDataSetRowsCsv(capture) : capture;
    }
    if (p.isSet(QStringLiteral("output"))) {
        writeWholeFile(p.value(QStringLiteral("output")), output);
    } else {
        fwrite(output.constData(), 1, size_t(output.size()), stdout);
        fflush(stdout);
    }
    if (interrupted) {
        err(QStringLiteral("qvxctl: interrupted after %1 bytes").arg(capture.size()));
        return 130;
    }
    if (!lost.isEmpty()) {
        err(QStringLiteral("qvxctl: %1: %2").arg(session.comm2().devicePath(), lost));
        return ExitLink;
    }
    if (capture.isEmpty()) {
        err(QStringLiteral("qvxctl: the meter did not answer; check the port, the rate and the framing "
                           "(meters use 7 data bits with even parity)"));
        return ExitGateway;
    }
    if (listen)
        return IecListenSucceeded(outcome) ? ExitOk : ExitGateway;
    if (end.complete && !end.bccOk())
        return ExitGateway;
    if (options.untilEnd && !end.complete)
        return ExitGateway;
    return ExitOk;
}

// The arguments as the parser should see them: a negative number ("read
// holding -1 1") is an argument, not a cluster of short options, so that
// its own check can say what is wrong with it.  When one is present the
// options go first and the arguments after "--", in their order.
QStringList argumentsWithNumbers(const QStringList &args, const QStringList &valueOptions)
{
    static const QRegularExpression negative(QStringLiteral("^-[0-9]"));
    QStringList options{args.value(0)}, positional;
    bool any = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--")) {
            positional += args.mid(i + 1);
            break;
        }
        if (!a.startsWith(QLatin1Char('-')) || a == QLatin1String("-") || negative.match(a).hasMatch()) {
            any = any || negative.match(a).hasMatch();
            positional << a;
            continue;
        }
        options << a;
        const QString name = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
        if (!name.contains(QLatin1Char('=')) && valueOptions.contains(name) && i + 1 < args.size())
            options << args.at(++i);
    }
    if (!any)
        return args;
    return options + QStringList{QStringLiteral("--")} + positional;
}

// Why a target's run failed, in a few words: from the differences it
// printed, the kind of error it ended with, or its last line on standard error.
QString failureReason(int code, const QJsonArray &results, const QString &errText)
{
    QStringList whats;
    QJsonObject error;
    for (const QJsonValue &v : results) {
        const QJsonObject r = v.toObject();
        for (const QJsonValue &d : r.value(QLatin1String("differences")).toArray())
            whats << d.toObject().value(QLatin1String("what")).toString();
        if (r.contains(QLatin1String("error")))
            error = r;
    }
    const QString kind = error.value(QLatin1String("kind")).toString();
    const QString message = error.value(QLatin1String("error")).toString();
    if (!whats.isEmpty())
        return (kind == QLatin1String("differs") ? QStringLiteral("read-back ") : QString()) +
               differsText(whats);
    if (kind == QLatin1String("link") || kind == QLatin1String("no answer"))
        return message.startsWith(QLatin1String("no answer")) ? message
                                                              : QStringLiteral("no answer: ") + message;
    if (!kind.isEmpty())
        return kind + QStringLiteral(": ") + message;
    QString last = errText.section(QLatin1Char('\n'), -1);
    if (last.startsWith(QLatin1String("qvxctl: ")))
        last = last.mid(8);
    if (code == ExitUsage)
        return QStringLiteral("refused: ") + last;
    if (code == 130)
        return QStringLiteral("interrupted");
    return last.isEmpty() ? QStringLiteral("exit status %1").arg(code) : last;
}

// One child process per target, up to jobs TCP targets at once; serial
// targets one after another, and never two on one connection at once.
// Results are printed in the file's order: each as soon as those before it
// are in.
int runTargets(Options &o, const QVector<QStringList> &forward, const QVector<Target> &targets, int jobs)
{
    int next = 0, done = 0, failed = 0, worst = ExitOk, printed = 0;
    QVector<std::optional<QString>> lines(targets.size());
    QEventLoop loop;
    QList<QProcess *> running;
    bool serialBusy = false;
    QSet<QString> busy;
    QElapsedTimer clock;
    clock.start();
    auto flush = [&] {
        while (printed < lines.size() && lines.at(printed))
            out(*lines.at(printed++));
    };
    std::function<void()> launch = [&] {
        while (next < targets.size() && running.size() < jobs && !g_interrupted) {
            const Target &target = targets.at(next);
            const GatewayLink &t = target.link;
            // The next target waits rather than being overtaken: the
            // order of the file is the order of the work.
            if ((!t.tcp && serialBusy) || busy.contains(connectionKey(t)))
                break;
            const int index = next++;
            auto *proc = new QProcess;
            QStringList a = t.describe().split(QLatin1Char(' '));
            if (!t.tcp)
                a << QStringLiteral("--data-bits") << QString::number(t.dataBits)
                  << QStringLiteral("--stop-bits") << QString::number(t.stopBits);
            a << QStringLiteral("--timeout") << QString::number(t.timeoutMs) << QStringLiteral("--as-target")
              << (o.json ? QStringLiteral("json") : QStringLiteral("text")) << QStringLiteral("-q")
              << forward.at(index);
            if (!t.tcp)
                serialBusy = true;
            busy.insert(connectionKey(t));
            running << proc;
            QObject::connect(proc, &QProcess::finished, &loop, [&, proc, index, target](int code) {
                const GatewayLink &link = target.link;
                const QList<QByteArray> outLines = proc->readAllStandardOutput().trimmed().split('\n');
                const QString errText = QString::fromLocal8Bit(proc->readAllStandardError()).trimmed();
                QJsonArray results2;
                for (const QByteArray &l : outLines)
                    if (!l.isEmpty())
                        results2.append(QJsonDocument::fromJson(l).object());
                const QString reason = code == 0 ? QString() : failureReason(code, results2, errText);
                QJsonObject r{{QStringLiteral("target"), link.describe()},
                              {QStringLiteral("name"), target.name},
                              {QStringLiteral("line"), target.line},
                              {QStringLiteral("ok"), code == 0},
                              {QStringLiteral("error"), code == 0 ? QJsonValue() : QJsonValue(reason)}};
                r.insert(QStringLiteral("result"),
                         results2.size() == 1 ? QJsonValue(results2.at(0)) : QJsonValue(results2));
                lines[index] = o.json ? compact(r)
                                      : QStringLiteral("%1  %2%3")
                                            .arg(link.describe().leftJustified(40))
                                            .arg(code == 0 ? QStringLiteral("ok") : QStringLiteral("FAILED"))
                                            .arg(code == 0 ? QString() : QStringLiteral("  ") + reason);
                flush();
                // A target that cannot be reached is one gateway that did not
                // answer: the run as a whole still opened what it had to.
                if (code != 0) {
                    ++failed;
                    worst = qMax(worst, code == ExitUsage ? int(ExitUsage) : int(ExitGateway));
                }
                ++done;
                if (!link.tcp)
                    serialBusy = false;
                busy.remove(connectionKey(link));
                running.removeOne(proc);
                proc->deleteLater();
                launch();
                if (running.isEmpty())
                    loop.quit();
            });
            proc->start(QCoreApplication::applicationFilePath(), a);
        }
    };
    QTimer interruptWatch;
    QObject::connect(&interruptWatch, &QTimer::timeout, [&] {
        if (g_interrupted)
            for (QProcess *p : running)
                p->terminate();
    });
    interruptWatch.start(100);
    launch();
    if (!running.isEmpty())
        loop.exec();
    // After an interrupt the targets not run leave gaps; the rest still shows.
    for (; printed < lines.size(); ++printed)
        if (lines.at(printed))
            out(*lines.at(printed));
    if (!o.quiet)
        err(QStringLiteral("%1 target(s): %2 ok, %3 failed, %4 not run, %5 s")
                .arg(targets.size())
                .arg(done - failed)
                .arg(failed)
                .arg(targets.size() - done)
                .arg(clock.elapsed() / 1000.0, 0, 'f', 2));
    if (g_interrupted)
        return 130;
    return worst;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qvxctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QVX_VERSION_TEXT));
    installInterruptHandler();

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("The QVX-24S gateway from the command line.\n\n"
                                               "qvxctl [LINK] COMMAND [ARGUMENTS]\n\n") +
                                QLatin1String(Help));
    p.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption helpOption = p.addHelpOption();
    p.addOption(QCommandLineOption(QStringLiteral("version"), QStringLiteral("Prints the version.")));
    struct Opt {
        QStringList names;
        const char *help;
        const char *value;
    };
    const Opt opts[] = {
        {{"tcp"}, "LINK: Modbus TCP to HOST[:PORT] (port 502 by default).", "HOST[:PORT]"},
        {{"serial"}, "LINK: Modbus RTU on PORT (COMn, a path, or a name under /dev).", "PORT"},
        {{"baud"}, "LINK: serial rate (9600).", "N"},
        {{"parity"}, "LINK: none, even or odd (even).", "PARITY"},
        {{"data-bits"}, "LINK: 7 or 8 (8).", "N"},
        {{"stop-bits"}, "LINK: 1 or 2 (1).", "N"},
        {{"unit"}, "LINK: unit address 1..247 (1).", "N"},
        {{"timeout"}, "LINK: reply time-out in ms (1000; 50 for scan).", "MS"},
        {{"retries"},
         "Send a request again up to N times when its reply is lost or broken (2): reads, "
         "and writes whose effect the read-back checks; never a command such as Reset.",
         "N"},
        {{"echo"},
         "The serial adapter echoes what it sends (2-wire RS-485): drop the request's own bytes "
         "at the start of each reply.",
         nullptr},
        {{"json"}, "Machine output: JSON (one object per line for streams).", nullptr},
        {{"v", "verbose"}, "Every frame to standard error with a time stamp.", nullptr},
        {{"q", "quiet"}, "Errors only.", nullptr},
        {{"targets"}, "Run the command on every target in FILE.", "FILE"},
        {{"j", "jobs"}, "TCP targets at once with --targets (1).", "N"},
        {{"allow-duplicates"}, "--targets: run targets on the same gateway one after the other.", nullptr},
        {{"units"}, "scan: units A-B (1-247).", "A-B"},
        {{"bauds"}, "scan: rates to try, comma-separated (all nine).", "LIST"},
        {{"parities"}, "scan: parities to try (even,none,odd).", "LIST"},
        {{"all"},
         "scan: do not stop at the first gateway; meters write: all slots, empty ones erased.",
         nullptr},
        {{"dry-run"}, "meters write: list the writes, send nothing.", nullptr},
        {{"slot"}, "meters: only slot N.", "N"},
        {{"o", "output"}, "meters read, iec: write to FILE (with --targets a pattern: {name}...).", "FILE"},
        {{"id-digits"}, "meters: 8 or 16-digit IDs (the gateway's flag).", "N"},
        {{"long-obis"}, "meters: on or off (the gateway's flag).", "on|off"},
        {{"64bit"}, "values: 64-bit values.", nullptr},
        {{"every"}, "values: one reading every SECONDS.", "SECONDS"},
        {{"count"}, "values: stop after N readings.", "N"},
        {{"with-address"}, "profile apply: write the unit address too (last).", nullptr},
        {{"with-network"}, "profile apply: write the IPv4 block too.", nullptr},
        {{"with-line"}, "profile apply: write the RTU line too (last; the tool follows it).", nullptr},
        {{"until-end"}, "iec readout: until the end of the message (or 3 s quiet, 5 min).", nullptr},
        {{"mode-c"}, "iec readout: acknowledge and switch to the announced rate.", nullptr},
        {{"start-300"}, "iec readout: sign-on at 300 baud 7E1.", nullptr},
        {{"csv"}, "iec: one row per data set, separated by \";\" (Latin-1, CR LF).", nullptr},
    };
    for (const Opt &o : opts)
        p.addOption(o.value ? QCommandLineOption(o.names, QLatin1String(o.help), QLatin1String(o.value))
                            : QCommandLineOption(o.names, QLatin1String(o.help)));
    // A target's run: results as JSON lines, files in the form (json or
    // text) the whole run was asked for.
    QCommandLineOption asTarget(QStringLiteral("as-target"), QString(), QStringLiteral("FORM"));
    asTarget.setFlags(QCommandLineOption::HiddenFromHelp);
    p.addOption(asTarget);

    // Unknown options and bad values are usage errors; nothing is sent.
    QStringList valueOptions{QStringLiteral("as-target")};
    for (const Opt &o : opts)
        if (o.value)
            valueOptions += o.names;
    if (!p.parse(argumentsWithNumbers(QCoreApplication::arguments(), valueOptions))) {
        // The parser's message quotes the option as typed.
        err(QStringLiteral("qvxctl: ") + cutInput(p.errorText(), 120));
        return ExitUsage;
    }
    // A second value would silently replace the first.
    for (const Opt &o : opts)
        if (o.value && p.values(o.names.first()).size() > 1) {
            const QStringList v = p.values(o.names.first());
            err(QStringLiteral("qvxctl: --%1 given twice (%2 and %3); give it once")
                    .arg(o.names.last(), quoteInput(v.at(0)), quoteInput(v.at(1))));
            return ExitUsage;
        }
    if (p.isSet(QStringLiteral("version"))) {
        out(QStringLiteral("qvxctl ") + QCoreApplication::applicationVersion());
        return ExitOk;
    }
    Options o;
    o.parser = &p;
    o.args = p.positionalArguments();
    if (p.isSet(helpOption)) {
        if (!o.args.isEmpty())
            for (const CommandHelp &h : CommandHelps)
                if (o.args.first() == QLatin1String(h.name)) {
                    fputs(h.text, stdout);
                    return ExitOk;
                }
        fputs(qPrintable(p.helpText()), stdout);
        return ExitOk;
    }
    o.json = p.isSet(QStringLiteral("json"));
    o.fileJson = o.json;
    if (p.isSet(asTarget)) {
        o.fileJson = p.value(asTarget) == QLatin1String("json");
        o.json = true;
    }
    o.verbose = p.isSet(QStringLiteral("verbose"));
    o.quiet = p.isSet(QStringLiteral("quiet"));
    o.timeoutGiven = p.isSet(QStringLiteral("timeout"));
    o.echo = p.isSet(QStringLiteral("echo"));
    try {
        o.retries = intOption(p, QStringLiteral("retries"), 0, 10, 2);
        for (const char *name :
             {"tcp", "serial", "baud", "parity", "data-bits", "stop-bits", "unit", "timeout"})
            if (p.isSet(QLatin1String(name)))
                if (const std::optional<QString> e =
                        applyLinkOption(o.link, QLatin1String(name), p.value(QLatin1String(name))))
                    throw UsageError{*e};
        if (p.isSet(QStringLiteral("tcp")) && p.isSet(QStringLiteral("serial")))
            throw UsageError{QStringLiteral("--tcp and --serial: give one link")};
        if (!o.args.isEmpty() && o.args.first() == QLatin1String("iec")) {
            if (p.isSet(QStringLiteral("targets")))
                throw UsageError{
                    QStringLiteral("iec readout: one meter at a time; --targets does not apply")};
            return runIecReadout(o);
        }
        if (p.isSet(QStringLiteral("targets"))) {
            if (p.isSet(QStringLiteral("tcp")) || p.isSet(QStringLiteral("serial")))
                throw UsageError{QStringLiteral("--targets: the file names each target's link; give no --tcp "
                                                "or --serial")};
            const int jobs = intOption(p, QStringLiteral("jobs"), 1, 256, 1);
            // The command is checked once, before any target is reached.
            Options check = o;
            check.targetsCheck = true;
            GatewayClient dummy;
            Runner(check, dummy).validate();
            const TargetList list = parseTargetFile(readFileOrThrow(p.value(QStringLiteral("targets"))),
                                                    o.link, p.isSet(QStringLiteral("allow-duplicates")));
            if (list.error)
                throw UsageError{p.value(QStringLiteral("targets")) + QStringLiteral(": ") + *list.error};
            // An output names one file per target: each is a file of its
            // own and can be written, all checked before the first request.
            const bool metersOut =
                o.args.value(0) == QLatin1String("meters") && p.isSet(QStringLiteral("output"));
            const bool profileOut =
                o.args.value(0) == QLatin1String("profile") && o.args.value(1) == QLatin1String("save");
            const QString label = metersOut ? QStringLiteral("-o") : QStringLiteral("FILE");
            const QString pattern = metersOut ? p.value(QStringLiteral("output")) : o.args.value(2);
            if (metersOut || profileOut) {
                if (const std::optional<QString> e = outputPatternError(pattern))
                    throw UsageError{label + QStringLiteral(": ") + *e};
                if (const std::optional<QString> e = outputCollision(label, pattern, list.targets))
                    throw UsageError{*e};
                for (const Target &t : list.targets)
                    checkWritable(expandOutputPattern(pattern, t));
            }
            // Everything after the LINK options goes to each target's run.
            QStringList common = o.args;
            for (const char *name : {"units", "bauds", "parities", "slot", "id-digits", "long-obis", "every",
                                     "count", "retries"})
                if (p.isSet(QLatin1String(name)))
                    common << QStringLiteral("--") + QLatin1String(name) << p.value(QLatin1String(name));
            for (const char *name : {"all", "64bit", "with-address", "with-network", "with-line", "dry-run", "echo"})
                if (p.isSet(QLatin1String(name)))
                    common << QStringLiteral("--") + QLatin1String(name);
            if (o.verbose)
                common << QStringLiteral("-v");
            QVector<QStringList> forward;
            for (const Target &t : list.targets) {
                QStringList a = common;
                if (profileOut)
                    a[2] = expandOutputPattern(pattern, t);
                if (metersOut)
                    a << QStringLiteral("--output") << expandOutputPattern(pattern, t);
                forward << a;
            }
            return runTargets(o, forward, list.targets, jobs);
        }
        if (!p.isSet(QStringLiteral("tcp")) && !p.isSet(QStringLiteral("serial")))
            throw UsageError{QStringLiteral("no link: give --tcp HOST[:PORT] or --serial PORT")};
        return runOne(o);
    } catch (const UsageError &e) {
        err(QStringLiteral("qvxctl: ") + e.message);
        return ExitUsage;
    }
}
