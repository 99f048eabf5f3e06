#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "posix/launcher.h"
#include "posix/system.h"
#include "qt/paint_threads.h"
#include "qt/qt_form.h"
#include "qt/qt_system.h"

int main(int argc, char* argv[]) {
    // The archivers get the environment the program was started with: what is
    // set below is for the program alone.
    doredaviro::posix::KeepEnvironmentForLaunches();
    // Qt 6.6 and later split large fills across a thread pool of their own,
    // whose idle threads end; at the user's process limit a new one cannot
    // start and the window freezes for good. Without that pool the fills stay
    // on the painting thread. Older Qt uses the global pool, which the window
    // keeps started.
    qputenv("QT_NO_GUI_THREADPOOL", "1");
    // Keeping a window above others needs X11: under Wayland run through
    // XWayland unless the user chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    // Every argument is a path, even one that looks like an option to Qt: Qt sees
    // none of them.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Zivev+Korvu"));
    QApplication::setDesktopFileName(QStringLiteral("org.doredaviro.ZivevKorvu"));
    // A closed window's process may wait for its archivers; the handlers say when it ends.
    QApplication::setQuitOnLastWindowClosed(false);

    int status = 1;
    {
        // The services outlive the form, whose window outlives nothing of theirs.
        doredaviro::qt::QtSystem system;
        doredaviro::qt::QtForm form(system);
        form.form().SetCommandLine(arguments, doredaviro::posix::CurrentDirectory());
        if (form.Load()) {
            form.Show();
            status = QApplication::exec();
        }
    }
    // A pool thread the system refused at the process limit would keep Qt's
    // teardown waiting for ever; the program's own is all done by now.
    if (!doredaviro::qt::EndPaintThreads()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
