#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "controls.h"
#include "hand_over.h"
#include "modDoredAviro.h"
#include "platform.h"
#include "run_record.h"

namespace doredaviro {

// The most rows the queue can hold: row numbers are 16-bit signed.
constexpr int kMaxRows = 32767;

// While a batch runs, how often the window repaints, and how long it runs
// before a progress bar shows: a short batch never flashes one.
constexpr long long kPumpIntervalMs = 40;
constexpr long long kProgressDelayMs = 500;
// The task bar's progress changes at most this often, however fast archivers end;
// a run shorter than kNoticeAfterMs ends without a notice.
constexpr long long kTaskbarIntervalMs = 250;
constexpr long long kNoticeAfterMs = 3000;
// How long a closed window's process waits for an answer to its notice, where the desktop
// never says it was closed.
constexpr long long kClosedNoticeWaitMs = 10 * 60 * 1000;

// What a key means to the window, from the key code (those of Windows' virtual keys) and
// the Shift, Ctrl and Alt held with it (kShift, kCtrl, kAlt). Every front end asks this.
Key KeyOf(int keyCode, int shift);

// The main window's event handlers, and every rule the window follows. A front
// end turns its events into these calls; everything visible happens through
// the system and the view.
class frmDoredAviro {
public:
    // `settings` stand until Form_Load reads them from the settings file.
    frmDoredAviro(System& system, FormView& view, Settings settings = {})
        : system_(system), view_(view), settings_(std::move(settings)) {}
    frmDoredAviro(const frmDoredAviro&) = delete;
    frmDoredAviro& operator=(const frmDoredAviro&) = delete;

    // The paths the program was started with, before Form_Load: empty arguments
    // are left out, and relative ones made absolute against `startFolder`, the
    // folder the program was started in, since the archiver runs elsewhere.
    void SetCommandLine(const std::vector<std::string>& arguments, const std::string& startFolder);
    // Runs the start-up checks; true when the window is to be shown. When another
    // copy runs, the command line's paths go to it instead.
    bool Form_Load();
    // Once the window is shown: the command line's paths go in as one drop.
    void OpenCommandLine();

    // Paths later starts hand over, from the front end's line to them.
    HandOver& handOver() { return handOver_; }

    void Form_Resize();
    // Seen before the control that has the focus, which gets the key after. A paste puts
    // files copied in a file manager in as a drop of them; other text there is passed over.
    void Form_KeyDown(Key key);
    // The window is asked to close by other means than its own commands: the
    // title bar, the window manager, the system. False keeps it open.
    bool Form_QueryUnload();
    // Paths in the order the drop source gives them. While a batch or a message
    // is open the drop waits, and goes in when they end.
    void lstFileList_OLEDragDrop(const std::vector<std::string>& paths);
    void lstFileList_KeyDown(Key key);
    void cmdExec_Click();
    void cmdClose_Click();
    void chkWinPos_Click();

    // An archiver this window started has ended; `succeeded` when it exited with
    // status 0. Closing never waits for them. When the last one running ends,
    // after a run of some seconds, a notice says how many ended and failed.
    void ArchiverEnded(long long process, bool succeeded);
    void ArchiverEnded(long long process, ArchiverEnd end);
    // The last run's failed paths go back into the list as one drop, in the order they
    // were listed; once.
    void PutBackFailures();
    // What became of the last notice that named failures. Once the window is closed, the
    // program ends after it; "put back" then starts the program with the failures.
    void NoticeAnswered(NoticeAnswer answer);
    // The paths PutBackFailures would put back, as the drop it makes.
    const std::vector<std::string>& FailedLastRun() const { return lastFailed_; }
    const std::string& LastRecord() const { return lastRecord_; }
    // What RequestTick asked for.
    void Tick();
    // Archivers started here that have not ended yet, as far as the front end tells.
    int RunningArchivers() const { return static_cast<int>(running_.size()); }

    bool Loaded() const { return loaded_; }
    // A batch or a message is under way: other commands wait their turn.
    bool Busy() const { return busy_; }
    const Settings& settings() const { return settings_; }

private:
    friend class HandOver;
    class BusyScope;
    // Rows that wait to join the list, in the order they came: a drop that came
    // while the window was busy, or a hand-over that was offered.
    struct Waiting {
        std::vector<std::string> rows;  // top row first
        HandOverTicket ticket = 0;      // a hand-over's, 0 for a drop
        bool ready = false;             // a hand-over's sender has its answer
        bool tooMany = false;           // a drop no list could hold, its rows let go
    };

    // Another start offers absolute `paths`: a ticket (non-zero) when they fit beside the rows
    // listed and those waiting, which holds room for them; 0 when the list cannot take them or
    // the window is closing.
    HandOverTicket OfferHandOver(const std::vector<std::string>& paths);
    // The held paths are kept: they go in with the next tick. False when the window has
    // closed meanwhile (or never held them).
    bool TakeHandOver(HandOverTicket ticket);
    // The window comes to the front and what was taken joins the list, unless a batch or a
    // message is open.
    void HandOverArrived();
    // The room held for them is freed.
    void DropHandOver(HandOverTicket ticket);
    // Asks for a tick at `when` unless one comes before it.
    void TickAt(long long when, long long now);

    void Execute();
    void Close();
    void Unload();
    void Wait(std::vector<std::string> rows, HandOverTicket ticket, bool ready);
    // Puts the ready waiting rows in, in order, until a message opens.
    void AddWaitingDrops();
    void AddRows(const std::vector<std::string>& rows, bool tooMany);

    System& system_;
    FormView& view_;
    Settings settings_;
    bool loaded_ = true;
    bool busy_ = false;
    std::deque<Waiting> waiting_;
    std::size_t waitingRows_ = 0;
    HandOverTicket lastTicket_ = 0;
    // Archivers running and ended since none ran, for the task bar and the notice.
    struct Run {
        long long since = 0;
        int started = 0;
        int ended = 0;
        int failed = 0;
        std::vector<std::string> firstFailed;                       // the first two paths
        std::vector<std::pair<long long, ArchiverRecord>> records;  // with their order of start
        std::size_t errorBytes = 0;
    };
    struct Started {
        std::string path;
        long long order = 0;  // its place among those started, counted from the list's top
        long long startedMs = 0;
    };
    void ShowRunProgress(bool now);
    bool EndRunIfDone();  // true when the run has ended
    void RunEnded(Run run);
    // Once the window has closed, the process ends when nothing more waits for it.
    void EndIfDone();

    std::map<long long, Started> running_;  // process → what it was given
    long long lastOrder_ = 0;
    std::vector<std::string> lastFailed_;
    std::string lastRecord_;
    bool noticeOpen_ = false;  // a closed window's notice waits for its answer
    long long closedWaitUntil_ = -1;
    bool programEnded_ = false;
    Run run_;
    bool launching_ = false;  // Execute is still starting rows
    long long lastTaskbar_ = 0;
    bool progressPending_ = false;  // a task bar change waits for the tick
    bool arrived_ = false;          // a hand-over taken waits for the tick
    long long tickDue_ = -1;        // when the tick asked for comes; -1 when none is
    HandOver handOver_{*this, system_};
    std::vector<std::string> commandLine_;
};

}  // namespace doredaviro
