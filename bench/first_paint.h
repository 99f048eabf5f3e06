#pragma once
// Reports the time from the spawn (BENCH_T0_NS, set by map_time) to the end of
// a window's first paint, and the CPU time spent by then, then ends the process.
#include <errno.h>
#include <sys/resource.h>
#include <unistd.h>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace bench {

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
    // `name` labels the samples: startup.<name> and startup.<name>_cpu.
    FirstPaint(QWidget& window, const char* name) : window_(window), name_(name) {
        window.installEventFilter(this);
    }

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
        // What the window shows, so that bench/run.sh can hold the baseline to
        // the same controls, places, fonts and colours as the program.
        if (std::getenv("BENCH_GEOMETRY")) {
            std::printf("looks window %s\n", Looks(&window_).c_str());
            for (QWidget* child : window_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (!child->isVisible()) continue;
                const QRect g = child->geometry();
                std::printf("looks %d,%d %dx%d %s\n", g.x(), g.y(), g.width(), g.height(),
                            Looks(child).c_str());
            }
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        std::printf("sample startup.%s %.3f\nsample startup.%s_cpu %.3f\n", name_, ms, name_,
                    cpuMs);
        std::fflush(stdout);
        // The window goes with the process: wait until map_time has examined it.
        if (const char* examined = std::getenv("BENCH_MAP_FD")) {
            char byte;
            for (;;) {
                const ssize_t n = read(std::atoi(examined), &byte, 1);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
            }
        }
        _exit(ms < 0 ? 1 : 0);
    }

    static std::string Looks(const QWidget* widget) {
        const QFont font = widget->font();
        std::string looks = font.families().join(QLatin1Char(',')).toStdString() + " " +
                            std::to_string(font.pointSize()) + "pt " +
                            std::to_string(font.weight());
        if (widget->autoFillBackground()) {
            looks +=
                " fill " + widget->palette().color(widget->backgroundRole()).name().toStdString();
        }
        return looks;
    }

    QWidget& window_;
    const char* name_;
    bool seen_ = false;
};

}  // namespace bench
