#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace doredaviro::posix {

// Reaps exactly the processes this program started, and no other: code elsewhere
// in the process that waits for its own children keeps working. Each process is
// watched through a pidfd gathered in one epoll set, whose descriptor an event
// loop watches; past a share of the descriptor limit, processes are polled
// instead, so that launching never runs the program out of descriptors.
// The end of each one's standard error is kept, through a pipe read in the same
// epoll set as it comes; at most kMostPipes pipes at once, the archivers started
// beyond that write where the program's own standard error goes, and keep no tail.
class ChildWatcher {
public:
    ChildWatcher();
    ~ChildWatcher();
    ChildWatcher(const ChildWatcher&) = delete;
    ChildWatcher& operator=(const ChildWatcher&) = delete;

    // Readable when a watched process may have ended; -1 when the system has no epoll.
    int fd() const { return epoll_; }
    // `errorPipe`: the read end of the pipe that is the process's standard error, or -1;
    // the watcher owns it from here on.
    void Watch(pid_t pid, int errorPipe = -1);
    // Makes a pipe (close-on-exec both ends, the read end non-blocking) for the next process
    // to watch, when one more fits: false otherwise.
    bool OpenErrorPipe(int ends[2]);

    struct Ended {
        pid_t pid = 0;
        bool succeeded = false;  // exited with status 0
        int status = -1;         // the exit status; -1 when killed or lost
        int signal = 0;          // the signal that ended it
        std::string errorTail;
    };
    static constexpr std::size_t kMostPipes = 256;
    static constexpr std::size_t kTailBytes = 4096;
    // Watched processes that have ended, reaped, at most kMostAtOnce or for about kMostTimeAtOnce;
    // never blocks. While many exit at once, each reaping waits on the kernel's process table.
    static constexpr std::size_t kMostAtOnce = 128;
    static constexpr std::chrono::milliseconds kMostTimeAtOnce{4};
    std::vector<Ended> Reap();
    // Some are watched without a descriptor: call Reap now and then.
    bool NeedsPolling() const { return !polled_.empty(); }
    std::size_t Count() const { return byPidfd_.size() + polled_.size(); }

private:
    std::size_t DescriptorBudget() const;
    // Reaps `pid` when it has ended; true then.
    bool TryReap(pid_t pid, std::vector<Ended>& ended);
    struct ErrorTail {
        int fd = -1;
        std::string bytes;  // the last kTailBytes read
    };
    // Reads what waits in the pipe, `turns` reads at most, so that a chatty archiver cannot
    // hold the event loop; true when more may wait. Closes the pipe once its writers are gone.
    bool ReadTail(ErrorTail& tail, int turns);
    void CloseTail(pid_t pid);

    int epoll_ = -1;
    std::map<pid_t, int> byPidfd_;  // pid → its pidfd
    std::set<pid_t> polled_;
    std::map<pid_t, ErrorTail> tails_;
};

}  // namespace doredaviro::posix
