// The program's start-up, step for step as app/main.cpp, timed from the spawn
// (BENCH_T0_NS, set by map_time) to the end of the main window's first paint.
#include <QApplication>

#include "first_paint.h"
#include "qt/main_window.h"
#include "qt/qt_form.h"
#include "qt/qt_system.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zivev+Korvu"));
    QApplication::setDesktopFileName(QStringLiteral("org.doredaviro.ZivevKorvu"));

    doredaviro::qt::QtSystem system;
    doredaviro::qt::QtForm form(system);
    bench::FirstPaint probe(form.window(), "program");
    if (!form.Load()) return 1;
    form.Show();
    return QApplication::exec();
}
