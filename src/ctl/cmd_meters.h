// The meters command's input file: a meter data file or JSON, checked whole.
#pragma once

#include "ctl/ctl_common.h"
#include "meters/meter_file_check.h"
#include "meters/meter_table.h"

namespace qvx::ctl {

// A meter table from a meter data file or a JSON file of the same shape,
// checked before anything is sent: every line or entry the gateway could
// not take as written is named, and the file is refused.
struct MeterFile {
    MeterTable table;
    // The slots the file holds; an empty block or entry is not part of it.
    QVector<int> held;
    // A meter data file (problems by line) rather than JSON (by slot).
    bool dataFile = false;
    MeterFileCheck check;
    // 8 or 16 as the file's IDs say, 0 when they do not.
    int idDigits = 0;
    bool longCodes = false;
};
// The file's problems for a gateway of that format.
QStringList meterFileProblems(const MeterFile &f, int digits, bool longObis);
MeterFile loadTableFile(const QString &path);

} // namespace qvx::ctl
