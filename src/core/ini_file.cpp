#include "core/ini_file.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace qvx {
namespace {

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The platform's reader drops one pair of matching quotes around a value.
QString unquoted(const QString &value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

} // namespace

void IniFile::parse(const QByteArray &bytes)
{
    m_sections.clear();
    m_sections.push_back(Section{{}, true, {}});
    const QString text = QString::fromLatin1(bytes);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        QString raw = text.mid(start, end - start);
        if (raw.endsWith(u'\r'))
            raw.chop(1);
        start = end + 1;

        const QString trimmed = raw.trimmed();
        if (trimmed.startsWith(u'[')) {
            qsizetype close = trimmed.indexOf(u']');
            if (close < 0)
                close = trimmed.size();
            Section s;
            s.name = trimmed.mid(1, close - 1).trimmed();
            s.lines.push_back(Line{raw, {}, {}});
            m_sections.push_back(std::move(s));
            continue;
        }
        Line line{raw, {}, {}};
        const qsizetype eq = trimmed.indexOf(u'=');
        if (eq > 0 && !trimmed.startsWith(u';')) {
            line.key = trimmed.left(eq).trimmed();
            line.value = trimmed.mid(eq + 1).trimmed();
        }
        m_sections.back().lines.push_back(std::move(line));
    }
}

QByteArray IniFile::serialize() const
{
    QByteArray out;
    for (const Section &s : m_sections)
        for (const Line &l : s.lines) {
            out += l.raw.toLatin1();
            out += "\r\n";
        }
    return out;
}

bool IniFile::load(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        parse({});
        return false;
    }
    parse(f.readAll());
    return true;
}

bool IniFile::save(const QString &path, QString *errorText) const
{
    QSaveFile f(path);
    bool ok = f.open(QIODevice::WriteOnly);
    if (ok) {
        const QByteArray bytes = serialize();
        // QSaveFile::commit() does not notice a buffered write that fails on
        // flush (a full disk) and would replace the old file with a truncated
        // one, so the flush is checked first.
        ok = f.write(bytes) == bytes.size() && f.flush();
    }
    if (ok)
        ok = f.commit();
    else
        f.cancelWriting();
    if (!ok && errorText)
        *errorText = f.errorString();
    return ok;
}

const IniFile::Section *IniFile::findSection(const QString &name) const
{
    for (const Section &s : m_sections)
        if (!s.preamble && sameName(s.name, name))
            return &s;
    return nullptr;
}

IniFile::Section *IniFile::findSection(const QString &name)
{
    return const_cast<Section *>(std::as_const(*this).findSection(name));
}

const IniFile::Line *IniFile::findKey(const Section &s, const QString &key)
{
    for (const Line &l : s.lines)
        if (!l.key.isEmpty() && sameName(l.key, key))
            return &l;
    return nullptr;
}

bool IniFile::contains(const QString &section, const QString &key) const
{
    const Section *s = findSection(section);
    return s && findKey(*s, key);
}

QString IniFile::value(const QString &section, const QString &key, const QString &def) const
{
    const Section *s = findSection(section);
    const Line *l = s ? findKey(*s, key) : nullptr;
    return l ? unquoted(l->value) : def;
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    if (m_sections.empty())
        m_sections.push_back(Section{{}, true, {}});
    Section *s = findSection(section);
    if (!s) {
        Section added;
        added.name = section;
        added.lines.push_back(Line{QLatin1Char('[') + section + QLatin1Char(']'), {}, {}});
        m_sections.push_back(std::move(added));
        s = &m_sections.back();
    }
    // A value is one line: a line break inside it would end the line there
    // and could start a section of its own, taking the keys below with it.
    QString v = value;
    v.replace(u'\r', u' ').replace(u'\n', u' ');
    v = v.trimmed();
    if (auto *l = const_cast<Line *>(findKey(*s, key))) {
        l->value = v;
        l->raw = l->key + QLatin1Char('=') + v;
        return;
    }
    // A new key goes after the section's last key, ahead of any blank lines or
    // comments that separate it from the next section.
    auto at = s->lines.end();
    while (at != s->lines.begin() + 1 && std::prev(at)->key.isEmpty())
        --at;
    s->lines.insert(at, Line{key + QLatin1Char('=') + v, key, v});
}

QStringList IniFile::sections() const
{
    QStringList out;
    for (const Section &s : m_sections)
        if (!s.preamble)
            out << s.name;
    return out;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList out;
    if (const Section *s = findSection(section))
        for (const Line &l : s->lines)
            if (!l.key.isEmpty())
                out << l.key;
    return out;
}

std::optional<qint64> iniToInteger(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    }
    const QString digits = text.mid(i);
    if (digits.isEmpty())
        return std::nullopt;
    const auto isDigit = [base](QChar c) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            return true;
        return base == 16 && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F'));
    };
    if (!std::all_of(digits.begin(), digits.end(), isDigit))
        return std::nullopt;
    bool ok = false;
    const qint64 magnitude = digits.toLongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    return negative ? -magnitude : magnitude;
}

} // namespace qvx
