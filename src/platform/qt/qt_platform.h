#pragma once

#include <QElapsedTimer>
#include <memory>

#include "platform/platform.h"

namespace doredaviro {
class frmDoredAviro;
}

namespace doredaviro::qt {

class MainWindow;

// Gives the program its icon, once. Drawing it loads a plugin, so the window
// asks for it only after its first paint; message boxes before that, at once.
void SetProgramIcon();

// The platform of the Linux build: Qt Widgets for the window and message
// boxes, POSIX for the single-copy lock, files and launches.
class QtPlatform : public Platform {
public:
    QtPlatform();
    ~QtPlatform() override;

    // Makes the main window for `form`'s events; call before the load event.
    MainWindow& createWindow(frmDoredAviro& form);
    MainWindow* window() const { return window_.get(); }

    void MsgBox(const std::string& prompt, int style, const std::string& title) override;
    bool PrevInstance() override;
    std::string AppPath() override;
    char PathSeparator() const override { return '/'; }
    std::string Dir(const std::string& path, int attributes) override;
    std::string CurDir() override;
    void End() override;
    bool ShellExecute(const std::string& file, const std::string& argument,
                      const std::string& directory) override;
    void SetWindowPos(long long insertAfter, int x, int y, int cx, int cy, unsigned flags) override;
    void Unload() override;
    float ScaleWidth() override;
    float ScaleHeight() override;
    float Get(Control control, Prop prop) override;
    void Let(Control control, Prop prop, float twips) override;
    int CheckValue(Control control) override;
    int ListCount() override;
    int ListIndex() override;
    void ListSetSelected(int row, bool selected) override;
    std::string ListText() override;
    void ListInsertTop(const std::vector<std::string>& rows) override;
    void ListRemove(int first, int count) override;
    void BatchProgress(int done, int total) override;

private:
    void ShowBatchRow();

    std::unique_ptr<MainWindow> window_;
    QElapsedTimer batchTimer_;
    qint64 lastPump_ = 0;
    // While a batch runs, the row being started is kept here and reaches the
    // view only when the batch repaints: selecting and scrolling the view for
    // every row costs more than the launch itself.
    bool inBatch_ = false;
    int batchRow_ = -1;
};

}  // namespace doredaviro::qt
