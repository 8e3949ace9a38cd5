// The one CSV writer of the tool's tables: the register table and the
// readout table are both exported through it.
#pragma once

#include <QString>

namespace qvx {

class Session;
class StringGrid;

// Asks for a file in the save dialog (opening in workDir, proposing
// defaultName) and writes every row of grid to it in the layout of
// GridCsvBytes.  Cancelling writes nothing.  The file is written through a
// temporary file that replaces the old one only when complete, so a failed
// write leaves the old file as it was; failures are shown in the message
// boxes the operator knows ("Error saving file").  With a session, a file
// written is reported in the status bar with its path and size.
void ExportGridCsv(const StringGrid &grid, const QString &defaultName, const QString &workDir,
                   Session *session = nullptr);

} // namespace qvx
