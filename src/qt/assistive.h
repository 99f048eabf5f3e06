#pragma once

class QWidget;

namespace doredaviro::qt {

// Lets assistive technology see `window` as a frame: a plain top-level widget
// is otherwise announced as a mere filler.
void AnnounceAsFrame(QWidget* window);

}  // namespace doredaviro::qt
