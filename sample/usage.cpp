#include "usage.h"

#include "extract_limits.h"

namespace korvu {

std::string help() {
    return "usage: korvu-sample PATH\n"
           "\n"
           "If PATH is an archive, extracts it into a new folder beside it; otherwise\n"
           "packs the file or folder into a new .zip beside it. Nothing existing is\n"
#ifdef _WIN32
           "ever replaced, links are left out (each named), and the one line\n"
#else
           "ever replaced, a symbolic link is packed as the link, and the one line\n"
#endif
           "written to standard output names what was made.\n"
           "\n"
           "Extraction stops, and removes what it wrote, before the output would\n"
           "  - exceed " +
           std::to_string(Limits::kDefaultRatio) +
           " times the archive's size (any archive may give " + human_size(Limits::kRatioFloor) +
           ");\n"
           "    KORVU_MAX_RATIO=N allows N times instead, and 0 lifts the limit;\n"
           "  - leave less than " +
           std::to_string(Limits::kKeepFreePercent) + "% of the file system (at most " +
           human_size(Limits::kKeepFreeCap) +
           "), or of its inodes, free;\n"
           "    KORVU_KEEP_FREE=SIZE keeps SIZE free instead (bytes, or with K, M, G, T, P);\n"
           "  - hold more than " +
           std::to_string(Limits::kDefaultMaxEntries) +
           " entries (KORVU_MAX_ENTRIES=N allows N, 0 lifts it),\n"
           "    or nest folders more than " +
           std::to_string(Limits::kMaxDepth) +
           " levels deep.\n"
           "It uses at most " +
           human_size(Limits::kDefaultMaxMemory) +
           " of memory (KORVU_MAX_MEMORY=SIZE allows SIZE, 0 lifts\n"
           "it). Runs side by side see the room each other still needs. Packing\n"
           "refuses folders nested more than " +
           std::to_string(Limits::kMaxDepth) +
           " levels deep and names longer than\n"
           "65535 bytes, which a zip cannot hold.\n"
           "Damaged archives are an error, and only built-in decompressors are used.\n"
           "\n"
           "Packing skips FIFOs, sockets and devices, naming each; so does extracting.\n"
           "\n"
#ifdef _WIN32
           "On Windows it starts no program (a job object refuses any), extracts\n"
           "no links and refuses names Windows would read as something else: drive\n"
           "letters, devices (CON, NUL, COM1, ...), data streams (name:stream),\n"
           "names ending in a dot or a space. Its reading and writing are not\n"
           "confined to folders. Ctrl+C stops it and removes what it wrote.\n"
#else
           "On Linux the work runs confined: it may write only inside a hidden\n"
           ".korvu-*.tmp folder beside the output, read only its input and the\n"
           "system's files, start no program and open no socket. A stop signal ends\n"
           "it at once; what it wrote is removed after it exits.\n"
#endif
           "\n"
           "Exit status: 0 when done, 1 on failure, 2 on wrong usage, 3 when done but\n"
           "something was skipped.\n";
}

}  // namespace korvu
