#include <windows.h>

#include <commctrl.h>

#include "win32/main_window.h"

#include <algorithm>
#include <vector>

#include "core/controls.h"
#include "core/frmDoredAviro.h"
#include "core/texts.h"
#include "win32/accessible.h"
#include "win32/hand_over.h"
#include "win32/text.h"
#include "win32/twips.h"
#include "win32/win32_system.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace doredaviro::win32 {

namespace {

constexpr int kFirstControlId = 100;  // clear of IDOK and IDCANCEL
constexpr UINT_PTR kTickTimer = 2;
constexpr WORD kIconId = 1;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

std::size_t Index(Control c) { return static_cast<std::size_t>(c); }

COLORREF ColourOf(Rgb c) { return RGB(c.r, c.g, c.b); }

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

bool Held(int virtualKey) { return GetKeyState(virtualKey) < 0; }

// What the key of `msg` means to the window, by the one rule, with the keys held as it came.
Key KeyOf(const MSG& msg) {
    const int shift =
        (Held(VK_SHIFT) ? kShift : 0) | (Held(VK_CONTROL) ? kCtrl : 0) | (Held(VK_MENU) ? kAlt : 0);
    return doredaviro::KeyOf(static_cast<int>(msg.wParam), shift);
}

// Where a control goes among its siblings: in the tab order, but the instruction label just
// before the list, since Windows names a list after the label before it.
int WindowOrder(const ControlDef& def) {
    if (def.control == Control::lblMsg) {
        for (const ControlDef& list : kControls) {
            if (list.control == Control::lstFileList) return 2 * list.tabIndex - 1;
        }
    }
    return 2 * def.tabIndex;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, frmDoredAviro& form)
    : instance_(instance), form_(form), formBrush_(CreateSolidBrush(ColourOf(kFormColour))) {
    for (const ControlDef& def : kControls) {
        if (def.background == Background::Own) {
            brushes_[Index(def.control)] = CreateSolidBrush(ColourOf(def.colour));
        }
    }
}

MainWindow::~MainWindow() {
    Destroy();
    UnregisterClassW(kMainWindowClass, instance_);
    // The class has no brush of ours (the system would free one on unregistering), so each
    // of these is freed here, once.
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(boldFont_),
                           static_cast<HGDIOBJ>(formBrush_)}) {
        if (object) DeleteObject(object);
    }
    for (HBRUSH brush : brushes_) {
        if (brush) DeleteObject(brush);
    }
}

bool MainWindow::Create() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &MainWindow::Proc;
    wc.hInstance = instance_;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 0, 0,
                                             LR_DEFAULTSIZE | LR_SHARED));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = nullptr;  // painted on WM_ERASEBKGND with a brush we own
    wc.lpszClassName = kMainWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    const std::wstring caption = Widen(text::kCaption);
    return CreateWindowExW(0, kMainWindowClass, caption.c_str(), kWindowStyle, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_,
                           this) != nullptr;
}

void MainWindow::Destroy() {
    if (window_) DestroyWindow(window_);
}

void MainWindow::Hide() {
    if (window_) ShowWindow(window_, SW_HIDE);
}

HWND MainWindow::control(Control c) const { return controls_[Index(c)]; }

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<MainWindow*>(
            reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = hwnd;
    } else {
        self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (self == nullptr || self->window_ != hwnd) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

void MainWindow::CreateControls() {
    dpi_ = DpiOf(window_);
    std::vector<const ControlDef*> order;
    for (const ControlDef& def : kControls) order.push_back(&def);
    // Creation order is the window order; labels take no focus, so it keeps the tab order.
    std::sort(order.begin(), order.end(), [](const ControlDef* a, const ControlDef* b) {
        return WindowOrder(*a) < WindowOrder(*b);
    });
    for (const ControlDef* def : order) {
        const wchar_t* cls = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        switch (def->kind) {
            case ControlKind::CheckBox:
                cls = L"BUTTON";
                style |= WS_TABSTOP | BS_AUTOCHECKBOX;
                break;
            case ControlKind::ListBox:
                // Without LBS_NOINTEGRALHEIGHT: the list shows whole rows only, and the
                // layout reads its height back.
                cls = L"LISTBOX";
                style |= WS_TABSTOP | WS_VSCROLL | LBS_HASSTRINGS;
                exStyle = WS_EX_CLIENTEDGE;
                break;
            case ControlKind::CommandButton:
                cls = L"BUTTON";
                style |= WS_TABSTOP | BS_PUSHBUTTON;
                break;
            case ControlKind::Label:
                style |= (def->centred ? SS_CENTER : SS_LEFT) | SS_NOPREFIX;
                break;
        }
        const std::wstring caption = Widen(def->caption);
        const auto id = static_cast<INT_PTR>(kFirstControlId + Index(def->control));
        controls_[Index(def->control)] = CreateWindowExW(
            exStyle, cls, caption.c_str(), style, ToPixels(def->left, Dpi()),
            ToPixels(def->top, Dpi()), ToPixels(def->width, Dpi()), ToPixels(def->height, Dpi()),
            window_, reinterpret_cast<HMENU>(id), instance_, nullptr);
    }
    progress_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | PBS_SMOOTH, 0, 0, 0, 0,
                                window_, nullptr, instance_, nullptr);
    // After a button, so that no key-cap label lends it a wrong name; it has its own.
    SetWindowPos(progress_, control(Control::cmdClose), 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    NameForAssistiveTechnology(progress_, Widen(text::kProgressName));
    list_.Attach(control(Control::lstFileList), [this](const std::vector<std::string>& paths) {
        form_.lstFileList_OLEDragDrop(paths);
    });
    ApplyFonts();
    lastFocus_ = control(TabOrder().front());
}

void MainWindow::ApplyFonts() {
    const int height = -MulDiv(kFontPoints, static_cast<int>(Dpi()), 72);
    const std::wstring face = Widen(kFontFace);
    const auto make = [&](int weight) {
        return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, kFontCharset,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, face.c_str());
    };
    HFONT normal = make(kNormalWeight);
    HFONT bold = make(kBoldWeight);
    for (const ControlDef& def : kControls) {
        if (HWND h = control(def.control)) {
            SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(def.bold ? bold : normal), TRUE);
        }
    }
    if (font_) DeleteObject(font_);
    if (boldFont_) DeleteObject(boldFont_);
    font_ = normal;
    boldFont_ = bold;
    SizeLabelsToText();
}

void MainWindow::SizeLabelsToText() {
    for (const ControlDef& def : kControls) {
        HWND label = control(def.control);
        if (!def.sizesToText || !label) continue;
        const std::wstring caption = Widen(def.caption);
        SIZE size{};
        HDC dc = GetDC(label);
        HGDIOBJ old = SelectObject(dc, def.bold ? boldFont_ : font_);
        GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(label, dc);
        SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (progress_ && control(kProgressInPlaceOf)) {
        const RECT r = ChildRect(window_, control(kProgressInPlaceOf));
        SetWindowPos(progress_, nullptr, r.left, r.top, r.right - r.left,
                     r.bottom - r.top + ToPixels(kProgressExtraHeight, Dpi()),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void MainWindow::ShowCentered(int showCommand) {
    if (!window_) return;
    dpi_ = DpiOf(window_);
    RECT frame{0, 0, ToPixels(kClientWidth, Dpi()), ToPixels(kClientHeight, Dpi())};
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
    SetWindowPos(window_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, showCommand);
    form_.Form_Resize();
    UpdateWindow(window_);
    if (lastFocus_) SetFocus(lastFocus_);
}

int MainWindow::Run() {
    if (!window_) return 1;
    running_ = true;
    MSG msg{};
    int result;
    while ((result = GetMessageW(&msg, nullptr, 0, 0)) > 0) Handle(msg);
    running_ = false;
    return result < 0 ? 1 : static_cast<int>(msg.wParam);
}

void MainWindow::Handle(MSG& msg) {
    PreviewKey(msg);
    // The dialog manager only for Tab: Enter and Esc keep no special meaning here.
    if (window_ && IsTabKey(msg) && IsDialogMessageW(window_, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void MainWindow::PreviewKey(const MSG& msg) {
    const bool functionKey = msg.wParam >= VK_F1 && msg.wParam <= VK_F24;
    if (msg.message != WM_KEYDOWN && !(msg.message == WM_SYSKEYDOWN && functionKey)) return;
    if (!window_ || (msg.hwnd != window_ && !IsChild(window_, msg.hwnd))) return;
    const Key key = KeyOf(msg);
    // Key preview: the window first, then the control that has the focus.
    form_.Form_KeyDown(key);
    if (window_ && msg.message == WM_KEYDOWN && msg.hwnd == control(Control::lstFileList)) {
        form_.lstFileList_KeyDown(key);
    }
}

void MainWindow::RequestTick(int ms) {
    if (window_) SetTimer(window_, kTickTimer, static_cast<UINT>(std::max(ms, 1)), nullptr);
}

float MainWindow::Twips(Control c, Prop prop) const {
    HWND child = control(c);
    if (!child) return 0;
    const RECT r = ChildRect(window_, child);
    switch (prop) {
        case Prop::Left:
            return ToTwips(r.left, Dpi());
        case Prop::Top:
            return ToTwips(r.top, Dpi());
        case Prop::Width:
            return ToTwips(r.right - r.left, Dpi());
        case Prop::Height:
            return ToTwips(r.bottom - r.top, Dpi());
    }
    return 0;
}

void MainWindow::SetTwips(Control c, Prop prop, float twips) {
    HWND child = control(c);
    if (!child) return;
    const RECT r = ChildRect(window_, child);
    int x = r.left, y = r.top, width = r.right - r.left, height = r.bottom - r.top;
    const int pixels = ToPixels(twips, Dpi());
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
    SetWindowPos(child, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
    // Every control keeps its place in twips; only the pixels per twip change.
    struct Place {
        float left, top, width, height;
    } places[7];
    for (const ControlDef& def : kControls) {
        places[Index(def.control)] = {Twips(def.control, Prop::Left), Twips(def.control, Prop::Top),
                                      Twips(def.control, Prop::Width),
                                      Twips(def.control, Prop::Height)};
    }
    dpi_ = dpi;
    for (const ControlDef& def : kControls) {
        const Place& t = places[Index(def.control)];
        SetWindowPos(control(def.control), nullptr, ToPixels(t.left, Dpi()), ToPixels(t.top, Dpi()),
                     ToPixels(t.width, Dpi()), ToPixels(t.height, Dpi()),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ApplyFonts();
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls();
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                const auto id = static_cast<std::size_t>(LOWORD(wParam));
                if (id == kFirstControlId + Index(Control::cmdExec)) {
                    form_.cmdExec_Click();
                } else if (id == kFirstControlId + Index(Control::cmdClose)) {
                    form_.cmdClose_Click();
                } else if (id == kFirstControlId + Index(Control::chkWinPos)) {
                    form_.chkWinPos_Click();
                }
            }
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            HWND child = reinterpret_cast<HWND>(lParam);
            // What the system draws itself stands on the window's colour.
            COLORREF colour = ColourOf(kFormColour);
            HBRUSH brush = formBrush_;
            for (const ControlDef& def : kControls) {
                if (child != control(def.control)) continue;
                if (def.background == Background::Transparent) SetBkMode(dc, TRANSPARENT);
                if (def.background == Background::Own) {
                    colour = ColourOf(def.colour);
                    brush = brushes_[Index(def.control)];
                }
            }
            SetBkColor(dc, colour);
            return reinterpret_cast<LRESULT>(brush);
        }
        case WM_SIZE:
            if (shown_) form_.Form_Resize();
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
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(window_, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, formBrush_);
            return 1;
        }
        case WM_DROPFILES:
            // Only the list accepts files, but some Wine versions hand its drop to the
            // top-level window; it is still the list's drop.
            if (HWND list = control(Control::lstFileList)) {
                return SendMessageW(list, WM_DROPFILES, wParam, lParam);
            }
            DragFinish(reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_COPYDATA:
            return onCopyData_ ? onCopyData_(*reinterpret_cast<const COPYDATASTRUCT*>(lParam))
                               : kHandOverRefused;
        case WM_TIMER:
            if (wParam == kTickTimer) {
                KillTimer(window_, kTickTimer);
                form_.Tick();
            }
            return 0;
        case Win32System::kArchiverEndedMessage:
            if (onArchiverEnded_) onArchiverEnded_(static_cast<long long>(wParam));
            return 0;
        case kNoticeMessage:
            if (onNotice_) onNotice_(LOWORD(lParam));
            return 0;
        case WM_CLOSE:
            // The title bar, Alt+F4 and the system close through the handlers, which destroy
            // the window unless a batch or its message is under way.
            form_.Form_QueryUnload();
            return 0;
        case WM_DESTROY:
            // Posted before the loop runs, the quit would close the next message box at once.
            if (running_) PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY: {
            const LRESULT result = DefWindowProcW(window_, message, wParam, lParam);
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

}  // namespace doredaviro::win32
