#pragma once

#include "platform.h"

namespace doredaviro {

// Keeps the list filling most of the client area and the two buttons, with
// their key-cap labels, centred under it. Every step after the first two reads
// the list's size back, because a list may keep less than it was given.
void ResizeLayout(FormView& view);

}  // namespace doredaviro
