// The rows of the "Data sets" window and its CSV export: one row per data
// set of a capture, in the order sent, with its line, its code (short form
// and as sent), the name the OBIS table gives it, the value and unit the
// meter sent, and everything else the data set carried (time stamps, billing
// values, the parts of an "&" value).  Plain text, so the window and its
// export are the same rows.
#pragma once

#include "iec/iec_datasets.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace qvx {

struct IecDataSetRow {
    int line = 0;
    QString code;    // short form: "1.8.0"
    QString address; // as sent: "1-0:1.8.0*255"
    QString name;    // "Active energy import (+A), total [kWh]"; empty for a code the table lacks
    QString value;   // first group's value, as sent
    QString unit;    // first group's unit, empty when the meter sent none
    QString further; // the further groups and the parts, " | " between them
};

// The column captions of the window and of the CSV file's first line.
QStringList IecDataSetColumns();
// Text of row's column col (in the order of IecDataSetColumns).
QString IecDataSetCell(const IecDataSetRow &row, int col);

QList<IecDataSetRow> IecDataSetRows(const IecDataBlock &block);

// One group as the further values show it: its value, a space and its unit
// when it has one.
QString IecGroupText(const IecValueGroup &group);

// "Identification /XYZ5METER, 12 data sets" and what is missing: no
// identification line, lines that held no data set, no end of the data ("!").
QString IecDataBlockSummary(const IecDataBlock &block);

} // namespace qvx
