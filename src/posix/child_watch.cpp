#include "posix/child_watch.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace doredaviro::posix {

namespace {

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// Marks a pipe's events apart from a pidfd's, both keyed by the pid.
constexpr std::uint64_t kPipeBit = std::uint64_t{1} << 63;

}  // namespace

ChildWatcher::ChildWatcher() : epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

ChildWatcher::~ChildWatcher() {
    // Whatever still runs is left to itself; init reaps it once this program ends.
    for (const auto& [pid, pidfd] : byPidfd_) close(pidfd);
    for (const auto& [pid, tail] : tails_) close(tail.fd);
    if (epoll_ >= 0) close(epoll_);
}

// A quarter of the descriptors this process may open: the rest stay free for
// the window, the hand-over socket and the connections it accepts.
std::size_t ChildWatcher::DescriptorBudget() const {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256;
    return static_cast<std::size_t>(std::min<rlim_t>(limit.rlim_cur / 4, 1 << 16));
}

bool ChildWatcher::OpenErrorPipe(int ends[2]) {
    if (epoll_ < 0 || tails_.size() >= kMostPipes ||
        byPidfd_.size() + 2 * tails_.size() + 2 >= DescriptorBudget()) {
        return false;
    }
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    return true;
}

bool ChildWatcher::ReadTail(ErrorTail& tail, int turns) {
    char buffer[16384];
    for (int turn = 0; turn < turns; ++turn) {
        const ssize_t n = read(tail.fd, buffer, sizeof buffer);
        if (n > 0) {
            tail.bytes.append(buffer, static_cast<std::size_t>(n));
            if (tail.bytes.size() > kTailBytes) tail.bytes.erase(0, tail.bytes.size() - kTailBytes);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return false;
        close(tail.fd);  // also leaves the epoll set
        tail.fd = -1;
        return false;
    }
    return true;
}

void ChildWatcher::CloseTail(pid_t pid) {
    const auto it = tails_.find(pid);
    if (it != tails_.end() && it->second.fd >= 0) {
        close(it->second.fd);
        it->second.fd = -1;
    }
}

void ChildWatcher::Watch(pid_t pid, int errorPipe) {
    if (pid <= 0) {
        if (errorPipe >= 0) close(errorPipe);
        return;
    }
    if (errorPipe >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = static_cast<std::uint64_t>(pid) | kPipeBit;
        if (epoll_ >= 0 && epoll_ctl(epoll_, EPOLL_CTL_ADD, errorPipe, &event) == 0) {
            tails_[pid].fd = errorPipe;
        } else {
            close(errorPipe);
        }
    }
    if (epoll_ >= 0 && byPidfd_.size() < DescriptorBudget()) {
        // A process that has already ended is still a zombie here, since nothing
        // else reaps it, so its pidfd opens and reads as ended.
        const int pidfd = PidfdOpen(pid);  // close-on-exec by nature
        if (pidfd >= 0) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = static_cast<std::uint64_t>(pid);
            if (epoll_ctl(epoll_, EPOLL_CTL_ADD, pidfd, &event) == 0) {
                byPidfd_[pid] = pidfd;
                return;
            }
            close(pidfd);
        }
    }
    polled_.insert(pid);
}

bool ChildWatcher::TryReap(pid_t pid, std::vector<Ended>& ended) {
    int status = 0;
    const pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == 0 || (result < 0 && errno == EINTR)) return false;
    // ECHILD: someone else in the process reaped it, and its status went with
    // them; it is not counted as a failure it may not have been.
    Ended one;
    one.pid = pid;
    one.succeeded = result < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (result > 0 && WIFEXITED(status)) one.status = WEXITSTATUS(status);
    if (result > 0 && WIFSIGNALED(status)) one.signal = WTERMSIG(status);
    // What it wrote before it ended waits in the pipe; what a child of its own writes
    // later is not its to keep.
    const auto tail = tails_.find(pid);
    if (tail != tails_.end()) {
        if (tail->second.fd >= 0) ReadTail(tail->second, 64);
        CloseTail(pid);
        one.errorTail = std::move(tail->second.bytes);
        tails_.erase(tail);
    }
    ended.push_back(std::move(one));
    return true;
}

std::vector<ChildWatcher::Ended> ChildWatcher::Reap() {
    std::vector<Ended> ended;
    const auto until = std::chrono::steady_clock::now() + kMostTimeAtOnce;
    const auto more = [&] {
        return ended.size() < kMostAtOnce && std::chrono::steady_clock::now() < until;
    };
    if (epoll_ >= 0 && !byPidfd_.empty()) {
        epoll_event events[16];
        int count;
        // A share at a time: the descriptor stays readable for the rest, and the event loop
        // comes round in between, however many end at once.
        while (more() && (count = epoll_wait(epoll_, events, 16, 0)) > 0) {
            bool any = false;
            for (int i = 0; i < count; ++i) {
                if (events[i].data.u64 & kPipeBit) {
                    const auto tail =
                        tails_.find(static_cast<pid_t>(events[i].data.u64 & ~kPipeBit));
                    if (tail != tails_.end() && tail->second.fd >= 0) ReadTail(tail->second, 4);
                    continue;
                }
                const auto it = byPidfd_.find(static_cast<pid_t>(events[i].data.u64));
                if (it == byPidfd_.end() || !TryReap(it->first, ended)) continue;
                close(it->second);  // also leaves the epoll set
                byPidfd_.erase(it);
                any = true;
            }
            if (!any) break;
        }
    }
    for (auto it = polled_.begin(); it != polled_.end() && more();) {
        it = TryReap(*it, ended) ? polled_.erase(it) : std::next(it);
    }
    return ended;
}

}  // namespace doredaviro::posix
