#include "meters/meter_table.h"

namespace qvx {

QString MeterTable::id(int slot) const
{
    return validSlot(slot) ? m_ids[static_cast<size_t>(slot - 1)] : QString();
}

void MeterTable::setId(int slot, const QString &id)
{
    if (validSlot(slot))
        m_ids[static_cast<size_t>(slot - 1)] = id;
}

QString MeterTable::code(int slot, int row) const
{
    if (!validSlot(slot) || !validRow(row))
        return {};
    return m_codes[static_cast<size_t>(slot - 1)][static_cast<size_t>(row - 1)];
}

void MeterTable::setCode(int slot, int row, const QString &code)
{
    if (validSlot(slot) && validRow(row))
        m_codes[static_cast<size_t>(slot - 1)][static_cast<size_t>(row - 1)] = code;
}

void MeterTable::clear()
{
    for (QString &id : m_ids)
        id.clear();
    for (auto &slot : m_codes)
        for (QString &code : slot)
            code.clear();
}

} // namespace qvx
