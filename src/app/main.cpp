// Program entry: checks that there is a display to show the window on, reads
// "--data-dir DIR" (the program's folder; the executable's folder otherwise),
// creates the main window and the hidden about box and runs the event loop
// until the main window is closed.
#include "app/app_identity.h"
#include "app/tfabout.h"
#include "app/tform1.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

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
    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr, "qvxtool: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                             "qvxtool is a windowed program; start it from a desktop session, or under a\n"
                             "virtual display, for example:\n"
                             "    xvfb-run -a build/bin/qvxtool\n");
        return 1;
    }
    QApplication app(argc, argv);
    qvx::setApplicationIdentity();
    // The program ends when the main window closes, whether or not the about
    // box is still shown.
    QApplication::setQuitOnLastWindowClosed(false);

    qvx::TForm1 form(dataDirArgument(QApplication::arguments()));
    qvx::TFAbout about;
    about.hide();
    form.setAboutBox(&about);
    QObject::connect(&form, &qvx::TForm1::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    form.show();
    return QApplication::exec();
}
