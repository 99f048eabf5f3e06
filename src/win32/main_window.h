#pragma once

#include <windows.h>

#include <functional>

#include "core/platform.h"
#include "win32/queue_list.h"

namespace doredaviro {
class frmDoredAviro;
}

namespace doredaviro::win32 {

// The main window made with the Windows API: its controls at their places in twips, the fonts
// and colours, DPI changes, the message loop with the key preview, and its events turned into
// the handlers' calls.
class MainWindow {
public:
    MainWindow(HINSTANCE instance, frmDoredAviro& form);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Makes the window, hidden, with its controls.
    bool Create();
    // Shows the window centred on its screen, the check box focused.
    void ShowCentered(int showCommand);
    // Runs the message loop until the window is gone; returns the exit code.
    int Run();
    // One message as the loop takes it: the key preview, Tab, then the message's window.
    void Handle(MSG& msg);
    // Destroys the window. Only a window whose loop runs ends the loop, so that a window closed
    // before it was shown leaves the message boxes still to come able to wait for the user.
    void Destroy();
    // Takes the window off the screen and the task bar while the process waits for what it
    // started; it still hears of ended archivers, its ticks and its balloon.
    void Hide();
    // The notification area's messages about the program's balloon; lParam is the event.
    static constexpr UINT kNoticeMessage = WM_APP + 3;
    void OnNotice(std::function<void(UINT event)> handler) { onNotice_ = std::move(handler); }

    HWND handle() const { return window_; }
    HWND control(Control c) const;
    HWND progress() const { return progress_; }
    QueueList& list() { return list_; }
    // Calls the form's Tick once, about `ms` from now, in place of a call still waiting.
    void RequestTick(int ms);
    // Told of each ended archiver's number, from the message loop.
    void OnArchiverEnded(std::function<void(long long)> handler) {
        onArchiverEnded_ = std::move(handler);
    }
    // Answers what other processes send with WM_COPYDATA.
    void OnCopyData(std::function<LRESULT(const COPYDATASTRUCT&)> handler) {
        onCopyData_ = std::move(handler);
    }
    unsigned Dpi() const { return dpi_ ? dpi_ : 96; }
    // A control's place or size in twips, read back from the control itself; and set.
    float Twips(Control c, Prop prop) const;
    void SetTwips(Control c, Prop prop, float twips);

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void ApplyFonts();
    void SizeLabelsToText();
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    void PreviewKey(const MSG& msg);

    HINSTANCE instance_;
    frmDoredAviro& form_;
    HWND window_ = nullptr;
    HWND controls_[7] = {};
    HWND progress_ = nullptr;
    HWND lastFocus_ = nullptr;
    QueueList list_;
    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    HBRUSH formBrush_ = nullptr;
    HBRUSH brushes_[7] = {};  // of the controls that have a colour of their own
    unsigned dpi_ = 96;
    bool shown_ = false;
    bool running_ = false;
    std::function<void(long long)> onArchiverEnded_;
    std::function<LRESULT(const COPYDATASTRUCT&)> onCopyData_;
    std::function<void(UINT)> onNotice_;
};

}  // namespace doredaviro::win32
