#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace doredaviro::posix {

// Keeps the environment as it is now for every later launch, so that what the
// program sets afterwards for its own sake never reaches an archiver. Call once,
// first thing in main.
void KeepEnvironmentForLaunches();

// Starts `program` directly (no shell) with `argument` as its only argument, in
// `directory` (the current one when empty), in a session of its own so that it
// outlives this program and its terminal, with no descriptor but 0, 1 and 2 and
// default signal handling, in the kept environment (else the current one). Does
// not wait: the caller reaps it (ChildWatcher).
// `errorFd`, when not -1, becomes its standard error.
// Returns 0 and sets `pid`, or the errno of the failure (including one of the
// program's exec).
int LaunchDetached(const std::string& program, const std::string& argument,
                   const std::string& directory, pid_t* pid = nullptr, int errorFd = -1);
// As LaunchDetached, with any number of arguments, in the current folder; nobody reaps it
// but init once this program has ended.
int StartDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace doredaviro::posix
