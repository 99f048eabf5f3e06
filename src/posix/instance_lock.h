#pragma once

#include <string>

namespace doredaviro::posix {

// The lock file that tells whether a copy runs for this user on this display.
std::string InstanceLockPath();

// Takes the single-copy lock for the rest of the process's life and returns
// false; returns true when another live process holds it. The kernel drops the
// lock when its holder dies, however it dies, so a crash never blocks a start.
bool AnotherInstanceRuns();

// True once this process holds the single-copy lock.
bool HoldsInstanceLock();

}  // namespace doredaviro::posix
