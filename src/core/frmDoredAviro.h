#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "modDoredAviro.h"
#include "platform.h"

namespace doredaviro {

// The most rows the queue can hold: row numbers are 16-bit signed.
constexpr int kMaxRows = 32767;

// Geometry of a control as created, in twips.
struct ControlDef {
    Control control;
    const char* caption;
    float left, top, width, height;
    int tabIndex;
};
extern const ControlDef kControls[7];
constexpr float kClientWidth = 8115.0f;
constexpr float kClientHeight = 3960.0f;

// The main window's event handlers. A front end turns its events into these
// calls; everything visible happens through the system and the view.
class frmDoredAviro {
public:
    // `settings` stand until Form_Load reads them from the settings file.
    frmDoredAviro(System& system, FormView& view, Settings settings = {})
        : system_(system), view_(view), settings_(std::move(settings)) {}
    frmDoredAviro(const frmDoredAviro&) = delete;
    frmDoredAviro& operator=(const frmDoredAviro&) = delete;

    // Runs the start-up checks; true when the window is to be shown.
    bool Form_Load();
    void Form_Resize();
    // Seen before the control that has the focus, which gets the key after.
    void Form_KeyDown(Key key);
    // Paths in the order the drop source gives them. While a batch or a message
    // is open the drop waits, and goes in when they end.
    void lstFileList_OLEDragDrop(const std::vector<std::string>& paths);
    void lstFileList_KeyDown(Key key);
    void cmdExec_Click();
    void cmdClose_Click();
    void chkWinPos_Click();

    bool Loaded() const { return loaded_; }
    // A batch or a message is under way: other commands wait their turn.
    bool Busy() const { return busy_; }
    const Settings& settings() const { return settings_; }

private:
    class BusyScope;

    void Execute();
    void Close();
    void Unload();
    void AddDrop(const std::vector<std::string>& paths);
    void AddWaitingDrops();

    System& system_;
    FormView& view_;
    Settings settings_;
    bool loaded_ = true;
    bool busy_ = false;
    std::deque<std::vector<std::string>> waitingDrops_;
};

}  // namespace doredaviro
