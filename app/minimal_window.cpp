// The smallest window program: shows an empty window and, with --quit-when-shown,
// prints the moment it is shown and ends.  The start-up benchmark's baseline.
// With --text the window also has a menu bar and a line of text: what any window
// that shows text pays for the font system on top of the empty one.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    bool quitWhenShown = false;
    bool text = false;
    for (int i = 1; i < argc; ++i) {
        quitWhenShown |= std::strcmp(argv[i], "--quit-when-shown") == 0;
        text |= std::strcmp(argv[i], "--text") == 0;
    }
    QApplication app(argc, argv);
    std::unique_ptr<QWidget> window;
    if (text) {
        auto* main = new QMainWindow;
        window.reset(main);
        for (const char* title : {"ComSetup", "Connect", "Graphic", "Record"})
            main->menuBar()->addMenu(QString::fromLatin1(title));
        auto* label = new QLabel(QStringLiteral("Set Hi Limit:"), main);
        label->move(16, 40);
    } else {
        window = std::make_unique<QWidget>();
    }
    window->resize(714, 477);
    window->show();
    if (quitWhenShown)
        QTimer::singleShot(0, &app, [] {
            std::puts("shown");
            std::fflush(stdout);
            QApplication::quit();
        });
    return app.exec();
}
