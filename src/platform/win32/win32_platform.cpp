#include "platform/win32/win32_platform.h"

#include "platform/win32/system.h"
#include "platform/win32/text.h"
#include "window/frmDoredAviro.h"
#include "window/texts.h"

// After the core's headers: these define macros named like some of the core's constants.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>
#undef ShellExecute  // the platform's method of that name, not the system's macro

#include <algorithm>
#include <cmath>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace doredaviro::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"DoredAviro.ZivevKorvu";
constexpr wchar_t kOwnerProp[] = L"DoredAviro.Platform";
constexpr UINT kDropMessage = WM_APP + 1;
constexpr UINT_PTR kDropRetryTimer = 1;
constexpr UINT kDropRetryMs = 50;
// Long enough that a short batch never flashes a progress bar.
constexpr ULONGLONG kProgressDelayMs = 500;
// Often enough to repaint smoothly, rarely enough not to slow the launches.
constexpr ULONGLONG kPumpIntervalMs = 16;
constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL
constexpr WORD kIconId = 1;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
const COLORREF kFormColour = RGB(192, 192, 255);
const COLORREF kKeyCapColour = RGB(192, 255, 255);
constexpr wchar_t kFontFace[] = L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF";  // ＭＳ ゴシック

std::size_t Index(Control c) { return static_cast<std::size_t>(c); }

// A function of a newer Windows, or nullptr.
template <typename Fn>
Fn SystemFunction(const wchar_t* module, const char* name) {
    const HMODULE handle = GetModuleHandleW(module);
    return handle ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle, name)))
                  : nullptr;
}

UINT DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        SystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (getDpiForWindow && hwnd) {
        if (const UINT dpi = getDpiForWindow(hwnd)) return dpi;
    }
    // Before per-monitor awareness: the system's DPI, 96 unless the user chose otherwise.
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void AdjustForDpi(RECT* rect, UINT dpi) {
    using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = SystemFunction<AdjustFn>(L"user32.dll", "AdjustWindowRectExForDpi");
    if (!adjust || !adjust(rect, kWindowStyle, FALSE, 0, dpi)) {
        AdjustWindowRectEx(rect, kWindowStyle, FALSE, 0);
    }
}

RECT ChildRect(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool IsTabKey(const MSG& msg) {
    return (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR) &&
           msg.wParam == VK_TAB;
}

int ShiftState() {
    return (GetKeyState(VK_SHIFT) < 0 ? 1 : 0) | (GetKeyState(VK_CONTROL) < 0 ? 2 : 0) |
           (GetKeyState(VK_MENU) < 0 ? 4 : 0);
}

}  // namespace

struct WindowProcs {
    static LRESULT CALLBACK Window(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        Win32Platform* self = nullptr;
        if (message == WM_NCCREATE) {
            self = static_cast<Win32Platform*>(
                reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            self->window_ = hwnd;
        } else {
            self = reinterpret_cast<Win32Platform*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        }
        if (self == nullptr || self->window_ != hwnd) {
            return DefWindowProcW(hwnd, message, wParam, lParam);
        }
        return self->HandleMessage(message, wParam, lParam);
    }

    // The list box as the system makes it, plus file drops.
    static LRESULT CALLBACK List(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = static_cast<Win32Platform*>(GetPropW(hwnd, kOwnerProp));
        if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
        const auto base = reinterpret_cast<WNDPROC>(self->listDefaultProc_);
        if (message == WM_DROPFILES) {
            self->TakeDrop(wParam);
            return 0;
        }
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, self->listDefaultProc_);
            RemovePropW(hwnd, kOwnerProp);
        }
        return CallWindowProcW(base, hwnd, message, wParam, lParam);
    }
};

Win32Platform::Win32Platform(HINSTANCE instance)
    : instance_(instance),
      formBrush_(CreateSolidBrush(kFormColour)),
      keyCapBrush_(CreateSolidBrush(kKeyCapColour)) {}

Win32Platform::~Win32Platform() {
    if (window_) DestroyWindow(window_);
    // The class holds our background brush, which goes with us.
    UnregisterClassW(kWindowClass, instance_);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(boldFont_),
                           static_cast<HGDIOBJ>(formBrush_), static_cast<HGDIOBJ>(keyCapBrush_)}) {
        if (object) DeleteObject(object);
    }
}

bool Win32Platform::CreateMainWindow(frmDoredAviro& form) {
    form_ = &form;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WindowProcs::Window;
    wc.hInstance = instance_;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 0, 0,
                                             LR_DEFAULTSIZE | LR_SHARED));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = formBrush_;
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    const std::wstring caption = Widen(text::kCaption);
    return CreateWindowExW(0, kWindowClass, caption.c_str(), kWindowStyle, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_,
                           this) != nullptr;
}

void Win32Platform::CreateControls() {
    dpi_ = DpiOf(window_);
    std::vector<const ControlDef*> order;
    for (const ControlDef& def : kControls) order.push_back(&def);
    // Creation order is the tab order.
    std::sort(order.begin(), order.end(),
              [](const ControlDef* a, const ControlDef* b) { return a->tabIndex < b->tabIndex; });
    for (const ControlDef* def : order) {
        const wchar_t* cls = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        switch (def->control) {
            case Control::chkWinPos:
                cls = L"BUTTON";
                style |= WS_TABSTOP | BS_AUTOCHECKBOX;
                break;
            case Control::lstFileList:
                // Without LBS_NOINTEGRALHEIGHT: the list shows whole rows only, and the
                // layout reads its height back.
                cls = L"LISTBOX";
                style |= WS_TABSTOP | WS_VSCROLL | LBS_HASSTRINGS;
                exStyle = WS_EX_CLIENTEDGE;
                break;
            case Control::cmdExec:
            case Control::cmdClose:
                cls = L"BUTTON";
                style |= WS_TABSTOP | BS_PUSHBUTTON;
                break;
            case Control::lblF1:
            case Control::lblF4:
                style |= SS_CENTER | SS_NOPREFIX;
                break;
            case Control::lblMsg:
                style |= SS_LEFT | SS_NOPREFIX;
                break;
        }
        const std::wstring caption = Widen(def->caption);
        const auto id = static_cast<INT_PTR>(kFirstControlId + Index(def->control));
        controls_[Index(def->control)] =
            CreateWindowExW(exStyle, cls, caption.c_str(), style, ToPixels(def->left),
                            ToPixels(def->top), ToPixels(def->width), ToPixels(def->height),
                            window_, reinterpret_cast<HMENU>(id), instance_, nullptr);
    }
    progress_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | PBS_SMOOTH, 0, 0, 0, 0,
                                window_, nullptr, instance_, nullptr);

    HWND list = ControlWindow(Control::lstFileList);
    if (list) {
        SetPropW(list, kOwnerProp, this);
        listDefaultProc_ =
            SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProcs::List));
        DragAcceptFiles(list, TRUE);
    }
    ApplyFonts();
    lastFocus_ = ControlWindow(Control::chkWinPos);
}

void Win32Platform::ApplyFonts() {
    const int height = -MulDiv(9, static_cast<int>(dpi_), 72);
    HFONT normal = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, kFontFace);
    HFONT bold = CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, kFontFace);
    for (const ControlDef& def : kControls) {
        const bool isBold = def.control == Control::lblF1 || def.control == Control::lblF4 ||
                            def.control == Control::cmdExec || def.control == Control::cmdClose;
        if (HWND h = ControlWindow(def.control)) {
            SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(isBold ? bold : normal), TRUE);
        }
    }
    if (font_) DeleteObject(font_);
    if (boldFont_) DeleteObject(boldFont_);
    font_ = normal;
    boldFont_ = bold;
    SizeMessageLabel();
}

void Win32Platform::SizeMessageLabel() {
    HWND label = ControlWindow(Control::lblMsg);
    if (!label) return;
    const std::wstring caption = Widen(text::kLblMsg);
    SIZE size{};
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, font_);
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    ::SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (progress_) {
        const RECT r = ChildRect(window_, label);
        ::SetWindowPos(progress_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top + 2,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Win32Platform::ShowCentered(int showCommand) {
    if (!window_) return;
    dpi_ = DpiOf(window_);
    RECT frame{0, 0, ToPixels(kClientWidth), ToPixels(kClientHeight)};
    AdjustForDpi(&frame, dpi_);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    shown_ = true;
    ::SetWindowPos(window_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, showCommand);
    form_->Form_Resize();
    UpdateWindow(window_);
    if (lastFocus_) SetFocus(lastFocus_);
}

int Win32Platform::Run() {
    MSG msg{};
    int result;
    while ((result = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
        PreviewKey(&msg);
        // The dialog manager only for Tab: Enter and Esc keep no special meaning here.
        if (window_ && IsTabKey(msg) && IsDialogMessageW(window_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return result < 0 ? 1 : static_cast<int>(msg.wParam);
}

void Win32Platform::PreviewKey(const void* message) {
    const MSG& msg = *static_cast<const MSG*>(message);
    const bool functionKey = msg.wParam >= VK_F1 && msg.wParam <= VK_F24;
    if (msg.message != WM_KEYDOWN && !(msg.message == WM_SYSKEYDOWN && functionKey)) return;
    if (!window_ || !form_ || (msg.hwnd != window_ && !IsChild(window_, msg.hwnd))) return;
    const int keyCode = static_cast<int>(msg.wParam);
    const int shift = ShiftState();
    // Key preview: the window first, then the control that has the focus.
    form_->Form_KeyDown(keyCode, shift);
    if (window_ && msg.message == WM_KEYDOWN && msg.hwnd == ControlWindow(Control::lstFileList)) {
        form_->lstFileList_KeyDown(keyCode, shift);
    }
}

std::intptr_t Win32Platform::HandleMessage(unsigned message, std::uintptr_t wParam,
                                           std::intptr_t lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls();
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && form_) {
                const auto id = static_cast<std::size_t>(LOWORD(wParam));
                if (id == kFirstControlId + Index(Control::cmdExec)) {
                    form_->cmdExec_Click();
                } else if (id == kFirstControlId + Index(Control::cmdClose)) {
                    form_->cmdClose_Click();
                } else if (id == kFirstControlId + Index(Control::chkWinPos)) {
                    form_->chkWinPos_Click();
                }
            }
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            HWND child = reinterpret_cast<HWND>(lParam);
            if (child == ControlWindow(Control::lblF1) || child == ControlWindow(Control::lblF4)) {
                SetBkColor(dc, kKeyCapColour);
                return reinterpret_cast<LRESULT>(keyCapBrush_);
            }
            if (child == ControlWindow(Control::lblMsg)) SetBkMode(dc, TRANSPARENT);
            SetBkColor(dc, kFormColour);
            return reinterpret_cast<LRESULT>(formBrush_);
        }
        case WM_SIZE:
            if (shown_ && form_) form_->Form_Resize();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(window_, focus)) lastFocus_ = focus;
            } else if (!HIWORD(wParam) && lastFocus_ && IsWindow(lastFocus_)) {
                SetFocus(lastFocus_);
            }
            return 0;
        case WM_SETFOCUS:
            if (lastFocus_ && IsWindow(lastFocus_)) SetFocus(lastFocus_);
            return 0;
        case WM_DPICHANGED: {
            // Every control keeps its place in twips; only the pixels per twip change.
            RECT twips[7];
            for (const ControlDef& def : kControls) {
                RECT& t = twips[Index(def.control)];
                t.left = static_cast<LONG>(Get(def.control, Prop::Left));
                t.top = static_cast<LONG>(Get(def.control, Prop::Top));
                t.right = static_cast<LONG>(Get(def.control, Prop::Width));
                t.bottom = static_cast<LONG>(Get(def.control, Prop::Height));
            }
            dpi_ = HIWORD(wParam);
            for (const ControlDef& def : kControls) {
                const RECT& t = twips[Index(def.control)];
                ::SetWindowPos(ControlWindow(def.control), nullptr, ToPixels(t.left),
                               ToPixels(t.top), ToPixels(t.right), ToPixels(t.bottom),
                               SWP_NOZORDER | SWP_NOACTIVATE);
            }
            ApplyFonts();
            const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case kDropMessage:
            DeliverDrops();
            return 0;
        case WM_TIMER:
            if (wParam == kDropRetryTimer) {
                KillTimer(window_, kDropRetryTimer);
                DeliverDrops();
                return 0;
            }
            break;
        case WM_CLOSE:
            // A batch or its message is under way; it ends the usual way.
            if (form_ && form_->Busy()) return 0;
            DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            const std::intptr_t result = DefWindowProcW(window_, message, wParam, lParam);
            window_ = nullptr;
            std::fill(std::begin(controls_), std::end(controls_), nullptr);
            progress_ = nullptr;
            lastFocus_ = nullptr;
            return result;
        }
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void Win32Platform::TakeDrop(std::uintptr_t handle) {
    HDROP drop = reinterpret_cast<HDROP>(handle);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::string> paths;
    paths.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring name(static_cast<std::size_t>(length) + 1, L'\0');
        const UINT copied = DragQueryFileW(drop, i, name.data(), length + 1);
        name.resize(std::min(copied, length));
        paths.push_back(Narrow(name));
    }
    DragFinish(drop);
    // Handled once the drop source has been let go, so a message box never opens inside it.
    pendingDrops_.push_back(std::move(paths));
    PostMessageW(window_, kDropMessage, 0, 0);
}

void Win32Platform::DeliverDrops() {
    while (!pendingDrops_.empty()) {
        if (!form_ || !window_) {
            pendingDrops_.clear();
            return;
        }
        if (form_->Busy()) {
            // A batch or a message is under way: the drop waits for it rather than being lost.
            SetTimer(window_, kDropRetryTimer, kDropRetryMs, nullptr);
            return;
        }
        const std::vector<std::string> paths = std::move(pendingDrops_.front());
        pendingDrops_.pop_front();
        form_->lstFileList_OLEDragDrop(paths);
    }
}

HWND Win32Platform::ControlWindow(Control control) const { return controls_[Index(control)]; }

unsigned Win32Platform::Dpi() const { return dpi_ ? dpi_ : 96; }

int Win32Platform::ToPixels(float twips) const {
    const double pixels = std::round(static_cast<double>(twips) * Dpi() / 1440.0);
    return static_cast<int>(std::clamp(pixels, -1e6, 1e6));
}

float Win32Platform::ToTwips(int pixels) const {
    return static_cast<float>(pixels * 1440.0 / Dpi());
}

void Win32Platform::MsgBox(const std::string& prompt, int style, const std::string& title) {
    HWND owner = window_ && IsWindowVisible(window_) ? window_ : nullptr;
    MessageBoxW(owner, Widen(prompt).c_str(), Widen(title).c_str(),
                MB_OK | static_cast<UINT>(style));
}

bool Win32Platform::PrevInstance() { return AnotherInstanceRuns(); }

std::string Win32Platform::AppPath() { return ApplicationDirectory(); }

std::string Win32Platform::Dir(const std::string& path, int attributes) {
    return FindFirst(path, attributes);
}

std::string Win32Platform::CurDir() { return CurrentDirectory(); }

void Win32Platform::End() { ExitProcess(0); }

bool Win32Platform::ShellExecute(const std::string& file, const std::string& argument,
                                 const std::string& directory) {
    return Launch(file, argument, directory);
}

void Win32Platform::SetWindowPos(long long insertAfter, int x, int y, int cx, int cy,
                                 unsigned flags) {
    if (!window_) return;
    HWND after = reinterpret_cast<HWND>(static_cast<INT_PTR>(insertAfter));
    ::SetWindowPos(window_, after, x, y, cx, cy, flags);
}

void Win32Platform::Unload() {
    if (window_) DestroyWindow(window_);
}

float Win32Platform::ScaleWidth() {
    RECT r{};
    if (window_) GetClientRect(window_, &r);
    return ToTwips(r.right - r.left);
}

float Win32Platform::ScaleHeight() {
    RECT r{};
    if (window_) GetClientRect(window_, &r);
    return ToTwips(r.bottom - r.top);
}

float Win32Platform::Get(Control control, Prop prop) {
    HWND child = ControlWindow(control);
    if (!child) return 0;
    const RECT r = ChildRect(window_, child);
    switch (prop) {
        case Prop::Left:
            return ToTwips(r.left);
        case Prop::Top:
            return ToTwips(r.top);
        case Prop::Width:
            return ToTwips(r.right - r.left);
        case Prop::Height:
            return ToTwips(r.bottom - r.top);
    }
    return 0;
}

void Win32Platform::Let(Control control, Prop prop, float twips) {
    HWND child = ControlWindow(control);
    if (!child) return;
    const RECT r = ChildRect(window_, child);
    int x = r.left, y = r.top, width = r.right - r.left, height = r.bottom - r.top;
    const int pixels = ToPixels(twips);
    switch (prop) {
        case Prop::Left:
            x = pixels;
            break;
        case Prop::Top:
            y = pixels;
            break;
        case Prop::Width:
            width = std::max(pixels, 0);
            break;
        case Prop::Height:
            height = std::max(pixels, 0);
            break;
    }
    ::SetWindowPos(child, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

int Win32Platform::CheckValue(Control control) {
    HWND child = ControlWindow(control);
    return child ? static_cast<int>(SendMessageW(child, BM_GETCHECK, 0, 0)) : 0;
}

int Win32Platform::ListCount() { return static_cast<int>(rows_.size()); }

int Win32Platform::ListIndex() {
    HWND list = ControlWindow(Control::lstFileList);
    if (!list) return -1;
    const LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
    return index < 0 || static_cast<std::size_t>(index) >= rows_.size() ? -1
                                                                        : static_cast<int>(index);
}

void Win32Platform::ListSetSelected(int row, bool selected) {
    HWND list = ControlWindow(Control::lstFileList);
    if (!list || row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return;
    if (selected) {
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    } else if (ListIndex() == row) {
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    }
}

std::string Win32Platform::ListText() {
    const int row = ListIndex();
    return row < 0 ? std::string() : rows_[static_cast<std::size_t>(row)];
}

void Win32Platform::ListInsertTop(const std::vector<std::string>& rows) {
    HWND list = ControlWindow(Control::lstFileList);
    if (!list || rows.empty()) return;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    std::size_t bytes = 0;
    for (const std::string& row : rows) bytes += (row.size() + 1) * sizeof(wchar_t);
    SendMessageW(list, LB_INITSTORAGE, rows.size(), static_cast<LPARAM>(bytes));
    std::size_t inserted = 0;
    for (; inserted < rows.size(); ++inserted) {
        const std::wstring text = Widen(rows[inserted]);
        const LRESULT at =
            SendMessageW(list, LB_INSERTSTRING, inserted, reinterpret_cast<LPARAM>(text.c_str()));
        if (at < 0) break;  // out of memory: the rows that went in stay in step
    }
    rows_.insert(rows_.begin(), rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(inserted));
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void Win32Platform::ListRemove(int first, int count) {
    HWND list = ControlWindow(Control::lstFileList);
    if (!list || first < 0 || count < 1 || static_cast<std::size_t>(first + count) > rows_.size()) {
        return;
    }
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    if (first == 0 && static_cast<std::size_t>(count) == rows_.size()) {
        SendMessageW(list, LB_RESETCONTENT, 0, 0);
    } else {
        for (int row = first + count - 1; row >= first; --row) {
            SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
        }
    }
    rows_.erase(rows_.begin() + first, rows_.begin() + first + count);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void Win32Platform::BatchProgress(int done, int total) {
    HWND label = ControlWindow(Control::lblMsg);
    if (done == 0) {
        batchStart_ = GetTickCount64();
        lastPump_ = 0;
    }
    if (done >= total) {
        if (progress_ && IsWindowVisible(progress_)) {
            ShowWindow(progress_, SW_HIDE);
            if (label) ShowWindow(label, SW_SHOW);
        }
        return;
    }
    const ULONGLONG now = GetTickCount64() - batchStart_;
    if (now >= kProgressDelayMs && progress_) {
        SendMessageW(progress_, PBM_SETRANGE32, 0, total);
        SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(done), 0);
        if (!IsWindowVisible(progress_)) {
            if (label) ShowWindow(label, SW_HIDE);
            ShowWindow(progress_, SW_SHOW);
        }
    }
    if (now - lastPump_ >= kPumpIntervalMs) {
        lastPump_ = now;
        // Repaint, but take no clicks or keys until the batch is done.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT)) {
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace doredaviro::win32
