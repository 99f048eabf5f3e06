#pragma once

#include <windows.h>

#include <string>

namespace doredaviro::win32 {

// Names a control that has no text of its own and no label before it, for assistive
// technology: through the system's annotation service where there is one, and as the control's
// window text, which tools without it read. COM must be set up on this thread.
void NameForAssistiveTechnology(HWND control, const std::wstring& name);

}  // namespace doredaviro::win32
