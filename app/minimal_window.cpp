// The smallest window program: shows an empty window and, with --quit-when-shown,
// prints the moment it is shown and ends.  The start-up benchmark's baseline.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(714, 477);
    window.show();
    if (argc > 1 && std::strcmp(argv[1], "--quit-when-shown") == 0)
        QTimer::singleShot(0, &app, [] {
            std::puts("shown");
            std::fflush(stdout);
            QApplication::quit();
        });
    return app.exec();
}
