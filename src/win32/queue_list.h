#pragma once

#include <windows.h>

#include <shellapi.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace doredaviro::win32 {

// The queue's list box: keeps each row's path exactly as dropped while the box shows it as
// ShownPath renders it, and takes file drops, passing each on only once the drop source has let
// go, so that a message box never opens inside the drop.
class QueueList {
public:
    using DropHandler = std::function<void(const std::vector<std::string>& paths)>;

    QueueList() = default;
    ~QueueList();
    QueueList(const QueueList&) = delete;
    QueueList& operator=(const QueueList&) = delete;

    // Takes over `list`, a list box, for its rows and its drops.
    void Attach(HWND list, DropHandler onDrop);
    HWND handle() const { return list_; }

    int Count() const { return static_cast<int>(rows_.size()); }
    int Index() const;     // -1 when nothing is selected
    void Select(int row);  // -1 selects nothing
    std::string Text(int row) const;
    void InsertTop(const std::vector<std::string>& rows);
    void Remove(int first, int count);

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void TakeDrop(HDROP drop);
    // The drops taken so far, to the handler, now that their sources have let go.
    void PassOnDrops();
    void Detach();

    HWND list_ = nullptr;
    WNDPROC defaultProc_ = nullptr;
    DropHandler onDrop_;
    std::vector<std::string> rows_;
    std::deque<std::vector<std::string>> dropped_;
};

// The paths of files copied in a file manager (CF_HDROP on the clipboard), in its order; none
// for anything else there.
std::vector<std::string> CopiedFilesOnClipboard(HWND owner);

}  // namespace doredaviro::win32
