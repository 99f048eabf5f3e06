#include "qt/paint_threads.h"

#include <QSemaphore>
#include <QThreadPool>
#include <memory>

namespace doredaviro::qt {

void KeepPaintThreadsStarted() {
    static bool done = false;
    if (done) return;
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

}  // namespace doredaviro::qt
