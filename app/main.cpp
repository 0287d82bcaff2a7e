// orvex-interface: the window program.

#include "app/TFCOMM.h"
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
                "  --help        show this text\n");
}

} // namespace

int main(int argc, char** argv) {
    // --help needs no display: answer it before the toolkit looks for one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintHelp();
            return 0;
        }
        if (std::strncmp(argv[i], "--com", 5) == 0) {
            ++i; // a device path, even one that looks like an option
        }
    }

    QApplication app(argc, argv);
    // The window caption carries the program's title.
    QApplication::setApplicationDisplayName(QString());
    // Desktops (Wayland's app id) match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.orvex.Interface"));

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
        if (std::strncmp(arg, "--com", 5) == 0 && arg[5] >= '1' && arg[5] <= '4' && arg[6] == 0 &&
            i + 1 < argc) {
            options.portPaths[arg[5] - '1'] = QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        std::fprintf(stderr, "orvex-interface: unknown option '%s' (see --help)\n", arg);
        return 2;
    }

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
