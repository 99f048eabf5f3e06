#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace doredaviro {

// The icon of a message box; the box always has an OK button only.
enum class MessageStyle { Critical = 16, Exclamation = 48, Information = 64 };

// The keys the window reacts to, as KeyOf names them; every other key is Other.
enum class Key { Other, Delete, F1, F4, F5, Paste };

// The codes of the keys that matter, those of Windows' virtual keys, and the shift state's
// bits: what a front end gives KeyOf.
namespace keycode {
constexpr int kInsert = 45;
constexpr int kDelete = 46;
constexpr int kV = 86;
constexpr int kF1 = 112;
constexpr int kF4 = 115;
constexpr int kF5 = 116;
}  // namespace keycode
constexpr int kShift = 1;
constexpr int kCtrl = 2;
constexpr int kAlt = 4;

enum class CheckState { Unchecked = 0, Checked = 1, Grayed = 2 };

// How handing paths to the copy that already runs went.
enum class HandOverResult {
    Taken,        // it has them, in its list or waiting for its batch to end
    Refused,      // it would not take them: its list is full, or it is closing, or it gave
                  // their room back before this start confirmed
    NoAnswer,     // it did not answer in time; nothing sent can count any more
    NoOtherCopy,  // it ended meanwhile, and this copy now holds the single-copy lock
};

// What the user did with a notice that named failures.
enum class NoticeAnswer {
    Clicked,  // the notice itself, its default action
    PutBack,  // its action that puts the failures back into the list
    Closed,   // closed, or expired, or the desktop could not show it
};

// What became of a launch. A started process whose end the front end will
// report through ArchiverEnded has a non-zero `process`, unique among those running.
struct Launched {
    bool started = false;
    long long process = 0;
};

enum class Control { chkWinPos, lblMsg, lstFileList, lblF1, lblF4, cmdExec, cmdClose };
enum class Prop { Left, Top, Width, Height };

// What start-up and the handlers need of the operating system. Texts are UTF-8;
// paths are kept as the system gave them (on Linux, the bytes of the file name).
class System {
public:
    virtual ~System() = default;

    // Modal; returns when the user has closed it.
    virtual void MsgBox(const std::string& prompt, MessageStyle style,
                        const std::string& title) = 0;
    // True when another copy of this program already runs for this user (and display).
    virtual bool AnotherCopyRuns() = 0;
    // Folder of the running program file, without a trailing separator; empty
    // when it cannot be told.
    virtual std::string ProgramFolder() = 0;
    virtual char PathSeparator() const = 0;
    // Name of the first file matching `path`, hidden, system and read-only ones
    // included; never a folder. Empty when there is none.
    virtual std::string FindFile(const std::string& path) = 0;
    virtual std::string CurrentDirectory() = 0;
    // Ends the program at once with `status`. A fake may return; callers stop right after.
    virtual void End(int status) = 0;
    // Starts `tool` with `path` as its one argument in `folder`, without waiting.
    virtual Launched Launch(const std::string& tool, const std::string& path,
                            const std::string& folder) = 0;
    // A clock that only goes forward, in milliseconds from any start.
    virtual long long Milliseconds() = 0;
    // Hands absolute `paths` to the copy of this program that runs for this user
    // (and display), waiting `waitMs` at most in all.
    virtual HandOverResult HandOverToRunningCopy(const std::vector<std::string>& paths,
                                                 int waitMs) = 0;

    // The wall clock, in milliseconds since 1970 UTC, for what the program records.
    virtual long long WallClockMs() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    // Keeps a run's record as the file `name` in the program's record folder, written whole or
    // not at all, and drops the oldest beyond kRecordsKept. Its full path; empty when no
    // record can be kept (a front end that keeps none says so once).
    virtual std::string SaveRunRecord(const std::string& name, const std::string& text) {
        (void)name;
        (void)text;
        return {};
    }
    // Opens a file with the desktop's viewer for it, without waiting.
    virtual void OpenWithViewer(const std::string& path) { (void)path; }
    // Starts this program anew with `paths` as its command line, without waiting: they join the
    // list of the copy that runs then, or of the new one.
    virtual void StartProgramWith(const std::vector<std::string>& paths) { (void)paths; }
    // While held, the ends of archivers wait to be reported: starting the rest comes first.
    virtual void HoldEndings(bool hold) { (void)hold; }
};

// The main window as the handlers see it. Geometry is in twips.
class FormView {
public:
    virtual ~FormView() = default;

    // Closes the window for good and gives up being the single copy (later starts run as the
    // copy at once); the program ends when EndProgram says.
    virtual void Unload() = 0;
    // Brings the window to the front, out of the task bar when minimised.
    virtual void ComeToFront() = 0;
    // Keeps the window above all others, or releases it; never moves or sizes it.
    virtual void SetAlwaysOnTop(bool on) = 0;
    virtual float ScaleWidth() = 0;
    virtual float ScaleHeight() = 0;
    virtual float Get(Control control, Prop prop) = 0;
    virtual void Let(Control control, Prop prop, float twips) = 0;
    virtual CheckState GetCheckState(Control control) = 0;

    // The queue's list. Rows are numbered from 0 at the top.
    virtual int ListCount() = 0;
    virtual int ListIndex() = 0;  // the selected row, -1 when there is none
    virtual std::string ListText(int row) = 0;
    // Selects `row` and scrolls it into view; -1 selects nothing.
    virtual void ListSelect(int row) = 0;
    // Puts `rows` above row 0 in one go, rows[0] ending up on top. Each is kept as it is and
    // shown as ShownPath renders it.
    virtual void ListInsertTop(const std::vector<std::string>& rows) = 0;
    virtual void ListRemove(int first, int count) = 0;
    // The paths of files copied in a file manager, now on the clipboard, in its order; none
    // when it holds anything else, plain text included.
    virtual std::vector<std::string> CopiedFiles() = 0;

    // The progress bar in place of the instruction; hidden again by HideProgress.
    virtual void ShowProgress(int done, int total) = 0;
    virtual void HideProgress() = 0;
    // Lets the window repaint and take what other processes sent, but no click
    // or key: those wait until the running command is done.
    virtual void PumpEvents() = 0;

    // Archivers started here: `ended` of `started` have ended. (0, 0) when none
    // runs: the task bar shows no progress.
    virtual void TaskbarProgress(int ended, int started) = 0;
    // A notice from the desktop, outside the window; `failure` when something went wrong;
    // `putBack` offers the action that puts the failures back. True when the front end will
    // tell NoticeAnswered what became of it; false when the desktop cannot show one.
    virtual bool Notify(const std::string& title, const std::string& text, bool failure,
                        bool putBack) = 0;
    // The program may end now: its window is closed and nothing more waits for it.
    virtual void EndProgram() = 0;
    // True while the window is the one the user works in.
    virtual bool IsActive() = 0;
    // Calls the form's Tick once, about `ms` from now (0: once what waits now is
    // done), in place of a call still waiting.
    virtual void RequestTick(int ms) = 0;
};

}  // namespace doredaviro
