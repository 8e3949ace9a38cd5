// What the settings file holds: every key, in the order it is read and
// written, with its kind, its default and the object name of the control that
// holds it.  Plain data so the file's layout is tested without widgets.
#pragma once

#include <QString>
#include <vector>

namespace qvx {

enum class SettingKind { Text, Bool, Integer };

struct SettingKey {
    QString section;
    QString key;
    SettingKind kind;
    QString defaultValue; // as the file would hold it
    QString control;      // object name; empty for "Dir", which is WorkDir
};

// Address of the device's Modbus TCP server until the operator sets one.
inline constexpr char DefaultRemoteIp[] = "192.168.1.100";
// The longest value the settings reader takes from a line.
inline constexpr int SettingValueMaxLength = 2047;

// The fourteen keys; "Dir" defaults to programDir.
std::vector<SettingKey> settingKeys(const QString &programDir);

// The readout tab's port of its own, in a section of its own ("Readout
// port") read and written after the keys above: which port the readout uses
// (0 the Modbus serial port, 1 its own), and its own port's name, rate,
// parity and data bits (an optical head's 9600 7E1).  A file without the
// section, written by an older version or another program, gives these
// defaults.
std::vector<SettingKey> readoutPortKeys();

// The settings file: the program file's path with its extension replaced by
// ".ini", placed in programDir (which ends in a separator).
QString settingsFilePath(const QString &programDir, const QString &programFilePath);

// A value read from the file, interpreted for its kind: text as it is (cut to
// SettingValueMaxLength), a Bool as "1"/"0" (any integer other than 0 is
// true), an Integer in decimal; a value of the wrong kind gives the default.
QString normalizedSetting(const SettingKey &key, const QString &raw);

} // namespace qvx
