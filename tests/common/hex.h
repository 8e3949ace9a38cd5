// Byte strings written as the log and the wire traces show them: "01 03 00 0A".
#pragma once

#include <QByteArray>

namespace qvxtest {

inline QByteArray hex(const char *s)
{
    return QByteArray::fromHex(QByteArray(s).replace(' ', ""));
}

} // namespace qvxtest
