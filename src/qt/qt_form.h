#pragma once

#include <QElapsedTimer>
#include <memory>

#include "core/frmDoredAviro.h"
#include "core/platform.h"

namespace doredaviro::qt {

class HandOverServer;
class MainWindow;
class QtSystem;

// The main form of the Linux build: the handlers and the Qt window that shows
// them, with the window made to the handlers' measure.
class QtForm : public FormView {
public:
    // `settings` stand until the load event reads them from the settings file.
    explicit QtForm(QtSystem& system, Settings settings = {});
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
    void ListSetSelected(int row, bool selected) override;
    std::string ListText() override;
    void ListInsertTop(const std::vector<std::string>& rows) override;
    void ListRemove(int first, int count) override;
    void BatchProgress(int done, int total) override;

private:
    void ShowBatchRow();

    QtSystem& system_;
    // The window calls the handlers, so it is made after them and goes first.
    frmDoredAviro form_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<HandOverServer> handOver_;
    QElapsedTimer batchTimer_;
    qint64 lastPump_ = 0;
    // While a batch runs, the row being started is kept here and reaches the
    // view only when the batch repaints: selecting and scrolling the view for
    // every row costs more than the launch itself.
    bool inBatch_ = false;
    int batchRow_ = -1;
};

}  // namespace doredaviro::qt
