#include "qt/qt_form.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <algorithm>

#include "posix/hand_over.h"
#include "posix/instance_lock.h"
#include "qt/hand_over_server.h"
#include "qt/main_window.h"
#include "qt/qt_system.h"
#include "qt/twips.h"

namespace doredaviro::qt {

namespace {

// Long enough that a short batch never flashes a progress bar.
constexpr qint64 kProgressDelayMs = 500;
// Often enough to repaint smoothly, rarely enough not to slow the launches.
constexpr qint64 kPumpIntervalMs = 16;

}  // namespace

QtForm::QtForm(QtSystem& system, Settings settings)
    : system_(system),
      form_(system, *this, std::move(settings)),
      window_(std::make_unique<MainWindow>(form_)),
      handOver_(std::make_unique<HandOverServer>(form_)) {}

QtForm::~QtForm() = default;

bool QtForm::Load() { return form_.Form_Load(); }

void QtForm::Show() {
    system_.SetMessageOwner(window_.get());
    window_->showCentered();
    if (posix::HoldsInstanceLock()) handOver_->Listen(posix::HandOverSocketPath());
    form_.OpenCommandLine();
}

void QtForm::Unload() {
    if (window_) window_->close();
}

void QtForm::ComeToFront() {
    if (window_->isMinimized()) {
        window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void QtForm::SetAlwaysOnTop(bool on) { window_->setStaysOnTop(on); }

float QtForm::ScaleWidth() { return ToTwips(window_->width()); }

float QtForm::ScaleHeight() { return ToTwips(window_->height()); }

float QtForm::Get(Control control, Prop prop) {
    const QRect g = window_->control(control)->geometry();
    switch (prop) {
        case Prop::Left:
            return ToTwips(g.x());
        case Prop::Top:
            return ToTwips(g.y());
        case Prop::Width:
            return ToTwips(g.width());
        case Prop::Height:
            return ToTwips(g.height());
    }
    return 0;
}

void QtForm::Let(Control control, Prop prop, float twips) {
    QWidget* widget = window_->control(control);
    QRect g = widget->geometry();
    const int pixels = ToPixels(twips);
    switch (prop) {
        case Prop::Left:
            g.moveLeft(pixels);
            break;
        case Prop::Top:
            g.moveTop(pixels);
            break;
        case Prop::Width:
            g.setWidth(std::max(pixels, 0));
            break;
        case Prop::Height:
            g.setHeight(std::max(pixels, 0));
            break;
    }
    widget->setGeometry(g);
}

CheckState QtForm::GetCheckState(Control control) {
    if (control != Control::chkWinPos) return CheckState::Unchecked;
    switch (window_->winPos().checkState()) {
        case Qt::Checked:
            return CheckState::Checked;
        case Qt::PartiallyChecked:
            return CheckState::Grayed;
        default:
            return CheckState::Unchecked;
    }
}

int QtForm::ListCount() { return window_->model().rowCount(); }

int QtForm::ListIndex() {
    if (inBatch_) return batchRow_;
    const QModelIndexList selected = window_->list().selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void QtForm::ListSetSelected(int row, bool selected) {
    if (inBatch_ && selected) {
        if (row >= 0 && row < ListCount()) batchRow_ = row;
        return;
    }
    QueueView& list = window_->list();
    const QModelIndex index = window_->model().index(row);
    if (!index.isValid()) return;
    if (selected) {
        list.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        list.scrollTo(index);
    } else {
        list.selectionModel()->select(index, QItemSelectionModel::Deselect);
    }
}

std::string QtForm::ListText() {
    const int row = ListIndex();
    return row < 0 ? std::string() : window_->model().path(row);
}

void QtForm::ListInsertTop(const std::vector<std::string>& rows) {
    window_->model().insertTop(rows);
}

void QtForm::ListRemove(int first, int count) { window_->model().remove(first, count); }

void QtForm::ShowBatchRow() {
    if (batchRow_ < 0) return;
    inBatch_ = false;
    ListSetSelected(batchRow_, true);
    inBatch_ = true;
}

void QtForm::BatchProgress(int done, int total) {
    if (done == 0) {
        batchRow_ = ListIndex();
        inBatch_ = true;
        batchTimer_.start();
        lastPump_ = 0;
    }
    if (done >= total) {
        ShowBatchRow();
        inBatch_ = false;
        window_->hideProgress();
        return;
    }
    const qint64 now = batchTimer_.elapsed();
    if (now - lastPump_ >= kPumpIntervalMs) {
        lastPump_ = now;
        ShowBatchRow();
        // A progress bar repaints at once on every change of its value.
        if (now >= kProgressDelayMs) window_->showProgress(done, total);
        // Repaint, but take no clicks or keys until the batch is done.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

}  // namespace doredaviro::qt
