// What the Windows build needs beyond fsutil.h: folders and files are open
// handles behind C runtime descriptors, so that the shared code keeps
// passing plain ints around.
#pragma once

#include <cstdint>
#include <string>

namespace korvu {

std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& text);

// "\\?\C:\dir" for an open folder or file, so that names are taken as they are.
std::wstring path_of(int fd);
// `folder`\`name`, with `name` in UTF-8.
std::wstring child_path(int folder, const std::string& name);

// Opens an existing folder; -1 (errno set) when it cannot, or when it is a
// junction, a symbolic link or any other reparse point, unless `follow`.
int open_folder(const std::wstring& path, bool follow = false);

// The message for a Windows error code.
std::string system_message(unsigned long code);
[[noreturn]] void fail_system(const std::string& what, unsigned long code);

struct Room {
    std::uint64_t cluster = 4096;
    std::uint64_t total = 0;
    std::uint64_t free = 0;  // to this user, quotas included
};
// The room on the volume of `fd`; false when it cannot be told.
bool room_of(int fd, Room& room);

// A hidden file in `folder` that goes when closed, to hold room in; -1 if none.
int open_room_holder(int folder);
// Makes the file take `bytes` of the disk.
enum class Held { Yes, NoRoom, Cannot };
Held hold_room(int fd, std::uint64_t bytes);

// Puts the process in a job that may start no other process and, when
// `memory` is not 0, use no more than that. Empty when all of it holds,
// else what could not be done.
std::string confine_process(std::uint64_t memory);

}  // namespace korvu
