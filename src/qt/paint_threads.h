#pragma once

namespace doredaviro::qt {

// Qt before 6.6 splits a large fill across the global thread pool and waits
// for it, and the pool starts its threads on demand and ends them after 30 s
// idle. At the user's process limit (many archivers still running) a thread
// the system refuses would leave that fill waiting for good: the window
// freezes and the queue is lost. So the pool's threads are started once,
// early, and kept; painting then never needs a new thread. Later Qt paints
// through a pool of its own, which the program turns off; then nothing is
// started here.
void KeepPaintThreadsStarted();

// Ends the global pool's threads ahead of Qt's own teardown. A thread the
// system refused still counts as busy there, and its task never runs: Qt's
// teardown would wait for it for ever. False when that is so; the process
// must then end without that teardown.
bool EndPaintThreads();

}  // namespace doredaviro::qt
