// Pictures of the windows for the manual, made by the tests when
// QVX_SCREENSHOT_DIR is set: a window at the size it is shown in, and the
// same window at the main window's size and at a large desktop's, to see what
// is cut off or left blank as it grows.
#pragma once

#include <QDir>
#include <QTest>
#include <QWidget>

namespace qvxtest {

inline const QList<QSize> &screenshotSizes()
{
    static const QList<QSize> sizes = {QSize(916, 788), QSize(1600, 1000)};
    return sizes;
}

// Resizes a shown window and lets its layouts settle; false when it did not
// take the size (a minimum size larger than it, for instance).
inline bool resizeShown(QWidget *window, QSize size)
{
    window->resize(size);
    const bool took = QTest::qWaitFor([&] { return window->size() == size; }, 5000);
    QTest::qWait(50);
    return took;
}

// out/<name>-<w>x<h>.png
inline QString sizedName(const QString &out, const QString &name, QSize size)
{
    return QStringLiteral("%1/%2-%3x%4.png").arg(out, name).arg(size.width()).arg(size.height());
}

// Saves the window as out/<name>.png as it is, then at each of the sizes as
// out/<name>-<w>x<h>.png, and gives it its size back.
inline bool saveAtSizes(QWidget *window, const QString &out, const QString &name)
{
    QDir().mkpath(out);
    if (!window->grab().save(out + QLatin1Char('/') + name + QStringLiteral(".png")))
        return false;
    const QSize shown = window->size();
    for (QSize size : screenshotSizes()) {
        resizeShown(window, size);
        if (!window->grab().save(sizedName(out, name, size)))
            return false;
    }
    resizeShown(window, shown);
    return true;
}

} // namespace qvxtest
