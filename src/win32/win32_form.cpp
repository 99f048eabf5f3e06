#include "win32/win32_form.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

#include "core/texts.h"
#include "win32/system.h"
#include "win32/text.h"

#include "win32/twips.h"
#include "win32/win32_system.h"

namespace doredaviro::win32 {

Win32Form::Win32Form(HINSTANCE instance, Win32System& system)
    : system_(system), form_(system, *this), window_(instance, form_) {
    window_.OnArchiverEnded([this](long long process) {
        if (auto end = system_.ArchiverEnded(process))
            form_.ArchiverEnded(process, std::move(*end));
    });
    // Clicking the balloon puts the failures back; it names them, and the desktop offers no
    // other action there.
    window_.OnNotice([this](UINT event) {
        switch (event) {
            case NIN_BALLOONUSERCLICK:
                form_.NoticeAnswered(noticePutsBack_ ? NoticeAnswer::PutBack
                                                     : NoticeAnswer::Clicked);
                break;
            case NIN_BALLOONTIMEOUT:
                form_.NoticeAnswered(NoticeAnswer::Closed);
                break;
            default:
                break;
        }
    });
    window_.OnCopyData([this](const COPYDATASTRUCT& data) { return handOver_.Receive(data); });
}

bool Win32Form::Load() { return window_.Create() && form_.Form_Load(); }

void Win32Form::Show(int showCommand) {
    system_.SetMessageOwner(window_.handle());
    window_.ShowCentered(showCommand);
    handOver_.Listen();
}

int Win32Form::Run(int showCommand) {
    Show(showCommand);
    form_.OpenCommandLine();
    return window_.Run();
}

void Win32Form::Unload() {
    // Later starts find no copy to hand over to and the mutex free, and run as the copy at
    // once, even while this process waits for its archivers.
    handOver_.Close();
    ReleaseSingleCopy();
    window_.Hide();
}

void Win32Form::EndProgram() { window_.Destroy(); }

void Win32Form::ComeToFront() {
    HWND window = window_.handle();
    if (!window) return;
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

void Win32Form::SetAlwaysOnTop(bool on) {
    if (!window_.handle()) return;
    SetWindowPos(window_.handle(), on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE);
}

float Win32Form::ScaleWidth() {
    RECT r{};
    if (window_.handle()) GetClientRect(window_.handle(), &r);
    return ToTwips(r.right - r.left, window_.Dpi());
}

float Win32Form::ScaleHeight() {
    RECT r{};
    if (window_.handle()) GetClientRect(window_.handle(), &r);
    return ToTwips(r.bottom - r.top, window_.Dpi());
}

float Win32Form::Get(Control control, Prop prop) { return window_.Twips(control, prop); }

void Win32Form::Let(Control control, Prop prop, float twips) {
    window_.SetTwips(control, prop, twips);
}

CheckState Win32Form::GetCheckState(Control control) {
    HWND child = window_.control(control);
    switch (child ? SendMessageW(child, BM_GETCHECK, 0, 0) : BST_UNCHECKED) {
        case BST_CHECKED:
            return CheckState::Checked;
        case BST_INDETERMINATE:
            return CheckState::Grayed;
        default:
            return CheckState::Unchecked;
    }
}

int Win32Form::ListCount() { return window_.list().Count(); }

int Win32Form::ListIndex() { return window_.list().Index(); }

std::string Win32Form::ListText(int row) { return window_.list().Text(row); }

void Win32Form::ListSelect(int row) { window_.list().Select(row); }

void Win32Form::ListInsertTop(const std::vector<std::string>& rows) {
    window_.list().InsertTop(rows);
}

void Win32Form::ListRemove(int first, int count) { window_.list().Remove(first, count); }

std::vector<std::string> Win32Form::CopiedFiles() {
    return CopiedFilesOnClipboard(window_.handle());
}

void Win32Form::ShowProgress(int done, int total) {
    HWND label = window_.control(kProgressInPlaceOf);
    HWND progress = window_.progress();
    if (!progress) return;
    SendMessageW(progress, PBM_SETRANGE32, 0, total);
    SendMessageW(progress, PBM_SETPOS, static_cast<WPARAM>(done), 0);
    if (!IsWindowVisible(progress)) {
        if (label) ShowWindow(label, SW_HIDE);
        ShowWindow(progress, SW_SHOW);
    }
}

void Win32Form::HideProgress() {
    HWND label = window_.control(kProgressInPlaceOf);
    HWND progress = window_.progress();
    if (progress && IsWindowVisible(progress)) {
        ShowWindow(progress, SW_HIDE);
        if (label) ShowWindow(label, SW_SHOW);
    }
}

Win32Form::~Win32Form() {
    // The icon goes with the program; a balloon of a program gone would mislead.
    if (noticeAdded_) Shell_NotifyIconW(NIM_DELETE, &notice_);
    if (taskbar_) taskbar_->Release();
}

void Win32Form::TaskbarProgress(int ended, int started) {
    HWND window = window_.handle();
    if (!window) return;
    if (!taskbarTried_) {
        taskbarTried_ = true;
        // Missing before Windows 7 and in some shells: then the task bar shows nothing.
        void* list = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ITaskbarList3, &list))) {
            taskbar_ = static_cast<ITaskbarList3*>(list);
            if (FAILED(taskbar_->HrInit())) {
                taskbar_->Release();
                taskbar_ = nullptr;
            }
        }
    }
    if (!taskbar_) return;
    if (started <= 0) {
        taskbar_->SetProgressState(window, TBPF_NOPROGRESS);
        return;
    }
    taskbar_->SetProgressState(window, TBPF_NORMAL);
    taskbar_->SetProgressValue(window, static_cast<ULONGLONG>(ended),
                               static_cast<ULONGLONG>(started));
}

bool Win32Form::Notify(const std::string& title, const std::string& text, bool failure,
                       bool putBack) {
    HWND window = window_.handle();
    if (!window) return false;
    notice_.cbSize = sizeof notice_;
    notice_.hWnd = window;
    notice_.uID = 1;
    notice_.uFlags = NIF_INFO | NIF_ICON | NIF_TIP | NIF_MESSAGE;
    notice_.uCallbackMessage = MainWindow::kNoticeMessage;
    noticePutsBack_ = putBack;
    notice_.hIcon = reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICONSM));
    // The shell's fields are fixed in size: longer text is cut, never overrun.
    const auto put = [](wchar_t* field, std::size_t size, const std::string& value) {
        const std::wstring wide = Widen(value);
        const std::size_t n = std::min(wide.size(), size - 1);
        wide.copy(field, n);
        field[n] = L'\0';
    };
    put(notice_.szTip, std::size(notice_.szTip), text::kCaption);
    put(notice_.szInfoTitle, std::size(notice_.szInfoTitle), title);
    put(notice_.szInfo, std::size(notice_.szInfo), text);
    notice_.dwInfoFlags = failure ? NIIF_WARNING : NIIF_INFO;
    noticeShown_ = Shell_NotifyIconW(noticeAdded_ ? NIM_MODIFY : NIM_ADD, &notice_) != FALSE;
    if (!noticeAdded_ && noticeShown_) {
        noticeAdded_ = true;
        // The balloon's click and timeout come as NIN_BALLOON* events.
        notice_.uVersion = NOTIFYICON_VERSION;
        Shell_NotifyIconW(NIM_SETVERSION, &notice_);
    }
    return noticeShown_;
}

bool Win32Form::IsActive() { return window_.handle() && GetForegroundWindow() == window_.handle(); }

void Win32Form::RequestTick(int ms) { window_.RequestTick(ms); }

void Win32Form::PumpEvents() {
    // Paint only; messages other programs send are taken inside PeekMessage anyway.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) DispatchMessageW(&msg);
}

}  // namespace doredaviro::win32
