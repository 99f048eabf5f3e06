#include "qt/qt_system.h"

#include <unistd.h>
#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "posix/hand_over.h"
#include "posix/instance_lock.h"
#include "posix/launcher.h"
#include "posix/run_store.h"
#include "posix/system.h"

// The resources live in a static library, which has to ask for them.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace doredaviro::qt {

namespace {

QMessageBox::Icon IconFor(MessageStyle style) {
    switch (style) {
        case MessageStyle::Critical:
            return QMessageBox::Critical;
        case MessageStyle::Exclamation:
            return QMessageBox::Warning;
        case MessageStyle::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void SetProgramIcon() {
    static bool done = false;
    if (done) return;
    done = true;
    InitResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/doredaviro.svg")));
}

QtSystem::QtSystem() {
    if (children_.fd() >= 0) {
        childNotifier_ = std::make_unique<QSocketNotifier>(children_.fd(), QSocketNotifier::Read);
        QObject::connect(childNotifier_.get(), &QSocketNotifier::activated,
                         [this] { ReapArchivers(); });
    }
    childPoll_ = std::make_unique<QTimer>();
    childPoll_->setInterval(250);
    QObject::connect(childPoll_.get(), &QTimer::timeout, [this] { ReapArchivers(); });
}

QtSystem::~QtSystem() { FinishRunRecords(); }

void QtSystem::FinishRunRecords() {
    if (recordWriter_.joinable()) recordWriter_.join();
}

void QtSystem::HoldEndings(bool hold) {
    endingsHeld_ = hold;
    // The descriptor stays readable, so the notifier fires as soon as it is on again.
    if (childNotifier_) childNotifier_->setEnabled(!hold);
    if (!hold && children_.NeedsPolling()) childPoll_->start();
}

void QtSystem::ReapArchivers() {
    if (endingsHeld_) return;
    const std::vector<posix::ChildWatcher::Ended> ended = children_.Reap();
    for (const posix::ChildWatcher::Ended& one : ended) {
        if (onEnded_) onEnded_(one.pid, {one.succeeded, one.status, one.signal, one.errorTail});
    }
    // More may wait: the descriptor stays readable, so they are reaped on the next turn of the
    // event loop, after what else waits there.
    if (!children_.NeedsPolling()) childPoll_->stop();
}

void QtSystem::MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) {
    SetProgramIcon();
    QWidget* parent = owner_ && owner_->isVisible() ? owner_.data() : nullptr;
    QString textShown = QString::fromUtf8(prompt.data(), static_cast<qsizetype>(prompt.size()));
    textShown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(IconFor(style),
                    QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                    textShown, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtSystem::AnotherCopyRuns() { return posix::AnotherInstanceRuns(); }

std::string QtSystem::ProgramFolder() { return posix::ProgramFolder(); }

std::string QtSystem::FindFile(const std::string& path) { return posix::FindFile(path); }

std::string QtSystem::CurrentDirectory() { return posix::CurrentDirectory(); }

void QtSystem::End(int status) {
    FinishRunRecords();
    std::fflush(nullptr);
    _exit(status);
}

Launched QtSystem::Launch(const std::string& tool, const std::string& path,
                          const std::string& folder) {
    pid_t pid = 0;
    int errorPipe[2] = {-1, -1};
    const bool piped = keepErrorTails && children_.OpenErrorPipe(errorPipe);
    const int error = posix::LaunchDetached(tool, path, folder, &pid, piped ? errorPipe[1] : -1);
    if (piped) close(errorPipe[1]);
    if (error != 0) {
        if (piped) close(errorPipe[0]);
        return {};
    }
    children_.Watch(pid, piped ? errorPipe[0] : -1);
    if (children_.NeedsPolling() && !childPoll_->isActive()) childPoll_->start();
    return {true, pid};
}

long long QtSystem::Milliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

HandOverResult QtSystem::HandOverToRunningCopy(const std::vector<std::string>& paths, int waitMs) {
    return posix::SendToRunningCopy(paths, waitMs);
}

std::string QtSystem::SaveRunRecord(const std::string& name, const std::string& text) {
    const std::string folder = posix::RunRecordFolder();
    std::string path = posix::ChooseRunRecordPath(folder, name);
    if (path.empty()) return path;
    // Syncing it to the disk can take tens of milliseconds: the window goes on meanwhile.
    FinishRunRecords();
    auto write = [folder, path, text] { posix::WriteRunRecord(folder, path, text, kRecordsKept); };
    try {
        recordWriter_ = std::thread(write);
    } catch (const std::system_error&) {
        write();  // no thread to be had, at the process limit
    }
    return path;
}

void QtSystem::OpenWithViewer(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(path.c_str())));
}

void QtSystem::StartProgramWith(const std::vector<std::string>& paths) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    posix::StartDetached(std::string(self, static_cast<std::size_t>(n)), paths);
}

}  // namespace doredaviro::qt
