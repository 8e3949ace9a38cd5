// The user's regional time and date formats, as the log lines, the register
// table's time column and the values log show them.
#pragma once

#include <QDate>
#include <QString>
#include <QTime>

namespace qvx {

// The system's long time format without the time-zone name: Qt's long format
// adds the zone, which the operator's clock does not show and which would not
// fit the register table's time column.
QString longTimeText(const QTime &time);
QString longTimeNow();
// The system's short date format.
QString shortDateText(const QDate &date);

} // namespace qvx
