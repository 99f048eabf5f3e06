#pragma once

#include <string>
#include <vector>

namespace doredaviro {

// Message-box styles: OK button only, with one of these icons.
enum MsgStyle : int {
    vbCritical = 16,
    vbExclamation = 48,
    vbInformation = 64,
};

// Attribute bits of the directory search.
enum FileAttr : int {
    vbReadOnly = 1,
    vbHidden = 2,
    vbSystem = 4,
    vbVolume = 8,
    vbDirectory = 16,
    vbArchive = 32,
};

// Insert-after handles and flags of the window-stacking call.
constexpr long long HWND_TOPMOST = -1;
constexpr long long HWND_NOTOPMOST = -2;
constexpr unsigned SWP_NOSIZE = 1;
constexpr unsigned SWP_NOMOVE = 2;

enum class Control { chkWinPos, lblMsg, lstFileList, lblF1, lblF4, cmdExec, cmdClose };
enum class Prop { Left, Top, Width, Height };

// Everything the start-up sequence and the window's handlers need from the
// operating system and the window toolkit. Texts are UTF-8; paths are kept as
// the platform gave them (on Linux, the bytes of the file name).
class Platform {
public:
    virtual ~Platform() = default;

    // Modal, OK only; returns when the user has closed it.
    virtual void MsgBox(const std::string& prompt, int style, const std::string& title) = 0;
    // True when another copy of this program already runs for this user and display.
    virtual bool PrevInstance() = 0;
    // Directory of the running program file, without a trailing separator.
    virtual std::string AppPath() = 0;
    virtual char PathSeparator() const = 0;
    // Name of the first entry matching path whose attributes the mask admits;
    // directories and volume labels only when named in the mask. Empty when none.
    virtual std::string Dir(const std::string& path, int attributes) = 0;
    virtual std::string CurDir() = 0;
    // Ends the program at once. A fake may return; callers stop right after.
    virtual void End() = 0;

    // Starts `file` with `argument` as its one parameter in `directory`, without
    // waiting. False when the program could not be started.
    virtual bool ShellExecute(const std::string& file, const std::string& argument,
                              const std::string& directory) = 0;
    virtual void SetWindowPos(long long insertAfter, int x, int y, int cx, int cy,
                              unsigned flags) = 0;

    // The window: closing it, geometry in twips, the check box's value.
    virtual void Unload() = 0;
    virtual float ScaleWidth() = 0;
    virtual float ScaleHeight() = 0;
    virtual float Get(Control control, Prop prop) = 0;
    virtual void Let(Control control, Prop prop, float twips) = 0;
    virtual int CheckValue(Control control) = 0;

    // The queue list box. Rows are numbered from 0 at the top.
    virtual int ListCount() = 0;
    virtual int ListIndex() = 0;  // -1 when nothing is selected
    virtual void ListSetSelected(int row, bool selected) = 0;
    virtual std::string ListText() = 0;  // the current row's text
    // Puts `rows` above row 0 in one go, rows[0] ending up on top.
    virtual void ListInsertTop(const std::vector<std::string>& rows) = 0;
    virtual void ListRemove(int first, int count) = 0;

    // A batch of launches is under way: `done` of `total` started. Called with
    // done == total when it ends, so the platform can repaint and show progress.
    virtual void BatchProgress(int done, int total) = 0;
};

}  // namespace doredaviro
