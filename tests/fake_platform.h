#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace doredaviro::testing {

struct MsgBoxCall {
    std::string prompt;
    int style;
    std::string title;
    bool operator==(const MsgBoxCall& o) const {
        return prompt == o.prompt && style == o.style && title == o.title;
    }
};

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
class FakePlatform : public Platform {
public:
    FakePlatform();

    // What the fake answers.
    bool prevInstance = false;
    std::string appPath = "/opt/app";
    std::string curDir = "/home/user";
#ifdef _WIN32
    char separator = '\\';
#else
    char separator = '/';
#endif
    std::set<std::string> files;                            // paths the directory search finds
    std::function<bool(const LaunchCall&)> launchSucceeds;  // default: all succeed
    std::function<void(const MsgBoxCall&)> onMsgBox;        // runs while the box is "open"
    float scaleWidth = 8115.0f;
    float scaleHeight = 3960.0f;
    // What the list reports back for a height written to it (default: as written).
    std::function<float(float)> listHeightReadBack;
    int checkValue = 0;

    // What the fake saw.
    std::vector<std::string> log;  // every call that changes or shows something, in order
    std::vector<MsgBoxCall> msgBoxes;
    std::vector<LaunchCall> launches;
    std::vector<std::pair<long long, unsigned>> windowPos;
    std::vector<std::pair<int, int>> progress;
    int ends = 0;
    int unloads = 0;
    std::vector<std::string> rows;
    int selected = -1;
    std::map<std::pair<Control, Prop>, float> props;

    void MsgBox(const std::string& prompt, int style, const std::string& title) override;
    bool PrevInstance() override { return prevInstance; }
    std::string AppPath() override { return appPath; }
    char PathSeparator() const override { return separator; }
    std::string Dir(const std::string& path, int attributes) override;
    std::string CurDir() override { return curDir; }
    void End() override;
    bool ShellExecute(const std::string& file, const std::string& argument,
                      const std::string& directory) override;
    void SetWindowPos(long long insertAfter, int x, int y, int cx, int cy, unsigned flags) override;
    void Unload() override;
    float ScaleWidth() override { return scaleWidth; }
    float ScaleHeight() override { return scaleHeight; }
    float Get(Control control, Prop prop) override;
    void Let(Control control, Prop prop, float twips) override;
    int CheckValue(Control) override { return checkValue; }
    int ListCount() override { return static_cast<int>(rows.size()); }
    int ListIndex() override { return selected; }
    void ListSetSelected(int row, bool isSelected) override;
    std::string ListText() override;
    void ListInsertTop(const std::vector<std::string>& newRows) override;
    void ListRemove(int first, int count) override;
    void BatchProgress(int done, int total) override;
};

}  // namespace doredaviro::testing
