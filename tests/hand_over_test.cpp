// Handing paths from a second start to the running copy, over the real socket.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "posix/hand_over.h"
#include "posix/instance_lock.h"
#include "test_support.h"

namespace doredaviro {
namespace {

using Paths = std::vector<std::string>;
using posix::DecodeHandOver;
using posix::EncodeHandOver;
using posix::HandOverBytesMissing;

std::string U32(std::size_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return out;
}

// A frame of this payload, its size header made to match.
std::string Frame(const std::string& payload) { return "ZKH2" + U32(payload.size()) + payload; }

// Where a sender looks first: the runtime folder's socket.
std::string SocketPath() { return posix::HandOverSocketPath(posix::InstanceLockPaths().back()); }

TEST(HandOverFrameTest, PathsKeepTheirBytesAndOnlyWholeFramesCount) {
    const Paths paths = {"/tmp/with space", "/tmp/two\nlines", "/tmp/bad-\xff-utf8", "/--",
                         "/" + std::string(4094, 'x')};
    const std::string frame = EncodeHandOver(paths);
    EXPECT_EQ(DecodeHandOver(frame), paths);
    // Arriving piece by piece: how much is missing, until it is whole.
    EXPECT_EQ(HandOverBytesMissing(frame.substr(0, 3)), 5);
    EXPECT_EQ(HandOverBytesMissing(frame.substr(0, 8)), static_cast<long>(frame.size() - 8));
    EXPECT_EQ(HandOverBytesMissing(frame.substr(0, frame.size() - 1)), 1);
    EXPECT_EQ(HandOverBytesMissing(frame), 0);
    EXPECT_FALSE(DecodeHandOver(frame.substr(0, frame.size() - 1)));
}

TEST(HandOverFrameTest, MalformedFramesAreRefusedWhole) {
    const std::string one = U32(1) + U32(5) + "/a/b1";
    struct Case {
        const char* what;
        std::string frame;
    } cases[] = {
        {"wrong magic", "ZKH1" + U32(one.size()) + one},
        {"bytes past the end", Frame(one) + "x"},
        {"no paths", Frame(U32(0))},
        {"too many paths", Frame(U32(32768))},
        {"count beyond the data", Frame(U32(2) + U32(5) + "/a/b1")},
        {"size beyond the data", Frame(U32(1) + U32(6) + "/a/b1")},
        {"empty path", Frame(U32(1) + U32(0))},
        {"relative path", Frame(U32(1) + U32(4) + "a/b1")},
        {"NUL inside", Frame(U32(1) + U32(5) + std::string("/a\0b1", 5))},
        {"path too long", Frame(U32(1) + U32(4096) + "/" + std::string(4095, 'x'))},
        {"payload too short for a count", Frame("ab")},
    };
    for (const Case& c : cases) EXPECT_FALSE(DecodeHandOver(c.frame)) << c.what;
    // A size past the limit is refused from its header alone, before anything is kept.
    EXPECT_EQ(HandOverBytesMissing("ZKH2" + U32(posix::kMaxHandOverBytes + 1)), -1);
    EXPECT_EQ(HandOverBytesMissing("XK"), -1);
}

// A private runtime folder and display of its own, and the waiting for children.
class HandOverSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGCHLD, SIG_DFL);
        chmod(dir_.str().c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir_.str().c_str(), 1);
        setenv("HOME", dir_.file("home").c_str(), 1);
        unsetenv("XDG_CACHE_HOME");
        mkdir(dir_.file("home").c_str(), 0700);
        setenv("DISPLAY", ":96", 1);
    }
    // Runs `send` in a child process; its result comes back as the exit status.
    pid_t Sender(const std::function<HandOverResult()>& send) {
        const pid_t pid = fork();
        if (pid == 0) _exit(static_cast<int>(send()));
        return pid;
    }
    static HandOverResult Result(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return static_cast<HandOverResult>(WIFEXITED(status) ? WEXITSTATUS(status) : 99);
    }
    // The next connection, read until whole or broken.
    static posix::HandOverConnection::State Receive(posix::HandOverConnection& connection) {
        for (;;) {
            pollfd p{connection.fd(), POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) return posix::HandOverConnection::State::Broken;
            const auto state = connection.Read();
            if (state != posix::HandOverConnection::State::Reading) return state;
        }
    }
    // The next hand-over on `listenFd`: given room and, once its sender confirms, told
    // whether it was `kept`. Its paths, or none when it went otherwise.
    static Paths Serve(int listenFd, bool kept) {
        if (!Waiting(listenFd)) return {};
        posix::HandOverConnection connection(listenFd);
        if (Receive(connection) != posix::HandOverConnection::State::Whole) return {};
        Paths paths = connection.paths();
        connection.Answer(true);
        if (Receive(connection) != posix::HandOverConnection::State::Confirmed) return {};
        connection.Finish(kept);
        return paths;
    }
    static bool Waiting(int listenFd) {
        pollfd p{listenFd, POLLIN, 0};
        return poll(&p, 1, 5000) == 1;
    }
    testing::TempDir dir_;
};

TEST_F(HandOverSocketTest, TheRunningCopyTakesThePathsAndAnswers) {
    ASSERT_FALSE(posix::AnotherInstanceRuns());  // this process is the running copy
    const Paths paths = {"/tmp/a b", "/tmp/\xe6\x97\xa5"};
    // The sender comes before anyone listens, as when copies start at once.
    const pid_t sender = Sender([&] { return posix::SendToRunningCopy(paths, 5000); });
    usleep(200 * 1000);
    const int listenFd = posix::ListenForHandOvers(SocketPath());
    ASSERT_GE(listenFd, 0);
    EXPECT_EQ(Serve(listenFd, true), paths);
    EXPECT_EQ(Result(sender), HandOverResult::Taken);

    const pid_t refused = Sender([&] { return posix::SendToRunningCopy({"/x"}, 5000); });
    ASSERT_TRUE(Waiting(listenFd));
    posix::HandOverConnection second(listenFd);
    ASSERT_EQ(Receive(second), posix::HandOverConnection::State::Whole);
    second.Answer(false);
    EXPECT_EQ(Result(refused), HandOverResult::Refused);
    close(listenFd);
}

// The copy gives the room back while the sender is about to confirm: the socket decides, and
// both ends learn the same. A copy that stalls after its answer keeps what the socket took.
TEST_F(HandOverSocketTest, TheSocketDecidesWhetherTheConfirmationCounts) {
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const int listenFd = posix::ListenForHandOvers(SocketPath());
    ASSERT_GE(listenFd, 0);
    enum class When { SealedFirst, ConfirmedFirst, CopyStalls };
    for (When when : {When::SealedFirst, When::ConfirmedFirst, When::CopyStalls}) {
        SCOPED_TRACE(static_cast<int>(when));
        const pid_t sender = Sender([] { return posix::SendToRunningCopy({"/p"}, 1500); });
        ASSERT_TRUE(Waiting(listenFd));
        posix::HandOverConnection connection(listenFd);
        ASSERT_EQ(Receive(connection), posix::HandOverConnection::State::Whole);
        int status = 0;
        if (when == When::SealedFirst) {
            // Held still until the copy has shut it out.
            kill(sender, SIGSTOP);
            waitpid(sender, &status, WUNTRACED);
        }
        connection.Answer(true);
        if (when == When::CopyStalls) {
            // The sender reports before the copy reads a thing.
            EXPECT_EQ(Result(sender), HandOverResult::Taken);
            EXPECT_EQ(Receive(connection), posix::HandOverConnection::State::Confirmed);
            continue;
        }
        if (when == When::ConfirmedFirst) {
            pollfd p{connection.fd(), POLLIN, 0};
            ASSERT_EQ(poll(&p, 1, 5000), 1);
        }
        const bool confirmed = connection.Seal();
        connection.Finish(confirmed);
        kill(sender, SIGCONT);
        EXPECT_EQ(confirmed, when == When::ConfirmedFirst);
        EXPECT_EQ(Result(sender), confirmed ? HandOverResult::Taken : HandOverResult::Refused);
    }
    close(listenFd);
}

TEST_F(HandOverSocketTest, ASilentCopyIsNoAnswerAndAnEndedOneLeavesTheLockFree) {
    // A copy holds the lock but never listens: the sender gives up in time.
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    EXPECT_EQ(Result(Sender([] { return posix::SendToRunningCopy({"/x"}, 300); })),
              HandOverResult::NoAnswer);

    // The socket a copy that has ended left behind is never taken for a live one: the
    // free lock tells, and the sender takes it to run itself.
    setenv("DISPLAY", ":95", 1);
    const int stale = posix::ListenForHandOvers(SocketPath());
    ASSERT_GE(stale, 0);
    close(stale);
    EXPECT_EQ(Result(Sender([] { return posix::SendToRunningCopy({"/x"}, 5000); })),
              HandOverResult::NoOtherCopy);
}

TEST_F(HandOverSocketTest, ASenderThatGoesBeforeConfirmingLeavesNothingToKeep) {
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const int listenFd = posix::ListenForHandOvers(SocketPath());
    ASSERT_GE(listenFd, 0);
    const pid_t sender = Sender([] { return posix::SendToRunningCopy({"/gone"}, 5000); });
    ASSERT_TRUE(Waiting(listenFd));
    posix::HandOverConnection connection(listenFd);
    ASSERT_EQ(Receive(connection), posix::HandOverConnection::State::Whole);
    kill(sender, SIGKILL);  // before it reads the answer
    Result(sender);
    connection.Answer(true);
    EXPECT_EQ(Receive(connection), posix::HandOverConnection::State::Broken);
    close(listenFd);
}

// A copy that is stopped or swamped never holds a later start past its time.
TEST_F(HandOverSocketTest, AStalledCopyIsNoAnswerWithinTheTime) {
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const int listenFd = posix::ListenForHandOvers(SocketPath());
    ASSERT_GE(listenFd, 0);
    auto timed = [](const Paths& paths) {
        const auto start = std::chrono::steady_clock::now();
        const HandOverResult result = posix::SendToRunningCopy(paths, 1500);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(2500));
        return result;
    };
    // Nobody reads: a frame larger than the socket's buffer cannot all be sent.
    const Paths large(400, "/" + std::string(1000, 'x'));
    EXPECT_EQ(timed(large), HandOverResult::NoAnswer);
    // Nobody accepts: the backlog fills, and connecting fails at once.
    std::vector<int> queued;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    SocketPath().copy(address.sun_path, sizeof address.sun_path - 1);
    for (int i = 0; i < 200; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            break;
        }
        queued.push_back(fd);
    }
    EXPECT_LT(queued.size(), 200u);
    EXPECT_EQ(timed({"/x"}), HandOverResult::NoAnswer);
    for (int fd : queued) close(fd);
    close(listenFd);
}

// The socket and the lock live only where no one else can put theirs; a
// socket of someone else's gets no path.
TEST_F(HandOverSocketTest, OnlyAPrivateFolderIsUsedAndOnlyThisUserHearsThePaths) {
    const std::string runtimeLock = dir_.str() + "/Zivev+Korvu-:96.lock";
    chmod(dir_.str().c_str(), 0777);
    EXPECT_EQ(posix::InstanceLockPaths().back().rfind(dir_.file("home/"), 0), 0u);
    chmod(dir_.str().c_str(), 0700);
    EXPECT_EQ(posix::InstanceLockPaths().back(), runtimeLock);

    if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    // Another user listens first where the socket goes.
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const std::string path = SocketPath();
    chmod(dir_.str().c_str(), 0777);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t thief = fork();
    if (thief == 0) {
        // In the folder first: the one above it may be closed to that user.
        if (chdir(dir_.str().c_str()) != 0) _exit(1);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const int fd = posix::ListenForHandOvers(path.substr(path.rfind('/') + 1));
        if (fd < 0) _exit(3);
        (void)!write(ready[1], "r", 1);
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) _exit(4);
        const int peer = accept(fd, nullptr, nullptr);
        char byte;
        // Anything read at all is a leak.
        _exit(read(peer, &byte, 1) == 0 ? 0 : 5);
    }
    close(ready[1]);
    char byte;
    const bool listening = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    chmod(dir_.str().c_str(), 0700);
    if (listening) {
        EXPECT_EQ(posix::SendToRunningCopy({"/secret"}, 2000), HandOverResult::NoAnswer);
    }
    int status = 0;
    waitpid(thief, &status, 0);
    ASSERT_TRUE(listening) << "the other user could not listen: " << status;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Another user makes the folder a start without a runtime folder once fell back to, and
// takes it away again: the copy's place never moves, and a later start, with a runtime folder
// of its own, still finds it there.
TEST_F(HandOverSocketTest, AFolderSomeoneElseMakesOrRemovesMovesNothing) {
    setenv("XDG_RUNTIME_DIR", "/tmp", 1);  // as a root start may be given: open to everyone
    for (const std::string& lock : posix::InstanceLockPaths()) {
        EXPECT_NE(lock.rfind("/tmp/Zivev+Korvu", 0), 0u) << lock;
    }
    if (getuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
    const uid_t victim = 4242;
    const std::string squatted = "/tmp/doredaviro-" + std::to_string(victim);
    rmdir(squatted.c_str());
    ASSERT_EQ(mkdir(squatted.c_str(), 0700), 0) << "left from an earlier run?";
    ASSERT_EQ(chown(squatted.c_str(), 65534, 65534), 0);  // the squatter's
    const std::string home = dir_.file("victim"), runtime = dir_.file("victim-run");
    for (const std::string& mine : {home, runtime}) {
        ASSERT_EQ(mkdir(mine.c_str(), 0700), 0);
        ASSERT_EQ(chown(mine.c_str(), victim, victim), 0);
    }
    chmod(dir_.str().c_str(), 0711);
    // The victim's copy: no runtime folder; it holds the lock and serves one hand-over.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t copy = fork();
    if (copy == 0) {
        close(ready[0]);
        unsetenv("XDG_RUNTIME_DIR");
        setenv("HOME", home.c_str(), 1);
        if (setgid(victim) != 0 || setuid(victim) != 0) _exit(2);
        // Where "/" itself is closed to other users (a bare chroot), nothing can be shown.
        if (access("/tmp", X_OK) != 0 || access(home.c_str(), W_OK) != 0) _exit(77);
        if (posix::AnotherInstanceRuns()) _exit(3);
        const int fd = posix::ListenForHandOvers(SocketPath());
        if (fd < 0) _exit(4);
        (void)!write(ready[1], "r", 1);
        const bool first = Serve(fd, true) == Paths{"/no-runtime"};
        _exit(first && Serve(fd, true) == Paths{"/own-runtime"} ? 0 : 5);
    }
    close(ready[1]);
    char byte = 0;
    const bool listening = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    rmdir(squatted.c_str());
    // Later starts of the victim's: one as the copy was started, one from a session with a
    // runtime folder.
    auto later = [&](const std::string& path, const char* ownRuntime) {
        return Result(Sender([&] {
            if (ownRuntime) setenv("XDG_RUNTIME_DIR", ownRuntime, 1);
            if (!ownRuntime) unsetenv("XDG_RUNTIME_DIR");
            setenv("HOME", home.c_str(), 1);
            if (setgid(victim) != 0 || setuid(victim) != 0) return HandOverResult::NoAnswer;
            if (!posix::AnotherInstanceRuns()) return HandOverResult::NoOtherCopy;
            return posix::SendToRunningCopy({path}, 5000);
        }));
    };
    const HandOverResult none = HandOverResult::NoAnswer;
    const HandOverResult withoutRuntime = listening ? later("/no-runtime", nullptr) : none;
    const HandOverResult withRuntime = listening ? later("/own-runtime", runtime.c_str()) : none;
    int status = 0;
    waitpid(copy, &status, 0);
    rmdir(squatted.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "other users cannot reach /tmp here";
    ASSERT_TRUE(listening) << WEXITSTATUS(status);
    EXPECT_EQ(withoutRuntime, HandOverResult::Taken);
    EXPECT_EQ(withRuntime, HandOverResult::Taken);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(HandOverSocketTest, ASocketPathTooLongForAnAddressStillWorks) {
    std::string deep = dir_.str();
    while (deep.size() < 150) {
        deep += "/a-rather-long-folder-name";
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const int listenFd = posix::ListenForHandOvers(SocketPath());
    ASSERT_GE(listenFd, 0) << std::strerror(errno);
    const pid_t sender = Sender([] { return posix::SendToRunningCopy({"/deep"}, 5000); });
    EXPECT_EQ(Serve(listenFd, true), Paths{"/deep"});
    EXPECT_EQ(Result(sender), HandOverResult::Taken);
    close(listenFd);
}

TEST_F(HandOverSocketTest, AnotherUsersHandOverIsRefused) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to start a sender as another user";
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const std::string path = SocketPath();
    const int listenFd = posix::ListenForHandOvers(path);
    ASSERT_GE(listenFd, 0);
    // Let the other user reach the socket, which the private folder would stop first.
    chmod(dir_.str().c_str(), 0711);
    chmod(path.c_str(), 0777);
    // The other user's sender, by hand: its own lock and socket would be elsewhere. It
    // steps into the folder first, so it needs no way through the folders above it.
    const std::string name = path.substr(path.rfind('/') + 1);
    const pid_t sender = Sender([&] {
        if (chdir(dir_.str().c_str()) != 0) return HandOverResult::Refused;
        if (setgid(65534) != 0 || setuid(65534) != 0) return HandOverResult::Taken;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        name.copy(address.sun_path, sizeof address.sun_path - 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return HandOverResult::Refused;
        }
        const std::string frame = EncodeHandOver({"/tmp/planted"});
        send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        char answer = 0;
        return recv(fd, &answer, 1, 0) == 1 ? HandOverResult::Taken : HandOverResult::NoAnswer;
    });
    ASSERT_TRUE(Waiting(listenFd));
    posix::HandOverConnection connection(listenFd);
    EXPECT_EQ(connection.fd(), -1);  // closed unread
    EXPECT_EQ(Result(sender), HandOverResult::NoAnswer);
    close(listenFd);
}

}  // namespace
}  // namespace doredaviro
