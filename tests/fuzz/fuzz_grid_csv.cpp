// The CSV writer on any cell texts: one CRLF-ended line per row, every cell
// followed by ";", and Latin-1 cell texts come back byte for byte.
#include "config/grid_csv.h"

#include <QStringList>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int cols = 1 + data[0] % 6;
    const int rows = 1 + data[1] % 8;
    // The rest, split at 0x01, gives the cells in row order (missing ones empty).
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2)).split('\x01');
    auto cell = [&](int col, int row) {
        const qsizetype i = qsizetype(row) * cols + col;
        return i < parts.size() ? QString::fromLatin1(parts.at(i)) : QString();
    };
    const QByteArray csv = qvx::GridCsvBytes(rows, cols, cell);

    QByteArray expected;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c)
            expected += cell(c, r).toLatin1() + ';';
        expected += "\r\n";
    }
    if (csv != expected)
        __builtin_trap();
    return 0;
}
