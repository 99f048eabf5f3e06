#pragma once

#include <vector>

#include "platform.h"

namespace doredaviro {

// The window's definition: every front end builds its window from these, so that
// the places, the tab order and the look cannot differ between them.

enum class ControlKind { CheckBox, Label, ListBox, CommandButton };

struct Rgb {
    unsigned char r, g, b;
};

// What is painted behind a control's text.
enum class Background {
    System,       // the control's own, as the system draws its kind
    Transparent,  // the window's background shows through
    Own,          // the control's colour
};

struct ControlDef {
    Control control;
    ControlKind kind;
    const char* caption;
    float left, top, width, height;  // in twips, as created
    int tabIndex;
    bool bold;
    bool centred;
    bool sizesToText;
    Background background;
    Rgb colour;  // when the background is Own
};
extern const ControlDef kControls[7];

// The controls that take the focus, in the tab order; the first has it when the window appears.
std::vector<Control> TabOrder();

constexpr float kClientWidth = 8115.0f;
constexpr float kClientHeight = 3960.0f;
constexpr Rgb kFormColour{192, 192, 255};

// Every control's font: this face, in this size, normal or bold, in the Shift-JIS character set.
inline constexpr char kFontFace[] = "ＭＳ ゴシック";
constexpr int kFontPoints = 9;
constexpr int kNormalWeight = 400;
constexpr int kBoldWeight = 700;
constexpr int kFontCharset = 128;

// The batch's progress bar takes the instruction's place, as sized to its text, a little taller.
constexpr Control kProgressInPlaceOf = Control::lblMsg;
constexpr float kProgressExtraHeight = 30.0f;

}  // namespace doredaviro
