#pragma once

// The input rules every front end must follow, as one table: the Qt window (offscreen) and the
// Windows one (under Wine) each run every case with their own platform's events, so that the
// two cannot drift apart. Paths are short names, which each driver makes its platform's paths.

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/platform.h"
#include "core/texts.h"

namespace doredaviro::testing {

enum class Act {
    Drop,       // `names` dropped on the list
    CopyFiles,  // `names` copied in a file manager
    CopyText,   // names[0] copied as plain text
    Press,      // `key` (a key code) with `shift` held, the focus on `focus`
    Select,     // `row` selected in the list, -1 for none
    CloseBox,   // the title bar's close box
    Offer,      // a later start hands `names` over
    Confirm,    // the first later start told of room that has not confirmed yet confirms
};

// Run once the events of the step before are done, while the message that it opens is still
// open, or at once after it, before any of its events.
enum class When { Now, InMessage, Together };

// What a later start learns: to an offer, whether room is held; to its confirmation, whether
// its paths are kept.
inline const std::string kHeld = "held", kRefused = "refused", kKept = "kept",
                         kNotKept = "not kept";

struct Step {
    Act act;
    std::vector<std::string> names = {};
    int key = 0;
    int shift = 0;
    Control focus = Control::lstFileList;
    int row = -1;
    When when = When::Now;
};

struct InputCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> rows = {};      // at the end, top first
    std::vector<std::string> messages = {};  // the prompts shown, in order
    std::vector<std::string> launched = {};  // in order
    bool open = true;                        // the window at the end
    std::vector<std::string> answers = {};   // to later starts, in order
    friend void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }
};

// Runs the case's steps through `perform`, told whether to let the step's events run after
// it (not when the next step comes together with it). Those for while a message is open wait
// in `whileOpen`, which the driver's message box runs and clears; false when no message opened.
inline bool RunSteps(const InputCase& c, const std::function<void(const Step&, bool)>& perform,
                     std::function<void()>& whileOpen) {
    for (std::size_t i = 0; i < c.steps.size();) {
        const Step& now = c.steps[i++];
        std::vector<Step> later;
        while (i < c.steps.size() && c.steps[i].when == When::InMessage)
            later.push_back(c.steps[i++]);
        bool ran = later.empty();
        if (!ran) {
            whileOpen = [&] {
                for (const Step& step : later) perform(step, true);
                ran = true;
            };
        }
        perform(now, i == c.steps.size() || c.steps[i].when != When::Together);
        whileOpen = nullptr;
        if (!ran) return false;
    }
    return true;
}

// The table's names back from the paths a driver made of them.
inline std::vector<std::string> NamesOf(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    for (const std::string& path : paths)
        names.push_back(path.substr(path.find_last_of("/\\") + 1));
    return names;
}

namespace cases {

using N = std::vector<std::string>;
inline Step Drop(N names, When when = When::Now) { return {Act::Drop, names, 0, 0, {}, -1, when}; }
inline Step CopyFiles(N names) { return {Act::CopyFiles, names}; }
inline Step CopyText(std::string text) { return {Act::CopyText, {text}}; }
inline Step Press(int key, int shift, Control focus, When when = When::Now) {
    return {Act::Press, {}, key, shift, focus, -1, when};
}
inline Step Select(int row) { return {Act::Select, {}, 0, 0, {}, row}; }
inline Step CloseBox(When when = When::Now) { return {Act::CloseBox, {}, 0, 0, {}, -1, when}; }
inline Step Offer(N names, When when = When::Now) {
    return {Act::Offer, names, 0, 0, {}, -1, when};
}
inline Step Confirm(When when = When::Now) { return {Act::Confirm, {}, 0, 0, {}, -1, when}; }
// More names than the list has room for beside any other.
inline N Full() {
    N names;
    for (int i = 0; i < 32767; ++i) names.push_back("m" + std::to_string(i));
    return names;
}

using namespace keycode;
constexpr When kInMessage = When::InMessage, kTogether = When::Together;
constexpr Control kCheck = Control::chkWinPos, kList = Control::lstFileList,
                  kExec = Control::cmdExec, kClose = Control::cmdClose;
const std::string kWait = text::kPleaseWait, kSelect = text::kSelectToDelete,
                  kEmpty = text::kQueueEmpty;

inline const std::vector<InputCase> kInputCases = {
    {"drops go in at the top, the last dropped first",
     {Drop({"a"}), Drop({"b", "c"})},
     {"c", "b", "a"}},
    {"Ctrl+V and Shift+Insert paste copied files as a drop, wherever the focus is",
     {CopyFiles({"a", "b"}), Press(kV, kCtrl, kCheck), CopyFiles({"c"}),
      Press(kInsert, kShift, kList), CopyFiles({"d"}), Press(kV, kCtrl, kClose)},
     {"d", "c", "b", "a"}},
    {"copied text is passed over", {CopyText("/x"), Press(kV, kCtrl, kList)}, {}},
    {"no other key or shift state pastes",
     {CopyFiles({"a"}), Press(kV, 0, kExec), Press(kV, kCtrl | kShift, kExec),
      Press(kV, kCtrl | kAlt, kExec), Press(kInsert, 0, kExec), Press(kInsert, kCtrl, kExec),
      Press(kInsert, kShift | kCtrl, kExec)},
     {}},
    {"Delete on the list asks for a row, then removes the selected one, shifted or not",
     {Drop({"a", "b", "c"}), Select(-1), Press(kDelete, 0, kList), Select(1),
      Press(kDelete, kShift, kList)},
     {"c", "a"},
     {kSelect}},
    {"Delete elsewhere does nothing", {Drop({"a"}), Select(0), Press(kDelete, 0, kExec)}, {"a"}},
    {"F1 runs the batch once from any control, whatever is held",
     {Drop({"a"}), Press(kF1, kAlt, kCheck), Drop({"b", "c"}), Press(kF1, kCtrl | kShift, kList)},
     {},
     {kWait, kWait},
     {"a", "c", "b"}},
    {"F1 with nothing queued only warns", {Press(kF1, 0, kClose)}, {}, {kEmpty}},
    {"F4 closes from any control", {Drop({"a"}), Press(kF4, kAlt, kExec)}, {"a"}, {}, {}, false},
    {"the close box closes", {CloseBox()}, {}, {}, {}, false},
    {"a drop while a message is open goes in when it closes",
     {Drop({"a"}), Press(kF1, 0, kExec), Drop({"b"}, kInMessage)},
     {"b"},
     {kWait},
     {"a"}},
    {"a paste while a message is open goes in when it closes, as a drop does",
     {Drop({"a"}), Select(-1), CopyFiles({"b", "c"}), Press(kDelete, 0, kList),
      Press(kV, kCtrl, kList, kInMessage)},
     {"c", "b", "a"},
     {kSelect}},
    {"F4 and the close box do nothing while a message is open",
     {Drop({"a"}), Press(kF1, 0, kExec), Press(kF4, 0, kExec, kInMessage), CloseBox(kInMessage)},
     {},
     {kWait},
     {"a"}},
    {"a hand-over with room is held, and once confirmed joins at the top as a drop does",
     {Drop({"a"}), Offer({"h", "i"}), Confirm()},
     {"i", "h", "a"},
     {},
     {},
     true,
     {kHeld, kKept}},
    {"a hand-over the list has no room for is refused, the room held for another counted",
     {Offer({"h"}), Offer(Full()), Confirm()},
     {"h"},
     {},
     {},
     true,
     {kHeld, kRefused, kKept}},
    {"a hand-over while a message is open is held through F4 and joins when it closes",
     {Drop({"a"}), Press(kF1, 0, kExec), Offer({"h"}, kInMessage), Press(kF4, 0, kExec, kInMessage),
      Confirm(kInMessage)},
     {"h"},
     {kWait},
     {"a"},
     true,
     {kHeld, kKept}},
    {"a confirmation that F4 comes together with joins the list before the window goes",
     {Offer({"h"}), Confirm(), Press(kF4, 0, kExec, kTogether)},
     {"h"},
     {},
     {},
     false,
     {kHeld, kKept}},
    {"the close box while a hand-over is held gives its room back: its confirmation is too late",
     {Offer({"h"}), CloseBox(), Confirm()},
     {},
     {},
     {},
     false,
     {kHeld, kNotKept}},
};

}  // namespace cases

using cases::kInputCases;

}  // namespace doredaviro::testing
