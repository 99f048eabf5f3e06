#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <set>
#include <vector>

namespace doredaviro::posix {

// Reaps exactly the processes this program started, and no other: code elsewhere
// in the process that waits for its own children keeps working. Each process is
// watched through a pidfd gathered in one epoll set, whose descriptor an event
// loop watches; past a share of the descriptor limit, processes are polled
// instead, so that launching never runs the program out of descriptors.
class ChildWatcher {
public:
    ChildWatcher();
    ~ChildWatcher();
    ChildWatcher(const ChildWatcher&) = delete;
    ChildWatcher& operator=(const ChildWatcher&) = delete;

    // Readable when a watched process may have ended; -1 when the system has no epoll.
    int fd() const { return epoll_; }
    void Watch(pid_t pid);

    struct Ended {
        pid_t pid;
        bool succeeded;  // exited with status 0
    };
    // Watched processes that have ended, reaped, at most kMostAtOnce; never blocks.
    static constexpr std::size_t kMostAtOnce = 128;
    std::vector<Ended> Reap();
    // Some are watched without a descriptor: call Reap now and then.
    bool NeedsPolling() const { return !polled_.empty(); }
    std::size_t Count() const { return byPidfd_.size() + polled_.size(); }

private:
    std::size_t DescriptorBudget() const;
    // Reaps `pid` when it has ended; true then.
    static bool TryReap(pid_t pid, std::vector<Ended>& ended);

    int epoll_ = -1;
    std::map<pid_t, int> byPidfd_;  // pid → its pidfd
    std::set<pid_t> polled_;
};

}  // namespace doredaviro::posix
