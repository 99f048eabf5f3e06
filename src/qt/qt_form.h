#pragma once

#include <QTimer>
#include <memory>

#include "core/frmDoredAviro.h"
#include "core/platform.h"

namespace doredaviro::qt {

class DesktopNotices;
class HandOverServer;
class MainWindow;
class QtSystem;

// The main form of the Linux build: the handlers and the Qt window that shows
// them, with the window made to the handlers' measure.
class QtForm : public FormView {
public:
    explicit QtForm(QtSystem& system);
    ~QtForm() override;
    QtForm(const QtForm&) = delete;
    QtForm& operator=(const QtForm&) = delete;

    frmDoredAviro& form() { return form_; }
    MainWindow& window() { return *window_; }

    // The load event; true when the window is to be shown.
    bool Load();
    // Centred on its screen, as it first appears; then it takes the command
    // line's paths, and those that later starts hand over.
    void Show();

    void Unload() override;
    void ComeToFront() override;
    void SetAlwaysOnTop(bool on) override;
    float ScaleWidth() override;
    float ScaleHeight() override;
    float Get(Control control, Prop prop) override;
    void Let(Control control, Prop prop, float twips) override;
    CheckState GetCheckState(Control control) override;
    int ListCount() override;
    int ListIndex() override;
    std::string ListText(int row) override;
    void ListSelect(int row) override;
    void ListInsertTop(const std::vector<std::string>& rows) override;
    void ListRemove(int first, int count) override;
    std::vector<std::string> CopiedFiles() override;
    void ShowProgress(int done, int total) override;
    void HideProgress() override;
    void PumpEvents() override;
    void TaskbarProgress(int ended, int started) override;
    bool Notify(const std::string& title, const std::string& text, bool failure,
                bool putBack) override;
    void EndProgram() override;
    bool IsActive() override;
    void RequestTick(int ms) override;

private:
    QtSystem& system_;
    // The window calls the handlers, so it is made after them and goes first.
    frmDoredAviro form_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<HandOverServer> handOver_;
    std::unique_ptr<DesktopNotices> desktop_;
    std::unique_ptr<QTimer> tick_;
};

}  // namespace doredaviro::qt
