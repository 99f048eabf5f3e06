#pragma once

#include <string>
#include <vector>

namespace doredaviro::posix {

// The local paths of a text/uri-list, in its order, percent-decoded to the
// bytes of the file names. Lines that are comments, not file URLs, or on
// another host are left out.
std::vector<std::string> LocalPathsFromUriList(const std::string& uriList);

// The same for files copied in a file manager (x-special/gnome-copied-files):
// a first line "copy" or "cut", then the URLs. Anything else gives no paths.
std::vector<std::string> LocalPathsFromCopiedFiles(const std::string& copiedFiles);

}  // namespace doredaviro::posix
