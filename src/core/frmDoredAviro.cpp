#include "frmDoredAviro.h"

#include <algorithm>

#include "layout.h"
#include "paths.h"
#include "texts.h"

namespace doredaviro {

const ControlDef kControls[7] = {
    {Control::chkWinPos, text::kChkWinPos, 150, 135, 2130, 180, 0},
    {Control::lblMsg, text::kLblMsg, 165, 465, 5310, 180, 6},
    {Control::lstFileList, "", 100, 735, 7875, 2220, 1},
    {Control::lblF1, text::kLblF1, 2385, 3135, 1350, 180, 4},
    {Control::lblF4, text::kLblF4, 4365, 3135, 1350, 180, 5},
    {Control::cmdExec, text::kCmdExec, 2392, 3330, 1350, 500, 2},
    {Control::cmdClose, text::kCmdClose, 4372, 3330, 1350, 500, 3},
};

// Marks the window busy for as long as one command or message runs.
class frmDoredAviro::BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
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

void frmDoredAviro::HandOver(const std::vector<std::string>& paths,
                             const std::function<void(bool)>& answer) {
    if (!loaded_) {
        answer(false);
        return;
    }
    view_.ComeToFront();
    if (busy_) {
        waitingDrops_.push_back(paths);
        answer(true);
        return;
    }
    AddDrop(paths, &answer);
    AddWaitingDrops();
}

void frmDoredAviro::Form_Resize() { ResizeLayout(view_); }

void frmDoredAviro::Form_KeyDown(Key key) {
    if (key == Key::F1) {
        Execute();
    } else if (key == Key::F4) {
        Close();
    }
}

void frmDoredAviro::lstFileList_OLEDragDrop(const std::vector<std::string>& paths) {
    if (busy_) {
        waitingDrops_.push_back(paths);
        return;
    }
    AddDrop(paths);
    AddWaitingDrops();
}

void frmDoredAviro::AddDrop(const std::vector<std::string>& paths,
                            const std::function<void(bool)>* answer) {
    // Each path goes in above the ones before it, so the last dropped is on top.
    std::vector<std::string> rows;
    rows.reserve(paths.size());
    std::for_each(paths.rbegin(), paths.rend(), [&rows](const std::string& path) {
        if (!path.empty()) rows.push_back(path);
    });
    const bool fits = rows.size() <= static_cast<std::size_t>(kMaxRows - view_.ListCount());
    if (answer) (*answer)(fits);
    if (!fits) {
        BusyScope busy(busy_);
        system_.MsgBox(text::kQueueFull, MessageStyle::Exclamation, text::kCaption);
        return;
    }
    if (!rows.empty()) view_.ListInsertTop(rows);
}

// Drops that came while the window was busy, in the order they came; one that
// opens a message makes the ones after it wait for that too.
void frmDoredAviro::AddWaitingDrops() {
    while (!busy_ && loaded_ && !waitingDrops_.empty()) {
        const std::vector<std::string> paths = std::move(waitingDrops_.front());
        waitingDrops_.pop_front();
        AddDrop(paths);
    }
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

void frmDoredAviro::Execute() {
    if (busy_) return;
    {
        BusyScope busy(busy_);
        if (view_.ListCount() == 0) {
            system_.MsgBox(text::kQueueEmpty, MessageStyle::Exclamation, text::kCaption);
        } else {
            const int last = view_.ListCount() - 1;
            const int total = last + 1;
            std::vector<char> launched(static_cast<std::size_t>(total), 0);
            int started = 0;
            view_.BatchProgress(0, total);
            for (int i = 0; i <= last; ++i) {
                view_.ListSetSelected(i, true);
                const std::string path = view_.ListText();
                const std::string workdir = system_.CurrentDirectory();
                if (system_.Launch(settings_.ToolPath, path, workdir)) {
                    launched[static_cast<std::size_t>(i)] = 1;
                    ++started;
                }
                view_.BatchProgress(i + 1, total);
            }

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
            const int selected = view_.ListIndex();
            if (selected >= 0) view_.ListSetSelected(selected, false);

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

void frmDoredAviro::Unload() {
    loaded_ = false;
    view_.Unload();
}

}  // namespace doredaviro
