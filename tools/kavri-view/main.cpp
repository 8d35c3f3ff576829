#include "mainwindow.h"

#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstdlib>

// Without a display the platform plugin would abort the process; say so and leave instead.
// QT_QPA_PLATFORM (offscreen, vnc, ...) lets the window run without one on purpose.
static bool haveDisplay()
{
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

int main(int argc, char *argv[])
{
    if (!haveDisplay()) {
        std::fprintf(stderr,
                     "kavri-view: no display (set DISPLAY, or QT_QPA_PLATFORM=offscreen)\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kavri-view"));
    MainWindow window; // its last size, or 1440 x 900 the first time
    window.show();
    return app.exec();
}
