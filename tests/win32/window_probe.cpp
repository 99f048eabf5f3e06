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
//   window_probe copy PATH...  put the paths on the clipboard as files copied in a file manager
//   window_probe copy-text TEXT  put plain text on the clipboard
//   window_probe fields TITLE  wait for a window whose title starts with TITLE; print the text
//                           of each edit field in it, one a line
//   window_probe press TITLE ID  press the button ID of that window (1 Next, 2 Cancel)
//   window_probe accessible print what assistive technology reads: the window's name and role
//                           and the progress bar's name through the accessibility interface,
//                           then the class and text of the control before the list
// Exit status 0 when found, 1 after a time-out.
#include <windows.h>

#include <oleacc.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
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

// The first visible top-level window whose title starts with `prefix`.
HWND WindowTitled(const std::wstring& prefix) {
    struct Search {
        const std::wstring& prefix;
        HWND found;
    } search{prefix, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t cls[16] = {};
            GetClassNameW(hwnd, cls, 16);
            if (!IsWindowVisible(hwnd) || std::wcscmp(cls, L"#32770") != 0 ||
                Text(hwnd).compare(0, s->prefix.size(), s->prefix) != 0) {
                return TRUE;
            }
            s->found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

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

// Hands `bytes` to the clipboard as `format`; the clipboard owns them afterwards.
bool PutOnClipboard(UINT format, const void* bytes, std::size_t size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!memory) return false;
    memcpy(GlobalLock(memory), bytes, size);
    GlobalUnlock(memory);
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    const bool put = SetClipboardData(format, memory) != nullptr;
    CloseClipboard();
    return put;
}

// As a file manager copies files: a DROPFILES block and the paths in UTF-16, each ended, and
// one more end after the last.
bool CopyFiles(int count, wchar_t** paths) {
    std::wstring names;
    for (int i = 0; i < count; ++i) names.append(paths[i]).push_back(L'\0');
    names.push_back(L'\0');
    std::string block(sizeof(DROPFILES) + names.size() * sizeof(wchar_t), '\0');
    DROPFILES header{};
    header.pFiles = sizeof header;
    header.fWide = TRUE;
    memcpy(block.data(), &header, sizeof header);
    memcpy(block.data() + sizeof header, names.data(), names.size() * sizeof(wchar_t));
    return PutOnClipboard(CF_HDROP, block.data(), block.size());
}

// IAccessible, by its number: oleacc's import library makes code of what the DLL exports as data.
constexpr IID kIAccessible = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The name and role that assistive technology reads of a window's client area.
std::wstring Accessible(HWND hwnd) {
    IAccessible* acc = nullptr;
    if (FAILED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, kIAccessible,
                                         reinterpret_cast<void**>(&acc)))) {
        return L"(no accessibility interface)";
    }
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring out = acc->get_accName(self, &name) == S_OK && name ? name : L"";
    SysFreeString(name);
    VARIANT role{};
    if (acc->get_accRole(self, &role) == S_OK && role.vt == VT_I4) {
        out += L"\t" + std::to_wstring(role.lVal);
    }
    acc->Release();
    return out;
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
    if (command == L"copy") return CopyFiles(argc - 2, argv + 2) ? 0 : 1;
    if (command == L"copy-text" && argc > 2) {
        const std::wstring text = argv[2];
        return PutOnClipboard(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t))
                   ? 0
                   : 1;
    }
    if (command == L"accessible") {
        HWND main = MainWindow();
        HWND list = main ? FindWindowExW(main, nullptr, L"ListBox", nullptr) : nullptr;
        HWND progress =
            main ? FindWindowExW(main, nullptr, L"msctls_progress32", nullptr) : nullptr;
        if (!list || !progress) return 1;
        CoInitialize(nullptr);
        Print(L"window\t" + Accessible(main));
        Print(L"progress\t" + Accessible(progress));
        HWND before = GetWindow(list, GW_HWNDPREV);
        wchar_t cls[32] = {};
        if (before) GetClassNameW(before, cls, 32);
        Print(L"before list\t" + std::wstring(cls) + L"\t" + (before ? Text(before) : L""));
        before = GetWindow(progress, GW_HWNDPREV);
        cls[0] = 0;
        if (before) GetClassNameW(before, cls, 32);
        Print(L"before progress\t" + std::wstring(cls));
        CoUninitialize();
        return 0;
    }
    if ((command == L"fields" || command == L"press") && argc > 2) {
        HWND window = nullptr;
        if (!WaitFor([&] { return (window = WindowTitled(argv[2])) != nullptr; })) return 1;
        if (command == L"press") {
            const int id = argc > 3 ? _wtoi(argv[3]) : IDOK;
            // Posted: a busy or stuck window must not stop the test here.
            return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                reinterpret_cast<LPARAM>(GetDlgItem(window, id)))
                       ? 0
                       : 1;
        }
        EnumChildWindows(
            window,
            [](HWND child, LPARAM) -> BOOL {
                wchar_t cls[16] = {};
                GetClassNameW(child, cls, 16);
                if (std::wcscmp(cls, L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
                // Another process's control gives its text only when asked for it.
                wchar_t text[1024] = {};
                DWORD_PTR got = 0;
                SendMessageTimeoutW(child, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                                    SMTO_ABORTIFHUNG, 2000, &got);
                Print(text);
                return TRUE;
            },
            0);
        return 0;
    }
    if (command == L"gone") return WaitFor([] { return MainWindow() == nullptr; }) ? 0 : 1;
    return 2;
}
