// The settings file format: a Windows private-profile (INI) file as the
// platform's GetPrivateProfileString/WritePrivateProfileString read and write
// it.  Section names keep their spaces ("Modbus port"), lookups ignore case,
// CRLF and LF both read, values are trimmed, and everything this program does
// not know (other sections, keys, comments, blank lines) is kept in place so
// that a file shared with other tools survives a save.  Bytes are Latin-1, so
// every byte of a file read comes back unchanged when it is written.
//
// QSettings is deliberately not used: it percent-encodes section names with
// spaces and rewrites the whole file in its own order.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace qvx {

class IniFile {
public:
    // Replaces the content with the parsed bytes.
    void parse(const QByteArray &bytes);
    // The whole file as it is written: Latin-1, every line ended by CRLF.
    QByteArray serialize() const;

    // Reads a file; a missing or unreadable file leaves the content empty and
    // returns false (every lookup then gives its default).
    bool load(const QString &path);
    // Writes the whole file through a temporary file and a rename, so a failed
    // or interrupted write leaves the previous file as it was.
    bool save(const QString &path, QString *errorText = nullptr) const;

    bool contains(const QString &section, const QString &key) const;
    // The trimmed value, one pair of enclosing quotes removed as the platform
    // does; the first of duplicate keys wins.  def when section or key is absent.
    QString value(const QString &section, const QString &key, const QString &def = {}) const;
    // Changes the first matching key in place, or adds the key at the end of
    // its section, or adds the section at the end of the file.
    void setValue(const QString &section, const QString &key, const QString &value);

    QStringList sections() const;
    QStringList keys(const QString &section) const;

private:
    struct Line {
        QString raw;   // the line as read (for keys: rebuilt when set)
        QString key;   // empty for comments, blank lines and other text
        QString value; // trimmed, quotes kept
    };
    struct Section {
        QString name; // as first written; the preamble has none
        bool preamble = false;
        std::vector<Line> lines;
    };

    const Section *findSection(const QString &name) const;
    Section *findSection(const QString &name);
    static const Line *findKey(const Section &s, const QString &key);

    std::vector<Section> m_sections;
};

// An integer as the settings file holds it: optional sign, then decimal
// digits, or hexadecimal digits after "$", "0x" or "x" (the forms the
// original tool's integer conversion accepts).  Anything else, including a
// number beyond 64 bits, gives nothing, so the caller uses its default.
std::optional<qint64> iniToInteger(const QString &text);

} // namespace qvx
