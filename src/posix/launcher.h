#pragma once

#include <sys/types.h>

#include <string>

namespace doredaviro::posix {

// Starts `program` directly (no shell) with `argument` as its only argument, in
// `directory` (the current one when empty), in a session of its own so that it
// outlives this program and its terminal, with no descriptor but 0, 1 and 2 and
// default signal handling. Does not wait: the caller reaps it (ChildWatcher).
// Returns 0 and sets `pid`, or the errno of the failure (including one of the
// program's exec).
int LaunchDetached(const std::string& program, const std::string& argument,
                   const std::string& directory, pid_t* pid = nullptr);

}  // namespace doredaviro::posix
