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
