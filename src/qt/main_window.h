#pragma once

#include <QListView>
#include <QWidget>
#include <cstddef>

#include "core/controls.h"
#include "core/platform.h"
#include "qt/queue_model.h"

class QCheckBox;
class QProgressBar;

namespace doredaviro {
class frmDoredAviro;
}

namespace doredaviro::qt {

// The queue's list: takes file drops and reports its key presses.
class QueueView : public QListView {
    Q_OBJECT
public:
    QueueView(frmDoredAviro& form, QWidget* parent);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    frmDoredAviro& form_;
};

// The main window: the controls at their places, its events turned into the
// handlers' calls.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(frmDoredAviro& form);
    ~MainWindow() override;

    QWidget* control(Control c) const { return controls_[static_cast<std::size_t>(c)]; }
    QueueModel& model() { return model_; }
    QueueView& list() { return *list_; }
    QCheckBox& winPos();

    void showCentered();
    // Closes the window once the handlers have decided to.
    void closeForGood();
    void setStaysOnTop(bool on);
    void showProgress(int done, int total);
    void hideProgress();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    frmDoredAviro& form_;
    QueueModel model_;
    QWidget* controls_[7] = {};
    QueueView* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    bool painted_ = false;
    bool closingForGood_ = false;
};

}  // namespace doredaviro::qt
