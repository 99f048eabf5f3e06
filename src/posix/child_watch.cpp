#include "posix/child_watch.h"

#include <errno.h>
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

}  // namespace

ChildWatcher::ChildWatcher() : epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

ChildWatcher::~ChildWatcher() {
    // Whatever still runs is left to itself; init reaps it once this program ends.
    for (const auto& [pid, pidfd] : byPidfd_) close(pidfd);
    if (epoll_ >= 0) close(epoll_);
}

// A quarter of the descriptors this process may open: the rest stay free for
// the window, the hand-over socket and the connections it accepts.
std::size_t ChildWatcher::DescriptorBudget() const {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256;
    return static_cast<std::size_t>(std::min<rlim_t>(limit.rlim_cur / 4, 1 << 16));
}

void ChildWatcher::Watch(pid_t pid) {
    if (pid <= 0) return;
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
    const bool succeeded = result < 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ended.push_back({pid, succeeded});
    return true;
}

std::vector<ChildWatcher::Ended> ChildWatcher::Reap() {
    std::vector<Ended> ended;
    if (epoll_ >= 0 && !byPidfd_.empty()) {
        epoll_event events[64];
        int count;
        // A share at a time: the descriptor stays readable for the rest, and the event loop
        // comes round in between, however many end at once.
        while (ended.size() < kMostAtOnce && (count = epoll_wait(epoll_, events, 64, 0)) > 0) {
            bool any = false;
            for (int i = 0; i < count; ++i) {
                const auto it = byPidfd_.find(static_cast<pid_t>(events[i].data.u64));
                if (it == byPidfd_.end() || !TryReap(it->first, ended)) continue;
                close(it->second);  // also leaves the epoll set
                byPidfd_.erase(it);
                any = true;
            }
            if (!any) break;
        }
    }
    for (auto it = polled_.begin(); it != polled_.end() && ended.size() < kMostAtOnce;) {
        it = TryReap(*it, ended) ? polled_.erase(it) : std::next(it);
    }
    return ended;
}

}  // namespace doredaviro::posix
