#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <thread>

#include "posix/child_watch.h"

#include "core/platform.h"
#include "core/run_record.h"

class QSocketNotifier;
class QTimer;

namespace doredaviro::qt {

// Gives the program its icon, once. Drawing it loads a plugin, so the window
// asks for it only after its first paint; message boxes before that, at once.
void SetProgramIcon();

// The system services of the Linux build: Qt's message boxes, and POSIX for the
// single-copy lock, files and launches.
class QtSystem : public System {
public:
    QtSystem();
    ~QtSystem() override;
    QtSystem(const QtSystem&) = delete;
    QtSystem& operator=(const QtSystem&) = delete;

    // Whether launches keep the end of each archiver's standard error (the bench compares).
    bool keepErrorTails = true;

    // Message boxes belong to `window` while it is shown.
    void SetMessageOwner(QWidget* window) { owner_ = window; }

    void MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) override;
    bool AnotherCopyRuns() override;
    std::string ProgramFolder() override;
    char PathSeparator() const override { return '/'; }
    std::string FindFile(const std::string& path) override;
    std::string CurrentDirectory() override;
    void End(int status) override;
    Launched Launch(const std::string& tool, const std::string& path,
                    const std::string& folder) override;
    long long Milliseconds() override;
    HandOverResult HandOverToRunningCopy(const std::vector<std::string>& paths,
                                         int waitMs) override;
    std::string SaveRunRecord(const std::string& name, const std::string& text) override;
    void OpenWithViewer(const std::string& path) override;
    void StartProgramWith(const std::vector<std::string>& paths) override;
    void HoldEndings(bool hold) override;
    // Waits until the run records handed over have been written.
    void FinishRunRecords();

    // Told, from the event loop, of each started archiver that has ended.
    void OnArchiverEnded(std::function<void(long long process, ArchiverEnd end)> handler) {
        onEnded_ = std::move(handler);
    }

private:
    void ReapArchivers();

    QPointer<QWidget> owner_;
    posix::ChildWatcher children_;
    std::unique_ptr<QSocketNotifier> childNotifier_;
    bool endingsHeld_ = false;
    std::thread recordWriter_;
    std::unique_ptr<QTimer> childPoll_;
    std::function<void(long long, ArchiverEnd)> onEnded_;
};

}  // namespace doredaviro::qt
