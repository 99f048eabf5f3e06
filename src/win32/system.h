#pragma once

#include <windows.h>

#include <string>

namespace doredaviro::win32 {

// Folder of the running program file, without a trailing backslash; empty when it cannot be
// told.
std::string ProgramFolder();
// The name of the first entry matching `path` that is a file, whatever its hidden, system,
// read-only or archive attributes; never a folder. Empty when none.
std::string FindFile(const std::string& path);
std::string CurrentDirectory();

// Takes this session's single-copy mutex for the rest of the process's life and returns false;
// returns true, holding nothing, when another copy already holds it.
bool AnotherInstanceRuns();
// Gives the mutex up before the process ends: the next start runs as the single copy.
void ReleaseSingleCopy();

// Writes `text` as the file `name` in %LOCALAPPDATA%\Zivev+Korvu (made where missing; the
// user's own folder, which others cannot read), through a temporary file that is flushed and
// moved over, so that a crash leaves the old files or the new one; then deletes the oldest
// "run-*.tsv" beyond `keep`. The file's path, or empty with one line on standard error (once)
// when it cannot be written.
std::string SaveRunRecord(const std::string& name, const std::string& text, int keep);

// `path` as the one parameter of a command line: in quotes, with a trailing run of backslashes
// doubled so that the closing quote is not read as an escaped one.
std::wstring QuoteArgument(const std::wstring& path);
// Opens `file` with `argument` as its one parameter in `directory`, without waiting. False
// when it could not be started; the shell shows no box of its own either way. `process`, when
// given, receives the started process's handle, or nullptr when the shell started none it
// could tell (the caller closes it).
bool Launch(const std::string& file, const std::string& argument, const std::string& directory,
            HANDLE* process = nullptr);

}  // namespace doredaviro::win32
