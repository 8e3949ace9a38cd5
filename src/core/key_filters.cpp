#include "core/key_filters.h"

namespace qvx {

bool keyFilterAccepts(KeyFilterKind kind, QChar c)
{
    const char16_t u = c.unicode();
    if (u == 8 || u == 10 || u == 13)
        return true;
    if (u >= u'0' && u <= u'9')
        return true;
    switch (kind) {
    case KeyFilterKind::Digits:
        return false;
    case KeyFilterKind::DigitsDot:
        return u == u'.';
    case KeyFilterKind::MeterId:
        return u == u'F';
    case KeyFilterKind::ObisCode:
        return u == u'-' || u == u':' || u == u'.';
    }
    return false;
}

const std::vector<KeyFilterRule> &keyFilterRules()
{
    using K = KeyFilterKind;
    static const std::vector<KeyFilterRule> rules = {
        {"Combo_com2_speed", K::Digits}, {"Combo_com2_stop", K::Digits},   {"EditInputAddress", K::Digits},
        {"EditInputCount", K::Digits},   {"EditTimeoutModbus", K::Digits}, {"EditAddressModbus", K::Digits},
        {"Edit_address", K::Digits},     {"Edit_minutes", K::Digits},      {"Edit_single_value", K::Digits},
        {"Edit_port", K::Digits},        {"Edit_remoteIP", K::DigitsDot},  {"Edit_QVXIP", K::DigitsDot},
        {"Edit_QVXMASK", K::DigitsDot},  {"Edit_QVXGW", K::DigitsDot},     {"Edit_meterNumber", K::Digits},
        {"Combo_meterID", K::MeterId},   {"Grid_registers", K::ObisCode},
    };
    return rules;
}

} // namespace qvx
