// qvxctl: the gateway from the command line.  One command on one gateway, or
// on every target of a target file.  Every encoding and decoder is the
// window's own (through the gateway runners), so both always agree.
#include "core/errors.h"
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

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>

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

const char *const Help = R"(Commands:
  scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]
                         find gateways (serial: rates, parities and units; TCP: units)
  read holding|input START COUNT
                         read 1..126 registers
  write START VALUE...   write registers (one: function 6, several: function 16)
  info                   the settings readout and the firmware identification
  meters read [--slot N] [-o FILE] [--id-digits 8|16] [--long-obis on|off]
                         the meter table, as a meter data file (or JSON)
  meters write FILE [--slot N]
                         program IDs and OBIS lists from a meter data or JSON file,
                         then read them back
  meters diff FILE       what differs between the gateway and the file (exit 1)
  values SLOT [--64bit] [--every SECONDS] [--count N]
                         the slot's collected values with a time stamp
  profile save FILE      settings and meter table to a profile (qvx-profile/1)
  profile diff FILE      what differs between the gateway and the profile
  profile apply FILE [--with-address] [--with-network]
                         write what differs, then read everything back
  iec readout ADDRESS [--until-end] [--mode-c] [--start-300]
                         read a meter directly over IEC 62056-21 (serial only)

Many gateways: --targets FILE runs the command on every target (one a line, as
LINK options such as "--tcp 10.0.0.5 --unit 3"; # comments), -j N at once.

A request whose reply was lost or broken is sent again (--retries N, 2 by default):
reads and writes of register values, never a command such as "Reset".  --echo: the
serial adapter hands back what it sends; the echo is dropped from each reply.

Exit status: 0 done; 1 a gateway did not answer, answered with an exception or
failed a read-back or diff; 2 usage error; 3 the link could not be opened.
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
               "qvxctl [LINK] meters write FILE [--slot N]\nqvxctl [LINK] meters diff FILE\n"
               "The meter table as a meter data file (the window's format) or JSON.\n"},
    {"values", "qvxctl [LINK] values SLOT [--64bit] [--every SECONDS] [--count N]\n"
               "The slot's collected values; with --every one reading per period until --count or Ctrl+C.\n"},
    {"profile", "qvxctl [LINK] profile save|diff FILE\nqvxctl [LINK] profile apply FILE [--with-address] "
                "[--with-network]\nA gateway profile is one JSON file (\"format\": \"qvx-profile/1\").\n"},
    {"iec", "qvxctl --serial PORT [--baud N] [--data-bits 7|8] [--parity P] iec readout ADDRESS\n"
            "        [--until-end] [--mode-c] [--start-300]\n"
            "Reads a meter on PORT: sends the sign-on for ADDRESS (\"\" for any meter) and captures\n"
            "the answer for 10 s, or with --until-end until ETX and the block check character, 3 s\n"
            "of silence or 5 minutes.  --mode-c acknowledges the identification line and switches\n"
            "to the rate it announces; --start-300 sends the sign-on at 300 baud 7E1.  The line is\n"
            "7 data bits with even parity unless --data-bits or --parity say otherwise.  Prints\n"
            "the answer as received, or with --json the rows with names and units and the check.\n"
            "Steps go to standard error.  Exit 1 when the meter did not answer, the check failed\n"
            "or, with --until-end, the message did not end.\n"},
};

struct Options {
    GatewayLink link;
    bool timeoutGiven = false;
    bool json = false;
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
        throw UsageError{QStringLiteral("--%1: must be %2..%3, not \"%4\"")
                             .arg(name)
                             .arg(min)
                             .arg(max)
                             .arg(p.value(name))};
    return int(*v);
}

int intArg(const QString &text, const QString &what, qint64 min, qint64 max)
{
    const std::optional<qint64> v = parseNumber(text, min, max);
    if (!v)
        throw UsageError{
            QStringLiteral("%1: must be %2..%3, not \"%4\"").arg(what).arg(min).arg(max).arg(text)};
    return int(*v);
}

QByteArray readFileOrThrow(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw UsageError{QStringLiteral("%1: %2").arg(path, f.errorString())};
    return f.readAll();
}

// A meter table from a meter data file or a JSON file of the same shape.
// Malformed files are usage errors: nothing is written then.
MeterTable loadTableFile(const QString &path, QVector<int> *slotsInFile)
{
    const QByteArray bytes = readFileOrThrow(path);
    MeterTable table;
    if (bytes.trimmed().startsWith('{')) {
        QJsonParseError e;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &e);
        if (e.error != QJsonParseError::NoError)
            throw UsageError{
                QStringLiteral("%1: offset %2: %3").arg(path).arg(e.offset).arg(e.errorString())};
        if (const std::optional<QString> m = meterTableFromJson(doc.object(), table, slotsInFile))
            throw UsageError{QStringLiteral("%1: %2").arg(path, *m)};
        return table;
    }
    const QStringList lines = splitTextLines(bytes, MeterDataFileLines);
    if (const std::optional<QString> m = loadMeterDataLines(lines, table))
        throw UsageError{QStringLiteral("%1: %2").arg(path, *m)};
    if (lines.size() < MeterDataFileLines)
        throw UsageError{QStringLiteral("%1: %2 lines, a meter data file has %3")
                             .arg(path)
                             .arg(lines.size())
                             .arg(MeterDataFileLines)};
    for (int s = 1; s <= MeterTable::Slots; ++s)
        slotsInFile->append(s);
    return table;
}

class Runner {
public:
    Runner(Options &o, GatewayClient &c) : m_o(o), m_c(c) {}
    // Validates arguments and opens nothing; run() then does the work.
    void validate();
    int run();

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
    MeterTable m_fileTable;
    QVector<int> m_fileSlots;
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
            throw UsageError{QStringLiteral("read: \"%1\" is not holding or input").arg(arg(1))};
        intArg(arg(2), QStringLiteral("START"), 0, 65535);
        const int count = intArg(arg(3), QStringLiteral("COUNT"), 1, 126);
        if (intArg(arg(2), QStringLiteral("START"), 0, 65535) + count > 65536)
            throw UsageError{QStringLiteral("read: START + COUNT beyond register 65535")};
    } else if (cmd == QLatin1String("write")) {
        needArgs(3, 126, QStringLiteral("write START VALUE..."));
        const int start = intArg(arg(1), QStringLiteral("START"), 0, 65535);
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
        } else if (sub == QLatin1String("write") || sub == QLatin1String("diff")) {
            needArgs(3, 3, QStringLiteral("meters %1 FILE").arg(sub));
            m_fileTable = loadTableFile(arg(2), &m_fileSlots);
        } else {
            throw UsageError{QStringLiteral("meters: \"%1\" is not read, write or diff").arg(sub)};
        }
        intOption(p, QStringLiteral("slot"), 1, 32, 0);
        intOption(p, QStringLiteral("id-digits"), 8, 16, 8);
        if (p.isSet(QStringLiteral("id-digits")) &&
            p.value(QStringLiteral("id-digits")) != QLatin1String("8") &&
            p.value(QStringLiteral("id-digits")) != QLatin1String("16"))
            throw UsageError{QStringLiteral("--id-digits: must be 8 or 16")};
        if (p.isSet(QStringLiteral("long-obis")) &&
            p.value(QStringLiteral("long-obis")) != QLatin1String("on") &&
            p.value(QStringLiteral("long-obis")) != QLatin1String("off"))
            throw UsageError{QStringLiteral("--long-obis: must be on or off")};
    } else if (cmd == QLatin1String("values")) {
        needArgs(2, 2, QStringLiteral("values SLOT [--64bit] [--every SECONDS] [--count N]"));
        intArg(arg(1), QStringLiteral("SLOT"), 1, 32);
        intOption(p, QStringLiteral("every"), 1, 86400, 0);
        intOption(p, QStringLiteral("count"), 1, 1000000000, 0);
    } else if (cmd == QLatin1String("profile")) {
        const QString sub = arg(1);
        if (sub != QLatin1String("save") && sub != QLatin1String("diff") && sub != QLatin1String("apply"))
            throw UsageError{QStringLiteral("profile: \"%1\" is not save, diff or apply").arg(sub)};
        needArgs(3, 3, QStringLiteral("profile %1 FILE").arg(sub));
        if (sub != QLatin1String("save")) {
            const ProfileParse r = parseProfile(readFileOrThrow(arg(2)));
            if (!r.profile)
                throw UsageError{QStringLiteral("%1: %2").arg(arg(2), r.error)};
            m_profile = r.profile;
        }
    } else if (cmd == QLatin1String("scan")) {
        needArgs(1, 1, QStringLiteral("scan [--units A-B] [--bauds LIST] [--parities LIST] [--all]"));
    } else {
        throw UsageError{QStringLiteral("unknown command \"%1\"; see qvxctl --help").arg(cmd)};
    }
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

int Runner::metersCmd()
{
    const QCommandLineParser &p = *m_o.parser;
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
    const QString sub = arg(1);
    if (sub == QLatin1String("read")) {
        MeterTable table;
        m_c.readMeterTable(table, sixteen, longObis, first, last, progress);
        if (!m_o.quiet && stderrIsTerminal())
            fprintf(stderr, "\n");
        if (m_o.json) {
            const QByteArray doc =
                QJsonDocument(meterTableToJson(table, first, last)).toJson(QJsonDocument::Compact);
            if (p.isSet(QStringLiteral("output"))) {
                QFile f(p.value(QStringLiteral("output")));
                if (!f.open(QIODevice::WriteOnly) || f.write(doc + '\n') < 0)
                    throw UsageError{QStringLiteral("%1: %2").arg(f.fileName(), f.errorString())};
            } else {
                out(QString::fromUtf8(doc));
            }
        } else if (p.isSet(QStringLiteral("output"))) {
            if (const std::optional<QString> e = saveMeterDataFile(p.value(QStringLiteral("output")), table))
                throw UsageError{QStringLiteral("%1: %2").arg(p.value(QStringLiteral("output")), *e)};
        } else {
            const QByteArray b = meterDataFileBytes(table);
            fwrite(b.constData(), 1, size_t(b.size()), stdout);
        }
        return ExitOk;
    }
    QVector<int> slotNums;
    for (int s : m_fileSlots)
        if (s <= slotCount && (!only || s == only))
            slotNums << s;
    const QStringList diffs0 = programMeterTable(m_c, m_fileTable, slotNums, {sixteen, longObis},
                                                 sub == QLatin1String("write"), tracker());
    if (!m_o.quiet && stderrIsTerminal())
        fprintf(stderr, "\n");
    const QStringList &diffs = diffs0;
    if (m_o.json) {
        out(compact(QJsonObject{{QStringLiteral("slots"), int(slotNums.size())},
                                {QStringLiteral("differences"), QJsonArray::fromStringList(diffs)}}));
    } else {
        for (const QString &d : diffs)
            out(d);
        if (diffs.isEmpty() && !m_o.quiet)
            out(sub == QLatin1String("write")
                    ? QStringLiteral("%1 slot(s) written and read back").arg(slotNums.size())
                    : QStringLiteral("no differences"));
    }
    if (!diffs.isEmpty() && sub == QLatin1String("write"))
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
        QFile f(arg(2));
        if (!f.open(QIODevice::WriteOnly) || f.write(profileToJson(prof)) < 0)
            throw UsageError{QStringLiteral("%1: %2").arg(arg(2), f.errorString())};
        if (m_o.json)
            out(compact(QJsonObject{{QStringLiteral("saved"), arg(2)}}));
        else if (!m_o.quiet)
            out(QStringLiteral("profile saved to ") + arg(2));
        return ExitOk;
    }
    const bool network = p.isSet(QStringLiteral("with-network"));
    const bool address = p.isSet(QStringLiteral("with-address"));
    if (sub == QLatin1String("diff")) {
        GatewayProfile file = *m_profile;
        const bool sixteen = flagSet(file.info.flags, 5), longObis = flagSet(file.info.flags, 6);
        QVector<int> all;
        for (int s = 1; s <= (sixteen ? 30 : 32); ++s)
            all << s;
        normalizeMeterTable(file.table, all, sixteen, longObis);
        const GatewayProfile device = readGatewayProfile(m_c, tracker());
        const QStringList d = profileDifferences(device, file, network, address);
        if (m_o.json)
            out(compact(QJsonObject{{QStringLiteral("differences"), QJsonArray::fromStringList(d)}}));
        else
            for (const QString &l : d)
                out(l);
        if (d.isEmpty() && !m_o.json && !m_o.quiet)
            out(QStringLiteral("no differences"));
        return d.isEmpty() ? ExitOk : ExitGateway;
    }
    const ProfileApplyResult applied = applyGatewayProfile(m_c, *m_profile, network, address, tracker());
    const int writes = applied.writes;
    const QStringList &d = applied.differences;
    m_retriesCounted = true;
    if (m_o.json)
        out(compact(QJsonObject{{QStringLiteral("writes"), writes},
                                {QStringLiteral("requests"), m_c.requests()},
                                {QStringLiteral("retries"), m_c.retries()},
                                {QStringLiteral("differences"), QJsonArray::fromStringList(d)}}));
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
                QStringLiteral("--units: A-B, not \"%1\"").arg(p.value(QStringLiteral("units")))};
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
                throw UsageError{QStringLiteral("--parities: \"%1\" is not none, even or odd").arg(x)};
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
            out(compact(QJsonObject{{QStringLiteral("error"), e.message()}}));
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

// The data rows of a capture with what the OBIS table knows of each code.
QJsonArray iecRowsJson(const QByteArray &capture)
{
    IecLines lines;
    int index = 0;
    lines.capture(capture, index);
    QStringList text;
    for (const QByteArray &l : lines.all())
        text << QString::fromLatin1(l);
    // The first line is the identification, as the readout table has it.
    QJsonArray rows;
    for (const IecRow &r : SplitIecLines(text)) {
        QString code = r.obis;
        code.remove(QChar(IecStx)).remove(QChar(IecEtx));
        code = code.trimmed();
        if (code.isEmpty() || code == QLatin1String("!"))
            continue;
        const int star = r.value.indexOf(QLatin1Char('*'));
        const QString value = star < 0 ? r.value : r.value.left(star);
        const QString unit = star < 0 ? QString() : r.value.mid(star + 1);
        QJsonObject row{
            {QStringLiteral("obis"), code}, {QStringLiteral("value"), value}, {QStringLiteral("unit"), unit}};
        if (const ObisInfo *info = FindObisInfo(code)) {
            row.insert(QStringLiteral("name"), QLatin1String(info->name));
            if (unit.isEmpty() && *info->unit)
                row.insert(QStringLiteral("unit"), QLatin1String(info->unit));
        }
        rows.append(row);
    }
    return rows;
}

QString outcomeName(IecReadoutRun::Outcome o)
{
    switch (o) {
    case IecReadoutRun::Outcome::BccOk:
    case IecReadoutRun::Outcome::BccError:
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
    if (o.args.size() != 3 || o.args.at(1) != QLatin1String("readout"))
        throw UsageError{QStringLiteral("usage: qvxctl --serial PORT iec readout ADDRESS [--until-end] "
                                        "[--mode-c] [--start-300]")};
    if (p.isSet(QStringLiteral("tcp")) || !p.isSet(QStringLiteral("serial")))
        throw UsageError{QStringLiteral("iec readout: a meter is read on a serial port; give --serial PORT")};
    const QString address = o.args.at(2);
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
    try {
        session.ReadoutCaptureActive = true;
        run.start(options);
    } catch (const QvxError &e) {
        err(QStringLiteral("qvxctl: ") + e.message());
        return ExitLink;
    }
    if (!options.untilEnd)
        window.start(10000);
    if (run.running())
        loop.exec();
    session.ReadoutCaptureActive = false;

    const QByteArray capture = run.capture();
    const IecMessageEnd end = FindIecMessageEnd(capture);
    const IecReadoutRun::Outcome outcome = run.outcome();
    if (o.json) {
        const IecIdentification id = FindIecIdentification(capture);
        QJsonObject r{{QStringLiteral("bytes"), int(capture.size())},
                      {QStringLiteral("outcome"), outcomeName(outcome)},
                      {QStringLiteral("identification"),
                       id.found ? QJsonValue(QString::fromLatin1(id.line)) : QJsonValue()},
                      {QStringLiteral("bcc"), !end.complete ? QStringLiteral("none")
                                              : end.bccOk() ? QStringLiteral("ok")
                                                            : QStringLiteral("error")},
                      {QStringLiteral("rows"), iecRowsJson(capture)}};
        if (end.complete) {
            r.insert(QStringLiteral("bcc_computed"),
                     QStringLiteral("%1").arg(end.computed, 2, 16, QLatin1Char('0')).toUpper());
            r.insert(QStringLiteral("bcc_received"),
                     QStringLiteral("%1").arg(end.received, 2, 16, QLatin1Char('0')).toUpper());
        }
        out(compact(r));
    } else {
        fwrite(capture.constData(), 1, size_t(capture.size()), stdout);
        fflush(stdout);
    }
    if (interrupted) {
        err(QStringLiteral("qvxctl: interrupted after %1 bytes").arg(capture.size()));
        return 130;
    }
    if (capture.isEmpty()) {
        err(QStringLiteral("qvxctl: the meter did not answer; check the port, the rate and the framing "
                           "(meters use 7 data bits with even parity)"));
        return ExitGateway;
    }
    if (end.complete && !end.bccOk())
        return ExitGateway;
    if (options.untilEnd && !end.complete)
        return ExitGateway;
    return ExitOk;
}

// One child process per target, up to jobs TCP targets at once; serial
// targets one after another.
int runTargets(Options &o, const QStringList &forward, const QVector<GatewayLink> &targets, int jobs)
{
    struct Slot {
        QProcess *proc = nullptr;
        int index = -1;
    };
    int next = 0, done = 0, failed = 0, worst = ExitOk;
    QVector<QString> results(targets.size());
    QEventLoop loop;
    QList<QProcess *> running;
    bool serialBusy = false;
    QElapsedTimer clock;
    clock.start();
    std::function<void()> launch = [&] {
        while (next < targets.size() && running.size() < jobs && !g_interrupted) {
            const GatewayLink &t = targets.at(next);
            if (!t.tcp && serialBusy)
                break;
            const int index = next++;
            auto *proc = new QProcess;
            QStringList a = t.describe().split(QLatin1Char(' '));
            if (!t.tcp)
                a << QStringLiteral("--data-bits") << QString::number(t.dataBits)
                  << QStringLiteral("--stop-bits") << QString::number(t.stopBits);
            a << QStringLiteral("--timeout") << QString::number(t.timeoutMs) << QStringLiteral("--json")
              << QStringLiteral("-q") << forward;
            if (!t.tcp)
                serialBusy = true;
            running << proc;
            QObject::connect(proc, &QProcess::finished, &loop, [&, proc, index, t](int code) {
                const QList<QByteArray> lines = proc->readAllStandardOutput().trimmed().split('\n');
                const QString errText = QString::fromLocal8Bit(proc->readAllStandardError()).trimmed();
                QJsonObject r{{QStringLiteral("target"), t.describe()}, {QStringLiteral("ok"), code == 0}};
                QJsonArray results2;
                for (const QByteArray &l : lines)
                    if (!l.isEmpty())
                        results2.append(QJsonDocument::fromJson(l).object());
                r.insert(QStringLiteral("error"),
                         code == 0 ? QJsonValue() : QJsonValue(errText.section(QLatin1Char('\n'), -1)));
                r.insert(QStringLiteral("result"),
                         results2.size() == 1 ? QJsonValue(results2.at(0)) : QJsonValue(results2));
                if (o.json)
                    out(compact(r));
                else
                    out(QStringLiteral("%1  %2%3")
                            .arg(t.describe().leftJustified(40))
                            .arg(code == 0 ? QStringLiteral("ok") : QStringLiteral("FAILED"))
                            .arg(code == 0 ? QString()
                                           : QStringLiteral("  ") + errText.section(QLatin1Char('\n'), -1)));
                // A target that cannot be reached is one gateway that did not
                // answer: the run as a whole still opened what it had to.
                if (code != 0) {
                    ++failed;
                    worst = qMax(worst, code == ExitUsage ? int(ExitUsage) : int(ExitGateway));
                }
                ++done;
                if (!t.tcp)
                    serialBusy = false;
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
        {{"units"}, "scan: units A-B (1-247).", "A-B"},
        {{"bauds"}, "scan: rates to try, comma-separated (all nine).", "LIST"},
        {{"parities"}, "scan: parities to try (even,none,odd).", "LIST"},
        {{"all"}, "scan: do not stop at the first gateway.", nullptr},
        {{"slot"}, "meters: only slot N.", "N"},
        {{"o", "output"}, "meters read: write to FILE.", "FILE"},
        {{"id-digits"}, "meters: 8 or 16-digit IDs (the gateway's flag).", "N"},
        {{"long-obis"}, "meters: on or off (the gateway's flag).", "on|off"},
        {{"64bit"}, "values: 64-bit values.", nullptr},
        {{"every"}, "values: one reading every SECONDS.", "SECONDS"},
        {{"count"}, "values: stop after N readings.", "N"},
        {{"with-address"}, "profile apply: write the unit address too (last).", nullptr},
        {{"with-network"}, "profile apply: write the IPv4 block too.", nullptr},
        {{"until-end"}, "iec readout: until the end of the message (or 3 s quiet, 5 min).", nullptr},
        {{"mode-c"}, "iec readout: acknowledge and switch to the announced rate.", nullptr},
        {{"start-300"}, "iec readout: sign-on at 300 baud 7E1.", nullptr},
    };
    for (const Opt &o : opts)
        p.addOption(o.value ? QCommandLineOption(o.names, QLatin1String(o.help), QLatin1String(o.value))
                            : QCommandLineOption(o.names, QLatin1String(o.help)));

    // Unknown options and bad values are usage errors; nothing is sent.
    if (!p.parse(QCoreApplication::arguments())) {
        err(QStringLiteral("qvxctl: ") + p.errorText());
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
            const int jobs = intOption(p, QStringLiteral("jobs"), 1, 256, 1);
            // The command is checked once, before any target is reached.
            Options check = o;
            GatewayClient dummy;
            Runner(check, dummy).validate();
            const TargetList list =
                parseTargetFile(readFileOrThrow(p.value(QStringLiteral("targets"))), o.link);
            if (list.error)
                throw UsageError{p.value(QStringLiteral("targets")) + QStringLiteral(": ") + *list.error};
            // Everything after the LINK options goes to each target's run.
            QStringList forward = o.args;
            for (const char *name : {"units", "bauds", "parities", "slot", "output", "id-digits", "long-obis",
                                     "every", "count", "retries"})
                if (p.isSet(QLatin1String(name)))
                    forward << QStringLiteral("--") + QLatin1String(name) << p.value(QLatin1String(name));
            for (const char *name : {"all", "64bit", "with-address", "with-network", "echo"})
                if (p.isSet(QLatin1String(name)))
                    forward << QStringLiteral("--") + QLatin1String(name);
            if (o.verbose)
                forward << QStringLiteral("-v");
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
