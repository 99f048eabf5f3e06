// Looks at the running program's window from outside, for the end-to-end test.
//   window_probe find       wait for the main window; print its X window and the list's centre
//   window_probe rows       print the queue's rows, one a line, as UTF-8
//   window_probe dialog [S] wait up to S seconds (30) for a message box over the window; print
//                           its X window, title and text
//   window_probe message [S] wait up to S seconds (30) for a message box titled with the
//                           program's caption, with or without a main window; print as dialog
//   window_probe focus      print the control ID of the window's focused control
//   window_probe topmost    print 1 when the window stays on top, else 0
//   window_probe gone       wait for the main window to close
// Exit status 0 when found, 1 after a time-out.
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"DoredAviro.ZivevKorvu";
constexpr wchar_t kCaption[] = L"+Korvu支援Tool  Zivev+Korvu";

void Print(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    out += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
              nullptr);
}

// The X11 window Wine made for `hwnd`.
unsigned long XWindow(HWND hwnd) {
    return static_cast<unsigned long>(
        reinterpret_cast<ULONG_PTR>(GetPropW(hwnd, L"__wine_x11_whole_window")));
}

std::wstring Text(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

template <typename Fn>
bool WaitFor(Fn found, int tenths = 300) {
    for (int i = 0; i < tenths; ++i) {
        if (found()) return true;
        Sleep(100);
    }
    return false;
}

HWND MainWindow() { return FindWindowW(kMainClass, nullptr); }

struct DialogSearch {
    HWND owner;
    HWND dialog;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (std::wstring(cls) == L"#32770" && GetWindow(hwnd, GW_OWNER) == search->owner &&
        IsWindowVisible(hwnd)) {
        search->dialog = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStatic(HWND hwnd, LPARAM param) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    const std::wstring text = Text(hwnd);
    if (_wcsicmp(cls, L"Static") == 0 && !text.empty())
        *reinterpret_cast<std::wstring*>(param) += text;
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"find") {
        HWND main = nullptr;
        if (!WaitFor(
                [&] { return (main = MainWindow()) && IsWindowVisible(main) && XWindow(main); })) {
            return 1;
        }
        HWND list = FindWindowExW(main, nullptr, L"ListBox", nullptr);
        RECT r{};
        GetWindowRect(list, &r);
        Print(std::to_wstring(XWindow(main)) + L" " + std::to_wstring((r.left + r.right) / 2) +
              L" " + std::to_wstring((r.top + r.bottom) / 2));
        return 0;
    }
    if (command == L"rows") {
        HWND main = MainWindow();
        HWND list = main ? FindWindowExW(main, nullptr, L"ListBox", nullptr) : nullptr;
        if (!list) return 1;
        const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring row(static_cast<std::size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1,
                             L'\0');
            row.resize(static_cast<std::size_t>(
                SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()))));
            Print(row);
        }
        return 0;
    }
    if (command == L"dialog" || command == L"message") {
        DialogSearch search{MainWindow(), nullptr};
        if (!search.owner && command == L"dialog") return 1;
        const int tenths = argc > 2 ? 10 * _wtoi(argv[2]) : 300;
        if (!WaitFor(
                [&] {
                    if (command == L"message") {
                        search.dialog = FindWindowW(L"#32770", kCaption);
                        if (search.dialog && !IsWindowVisible(search.dialog))
                            search.dialog = nullptr;
                    } else {
                        search.dialog = nullptr;
                        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
                    }
                    return search.dialog != nullptr && XWindow(search.dialog) != 0;
                },
                tenths)) {
            return 1;
        }
        std::wstring text;
        EnumChildWindows(search.dialog, CollectStatic, reinterpret_cast<LPARAM>(&text));
        Print(std::to_wstring(XWindow(search.dialog)));
        Print(Text(search.dialog));
        Print(text);
        return 0;
    }
    if (command == L"focus" || command == L"topmost") {
        HWND main = MainWindow();
        if (!main) return 1;
        if (command == L"topmost") {
            Print((GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOPMOST) ? L"1" : L"0");
            return 0;
        }
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) return 1;
        Print(std::to_wstring(info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0));
        return 0;
    }
    if (command == L"gone") return WaitFor([] { return MainWindow() == nullptr; }) ? 0 : 1;
    return 2;
}
