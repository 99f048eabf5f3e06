#include "controls.h"

#include <algorithm>

#include "texts.h"

namespace doredaviro {

namespace {

constexpr Rgb kKeyCapColour{192, 255, 255};
constexpr Rgb kNone{0, 0, 0};
using K = ControlKind;

}  // namespace

const ControlDef kControls[7] = {
    {Control::chkWinPos, K::CheckBox, text::kChkWinPos, 150, 135, 2130, 180, 0, false, false, false,
     Background::Own, kFormColour},
    {Control::lblMsg, K::Label, text::kLblMsg, 165, 465, 5310, 180, 6, false, false, true,
     Background::Transparent, kNone},
    {Control::lstFileList, K::ListBox, "", 100, 735, 7875, 2220, 1, false, false, false,
     Background::System, kNone},
    {Control::lblF1, K::Label, text::kLblF1, 2385, 3135, 1350, 180, 4, true, true, false,
     Background::Own, kKeyCapColour},
    {Control::lblF4, K::Label, text::kLblF4, 4365, 3135, 1350, 180, 5, true, true, false,
     Background::Own, kKeyCapColour},
    {Control::cmdExec, K::CommandButton, text::kCmdExec, 2392, 3330, 1350, 500, 2, true, false,
     false, Background::System, kNone},
    {Control::cmdClose, K::CommandButton, text::kCmdClose, 4372, 3330, 1350, 500, 3, true, false,
     false, Background::System, kNone},
};

std::vector<Control> TabOrder() {
    std::vector<const ControlDef*> defs;
    for (const ControlDef& def : kControls) {
        if (def.kind != ControlKind::Label) defs.push_back(&def);
    }
    std::sort(defs.begin(), defs.end(),
              [](const ControlDef* a, const ControlDef* b) { return a->tabIndex < b->tabIndex; });
    std::vector<Control> order;
    for (const ControlDef* def : defs) order.push_back(def->control);
    return order;
}

}  // namespace doredaviro
