#pragma once

#include <deque>
#include <functional>
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

    // The paths the program was started with, before Form_Load: empty arguments
    // are left out, and relative ones made absolute against `startFolder`, the
    // folder the program was started in, since the archiver runs elsewhere.
    void SetCommandLine(const std::vector<std::string>& arguments, const std::string& startFolder);
    // Runs the start-up checks; true when the window is to be shown. When another
    // copy runs, the command line's paths go to it instead.
    bool Form_Load();
    // Once the window is shown: the command line's paths go in as one drop.
    void OpenCommandLine();
    // Absolute paths another start of the program hands over: one drop. `answer`
    // learns at once, before any message opens, whether they were taken; kept
    // for when a batch ends counts as taken.
    void HandOver(const std::vector<std::string>& paths, const std::function<void(bool)>& answer);
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
    // `answer`, when given, learns whether the list takes them before any message.
    void AddDrop(const std::vector<std::string>& paths,
                 const std::function<void(bool)>* answer = nullptr);
    void AddWaitingDrops();

    System& system_;
    FormView& view_;
    Settings settings_;
    bool loaded_ = true;
    bool busy_ = false;
    std::deque<std::vector<std::string>> waitingDrops_;
    std::vector<std::string> commandLine_;
};

}  // namespace doredaviro
