// orvex-interface: the window program.

#include "app/TFCOMM.h"
#include "app/Widgets.h"
#include "link/ConnectionControl.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

void PrintHelp() {
    std::printf("Usage: orvex-interface [--com1 PATH] [--com2 PATH] [--com3 PATH] [--com4 PATH]\n"
                "                       [--connect]\n"
                "\n"
                "Shows the meter's display, judges, records, plots and saves its readings.\n"
                "\n"
                "  --comN PATH   use the serial device PATH for the port \"COMN\" of the\n"
                "                ComSetup menu (N = 1..4). Without it COMN is /dev/ttyUSB<N-1>\n"
                "                when that device exists, else /dev/ttyS<N-1>.\n"
                "  --connect     open the serial link at start-up, as \"START\" in the\n"
                "                Connect menu does\n"
                "  --quit-when-shown\n"
                "                print \"shown\" once the window is on screen and end\n"
                "                (for the start-up benchmark)\n"
                "  --help        show this text\n"
                "\n"
                "Every row recorded is also written to a session journal in\n"
                "$XDG_STATE_HOME/orvex-interface/ (~/.local/state/orvex-interface/) until a\n"
                "save holds it; the journal of a session that did not end normally is\n"
                "offered back at the next start.\n");
}

// Qt's own options that take a value (QGuiApplication, QApplication): left to Qt.
bool IsQtOptionWithValue(const char* arg) {
    static const char* const kOptions[] = {"-platform",
                                           "-platformpluginpath",
                                           "-platformtheme",
                                           "-plugin",
                                           "-qwindowgeometry",
                                           "-qwindowicon",
                                           "-qwindowtitle",
                                           "-display",
                                           "-geometry",
                                           "-style",
                                           "-stylesheet",
                                           "-session",
                                           "-name",
                                           "-title",
                                           "-qmljsdebugger"};
    for (const char* option : kOptions)
        if (std::strcmp(arg, option) == 0) return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // The command line is read before Qt starts, so that --help and a wrong
    // option need no display.
    orvex::WindowOptions options;
    bool quitWhenShown = false;
    bool connectAtStart = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strcmp(arg, "--connect") == 0) {
            connectAtStart = true;
            continue;
        }
        if (std::strcmp(arg, "--quit-when-shown") == 0) {
            quitWhenShown = true;
            continue;
        }
        if (std::strncmp(arg, "--com", 5) == 0 && arg[5] >= '1' && arg[5] <= '4' && arg[6] == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == 0 || std::strncmp(argv[i + 1], "--", 2) == 0) {
                std::fprintf(stderr,
                             "orvex-interface: option %s needs a path: the serial device of the "
                             "port COM%c (see --help)\n",
                             arg, arg[5]);
                return 2;
            }
            options.portPaths[arg[5] - '1'] = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        // Qt's own options ("-platform offscreen", "-style fusion", ...) go to Qt.
        if (arg[0] == '-' && arg[1] != '-' && arg[1] != 0) {
            if (IsQtOptionWithValue(arg)) ++i;
            continue;
        }
        std::fprintf(stderr, "orvex-interface: unknown option '%s' (see --help)\n", arg);
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setStyle(new orvex::TWindowStyle);
    // The window caption carries the program's title.
    QApplication::setApplicationDisplayName(QString());
    // Desktops (Wayland's app id) match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orvex.Interface"));

    orvex::TFCOMM window(options);
    QObject::connect(&window, &orvex::TFCOMM::terminationRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                           window.screen()->availableGeometry()));
    window.show();
    if (connectAtStart) {
        QTimer::singleShot(0, &window, [&window] {
            window.RunHandler([&window] { window.Connection().BTCon1Click(); });
        });
    }
    if (quitWhenShown) {
        QTimer::singleShot(0, &app, [] {
            std::puts("shown");
            std::fflush(stdout);
            QApplication::quit();
        });
    }
    return app.exec();
}
