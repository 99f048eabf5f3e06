#pragma once

namespace doredaviro::qt {

// Qt's raster engine splits a large fill across the global thread pool and
// waits for it, and the pool starts its threads on demand and ends them after
// 30 s idle. At the user's process limit (many archivers still running) a
// thread the system refuses would leave that fill waiting for good: the
// window freezes and the queue is lost. So the pool's threads are started
// once, early, and kept; painting then never needs a new thread.
void KeepPaintThreadsStarted();

}  // namespace doredaviro::qt
