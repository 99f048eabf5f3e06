#include "window/frmDoredAviro.h"

#include <algorithm>

#include "startup/modDoredAviro.h"
#include "window/layout.h"
#include "window/texts.h"

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

namespace {

// Marks the window busy for as long as one command runs.
class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
};

}  // namespace

bool frmDoredAviro::Form_Load() {
    using namespace modDoredAviro;
    if (CheckPrevInstance(p_)) {
        loaded_ = false;
        return false;
    }
    LoadSettings(p_);
    if (!FileExists(p_, IniPath)) {
        p_.MsgBox(text::kIniMissing, vbCritical, text::kCaption);
        Unload();
    }
    // Runs even when the settings file is missing, as users expect both reasons.
    if (!FileExists(p_, ToolPath)) {
        p_.MsgBox(text::kToolMissing, vbCritical, text::kCaption);
        Unload();
    }
    return loaded_;
}

void frmDoredAviro::Form_Resize() { ResizeLayout(p_); }

void frmDoredAviro::Form_KeyDown(int keyCode, int /*shift*/) {
    if (keyCode == vbKeyF1) {
        Execute();
    } else if (keyCode == vbKeyF4) {
        Close();
    }
}

void frmDoredAviro::lstFileList_OLEDragDrop(const std::vector<std::string>& paths) {
    if (busy_) return;
    // Each path goes in above the ones before it, so the last dropped is on top.
    std::vector<std::string> rows;
    rows.reserve(paths.size());
    std::for_each(paths.rbegin(), paths.rend(), [&rows](const std::string& path) {
        if (!path.empty()) rows.push_back(path);
    });
    if (rows.empty()) return;
    if (rows.size() > static_cast<std::size_t>(kMaxRows - p_.ListCount())) {
        BusyScope busy(busy_);
        p_.MsgBox(text::kQueueFull, vbExclamation, text::kCaption);
        return;
    }
    p_.ListInsertTop(rows);
}

void frmDoredAviro::lstFileList_KeyDown(int keyCode, int /*shift*/) {
    if (keyCode != vbKeyDelete || busy_) return;
    const int index = p_.ListIndex();
    if (index == -1) {
        BusyScope busy(busy_);
        p_.MsgBox(text::kSelectToDelete, vbInformation, text::kCaption);
        return;
    }
    p_.ListRemove(index, 1);
}

void frmDoredAviro::cmdExec_Click() { Execute(); }

void frmDoredAviro::cmdClose_Click() { Close(); }

void frmDoredAviro::chkWinPos_Click() {
    const long long insertAfter =
        p_.CheckValue(Control::chkWinPos) == 1 ? HWND_TOPMOST : HWND_NOTOPMOST;
    p_.SetWindowPos(insertAfter, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void frmDoredAviro::Execute() {
    if (busy_) return;
    BusyScope busy(busy_);
    if (p_.ListCount() == 0) {
        p_.MsgBox(text::kQueueEmpty, vbExclamation, text::kCaption);
        return;
    }
    const int last = p_.ListCount() - 1;
    const int total = last + 1;
    std::vector<char> launched(static_cast<std::size_t>(total), 0);
    int started = 0;
    p_.BatchProgress(0, total);
    for (int i = 0; i <= last; ++i) {
        p_.ListSetSelected(i, true);
        const std::string path = p_.ListText();
        const std::string workdir = p_.CurDir();
        if (p_.ShellExecute(modDoredAviro::ToolPath, path, workdir)) {
            launched[static_cast<std::size_t>(i)] = 1;
            ++started;
        }
        p_.BatchProgress(i + 1, total);
    }

    if (started > 0) p_.MsgBox(text::kPleaseWait, vbInformation, text::kCaption);

    // Only what was started leaves the queue; failed rows stay, in their order.
    // Bottom-up, so the row numbers of the runs still to remove hold.
    for (int end = total; end > 0;) {
        while (end > 0 && !launched[static_cast<std::size_t>(end - 1)]) --end;
        int first = end;
        while (first > 0 && launched[static_cast<std::size_t>(first - 1)]) --first;
        if (first < end) p_.ListRemove(first, end - first);
        end = first;
    }
    const int selected = p_.ListIndex();
    if (selected >= 0) p_.ListSetSelected(selected, false);

    if (started < total) p_.MsgBox(text::kLaunchFailed, vbCritical, text::kCaption);
}

void frmDoredAviro::Close() {
    if (busy_) return;
    Unload();
}

void frmDoredAviro::Unload() {
    loaded_ = false;
    p_.Unload();
}

}  // namespace doredaviro
