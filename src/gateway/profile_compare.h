// The gateway profile as the window shows it: its settings as rows, and a
// comparison of a profile with the gateway sorted into the settings and the
// slots that differ.  The comparison is qvxctl's "profile diff" (the same
// normalisation of the file's meter table, the same difference lines), only
// grouped for a tree view and a heading.
#pragma once

#include "gateway/gateway_format.h"

#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

namespace qvx {

// One settings row: its key (as in the profile file and in the difference
// lines, e.g. "flags.dhcp"), its caption as the Settings tab and the
// settings readout word it ("Set DHCP On/Off", "IEC serial settings") and
// its value as the operator reads it ("on", "9600bps, Even, 7 bits").
struct ProfileSetting {
    QString key;
    QString caption;
    QString value;
};
QVector<ProfileSetting> profileSettings(const GatewayProfile &profile);

// The file's meter table as the gateway hands it back after storing it.
GatewayProfile normalizedProfile(const GatewayProfile &file);

struct ProfileComparison {
    // One line each, as qvxctl prints them.
    QStringList differences;
    // Keys of the settings that differ.
    QSet<QString> settings;
    // Slots whose ID or one of whose rows differs, and the rows themselves
    // (row 0 is the ID).
    QSet<int> meterSlots;
    QSet<QPair<int, int>> rows;
    bool clean() const { return differences.isEmpty(); }
    // "3 settings and 2 slots differ".
    QString heading() const;
};
// device against file; the network block, the unit address and the RTU line
// count only when asked, as for an apply.
ProfileComparison compareProfiles(const GatewayProfile &device, const GatewayProfile &file, bool network,
                                  bool unit, bool line = false);

// Slots the profile holds with an ID or a code, in order: the ones worth a
// tree node.  The
// gateway hands back an unprogrammed ID as all F and an unprogrammed entry
// with 255 in its first group; these count as empty, as an empty text does.
QVector<int> usedSlots(const GatewayProfile &profile);
// The last row of slot with a code (0: none).
int lastProgrammedRow(const MeterTable &table, int slot);

} // namespace qvx
