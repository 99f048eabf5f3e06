#pragma once

#include <QListView>
#include <QWidget>

#include "core/platform.h"
#include "qt/queue_model.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace doredaviro {
class frmDoredAviro;
}

namespace doredaviro::qt {

// The key a Qt key code stands for, whatever the modifiers held with it.
Key KeyOf(int qtKey);

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

    QWidget* control(Control c) const;
    QueueModel& model() { return model_; }
    QueueView& list() { return *list_; }
    QCheckBox& winPos() { return *chkWinPos_; }

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
    QCheckBox* chkWinPos_;
    QLabel* lblMsg_;
    QueueView* list_;
    QLabel* lblF1_;
    QLabel* lblF4_;
    QPushButton* cmdExec_;
    QPushButton* cmdClose_;
    QProgressBar* progress_;
    bool painted_ = false;
    bool closingForGood_ = false;
};

}  // namespace doredaviro::qt
