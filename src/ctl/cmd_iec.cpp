#include "ctl/cmd_iec.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"
#include "iec/iec_lines.h"
#include "iec/iec_parse.h"
#include "iec/iec_protocol.h"
#include "iec/iec_session.h"
#include "iec/obis.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QTime>
#include <QTimer>

namespace qvx::ctl {

namespace {

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

} // namespace

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
    if (!lost.isEmpty()) {
        err(QStringLiteral("qvxctl: %1: %2").arg(session.comm2().devicePath(), lost));
        return ExitLink;
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

} // namespace qvx::ctl
