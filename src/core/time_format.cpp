#include "core/time_format.h"

#include <QLocale>

namespace qvx {

QString longTimeText(const QTime &time)
{
    const QLocale locale = QLocale::system();
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString kept;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        kept.append(c);
    }
    return locale.toString(time, kept.simplified());
}

QString longTimeNow()
{
    return longTimeText(QTime::currentTime());
}

QString shortDateText(const QDate &date)
{
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

} // namespace qvx
