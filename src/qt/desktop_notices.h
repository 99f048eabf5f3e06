#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "core/platform.h"

namespace doredaviro::qt {

// What the program tells the desktop outside its window, over the session bus: progress on
// the task bar (the launcher-entry signal that docks and task managers show) and notices.
// Without a session bus, or with no one listening, nothing happens and nothing waits. Both
// name the application's desktop entry.
class DesktopNotices : public QObject {
    Q_OBJECT
public:
    // `answered` hears what became of each notice Notify said would be answered.
    explicit DesktopNotices(std::function<void(NoticeAnswer)> answered);

    // `ended` of `started`; (0, 0) takes the progress away.
    void Progress(int ended, int started);
    // The body is escaped where the server renders markup; the actions are offered where it
    // has them. False when there is no session bus: no answer will come.
    bool Notify(const QString& title, const QString& text, bool failure, bool putBack);

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    void Send(const QString& title, const QString& text, bool failure, bool putBack,
              const QStringList& capabilities);
    void Answer(NoticeAnswer answer);

    std::function<void(NoticeAnswer)> answered_;
    bool listening_ = false;
    bool waiting_ = false;  // an answer is owed for the last notice
    uint shown_ = 0;        // its id, once the server has told it
};

}  // namespace doredaviro::qt
