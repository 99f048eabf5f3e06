#pragma once

#include <windows.h>

#include <shellapi.h>
#include <shobjidl.h>

#include "core/frmDoredAviro.h"
#include "core/platform.h"
#include "win32/hand_over_server.h"
#include "win32/main_window.h"

namespace doredaviro::win32 {

class Win32System;

// The main form of the Windows build: the handlers and the window that shows them.
class Win32Form : public FormView {
public:
    Win32Form(HINSTANCE instance, Win32System& system);
    Win32Form(const Win32Form&) = delete;
    Win32Form& operator=(const Win32Form&) = delete;

    frmDoredAviro& form() { return form_; }
    MainWindow& window() { return window_; }

    // Makes the window, hidden, then runs the load event; true when the window is to be shown.
    bool Load();
    // Centred on its screen, as it first appears; from then on it takes what later starts
    // hand over.
    void Show(int showCommand);
    // Shows the window, takes the command line's paths, and runs the message loop until the
    // window is gone; returns the exit code.
    int Run(int showCommand);

    void Unload() override;
    void ComeToFront() override;
    void SetAlwaysOnTop(bool on) override;
    float ScaleWidth() override;
    float ScaleHeight() override;
    float Get(Control control, Prop prop) override;
    void Let(Control control, Prop prop, float twips) override;
    CheckState GetCheckState(Control control) override;
    int ListCount() override;
    int ListIndex() override;
    std::string ListText(int row) override;
    void ListSelect(int row) override;
    void ListInsertTop(const std::vector<std::string>& rows) override;
    void ListRemove(int first, int count) override;
    std::vector<std::string> CopiedFiles() override;
    void ShowProgress(int done, int total) override;
    void HideProgress() override;
    void PumpEvents() override;
    void TaskbarProgress(int ended, int started) override;
    bool Notify(const std::string& title, const std::string& text, bool failure,
                bool putBack) override;
    void EndProgram() override;
    bool IsActive() override;
    void RequestTick(int ms) override;

    // The balloon the notification area was last given, as the shell took it; true when it
    // was accepted.
    const NOTIFYICONDATAW& lastNotice() const { return notice_; }
    bool noticeShown() const { return noticeShown_; }

private:
    Win32System& system_;
    // The window calls the handlers, so it is made after them and goes first.
    frmDoredAviro form_;
    MainWindow window_;
    HandOverServer handOver_{form_.handOver()};
    ITaskbarList3* taskbar_ = nullptr;
    bool taskbarTried_ = false;
    NOTIFYICONDATAW notice_{};
    bool noticeAdded_ = false;
    bool noticeShown_ = false;
    bool noticePutsBack_ = false;  // the balloon shown offers the failures back

public:
    ~Win32Form() override;
};

}  // namespace doredaviro::win32
