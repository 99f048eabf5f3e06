#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

// Kept free of <windows.h>, whose macros would clash with the platform's own names.
struct HWND__;
struct HFONT__;
struct HBRUSH__;
struct HINSTANCE__;

namespace doredaviro {
class frmDoredAviro;
}

namespace doredaviro::win32 {

// The platform of the Windows build: the main window and its controls made with the Windows
// API, message boxes, the single-copy mutex, files and launches.
class Win32Platform : public Platform {
public:
    explicit Win32Platform(HINSTANCE__* instance);
    ~Win32Platform() override;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    // Makes the main window, hidden, for `form`'s events; call before the load event.
    bool CreateMainWindow(frmDoredAviro& form);
    // Shows the window centred on its screen, the check box focused.
    void ShowCentered(int showCommand);
    // Runs the message loop until the window is gone; returns the exit code.
    int Run();
    HWND__* window() const { return window_; }

    void MsgBox(const std::string& prompt, int style, const std::string& title) override;
    bool PrevInstance() override;
    std::string AppPath() override;
    char PathSeparator() const override { return '\\'; }
    std::string Dir(const std::string& path, int attributes) override;
    std::string CurDir() override;
    void End() override;
    bool ShellExecute(const std::string& file, const std::string& argument,
                      const std::string& directory) override;
    void SetWindowPos(long long insertAfter, int x, int y, int cx, int cy, unsigned flags) override;
    void Unload() override;
    float ScaleWidth() override;
    float ScaleHeight() override;
    float Get(Control control, Prop prop) override;
    void Let(Control control, Prop prop, float twips) override;
    int CheckValue(Control control) override;
    int ListCount() override;
    int ListIndex() override;
    void ListSetSelected(int row, bool selected) override;
    std::string ListText() override;
    void ListInsertTop(const std::vector<std::string>& rows) override;
    void ListRemove(int first, int count) override;
    void BatchProgress(int done, int total) override;

private:
    friend struct WindowProcs;
    std::intptr_t HandleMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    void CreateControls();
    void ApplyFonts();
    void SizeMessageLabel();
    void TakeDrop(std::uintptr_t hdrop);
    void DeliverDrops();
    void PreviewKey(const void* msg);
    HWND__* ControlWindow(Control control) const;
    unsigned Dpi() const;
    int ToPixels(float twips) const;
    float ToTwips(int pixels) const;

    HINSTANCE__* instance_;
    frmDoredAviro* form_ = nullptr;
    HWND__* window_ = nullptr;
    HWND__* controls_[7] = {};
    HWND__* progress_ = nullptr;
    HWND__* lastFocus_ = nullptr;
    std::intptr_t listDefaultProc_ = 0;
    HFONT__* font_ = nullptr;
    HFONT__* boldFont_ = nullptr;
    HBRUSH__* formBrush_ = nullptr;
    HBRUSH__* keyCapBrush_ = nullptr;
    unsigned dpi_ = 96;
    bool shown_ = false;
    // Each row's path exactly as dropped; the list box shows them.
    std::vector<std::string> rows_;
    // Drops waiting for the window to be free of a batch or a message.
    std::deque<std::vector<std::string>> pendingDrops_;
    unsigned long long batchStart_ = 0;
    unsigned long long lastPump_ = 0;
};

}  // namespace doredaviro::win32
