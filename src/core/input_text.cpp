#include "core/input_text.h"

namespace qvx {
namespace {

QString printable(QStringView text)
{
    QString s = text.toString();
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    return s;
}

} // namespace

QString cutInput(QStringView text, int max)
{
    if (text.size() <= max)
        return printable(text);
    return printable(text.left(max)) + QStringLiteral("... (%1 characters)").arg(text.size());
}

QString quoteInput(QStringView text, int max)
{
    if (text.size() <= max)
        return QLatin1Char('"') + printable(text) + QLatin1Char('"');
    return QLatin1Char('"') + printable(text.left(max)) +
           QStringLiteral("...\" (%1 characters)").arg(text.size());
}

} // namespace qvx
