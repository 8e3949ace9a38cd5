#include "iec/iec_datasets.h"

#include <QRegularExpression>

namespace qvx {
namespace {

constexpr char Stx = 0x02;
constexpr char Etx = 0x03;

bool blank(char c)
{
    const auto b = static_cast<uchar>(c);
    return b <= 0x20 || b == 0x7F;
}

QString trimmedLatin1(QByteArrayView bytes)
{
    qsizetype from = 0, to = bytes.size();
    while (from < to && blank(bytes[from]))
        ++from;
    while (to > from && blank(bytes[to - 1]))
        --to;
    return QString::fromLatin1(bytes.sliced(from, to - from));
}

struct Identification {
    qsizetype slash = -1; // where its "/" is
    qsizetype next = 0;   // first byte after its line (after the LF)
    QString text;
};

// The first line before limit that holds a "/" with no "(" before it; a
// sign-on request ("/?") is skipped.
Identification findIdentification(QByteArrayView bytes, qsizetype limit)
{
    Identification id;
    qsizetype lineStart = 0;
    while (lineStart < limit) {
        qsizetype lf = bytes.indexOf('\n', lineStart);
        const qsizetype lineEnd = lf < 0 || lf > limit ? limit : lf;
        const QByteArrayView line = bytes.sliced(lineStart, lineEnd - lineStart);
        const qsizetype slash = line.indexOf('/');
        const qsizetype open = line.indexOf('(');
        if (slash >= 0 && (open < 0 || open > slash) &&
            !(slash + 1 < line.size() && line[slash + 1] == '?')) {
            QByteArrayView text = line.sliced(slash);
            while (!text.isEmpty() && (text.back() == '\r' || text.back() == '\n'))
                text.chop(1);
            id.slash = lineStart + slash;
            id.next = lf < 0 || lf > limit ? limit : lf + 1;
            id.text = QString::fromLatin1(text);
            return id;
        }
        if (lf < 0 || lf >= limit)
            break;
        lineStart = lf + 1;
    }
    return id;
}

IecValueGroup makeGroup(const QString &text, bool closed)
{
    IecValueGroup g;
    g.text = text;
    g.closed = closed;
    g.parts = text.split(QLatin1Char('&'));
    const IecValueUnit vu = IecSplitValue(g.parts.first());
    g.value = vu.value;
    g.unit = vu.unit;
    return g;
}

} // namespace

IecValueUnit IecSplitValue(const QString &text)
{
    const qsizetype star = text.indexOf(QLatin1Char('*'));
    if (star >= 0)
        return {text.left(star), text.mid(star + 1)};
    // "007206.0 kWh": a number, one space, a unit; a date and time
    // ("24-03-01 00:00") or a text with spaces is all value.
    static const QRegularExpression spaced(
        QStringLiteral("^(\\s*[+-]?[0-9xX]+(?:[.,][0-9xX]*)?) ([A-Za-z%\\x{00B0}][^ ]*)$"));
    const QRegularExpressionMatch m = spaced.match(text);
    if (m.hasMatch())
        return {m.captured(1), m.captured(2)};
    return {text, QString()};
}

QString IecShortCode(const QString &address)
{
    QString s = address;
    qsizetype from = 0, to = s.size();
    auto isBlank = [](QChar c) { return c.unicode() <= 0x20 || c.unicode() == 0x7F; };
    while (from < to && isBlank(s.at(from)))
        ++from;
    while (to > from && isBlank(s.at(to - 1)))
        --to;
    s = s.mid(from, to - from);
    static const QRegularExpression prefix(QStringLiteral("^\\d{1,3}-\\d{1,3}:"));
    const QRegularExpressionMatch p = prefix.match(s);
    if (p.hasMatch() && p.capturedLength() < s.size())
        s.remove(0, p.capturedLength());
    // F of 255 means "no billing period": "C.D.E*255", "C.D*255", or a fourth
    // group "C.D.E.255".
    static const QRegularExpression noPeriod(
        QStringLiteral("^([^.*&]+\\.[^.*&]+(?:\\.[^.*&]+)?)[*&]255$|^([^.*&]+\\.[^.*&]+\\.[^.*&]+)\\.255$"));
    const QRegularExpressionMatch f = noPeriod.match(s);
    if (f.hasMatch())
        s = f.capturedLength(1) > 0 ? f.captured(1) : f.captured(2);
    return s;
}

IecDataBlock ParseIecDataSets(QByteArrayView capture)
{
    IecDataBlock block;
    const qsizetype size = capture.size();
    const qsizetype stx = capture.indexOf(Stx);

    // Where the data starts, and the identification before it.
    const Identification id = findIdentification(capture, stx < 0 ? size : stx);
    if (id.slash >= 0) {
        block.hasIdentification = true;
        block.identification = id.text;
    }
    qsizetype at = stx >= 0 ? stx + 1 : (id.slash >= 0 ? id.next : 0);
    int line = 1;
    for (qsizetype i = 0; i < at; ++i)
        line += capture[i] == '\n';

    // The text since the last group or line end: the next data set's address.
    qsizetype pending = at;
    int pendingLine = line;
    // The set a group with no address before it joins.
    bool mayContinue = false;
    auto flushJunk = [&](qsizetype end) {
        if (!trimmedLatin1(capture.sliced(pending, end - pending)).isEmpty() &&
            (block.unparsedLines.isEmpty() || block.unparsedLines.back() != pendingLine))
            block.unparsedLines.append(pendingLine);
    };

    while (at < size) {
        const char c = capture[at];
        if (c == '\n') {
            flushJunk(at);
            ++line;
            pending = at + 1;
            pendingLine = line;
            ++at;
            continue;
        }
        if (c == '!') {
            flushJunk(at);
            block.endSeen = true;
            break;
        }
        if (c == Etx) {
            flushJunk(at);
            break;
        }
        if (c == ')') {
            // A ")" with no "(": nothing it closes.
            flushJunk(at);
            if (block.unparsedLines.isEmpty() || block.unparsedLines.back() != line)
                block.unparsedLines.append(line);
            ++at;
            pending = at;
            pendingLine = line;
            continue;
        }
        if (c != '(') {
            ++at;
            continue;
        }
        // A group: up to its ")", or to the end of the line without one.
        qsizetype close = at + 1;
        while (close < size && capture[close] != ')' && capture[close] != '\n')
            ++close;
        const bool closed = close < size && capture[close] == ')';
        QByteArrayView text = capture.sliced(at + 1, close - at - 1);
        if (!closed)
            while (!text.isEmpty() && text.back() == '\r')
                text.chop(1);
        const IecValueGroup group = makeGroup(QString::fromLatin1(text), closed);
        const QString address = trimmedLatin1(capture.sliced(pending, at - pending));
        if (address.isEmpty() && mayContinue) {
            block.sets.last().groups.append(group);
        } else {
            IecDataSet set;
            set.address = address;
            set.code = IecShortCode(address);
            set.line = address.isEmpty() ? line : pendingLine;
            set.groups.append(group);
            block.sets.append(set);
            mayContinue = true;
        }
        at = closed ? close + 1 : close;
        pending = at;
        pendingLine = line;
    }
    if (at >= size && pending < size)
        flushJunk(size);
    return block;
}

} // namespace qvx
