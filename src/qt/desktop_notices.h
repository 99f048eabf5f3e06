#pragma once

#include <QString>

namespace doredaviro::qt {

// What the program tells the desktop outside its window, over the session bus: progress on
// the task bar (the launcher-entry signal that docks and task managers show) and notices.
// Without a session bus, or with no one listening, nothing happens and nothing waits. Both
// name the application's desktop entry.
class DesktopNotices {
public:
    // `ended` of `started`; (0, 0) takes the progress away.
    void Progress(int ended, int started);
    void Notify(const QString& title, const QString& text, bool failure);
};

}  // namespace doredaviro::qt
