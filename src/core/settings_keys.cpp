#include "core/settings_keys.h"

#include "core/ini_file.h"

#include <QFileInfo>

namespace qvx {

std::vector<SettingKey> settingKeys(const QString &programDir)
{
    const QString port = QStringLiteral("Modbus port");
    const QString modbus = QStringLiteral("Modbus");
    const QString misc = QStringLiteral("Misc");
    const QString eth = QStringLiteral("Ethernet");
    const QString options = QStringLiteral("Options");
    using K = SettingKind;
    return {
        {port, "Name", K::Text, "COM1", "Combo_com2_name"},
        {port, "Speed", K::Text, "19200", "Combo_com2_speed"},
        {port, "Parity", K::Text, "Even", "Combo_com2_parity"},
        {port, "SB", K::Text, "1", "Combo_com2_stop"},
        {port, "DB", K::Text, "8", "Combo_dbits"},
        {modbus, "AutoOpen", K::Bool, "0", "CB_open_port2"},
        {modbus, "Timeout", K::Integer, "600", "UD_modbusTimeout"},
        {modbus, "Address", K::Integer, "1", "UDmodbusAddress"},
        {modbus, "STADDR", K::Text, "1", "EditInputAddress"},
        {modbus, "Count", K::Text, "125", "EditInputCount"},
        {misc, "Dir", K::Text, programDir, {}},
        {eth, "IP", K::Text, DefaultRemoteIp, "Edit_remoteIP"},
        {eth, "Port", K::Text, "502", "Edit_port"},
        {eth, "Timeout", K::Integer, "50", "UD_connectTimeout"},
        // The program's own options (Tools > Options...).
        {options, "EndOnCompleteReply", K::Bool, "0", "CheckEndOnCompleteReply"},
        {options, "AdapterEchoes", K::Bool, "0", "CheckAdapterEchoes"},
    };
}

std::vector<SettingKey> readoutPortKeys()
{
    const QString section = QStringLiteral("Readout port");
    using K = SettingKind;
    return {
        {section, "Port", K::Integer, "0", "Combo_readoutPort"},
        {section, "Name", K::Text, "COM2", "Combo_readoutPortName"},
        {section, "Speed", K::Text, "9600", "Combo_readoutSpeed"},
        {section, "Parity", K::Text, "Even", "Combo_readoutParity"},
        {section, "DB", K::Text, "7", "Combo_readoutDataBits"},
    };
}

QString settingsFilePath(const QString &programDir, const QString &programFilePath)
{
    return programDir + QFileInfo(programFilePath).completeBaseName() + QStringLiteral(".ini");
}

QString normalizedSetting(const SettingKey &key, const QString &raw)
{
    switch (key.kind) {
    case SettingKind::Text:
        return raw.left(SettingValueMaxLength);
    case SettingKind::Bool: {
        const auto n = iniToInteger(raw);
        if (!n)
            return key.defaultValue;
        return *n != 0 ? QStringLiteral("1") : QStringLiteral("0");
    }
    case SettingKind::Integer: {
        const auto n = iniToInteger(raw);
        return n ? QString::number(*n) : key.defaultValue;
    }
    }
    return key.defaultValue;
}

} // namespace qvx
