#pragma once

#include <string>
#include <vector>

class QKeyEvent;
class QMimeData;
class QWidget;

namespace doredaviro::qt {

// Lets assistive technology see `window` as a frame: a plain top-level widget
// is otherwise announced as a mere filler.
void AnnounceAsFrame(QWidget* window);

// The key that pastes here: Ctrl+V, Shift+Insert, or the keyboard's Paste key.
bool IsPasteKey(const QKeyEvent& event);

// The local paths of files copied in a file manager, in the order it lists
// them; none for anything else, plain text included.
std::vector<std::string> CopiedPaths(const QMimeData* mime);
std::vector<std::string> CopiedPathsOnClipboard();

}  // namespace doredaviro::qt
