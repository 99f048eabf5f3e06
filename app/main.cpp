#include <QApplication>

#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"
#include "window/frmDoredAviro.h"

int main(int argc, char* argv[]) {
    // Keeping a window above others needs X11: under Wayland run through
    // XWayland unless the user chose a platform.
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
    if (!form.Form_Load()) return 1;
    window.showCentered();
    return QApplication::exec();
}
