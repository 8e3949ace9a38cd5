#include "widgets/guard.h"

#include "widgets/dialogs.h"

#include <QCoreApplication>

namespace qvx {

bool guard(const std::function<void()> &body, QWidget *parent)
{
    QString text;
    try {
        body();
        return true;
    } catch (const QvxError &e) {
        text = e.message();
    } catch (const std::exception &e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("Unknown error");
    }
    dialogs().message(parent, DialogIcon::Error, QCoreApplication::applicationName(), text);
    return false;
}

} // namespace qvx
