// The program's start-up, step for step as app/main.cpp, timed from the spawn
// (BENCH_T0_NS, set by map_time) to the end of the main window's first paint.
#include <QApplication>

#include "first_paint.h"
#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"
#include "window/frmDoredAviro.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zivev+Korvu"));
    QApplication::setDesktopFileName(QStringLiteral("org.doredaviro.ZivevKorvu"));

    doredaviro::qt::QtPlatform platform;
    doredaviro::frmDoredAviro form(platform);
    doredaviro::qt::MainWindow& window = platform.createWindow(form);
    bench::FirstPaint probe(window, "program");
    if (!form.Form_Load()) return 1;
    window.showCentered();
    return QApplication::exec();
}
