#include "qt/paint_threads.h"

#include <QLibraryInfo>
#include <QSemaphore>
#include <QThreadPool>
#include <QVersionNumber>
#include <memory>

namespace doredaviro::qt {

namespace {

// The Qt that runs, not the one built against: the pool belongs to it.
bool PaintsThroughGlobalPool() { return QLibraryInfo::version() < QVersionNumber(6, 6); }

}  // namespace

void KeepPaintThreadsStarted() {
    static bool done = false;
    if (done || !PaintsThroughGlobalPool()) return;
    done = true;
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setExpiryTimeout(-1);
    // Each task holds its thread until every task has one, so that each runs on
    // a thread of its own and all of them get started. Shared, because a task the
    // system gave no thread may outlive this call.
    struct Gate {
        QSemaphore started;
        QSemaphore release;
    };
    auto gate = std::make_shared<Gate>();
    const int count = pool->maxThreadCount();
    for (int i = 0; i < count; ++i) {
        pool->start([gate] {
            gate->started.release();
            gate->release.acquire();
        });
    }
    gate->started.tryAcquire(count, 5000);
    gate->release.release(count);
}

bool EndPaintThreads() {
    if (!PaintsThroughGlobalPool()) return true;
    // Painting is over and nothing else queues work here: what has not ended
    // within a second waits on a thread that never started.
    return QThreadPool::globalInstance()->waitForDone(1000);
}

}  // namespace doredaviro::qt
