// OBIS codes as meters show them in a readout ("1.8.0", "1-0:1.8.0*255",
// "C.1.0", "F.F"): their parts, the names and units of the common codes of
// electricity meters, and the form the meter tab's register list takes.
#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace qvx {

// The value groups of a code.  The letters C, F, L, P that readouts use for
// the groups 96 to 99 are read as those numbers.
struct ObisCode {
    int a = -1, b = -1; // medium and channel, -1 when the code has no "A-B:" prefix
    int c = 0, d = 0, e = 0;
    int f = -1; // billing period or 255, -1 when absent
};
// Parses a code as a readout row holds it (leading STX and spaces ignored);
// nothing when it is not a code of two to four groups of 0..254 (F up to 255).
std::optional<ObisCode> ParseObisCode(const QString &text);

struct ObisInfo {
    const char *code; // "C.D.E"
    const char *name;
    const char *unit; // empty for none
};
// The table of common codes, sorted by code.
const QList<ObisInfo> &ObisTable();
// The entry for a code (its A, B and F do not matter), if the table has it.
const ObisInfo *FindObisInfo(const QString &text);
// "Active energy import (+A), total [kWh]", or empty for an unknown code.
QString ObisDescription(const QString &text);

// The code as the meter tab's register list takes it: "C.D.E" (".F" when F
// is given and not 255), or with long OBIS "A-B:C.D.E" when the code has a
// medium and channel of one digit each.  Nothing when the encoding cannot
// carry it.
std::optional<QString> ObisForMeterSlot(const QString &text, bool longObis);

} // namespace qvx
