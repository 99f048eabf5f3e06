#include "platform/qt/qt_platform.h"

#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <cstdio>

#include "platform/posix/instance_lock.h"
#include "platform/posix/launcher.h"
#include "platform/posix/system.h"
#include "platform/qt/main_window.h"

// The resources live in this library; a static library has to ask for them.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace doredaviro::qt {

namespace {

constexpr float kTwipsPerPixel = 15.0f;
// Long enough that a short batch never flashes a progress bar.
constexpr qint64 kProgressDelayMs = 500;
// Often enough to repaint smoothly, rarely enough not to slow the launches.
constexpr qint64 kPumpIntervalMs = 16;

QMessageBox::Icon IconFor(int style) {
    switch (style & 0x70) {
        case vbCritical:
            return QMessageBox::Critical;
        case vbExclamation:
            return QMessageBox::Warning;
        case vbInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

void SetProgramIcon() {
    static bool done = false;
    if (done) return;
    done = true;
    InitResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/doredaviro.svg")));
}

QtPlatform::QtPlatform() { posix::ReapChildrenAutomatically(); }

QtPlatform::~QtPlatform() = default;

MainWindow& QtPlatform::createWindow(frmDoredAviro& form) {
    window_ = std::make_unique<MainWindow>(form);
    return *window_;
}

void QtPlatform::MsgBox(const std::string& prompt, int style, const std::string& title) {
    SetProgramIcon();
    QWidget* parent = window_ && window_->isVisible() ? window_.get() : nullptr;
    QString textShown = QString::fromUtf8(prompt.data(), static_cast<qsizetype>(prompt.size()));
    textShown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(IconFor(style), QString::fromUtf8(title.data(), title.size()), textShown,
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtPlatform::PrevInstance() { return posix::AnotherInstanceRuns(); }

std::string QtPlatform::AppPath() { return posix::ApplicationDirectory(); }

std::string QtPlatform::Dir(const std::string& path, int attributes) {
    return posix::FindFirst(path, attributes);
}

std::string QtPlatform::CurDir() { return posix::CurrentDirectory(); }

void QtPlatform::End() {
    std::fflush(nullptr);
    _exit(0);
}

bool QtPlatform::ShellExecute(const std::string& file, const std::string& argument,
                              const std::string& directory) {
    return posix::LaunchDetached(file, argument, directory) == 0;
}

void QtPlatform::SetWindowPos(long long insertAfter, int, int, int, int, unsigned) {
    if (!window_ || (insertAfter != HWND_TOPMOST && insertAfter != HWND_NOTOPMOST)) return;
    window_->setStaysOnTop(insertAfter == HWND_TOPMOST);
}

void QtPlatform::Unload() {
    if (window_) window_->close();
}

float QtPlatform::ScaleWidth() { return window_->width() * kTwipsPerPixel; }

float QtPlatform::ScaleHeight() { return window_->height() * kTwipsPerPixel; }

float QtPlatform::Get(Control control, Prop prop) {
    const QRect g = window_->control(control)->geometry();
    switch (prop) {
        case Prop::Left:
            return g.x() * kTwipsPerPixel;
        case Prop::Top:
            return g.y() * kTwipsPerPixel;
        case Prop::Width:
            return g.width() * kTwipsPerPixel;
        case Prop::Height:
            return g.height() * kTwipsPerPixel;
    }
    return 0;
}

void QtPlatform::Let(Control control, Prop prop, float twips) {
    QWidget* widget = window_->control(control);
    QRect g = widget->geometry();
    const int pixels = qRound(twips / kTwipsPerPixel);
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

int QtPlatform::CheckValue(Control control) {
    if (control != Control::chkWinPos) return 0;
    switch (window_->winPos().checkState()) {
        case Qt::Checked:
            return 1;
        case Qt::PartiallyChecked:
            return 2;
        default:
            return 0;
    }
}

int QtPlatform::ListCount() { return window_->model().rowCount(); }

int QtPlatform::ListIndex() {
    if (inBatch_) return batchRow_;
    const QModelIndexList selected = window_->list().selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void QtPlatform::ListSetSelected(int row, bool selected) {
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

std::string QtPlatform::ListText() {
    const int row = ListIndex();
    return row < 0 ? std::string() : window_->model().path(row);
}

void QtPlatform::ListInsertTop(const std::vector<std::string>& rows) {
    window_->model().insertTop(rows);
}

void QtPlatform::ListRemove(int first, int count) { window_->model().remove(first, count); }

void QtPlatform::ShowBatchRow() {
    if (batchRow_ < 0) return;
    inBatch_ = false;
    ListSetSelected(batchRow_, true);
    inBatch_ = true;
}

void QtPlatform::BatchProgress(int done, int total) {
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
