#pragma once

#include <string>

namespace doredaviro {

// `path` made absolute against `folder` when it is relative, and otherwise kept
// as it is, byte for byte: nothing is normalised. Without a folder (the current
// one removed meanwhile) it stays as it is. `separator` tells the system's
// path syntax, '/' or '\\'. On Windows `\x` means the root of `folder`'s drive or
// share, and `C:x` the root of drive C:, since the folder a drive last had is the
// current folder's business, which must not choose what a path means.
std::string AbsolutePath(const std::string& path, const std::string& folder, char separator);

}  // namespace doredaviro
