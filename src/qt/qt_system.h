#pragma once

#include <QPointer>
#include <QWidget>

#include "core/platform.h"

namespace doredaviro::qt {

// Gives the program its icon, once. Drawing it loads a plugin, so the window
// asks for it only after its first paint; message boxes before that, at once.
void SetProgramIcon();

// The system services of the Linux build: Qt's message boxes, and POSIX for the
// single-copy lock, files and launches.
class QtSystem : public System {
public:
    // Message boxes belong to `window` while it is shown.
    void SetMessageOwner(QWidget* window) { owner_ = window; }

    void MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) override;
    bool AnotherCopyRuns() override;
    std::string ProgramFolder() override;
    char PathSeparator() const override { return '/'; }
    std::string FindFile(const std::string& path) override;
    std::string CurrentDirectory() override;
    void End(int status) override;
    bool Launch(const std::string& tool, const std::string& path,
                const std::string& folder) override;
    HandOverResult HandOverToRunningCopy(const std::vector<std::string>& paths) override;

private:
    QPointer<QWidget> owner_;
};

}  // namespace doredaviro::qt
