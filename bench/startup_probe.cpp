// The program's start-up, step for step as app/main.cpp, timed from the exec
// (BENCH_T0_NS, set by timed_exec) to the end of the main window's first paint.
#include <sys/resource.h>
#include <unistd.h>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/qt/main_window.h"
#include "platform/qt/qt_platform.h"
#include "window/frmDoredAviro.h"

namespace {

double MsSinceExec() {
    const char* t0 = std::getenv("BENCH_T0_NS");
    if (!t0) return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    return static_cast<double>(ns - std::atoll(t0)) / 1e6;
}

// The window's own paint comes first; its children and the flush to the X
// server follow in the same turn of the event loop, so the next turn reports.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget& window) : window_(window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, this, [this] { Report(); });
        }
        return false;
    }

private:
    void Report() {
        const double ms = MsSinceExec();
        if (std::getenv("BENCH_GEOMETRY")) {
            for (QWidget* child : window_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (!child->isVisible()) continue;
                const QRect g = child->geometry();
                std::printf("geometry %s %d,%d %dx%d\n", child->metaObject()->className(), g.x(),
                            g.y(), g.width(), g.height());
            }
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        std::printf("sample startup.program %.3f\nsample startup.program_cpu %.3f\n", ms, cpuMs);
        std::fflush(stdout);
        _exit(ms < 0 ? 1 : 0);
    }

    QWidget& window_;
    bool seen_ = false;
};

}  // namespace

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
    FirstPaint probe(window);
    if (!form.Form_Load()) return 1;
    window.showCentered();
    return QApplication::exec();
}
