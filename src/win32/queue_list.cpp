#include "win32/queue_list.h"

#include <algorithm>

#include "core/paths.h"
#include "win32/text.h"

namespace doredaviro::win32 {

namespace {

constexpr wchar_t kOwnerProp[] = L"DoredAviro.QueueList";
constexpr UINT kDropsTakenMessage = WM_APP + 1;

// The paths of a drop's file list, in its order; the drop stays the caller's.
std::vector<std::string> PathsOf(HDROP drop) {
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
    return paths;
}

}  // namespace

QueueList::~QueueList() { Detach(); }

void QueueList::Attach(HWND list, DropHandler onDrop) {
    Detach();
    list_ = list;
    onDrop_ = std::move(onDrop);
    if (!list_) return;
    SetPropW(list_, kOwnerProp, this);
    defaultProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&QueueList::Proc)));
    DragAcceptFiles(list_, TRUE);
}

void QueueList::Detach() {
    if (list_ && defaultProc_ && IsWindow(list_)) {
        SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(defaultProc_));
        RemovePropW(list_, kOwnerProp);
    }
    list_ = nullptr;
    defaultProc_ = nullptr;
    dropped_.clear();
}

LRESULT CALLBACK QueueList::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<QueueList*>(GetPropW(hwnd, kOwnerProp));
    if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    const WNDPROC base = self->defaultProc_;
    switch (message) {
        case WM_DROPFILES:
            self->TakeDrop(reinterpret_cast<HDROP>(wParam));
            return 0;
        case kDropsTakenMessage:
            self->PassOnDrops();
            return 0;
        case WM_NCDESTROY:
            self->Detach();
            break;
        default:
            break;
    }
    return CallWindowProcW(base, hwnd, message, wParam, lParam);
}

void QueueList::TakeDrop(HDROP drop) {
    std::vector<std::string> paths = PathsOf(drop);
    DragFinish(drop);
    dropped_.push_back(std::move(paths));
    PostMessageW(list_, kDropsTakenMessage, 0, 0);
}

void QueueList::PassOnDrops() {
    // Taken off before the handler runs: it may open a box, inside which the next drop comes.
    while (!dropped_.empty() && onDrop_) {
        const std::vector<std::string> paths = std::move(dropped_.front());
        dropped_.pop_front();
        onDrop_(paths);
    }
}

int QueueList::Index() const {
    if (!list_) return -1;
    const LRESULT index = SendMessageW(list_, LB_GETCURSEL, 0, 0);
    return index < 0 || static_cast<std::size_t>(index) >= rows_.size() ? -1
                                                                        : static_cast<int>(index);
}

void QueueList::Select(int row) {
    if (!list_) return;
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) row = -1;
    SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
}

std::string QueueList::Text(int row) const {
    return row < 0 || static_cast<std::size_t>(row) >= rows_.size()
               ? std::string()
               : rows_[static_cast<std::size_t>(row)];
}

void QueueList::InsertTop(const std::vector<std::string>& rows) {
    if (!list_ || rows.empty()) return;
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    std::size_t bytes = 0;
    for (const std::string& row : rows) bytes += (row.size() + 1) * sizeof(wchar_t);
    SendMessageW(list_, LB_INITSTORAGE, rows.size(), static_cast<LPARAM>(bytes));
    std::size_t inserted = 0;
    for (; inserted < rows.size(); ++inserted) {
        const std::wstring text = Widen(ShownPath(rows[inserted]));
        const LRESULT at =
            SendMessageW(list_, LB_INSERTSTRING, inserted, reinterpret_cast<LPARAM>(text.c_str()));
        if (at < 0) break;  // out of memory: the rows that went in stay in step
    }
    rows_.insert(rows_.begin(), rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(inserted));
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
}

void QueueList::Remove(int first, int count) {
    if (!list_ || first < 0 || count < 1 ||
        static_cast<std::size_t>(first + count) > rows_.size()) {
        return;
    }
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    if (first == 0 && static_cast<std::size_t>(count) == rows_.size()) {
        SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    } else {
        for (int row = first + count - 1; row >= first; --row) {
            SendMessageW(list_, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
        }
    }
    rows_.erase(rows_.begin() + first, rows_.begin() + first + count);
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
}

std::vector<std::string> CopiedFilesOnClipboard(HWND owner) {
    if (!IsClipboardFormatAvailable(CF_HDROP) || !OpenClipboard(owner)) return {};
    std::vector<std::string> paths;
    // The clipboard keeps its data: no DragFinish here.
    if (auto drop = static_cast<HDROP>(GetClipboardData(CF_HDROP))) paths = PathsOf(drop);
    CloseClipboard();
    return paths;
}

}  // namespace doredaviro::win32
