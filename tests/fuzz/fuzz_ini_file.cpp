// The settings file reader and writer on any bytes.  Reading then writing a
// file keeps every line as it was (only line ends become CR LF), and setting
// any text as a value (line breaks and NUL included) writes a file that reads
// back with every other key as before.
#include "core/ini_file.h"

#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <utility>

namespace {

using KeyValues = QList<std::tuple<QString, QString, QString>>;

const QString Missing = QStringLiteral("\x01missing");

// Every (section, key) with the value a lookup gives, the preamble's keys
// excluded (no lookup reaches them).  A key of a repeated section that the
// first one lacks reads as missing, there and after the change.
KeyValues lookups(const qvx::IniFile &ini)
{
    KeyValues out;
    for (const QString &section : ini.sections())
        for (const QString &key : ini.keys(section))
            out.push_back({section, key, ini.value(section, key, Missing)});
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first 0x02 byte splits the file from the value text to set.
    const QByteArray all(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = all.indexOf('\x02');
    const QByteArray file = cut < 0 ? all : all.left(cut);
    const QString text = cut < 0 ? QString() : QString::fromLatin1(all.mid(cut + 1));

    qvx::IniFile ini;
    ini.parse(file);
    const QByteArray written = ini.serialize();

    // Unknown content survives byte for byte, line by line.
    QByteArray expected;
    QList<QByteArray> lines = file.split('\n');
    if (file.endsWith('\n') || file.isEmpty())
        lines.removeLast();
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        expected += line + "\r\n";
    }
    if (written != expected)
        __builtin_trap();

    const KeyValues before = lookups(ini);
    for (const auto &[section, key] : {std::pair{QStringLiteral("Modbus"), QStringLiteral("Count")},
                                       std::pair{QStringLiteral("Ethernet"), QStringLiteral("IP")}}) {
        qvx::IniFile changed;
        changed.parse(file);
        changed.setValue(section, key, text);
        qvx::IniFile reread;
        reread.parse(changed.serialize());
        if (!reread.contains(section, key) || reread.serialize() != changed.serialize())
            __builtin_trap();
        if (reread.value(section, key) != changed.value(section, key))
            __builtin_trap();
        for (const auto &[s, k, value] : before) {
            if (s.compare(section, Qt::CaseInsensitive) == 0 && k.compare(key, Qt::CaseInsensitive) == 0)
                continue;
            if (reread.value(s, k, Missing) != value)
                __builtin_trap();
        }
    }
    return 0;
}
