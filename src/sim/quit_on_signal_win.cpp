// Windows consoles: Ctrl+C, Ctrl+Break and closing the console window reach a
// handler that Windows runs on a thread of its own; a queued call hands the
// quit to the event loop's thread.
#include "sim/quit_on_signal.h"

#include <QCoreApplication>
#include <windows.h>

namespace qvxsim {
namespace {

BOOL WINAPI onConsoleEvent(DWORD)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

bool quitOnSignals()
{
    return SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

} // namespace qvxsim
