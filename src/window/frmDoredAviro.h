#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace doredaviro {

// Virtual-key codes the window reacts to.
constexpr int vbKeyDelete = 46;
constexpr int vbKeyF1 = 112;
constexpr int vbKeyF4 = 115;

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

// The main window's event handlers. The toolkit layer turns its events into
// these calls; everything visible happens through the platform.
class frmDoredAviro {
public:
    explicit frmDoredAviro(Platform& platform) : p_(platform) {}

    // Runs the start-up checks; true when the window is to be shown.
    bool Form_Load();
    void Form_Resize();
    // Seen before the control that has the focus, which gets the key after.
    void Form_KeyDown(int keyCode, int shift);
    // Paths in the order the drop source gives them.
    void lstFileList_OLEDragDrop(const std::vector<std::string>& paths);
    void lstFileList_KeyDown(int keyCode, int shift);
    void cmdExec_Click();
    void cmdClose_Click();
    void chkWinPos_Click();

    bool Loaded() const { return loaded_; }
    // A batch and its messages are under way: other commands wait their turn.
    bool Busy() const { return busy_; }

private:
    void Execute();
    void Close();
    void Unload();

    Platform& p_;
    bool loaded_ = true;
    bool busy_ = false;
};

}  // namespace doredaviro
