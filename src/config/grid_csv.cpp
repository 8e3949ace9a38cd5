#include "config/grid_csv.h"

namespace qvx {

QByteArray GridCsvBytes(int rows, int cols, const GridCellText &cell)
{
    QByteArray out;
    // A register row is about forty characters; one reservation saves most
    // of the regrowth on large tables.
    out.reserve(qsizetype(rows) * (qsizetype(cols) * 8 + 2));
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            // Characters outside Latin-1 become '?', as the single-byte code
            // page would write them.
            out.append(cell(col, row).toLatin1());
            out.append(';');
        }
        out.append("\r\n");
    }
    return out;
}

} // namespace qvx
