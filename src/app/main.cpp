// Program entry: answers --version and --help (no display needed), checks
// that there is a display to show the window on, picks the program's folder
// ("--data-dir DIR", else the executable's folder, else the user's data
// folder when installed), creates the main window and the hidden about box
// and runs the event loop until the main window is closed.
#include "app/app_identity.h"
#include "app/program_folder.h"
#include "app/tfabout.h"
#include "app/tform1.h"

#include <QApplication>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *const Usage = "Usage: qvxtool [--data-dir DIR] [Qt options such as -platform NAME]\n"
                          "       qvxtool --version | --help\n"
                          "\n"
                          "The service tool for the QVX-24S field gateway (Modbus RTU and TCP).\n"
                          "\n"
                          "  --data-dir DIR  keep the settings file qvxtool.ini, files/ and the logs in DIR\n"
                          "                  (default: the program's folder when writable, else the\n"
                          "                  user's data folder, such as ~/.local/share/qvxtool or\n"
                          "                  %LOCALAPPDATA%\\qvxtool)\n"
                          "  --version       print the version and exit\n"
                          "  --help          print this text and exit\n";

// --version and --help are answered before Qt starts, so that they work
// without a display (over SSH, in package checks).
bool hasArgument(int argc, char **argv, const char *name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

bool hasDisplay(int argc, char **argv)
{
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    const auto set = [](const char *name) {
        const char *v = std::getenv(name);
        return v && *v;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
#else
    (void)argc;
    (void)argv;
    return true;
#endif
}

QString dataDirArgument(const QStringList &args)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--data-dir") && i + 1 < args.size())
            return args[i + 1];
        if (args[i].startsWith(QLatin1String("--data-dir=")))
            return args[i].mid(11);
    }
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    if (hasArgument(argc, argv, "--version")) {
        std::printf("qvxtool %s\n", QVX_VERSION_TEXT);
        return 0;
    }
    if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr,
                     "qvxtool: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "qvxtool is a windowed program; start it from a desktop session, or under a\n"
                     "virtual display, for example:\n"
                     "    xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    qvx::setApplicationIdentity();
    // The program ends when the main window closes, whether or not the about
    // box is still shown.
    QApplication::setQuitOnLastWindowClosed(false);

    qvx::TForm1 form(qvx::chooseProgramFolder(
        dataDirArgument(QApplication::arguments()), QCoreApplication::applicationDirPath(),
        // ~/.local/share/qvxtool; %LOCALAPPDATA%\qvxtool on Windows.
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)));
    qvx::TFAbout about;
    about.hide();
    form.setAboutBox(&about);
    QObject::connect(&form, &qvx::TForm1::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    form.show();
    return QApplication::exec();
}
