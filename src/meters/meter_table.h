// The meter table: the program's own copy of the device's meter programming,
// 32 meter IDs and 32 x 64 OBIS code texts.  It is the one model the meter
// tab, the programming transfer, the values and the meter data file share;
// widgets only show it.  Slots are 1..32 and rows 1..64 as the operator
// counts them (row 64 is only ever filled by a file load); an index outside
// those reads as empty and is not stored.
#pragma once

#include <QString>
#include <array>

namespace qvx {

class MeterTable {
public:
    static constexpr int Slots = 32;
    static constexpr int Rows = 64;

    QString id(int slot) const;
    void setId(int slot, const QString &id);
    QString code(int slot, int row) const;
    void setCode(int slot, int row, const QString &code);
    // Empties every ID and every code.
    void clear();

    static bool validSlot(int slot) { return slot >= 1 && slot <= Slots; }
    static bool validRow(int row) { return row >= 1 && row <= Rows; }

private:
    std::array<QString, Slots> m_ids;
    std::array<std::array<QString, Rows>, Slots> m_codes;
};

} // namespace qvx
