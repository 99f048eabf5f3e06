#pragma once

#include <string>

namespace korvu {

// Confines this process for good, before it reads a byte of its input: it
// may then write only beneath `write_dir`, read only beneath `read_dir` (-1
// for none: an input already open needs no rule) and what the system needs
// to run, start no program, open no socket and never gain privileges.
// Returns what the kernel could not confine, or nothing when all was.
std::string confine(int write_dir, int read_dir);

}  // namespace korvu
