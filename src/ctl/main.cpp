// qvxctl: the gateway from the command line.  One command on one gateway, or
// on every target of a target file.  Every encoding and decoder is the
// window's own (through the gateway runners), so both always agree.  This
// file reads the options and hands the command to its runner: runner.* and
// one cmd_*.cpp per command, targets.* for --targets.
#include "core/input_text.h"
#include "ctl/cmd_iec.h"
#include "ctl/ctl_common.h"
#include "ctl/help.h"
#include "ctl/runner.h"
#include "ctl/targets.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>
#include <span>

using namespace qvx;
using namespace qvx::ctl;

namespace {

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
        {{"o", "output"}, "meters read: write to FILE (with --targets a pattern: {name}...).", "FILE"},
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
            for (const CommandHelp &h : std::span(CommandHelps, CommandHelpCount))
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
