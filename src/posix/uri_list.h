#pragma once

#include <string>
#include <vector>

namespace doredaviro::posix {

// The local paths of a text/uri-list, in its order, percent-decoded to the
// bytes of the file names. Lines that are comments, not file URLs, or on
// another host are left out.
std::vector<std::string> LocalPathsFromUriList(const std::string& uriList);

}  // namespace doredaviro::posix
