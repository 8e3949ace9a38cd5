// meters read|write|diff: the meter table, as a meter data file or JSON.
#include "ctl/runner.h"

#include "core/errors.h"
#include "core/input_text.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"
#include "meters/meter_codec.h"
#include "meters/meter_data_file.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace qvx::ctl {

// The file's problems for a gateway of that format.
QStringList meterFileProblems(const MeterFile &f, int digits, bool longObis)
{
    return f.dataFile ? meterDataFormatProblems(f.check, digits, longObis)
                      : meterTableProblems(f.table, f.held, digits, longObis);
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

void Runner::validateMeters()
{
    const QCommandLineParser &p = *m_o.parser;
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

} // namespace qvx::ctl
