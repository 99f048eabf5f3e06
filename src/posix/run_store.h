#pragma once

#include <string>

namespace doredaviro::posix {

// The folder of the program's run records: ${XDG_STATE_HOME:-~/.local/state}/doredaviro
// (an XDG_STATE_HOME that is not absolute counts as unset). Empty when there is no home.
std::string RunRecordFolder();

// Writes `text` as the file `name` in `folder` (made 0700 where missing), 0600, through a
// temporary file that is synced and renamed, so that a crash leaves the old files or the new
// one, never a part; then removes the oldest "run-*.tsv" beyond `keep`. The file's path, or
// empty with one line on standard error (once per process) when it cannot be written.
std::string SaveRunRecord(const std::string& folder, const std::string& name,
                          const std::string& text, int keep);

// The same in two steps, so that the slow one can run on another thread: the record's path
// (the folder made, and found writable), then the writing. One writing at a time per process.
std::string ChooseRunRecordPath(const std::string& folder, const std::string& name);
bool WriteRunRecord(const std::string& folder, const std::string& path, const std::string& text,
                    int keep);

}  // namespace doredaviro::posix
