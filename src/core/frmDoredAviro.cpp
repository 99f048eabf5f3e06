#include "frmDoredAviro.h"

#include <algorithm>

#include "layout.h"
#include "paths.h"
#include "texts.h"

namespace doredaviro {

// Marks the window busy for as long as one command or message runs.
class frmDoredAviro::BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy), was_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = was_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
    bool was_;
};

void frmDoredAviro::SetCommandLine(const std::vector<std::string>& arguments,
                                   const std::string& startFolder) {
    commandLine_.clear();
    for (const std::string& argument : arguments) {
        if (!argument.empty()) {
            commandLine_.push_back(AbsolutePath(argument, startFolder, system_.PathSeparator()));
        }
    }
}

bool frmDoredAviro::Form_Load() {
    using namespace modDoredAviro;
    if (CheckPrevInstance(system_, commandLine_)) {
        loaded_ = false;
        return false;
    }
    settings_ = LoadSettings(system_);
    if (!FileExists(system_, settings_.IniPath)) {
        system_.MsgBox(text::kIniMissing, MessageStyle::Critical, text::kCaption);
        Unload();
    }
    // Runs even when the settings file is missing, as users expect both reasons.
    if (!FileExists(system_, settings_.ToolPath)) {
        system_.MsgBox(text::kToolMissing, MessageStyle::Critical, text::kCaption);
        Unload();
    }
    return loaded_;
}

void frmDoredAviro::OpenCommandLine() {
    std::vector<std::string> paths;
    paths.swap(commandLine_);
    if (!paths.empty()) lstFileList_OLEDragDrop(paths);
}

namespace {

// Each path goes in above the ones before it, so the last dropped is on top.
std::vector<std::string> RowsOf(const std::vector<std::string>& paths) {
    std::vector<std::string> rows;
    rows.reserve(paths.size());
    std::for_each(paths.rbegin(), paths.rend(), [&rows](const std::string& path) {
        if (!path.empty()) rows.push_back(path);
    });
    return rows;
}

}  // namespace

HandOverTicket frmDoredAviro::OfferHandOver(const std::vector<std::string>& paths) {
    if (!loaded_) return 0;
    std::vector<std::string> rows = RowsOf(paths);
    const std::size_t listed = static_cast<std::size_t>(view_.ListCount()) + waitingRows_;
    if (listed > static_cast<std::size_t>(kMaxRows) ||
        rows.size() > static_cast<std::size_t>(kMaxRows) - listed) {
        return 0;
    }
    const HandOverTicket ticket = ++lastTicket_;
    Wait(std::move(rows), ticket, false);
    return ticket;
}

bool frmDoredAviro::TakeHandOver(HandOverTicket ticket) {
    if (!loaded_) return false;
    const auto held = std::find_if(waiting_.begin(), waiting_.end(),
                                   [ticket](const Waiting& w) { return w.ticket == ticket; });
    if (ticket == 0 || held == waiting_.end() || held->ready) return false;
    held->ready = true;
    // Not inside the call from the line: as an event of its own.
    arrived_ = true;
    const long long now = system_.Milliseconds();
    TickAt(now, now);
    return true;
}

void frmDoredAviro::HandOverArrived() {
    if (!loaded_) return;
    view_.ComeToFront();
    AddWaitingDrops();
}

void frmDoredAviro::DropHandOver(HandOverTicket ticket) {
    const auto held = std::find_if(waiting_.begin(), waiting_.end(), [ticket](const Waiting& w) {
        return w.ticket == ticket && !w.ready;
    });
    if (ticket == 0 || held == waiting_.end()) return;
    waitingRows_ -= held->rows.size();
    waiting_.erase(held);
    // Drops behind it may have waited for its turn.
    AddWaitingDrops();
}

void frmDoredAviro::Form_Resize() { ResizeLayout(view_); }

Key KeyOf(int keyCode, int shift) {
    const int held = shift & (kShift | kCtrl | kAlt);
    switch (keyCode) {
        case keycode::kDelete:
            return Key::Delete;
        case keycode::kF1:
            return Key::F1;
        case keycode::kF4:
            return Key::F4;
        case keycode::kF5:
            return Key::F5;
        // As every Windows program pastes, and nothing else: Alt with Ctrl is AltGr, which types.
        case keycode::kV:
            return held == kCtrl ? Key::Paste : Key::Other;
        case keycode::kInsert:
            return held == kShift ? Key::Paste : Key::Other;
        default:
            return Key::Other;
    }
}

void frmDoredAviro::Form_KeyDown(Key key) {
    if (key == Key::F1) {
        Execute();
    } else if (key == Key::F4) {
        Close();
    } else if (key == Key::F5) {
        PutBackFailures();
    } else if (key == Key::Paste) {
        // Read now, as the user saw it; it then goes the way a drop goes.
        const std::vector<std::string> paths = view_.CopiedFiles();
        if (!paths.empty()) lstFileList_OLEDragDrop(paths);
    }
}

bool frmDoredAviro::Form_QueryUnload() {
    if (!loaded_) return true;
    if (busy_) return false;
    Unload();
    return true;
}

void frmDoredAviro::lstFileList_OLEDragDrop(const std::vector<std::string>& paths) {
    // Behind whatever already waits, so the order of arrival holds.
    Wait(RowsOf(paths), 0, true);
    AddWaitingDrops();
}

void frmDoredAviro::Wait(std::vector<std::string> rows, HandOverTicket ticket, bool ready) {
    // What waits stays bounded: a drop no list could hold keeps only its message.
    const bool tooMany = rows.size() > static_cast<std::size_t>(kMaxRows);
    if (tooMany) rows = {};
    waitingRows_ += rows.size();
    waiting_.push_back(Waiting{std::move(rows), ticket, ready, tooMany});
}

// A hand-over whose sender has no answer yet keeps its place and its room, and
// what is ready behind it goes first.
void frmDoredAviro::AddWaitingDrops() {
    while (!busy_ && loaded_) {
        const auto next = std::find_if(waiting_.begin(), waiting_.end(),
                                       [](const Waiting& w) { return w.ready; });
        if (next == waiting_.end()) return;
        const std::vector<std::string> rows = std::move(next->rows);
        const bool tooMany = next->tooMany;
        waitingRows_ -= rows.size();
        waiting_.erase(next);
        AddRows(rows, tooMany);
    }
}

void frmDoredAviro::AddRows(const std::vector<std::string>& rows, bool tooMany) {
    // Rows still waiting keep their room: a hand-over was promised it.
    const std::size_t listed = static_cast<std::size_t>(view_.ListCount()) + waitingRows_;
    if (tooMany || listed > static_cast<std::size_t>(kMaxRows) ||
        rows.size() > static_cast<std::size_t>(kMaxRows) - listed) {
        BusyScope busy(busy_);
        system_.MsgBox(text::kQueueFull, MessageStyle::Exclamation, text::kCaption);
        return;
    }
    if (!rows.empty()) view_.ListInsertTop(rows);
}

void frmDoredAviro::lstFileList_KeyDown(Key key) {
    if (key != Key::Delete || busy_) return;
    const int index = view_.ListIndex();
    if (index == -1) {
        {
            BusyScope busy(busy_);
            system_.MsgBox(text::kSelectToDelete, MessageStyle::Information, text::kCaption);
        }
        AddWaitingDrops();
        return;
    }
    view_.ListRemove(index, 1);
}

void frmDoredAviro::cmdExec_Click() { Execute(); }

void frmDoredAviro::cmdClose_Click() { Close(); }

void frmDoredAviro::chkWinPos_Click() {
    view_.SetAlwaysOnTop(view_.GetCheckState(Control::chkWinPos) == CheckState::Checked);
}

namespace {

std::string Fill(std::string text, int n, int m) {
    for (const auto& [key, value] : {std::pair{"{n}", n}, std::pair{"{m}", m}}) {
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) {
            text.replace(at, 3, std::to_string(value));
        }
    }
    return text;
}

}  // namespace

void frmDoredAviro::ArchiverEnded(long long process, bool succeeded) {
    ArchiverEnd end;
    end.succeeded = succeeded;
    end.status = succeeded ? 0 : -1;
    ArchiverEnded(process, std::move(end));
}

void frmDoredAviro::ArchiverEnded(long long process, ArchiverEnd end) {
    const auto it = running_.find(process);
    if (it == running_.end()) return;
    ++run_.ended;
    if (!end.succeeded) {
        ++run_.failed;
        if (run_.firstFailed.size() < 2) run_.firstFailed.push_back(ShownPath(it->second.path));
    }
    // However much the archivers wrote, the run keeps a bounded share of it.
    if (end.succeeded || end.errorTail.size() > kRecordErrorBytes - run_.errorBytes) {
        end.errorTail.clear();
    }
    run_.errorBytes += end.errorTail.size();
    ArchiverRecord record{std::move(it->second.path), it->second.startedMs, system_.WallClockMs(),
                          std::move(end)};
    run_.records.emplace_back(it->second.order, std::move(record));
    running_.erase(it);
    if (!EndRunIfDone()) ShowRunProgress(false);
}

// Those that end before the rest are started are still part of this run.
bool frmDoredAviro::EndRunIfDone() {
    if (launching_ || !running_.empty() || run_.started == 0) return false;
    Run run = std::move(run_);
    run_ = {};
    RunEnded(std::move(run));
    return true;
}

void frmDoredAviro::RunEnded(Run run) {
    std::sort(run.records.begin(), run.records.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ArchiverRecord> records;
    records.reserve(run.records.size());
    lastFailed_.clear();
    for (auto& [order, record] : run.records) {
        if (!record.end.succeeded) lastFailed_.push_back(record.path);
        records.push_back(std::move(record));
    }
    // As a drop of them would come, so that they are listed as they were.
    std::reverse(lastFailed_.begin(), lastFailed_.end());
    const long long startedMs = records.empty() ? system_.WallClockMs() : records.front().startedMs;
    lastRecord_ = system_.SaveRunRecord(RunRecordName(startedMs), FormatRunRecord(records));

    if (loaded_) {
        view_.TaskbarProgress(run.ended, run.started);
        view_.TaskbarProgress(0, 0);
        if (system_.Milliseconds() - run.since < kNoticeAfterMs) return;
    }
    // A closed window's results are told however short the run: nobody saw them.
    if (run.failed == 0) {
        // All went well: worth a word only to someone working elsewhere.
        if (!loaded_ || !view_.IsActive()) {
            view_.Notify(text::kNoticeTitle, Fill(text::kNoticeAllDone, run.ended, 0), false,
                         false);
        }
        EndIfDone();
        return;
    }
    std::string body = run.failed == run.ended ? Fill(text::kNoticeAllFailed, run.ended, 0)
                                               : Fill(text::kNoticeFailed, run.ended, run.failed);
    for (const std::string& path : run.firstFailed) body += "\n" + path;
    const int more = run.failed - static_cast<int>(run.firstFailed.size());
    if (more > 0) body += "\n" + Fill(text::kNoticeMoreFailed, 0, more);
    const bool answerComes = view_.Notify(text::kNoticeTitle, body, true, true);
    if (!loaded_ && answerComes) {
        noticeOpen_ = true;
        const long long now = system_.Milliseconds();
        closedWaitUntil_ = now + kClosedNoticeWaitMs;
        TickAt(closedWaitUntil_, now);
    }
    EndIfDone();
}

void frmDoredAviro::PutBackFailures() {
    if (lastFailed_.empty()) return;
    std::vector<std::string> paths;
    paths.swap(lastFailed_);
    if (loaded_) {
        lstFileList_OLEDragDrop(paths);
    } else {
        system_.StartProgramWith(paths);
    }
}

void frmDoredAviro::NoticeAnswered(NoticeAnswer answer) {
    switch (answer) {
        case NoticeAnswer::Clicked:
            if (loaded_) {
                view_.ComeToFront();
            } else if (!lastRecord_.empty()) {
                system_.OpenWithViewer(lastRecord_);
            }
            break;
        case NoticeAnswer::PutBack:
            PutBackFailures();
            if (loaded_) view_.ComeToFront();
            break;
        case NoticeAnswer::Closed:
            break;
    }
    noticeOpen_ = false;
    EndIfDone();
}

void frmDoredAviro::EndIfDone() {
    if (loaded_ || programEnded_ || !running_.empty() || noticeOpen_) return;
    programEnded_ = true;
    view_.EndProgram();
}

void frmDoredAviro::ShowRunProgress(bool now) {
    if (!loaded_ || running_.empty()) return;
    const long long time = system_.Milliseconds();
    const long long wait = lastTaskbar_ + kTaskbarIntervalMs - time;
    if (now || wait <= 0) {
        lastTaskbar_ = time;
        view_.TaskbarProgress(run_.ended, run_.started);
    } else if (!progressPending_) {
        progressPending_ = true;
        TickAt(time + wait, time);
    }
}

void frmDoredAviro::TickAt(long long when, long long now) {
    if (tickDue_ >= 0 && tickDue_ <= when) return;
    tickDue_ = when;
    view_.RequestTick(static_cast<int>(std::max(when - now, 0LL)));
}

void frmDoredAviro::Tick() {
    tickDue_ = -1;
    if (closedWaitUntil_ >= 0 && system_.Milliseconds() >= closedWaitUntil_) {
        closedWaitUntil_ = -1;
        noticeOpen_ = false;
        EndIfDone();
    }
    handOver_.Expire(system_.Milliseconds());
    if (arrived_) {
        arrived_ = false;
        HandOverArrived();
    }
    if (progressPending_) {
        progressPending_ = false;
        ShowRunProgress(true);
    }
}

void frmDoredAviro::Execute() {
    if (busy_) return;
    {
        BusyScope busy(busy_);
        if (view_.ListCount() == 0) {
            system_.MsgBox(text::kQueueEmpty, MessageStyle::Exclamation, text::kCaption);
        } else {
            const int total = view_.ListCount();
            std::vector<char> launched(static_cast<std::size_t>(total), 0);
            int started = 0;
            const long long start = system_.Milliseconds();
            long long lastPump = start;
            bool progressShown = false;
            launching_ = true;
            system_.HoldEndings(true);
            for (int i = 0; i < total; ++i) {
                const std::string path = view_.ListText(i);
                const std::string workdir = system_.CurrentDirectory();
                const Launched result = system_.Launch(settings_.ToolPath, path, workdir);
                if (result.started) {
                    launched[static_cast<std::size_t>(i)] = 1;
                    ++started;
                    if (result.process != 0 &&
                        running_
                            .emplace(result.process,
                                     Started{path, ++lastOrder_, system_.WallClockMs()})
                            .second) {
                        if (run_.started == 0) run_.since = start;
                        ++run_.started;
                    }
                }
                // Selecting and scrolling for every row would cost more than the
                // launch: the row being started shows at each repaint.
                const long long now = system_.Milliseconds();
                if (i + 1 < total && now - lastPump >= kPumpIntervalMs) {
                    lastPump = now;
                    view_.ListSelect(i);
                    if (now - start >= kProgressDelayMs) {
                        view_.ShowProgress(i + 1, total);
                        progressShown = true;
                    }
                    view_.PumpEvents();
                }
            }
            launching_ = false;
            system_.HoldEndings(false);
            view_.ListSelect(total - 1);
            if (progressShown) view_.HideProgress();
            EndRunIfDone();
            ShowRunProgress(true);

            if (started > 0) {
                system_.MsgBox(text::kPleaseWait, MessageStyle::Information, text::kCaption);
            }

            // Only what was started leaves the queue; failed rows stay, in their
            // order. Bottom-up, so the row numbers of the runs still to remove hold.
            for (int end = total; end > 0;) {
                while (end > 0 && !launched[static_cast<std::size_t>(end - 1)]) --end;
                int first = end;
                while (first > 0 && launched[static_cast<std::size_t>(first - 1)]) --first;
                if (first < end) view_.ListRemove(first, end - first);
                end = first;
            }
            if (view_.ListIndex() >= 0) view_.ListSelect(-1);

            if (started < total) {
                system_.MsgBox(text::kLaunchFailed, MessageStyle::Critical, text::kCaption);
            }
        }
    }
    AddWaitingDrops();
}

void frmDoredAviro::Close() {
    if (busy_) return;
    Unload();
}

// From here on nothing more is taken. Senders the line has told their paths
// were taken see them join the list first; the rest learn they were not.
void frmDoredAviro::Unload() {
    if (loaded_) {
        handOver_.SettleAll();
        AddWaitingDrops();
    }
    loaded_ = false;
    waiting_.clear();
    waitingRows_ = 0;
    view_.Unload();
    // Archivers still running keep the process, without its window, until they have ended.
    EndIfDone();
}

}  // namespace doredaviro
