// Times a drop of the most rows the queue takes, from the handler's call to
// the end of the list's next paint, with uniform item sizes on and off in
// turn; and reads the resident memory idle and with the queue full.
//
// usage: queue_probe [REPEATS]   (output: "sample NAME VALUE" lines)
#include <QApplication>
#include <QIcon>
#include <QListView>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/frmDoredAviro.h"
#include "qt/main_window.h"
#include "qt/qt_form.h"
#include "qt/qt_system.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// VmRSS of this process in KiB.
long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "queue_probe: %s\n", what);
    std::exit(1);
}

// Runs the event loop until `widget` has been painted; returns once that
// paint, and the flush that ends it, are done.
class PaintWaiter : public QObject {
public:
    explicit PaintWaiter(QWidget* widget) : widget_(widget) { widget->installEventFilter(this); }

    void Wait() {
        painted_ = false;
        bool timedOut = false;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&timedOut] { timedOut = true; });
        guard.start(10000);
        while (!painted_ && !timedOut)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!painted_) Fail("no paint within 10 s");
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget_ && event->type() == QEvent::Paint) painted_ = true;
        return false;
    }

private:
    QWidget* widget_;
    bool painted_ = false;
};

// Distinct paths of the kind users drop: a handful of folders, file names of
// a few shapes, some of them Japanese; about 60 bytes each.
std::vector<std::string> MakePaths(int count) {
    static const char* const kFolders[] = {
        "/home/hanako/Documents/Reports/2023-Q4/drafts",
        "/home/hanako/Pictures/Holiday 2022/Kyoto/day 3",
        "/home/hanako/Downloads/invoices/2024",
        "/srv/share/projects/website/assets/img/hero",
        "/home/hanako/デスクトップ/会議資料",
    };
    static const char* const kStems[] = {"IMG_", "invoice-", "backup_", "scan ", "議事録_"};
    static const char* const kExtensions[] = {".jpg", ".pdf", ".tar", ".docx", ".zip"};
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%05d", i);
        paths.push_back(std::string(kFolders[i % 5]) + '/' + kStems[(i / 5) % 5] + number +
                        kExtensions[(i / 25) % 5]);
    }
    return paths;
}

}  // namespace

int main(int argc, char* argv[]) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 10;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zivev+Korvu"));
    doredaviro::qt::QtSystem system;
    doredaviro::qt::QtForm form(system);
    if (!form.Load()) Fail("the program's start-up checks failed");
    QListView& list = form.window().list();
    PaintWaiter listPainted(list.viewport());
    form.Show();
    listPainted.Wait();
    // Let whatever the first show queued settle before reading the memory.
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    std::printf("sample rss.idle_mib %.1f\n", RssKiB() / 1024.0);

    const int rows = doredaviro::kMaxRows;
    std::vector<std::string> paths = MakePaths(rows);
    std::size_t bytes = 0;
    for (const std::string& p : paths) bytes += p.size();
    std::printf("sample drop.path_bytes %.1f\n", static_cast<double>(bytes) / rows);

    // The queue full, as a real drop leaves it: the drop's own list of paths
    // is gone again by then.
    form.form().lstFileList_OLEDragDrop(paths);
    listPainted.Wait();
    if (form.ListCount() != rows) Fail("the drop did not fill the queue");
    std::vector<std::string>().swap(paths);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    std::printf("sample rss.queued_mib %.1f\n", RssKiB() / 1024.0);
    form.ListRemove(0, form.ListCount());
    listPainted.Wait();
    paths = MakePaths(rows);

    for (int r = 0; r < repeats; ++r) {
        // Alternate which goes first so neither always follows the other.
        for (int k = 0; k < 2; ++k) {
            const bool uniform = (r + k) % 2 == 0;
            list.setUniformItemSizes(uniform);
            const auto t0 = Clock::now();
            form.form().lstFileList_OLEDragDrop(paths);
            listPainted.Wait();
            const auto t1 = Clock::now();
            // The paint must have shown the new rows: the scroll range covers them all.
            if (form.ListCount() != rows || list.verticalScrollBar()->maximum() <= 0) {
                Fail("the painted list does not hold the dropped rows");
            }
            std::printf("sample drop.%s_ms %.3f\n", uniform ? "uniform" : "nonuniform",
                        Ms(t1 - t0));
            std::fflush(stdout);
            form.ListRemove(0, form.ListCount());
            listPainted.Wait();
        }
    }
    return 0;
}
