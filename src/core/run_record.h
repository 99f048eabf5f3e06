#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace doredaviro {

// What the program keeps of each run: one file per run, one line per archiver, so that a
// person reads it and a script splits it on tabs:
//
//   # Zivev+Korvu run record 1
//   <started>\t<ended>\t<how it ended>\t<path>\t<end of its standard error>
//
// Times are UTC, "2026-12-09T00:50:53.123Z". How it ended is "exit N", "signal N" or "unknown"
// (the status was lost). The path and the error text are escaped: backslash, tab, newline,
// carriage return become \\ \t \n \r; any other control byte, DEL, and every byte that is not
// part of valid UTF-8 become \xHH. Valid UTF-8 stays as it is, so a name reads as it is shown.

// How an archiver ended, as the front end saw it.
struct ArchiverEnd {
    bool succeeded = false;  // exited with status 0
    int status = -1;         // its exit status; -1 when it was killed or the status was lost
    int signal = 0;          // the signal that ended it, 0 for none
    std::string errorTail;   // the last bytes it wrote to its standard error, where kept
};

// The most kept of one archiver's standard error, and of all of a run's in its record.
constexpr std::size_t kErrorTailBytes = 4096;
constexpr std::size_t kRecordErrorBytes = 1 << 20;
// How many runs' records are kept on disk; older ones are dropped.
constexpr int kRecordsKept = 50;

struct ArchiverRecord {
    std::string path;         // exact bytes
    long long startedMs = 0;  // wall clock, milliseconds since 1970 UTC
    long long endedMs = 0;
    ArchiverEnd end;
};

std::string EscapeRecordField(std::string_view bytes);
// False when `text` is not one EscapeRecordField could have written.
bool UnescapeRecordField(std::string_view text, std::string& bytes);
std::string RecordTime(long long msSinceEpoch);
// The whole file; tails of archivers that succeeded are left out.
std::string FormatRunRecord(const std::vector<ArchiverRecord>& archivers);
// The file's name without folder: its run's start, so that names sort by age.
std::string RunRecordName(long long startedMs);

// For notification servers that render markup in a notice's body.
std::string EscapeMarkup(std::string_view text);

}  // namespace doredaviro
