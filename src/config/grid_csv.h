// The CSV layout of a grid export: one line per grid row, header row
// included; every cell followed by ";" (so every line ends in ";"); cell texts
// as they are, no quoting; lines ended by CR LF; Latin-1.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace qvx {

// cell(col, row) gives the text of one cell.
using GridCellText = std::function<QString(int col, int row)>;

QByteArray GridCsvBytes(int rows, int cols, const GridCellText &cell);

} // namespace qvx
