#pragma once

#include <string>
#include <string_view>

namespace doredaviro {

// `path` made absolute against `folder` when it is relative, and otherwise kept
// as it is, byte for byte: nothing is normalised. Without a folder (the current
// one removed meanwhile) it stays as it is. `separator` tells the system's
// path syntax, '/' or '\\'. On Windows `\x` means the root of `folder`'s drive or
// share, and `C:x` the root of drive C:, since the folder a drive last had is the
// current folder's business, which must not choose what a path means.
std::string AbsolutePath(const std::string& path, const std::string& folder, char separator);

// How a path is shown, in the list and in notices: one line of valid UTF-8. Line breaks show as
// ↵, tabs as →, other control characters, lone surrogates (which a Windows name may hold) and
// bytes that are no UTF-8 as U+FFFD each. Only what is shown changes; the path stays as it is.
std::string ShownPath(std::string_view path);

}  // namespace doredaviro
