#pragma once

#include <string>
#include <vector>

class QMimeData;

namespace doredaviro::qt {

// The local paths of files dropped or copied in a file manager, in the order it
// lists them; none for anything else, plain text included.
std::vector<std::string> CopiedFiles(const QMimeData* mime);
std::vector<std::string> CopiedFilesOnClipboard();

}  // namespace doredaviro::qt
