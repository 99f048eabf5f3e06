#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/hand_over.h"
#include "core/platform.h"
#include "test_support.h"

namespace doredaviro::testing {

struct LaunchCall {
    std::string file;
    std::string argument;
    std::string directory;
    bool operator==(const LaunchCall& o) const {
        return file == o.file && argument == o.argument && directory == o.directory;
    }
};

// Records every call; message boxes return at once. The list behaves like a
// single-selection list box: the selection follows its row when rows move.
class FakePlatform : public System, public FormView, public HandOverLine {
public:
    FakePlatform();

    // What the fake answers.
    bool prevInstance = false;
    std::string programFolder = "/opt/app";
    std::string curDir = "/home/user";
#ifdef _WIN32
    char separator = '\\';
#else
    char separator = '/';
#endif
    std::set<std::string> files;                            // paths FindFile finds
    std::function<bool(const LaunchCall&)> launchSucceeds;  // default: all succeed
    std::function<void(const MsgBoxCall&)> onMsgBox;        // runs while the box is "open"
    float scaleWidth = 8115.0f;
    float scaleHeight = 3960.0f;
    // What the list reports back for a height written to it (default: as written).
    std::function<float(float)> listHeightReadBack;
    CheckState checkState = CheckState::Unchecked;
    HandOverResult handOverResult = HandOverResult::NoAnswer;
    long long clockStep = 0;               // how far the clock moves at each reading
    std::vector<std::string> copiedFiles;  // what CopiedFiles finds on the clipboard

    // What the fake saw.
    std::vector<std::string> log;  // every call that changes or shows something, in order
    std::vector<MsgBoxCall> msgBoxes;
    std::vector<LaunchCall> launches;
    std::vector<bool> alwaysOnTop;              // each SetAlwaysOnTop, in order
    std::vector<std::pair<int, int>> progress;  // each ShowProgress
    int pumps = 0;
    std::function<void()> onPump;  // runs inside each PumpEvents
    long long clock = 0;
    long long lastProcess = 0;  // the process number the last started launch got
    bool active = true;
    std::vector<std::pair<int, int>> taskbar;  // each TaskbarProgress
    struct Notice {
        std::string title, text;
        bool failure;
        bool putBack;
    };
    std::vector<Notice> notices;
    std::vector<int> ticks;  // each RequestTick's delay
    int ends = 0;
    bool noticesAnswered = true;  // what Notify returns
    int programEnds = 0;
    long long wallClock = 1765241453123;                       // 2025-12-09T00:50:53.123Z
    std::vector<std::pair<std::string, std::string>> records;  // each SaveRunRecord
    std::vector<std::string> viewed;
    std::vector<std::vector<std::string>> programStarts;
    int endStatus = -1;
    std::vector<std::vector<std::string>> handedOver;  // each HandOverToRunningCopy's paths
    int broughtToFront = 0;
    int unloads = 0;
    std::vector<std::string> rows;
    int selected = -1;
    std::map<std::pair<Control, Prop>, float> props;

    void MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) override;
    bool AnotherCopyRuns() override { return prevInstance; }
    std::string ProgramFolder() override { return programFolder; }
    char PathSeparator() const override { return separator; }
    std::string FindFile(const std::string& path) override;
    std::string CurrentDirectory() override { return curDir; }
    void End(int status) override;
    Launched Launch(const std::string& tool, const std::string& path,
                    const std::string& folder) override;
    long long Milliseconds() override { return clock += clockStep; }
    HandOverResult HandOverToRunningCopy(const std::vector<std::string>& paths,
                                         int waitMs) override;

    void Unload() override;
    void ComeToFront() override { ++broughtToFront; }
    void SetAlwaysOnTop(bool on) override { alwaysOnTop.push_back(on); }
    float ScaleWidth() override { return scaleWidth; }
    float ScaleHeight() override { return scaleHeight; }
    float Get(Control control, Prop prop) override;
    void Let(Control control, Prop prop, float twips) override;
    CheckState GetCheckState(Control) override { return checkState; }
    int ListCount() override { return static_cast<int>(rows.size()); }
    int ListIndex() override { return selected; }
    std::string ListText(int row) override;
    void ListSelect(int row) override;
    void ListInsertTop(const std::vector<std::string>& newRows) override;
    void ListRemove(int first, int count) override;
    std::vector<std::string> CopiedFiles() override { return copiedFiles; }
    void ShowProgress(int done, int total) override;
    void HideProgress() override { log.push_back("HideProgress"); }
    void PumpEvents() override;
    void TaskbarProgress(int ended, int started) override { taskbar.emplace_back(ended, started); }
    bool Notify(const std::string& title, const std::string& text, bool failure,
                bool putBack) override {
        notices.push_back({title, text, failure, putBack});
        return noticesAnswered;
    }
    void EndProgram() override { ++programEnds; }
    std::string SaveRunRecord(const std::string& name, const std::string& text) override {
        records.emplace_back(name, text);
        return "/state/" + name;
    }
    void OpenWithViewer(const std::string& path) override { viewed.push_back(path); }
    void StartProgramWith(const std::vector<std::string>& paths) override {
        programStarts.push_back(paths);
    }
    long long WallClockMs() override { return wallClock; }
    bool IsActive() override { return active; }
    void RequestTick(int ms) override { ticks.push_back(ms); }

    // The line to later starts: the tickets whose confirmation it took, those it shut, and
    // what each sender was told in the end.
    std::set<HandOverTicket> confirmations;
    std::set<HandOverTicket> sealed;
    std::map<HandOverTicket, bool> finished;
    bool Seal(HandOverTicket ticket) override {
        sealed.insert(ticket);
        return confirmations.count(ticket) > 0;
    }
    void Finish(HandOverTicket ticket, bool kept) override { finished[ticket] = kept; }
};

}  // namespace doredaviro::testing
