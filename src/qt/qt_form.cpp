#include "qt/qt_form.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QLoggingCategory>
#include <algorithm>

#include "posix/instance_lock.h"
#include "qt/copied_files.h"
#include "qt/desktop_notices.h"
#include "qt/hand_over_server.h"
#include "qt/main_window.h"
#include "qt/qt_system.h"
#include "qt/twips.h"

namespace doredaviro::qt {

namespace {

// What the list takes and when the window closes, for tracing the program from outside:
// QT_LOGGING_RULES="doredaviro.list.info=true".
Q_LOGGING_CATEGORY(lcList, "doredaviro.list", QtWarningMsg)

}  // namespace

QtForm::QtForm(QtSystem& system)
    : system_(system),
      form_(system, *this),
      window_(std::make_unique<MainWindow>(form_)),
      handOver_(std::make_unique<HandOverServer>(form_.handOver())),
      desktop_(std::make_unique<DesktopNotices>(
          [this](NoticeAnswer answer) { form_.NoticeAnswered(answer); })),
      tick_(std::make_unique<QTimer>()) {
    tick_->setSingleShot(true);
    QObject::connect(tick_.get(), &QTimer::timeout, [this] { form_.Tick(); });
    system_.OnArchiverEnded([this](long long process, ArchiverEnd end) {
        form_.ArchiverEnded(process, std::move(end));
    });
}

QtForm::~QtForm() { system_.OnArchiverEnded(nullptr); }

bool QtForm::Load() { return form_.Form_Load(); }

void QtForm::Show() {
    system_.SetMessageOwner(window_.get());
    window_->showCentered();
    handOver_->Listen(posix::HeldInstanceLocks());
    form_.OpenCommandLine();
}

void QtForm::Unload() {
    qCInfo(lcList, "closed with %d rows", ListCount());
    // Later starts find nobody listening and the lock free, and run as the copy at once, even
    // while this process waits for its archivers.
    handOver_->Close();
    posix::ReleaseInstanceLocks();
    if (window_) window_->closeForGood();
}

void QtForm::EndProgram() {
    qCInfo(lcList, "ends");
    QCoreApplication::quit();
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
    const QModelIndexList selected = window_->list().selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

std::string QtForm::ListText(int row) { return window_->model().path(row); }

void QtForm::ListSelect(int row) {
    QueueView& list = window_->list();
    const QModelIndex index = window_->model().index(row);
    if (!index.isValid()) {
        list.selectionModel()->clearSelection();
        return;
    }
    list.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    list.scrollTo(index);
}

void QtForm::ListInsertTop(const std::vector<std::string>& rows) {
    window_->model().insertTop(rows);
    qCInfo(lcList, "added %zu rows", rows.size());
}

void QtForm::ListRemove(int first, int count) { window_->model().remove(first, count); }

std::vector<std::string> QtForm::CopiedFiles() { return CopiedFilesOnClipboard(); }

void QtForm::ShowProgress(int done, int total) { window_->showProgress(done, total); }

void QtForm::HideProgress() { window_->hideProgress(); }

void QtForm::TaskbarProgress(int ended, int started) { desktop_->Progress(ended, started); }

bool QtForm::Notify(const std::string& title, const std::string& text, bool failure, bool putBack) {
    return desktop_->Notify(QString::fromStdString(title), QString::fromStdString(text), failure,
                            putBack);
}

bool QtForm::IsActive() { return window_->isActiveWindow(); }

void QtForm::RequestTick(int ms) { tick_->start(ms); }

void QtForm::PumpEvents() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

}  // namespace doredaviro::qt
