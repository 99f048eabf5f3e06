#pragma once

#include <string>
#include <vector>

namespace doredaviro::posix {

// The lock files that tell whether a copy runs for this user on this display, in the order a
// start takes them: one in the user's cache folder (XDG_CACHE_HOME or ~/.cache), which every
// start of the user shares whatever its runtime folder, and one in the runtime folder
// (XDG_RUNTIME_DIR, else /run/user/UID). Only where there is neither, one in a folder of the
// user's own in /tmp. Each folder is this user's and writable by no one else; what other users
// make or remove never moves them.
std::vector<std::string> InstanceLockPaths();

// Takes the single-copy lock for the rest of the process's life and returns false; returns
// true, holding nothing, when another live process holds one of its files. The kernel drops a
// lock when its holder dies, however it dies, so a crash never blocks a start. A file that
// cannot be locked at all is passed over, with a word why.
bool AnotherInstanceRuns();

// The lock files this process holds; empty until AnotherInstanceRuns has taken them.
const std::vector<std::string>& HeldInstanceLocks();
// Gives the lock up before the process ends: the next start runs as the single copy.
void ReleaseInstanceLocks();
inline bool HoldsInstanceLock() { return !HeldInstanceLocks().empty(); }

}  // namespace doredaviro::posix
