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
std::string Frame(const std::string& payload) { return "ZKH1" + U32(payload.size()) + payload; }

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
        {"wrong magic", "ZKH2" + U32(one.size()) + one},
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
    EXPECT_EQ(HandOverBytesMissing("ZKH1" + U32(posix::kMaxHandOverBytes + 1)), -1);
    EXPECT_EQ(HandOverBytesMissing("XK"), -1);
}

// A private runtime folder and display of its own, and the waiting for children.
class HandOverSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGCHLD, SIG_DFL);
        chmod(dir_.str().c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir_.str().c_str(), 1);
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
    const int listenFd = posix::ListenForHandOvers(posix::HandOverSocketPath());
    ASSERT_GE(listenFd, 0);
    ASSERT_TRUE(Waiting(listenFd));
    posix::HandOverConnection connection(listenFd);
    ASSERT_GE(connection.fd(), 0);
    ASSERT_EQ(Receive(connection), posix::HandOverConnection::State::Whole);
    EXPECT_EQ(connection.paths(), paths);
    connection.Answer(true);
    // Kept only once the sender has confirmed it is still there.
    ASSERT_EQ(Receive(connection), posix::HandOverConnection::State::Confirmed);
    connection.Finish(true);
    EXPECT_EQ(Result(sender), HandOverResult::Taken);

    // The window closed between the confirmation and the paths going in.
    const pid_t late = Sender([&] { return posix::SendToRunningCopy({"/late"}, 5000); });
    EXPECT_EQ(Serve(listenFd, false), Paths{"/late"});
    EXPECT_EQ(Result(late), HandOverResult::Refused);

    const pid_t refused = Sender([&] { return posix::SendToRunningCopy({"/x"}, 5000); });
    ASSERT_TRUE(Waiting(listenFd));
    posix::HandOverConnection second(listenFd);
    ASSERT_EQ(Receive(second), posix::HandOverConnection::State::Whole);
    second.Answer(false);
    EXPECT_EQ(Result(refused), HandOverResult::Refused);
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
    const int stale = posix::ListenForHandOvers(posix::HandOverSocketPath());
    ASSERT_GE(stale, 0);
    close(stale);
    EXPECT_EQ(Result(Sender([] { return posix::SendToRunningCopy({"/x"}, 5000); })),
              HandOverResult::NoOtherCopy);
}

TEST_F(HandOverSocketTest, ASenderThatGoesBeforeConfirmingLeavesNothingToKeep) {
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const int listenFd = posix::ListenForHandOvers(posix::HandOverSocketPath());
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
    const int listenFd = posix::ListenForHandOvers(posix::HandOverSocketPath());
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
    posix::HandOverSocketPath().copy(address.sun_path, sizeof address.sun_path - 1);
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
    chmod(dir_.str().c_str(), 0777);
    EXPECT_NE(posix::InstanceLockPath().rfind(dir_.str(), 0), 0u) << posix::InstanceLockPath();
    chmod(dir_.str().c_str(), 0700);
    EXPECT_EQ(posix::InstanceLockPath().rfind(dir_.str(), 0), 0u);

    if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    // Another user listens first where the socket goes.
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const std::string path = posix::HandOverSocketPath();
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

// Where no runtime folder is private, the fallback in /tmp is used only if it is this user's
// own; one another user made first is passed over for the cache folder, with a word why.
TEST_F(HandOverSocketTest, AFallbackSomeoneElseTookIsNeverUsed) {
    setenv("XDG_RUNTIME_DIR", "/tmp", 1);  // as a root start may be given: open to everyone
    EXPECT_NE(posix::InstanceLockPath().rfind("/tmp/Zivev+Korvu", 0), 0u)
        << posix::InstanceLockPath();
    if (getuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
    const uid_t victim = 4242;
    const std::string taken = "/tmp/doredaviro-" + std::to_string(victim);
    rmdir(taken.c_str());
    ASSERT_EQ(mkdir(taken.c_str(), 0700), 0) << "left from an earlier run?";
    ASSERT_EQ(chown(taken.c_str(), 65534, 65534), 0);  // the squatter's
    const std::string home = dir_.file("home");
    ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
    ASSERT_EQ(chown(home.c_str(), victim, victim), 0);
    chmod(dir_.str().c_str(), 0711);
    const pid_t child = fork();
    if (child == 0) {
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("XDG_CACHE_HOME");
        setenv("HOME", home.c_str(), 1);
        if (setgid(victim) != 0 || setuid(victim) != 0) _exit(2);
        // Where "/" itself is closed to other users (a bare chroot), nothing can be shown.
        if (access("/tmp", X_OK) != 0 || access(home.c_str(), W_OK) != 0) _exit(77);
        const std::string lock = posix::InstanceLockPath();
        if (lock.rfind(home + "/.cache/doredaviro/", 0) != 0) _exit(3);
        if (posix::AnotherInstanceRuns()) _exit(4);  // the single copy still works
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    rmdir(taken.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "other users cannot reach /tmp here";
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
    const int listenFd = posix::ListenForHandOvers(posix::HandOverSocketPath());
    ASSERT_GE(listenFd, 0) << std::strerror(errno);
    const pid_t sender = Sender([] { return posix::SendToRunningCopy({"/deep"}, 5000); });
    EXPECT_EQ(Serve(listenFd, true), Paths{"/deep"});
    EXPECT_EQ(Result(sender), HandOverResult::Taken);
    close(listenFd);
}

TEST(DisplayKeyTest, OneDisplayHasOneLockWhateverItsSpelling) {
    char self[256] = {};
    gethostname(self, sizeof self - 1);
    auto lockFor = [](const std::string& display) {
        setenv("DISPLAY", display.c_str(), 1);
        const std::string path = posix::InstanceLockPath();
        return path.substr(path.rfind('/') + 1);
    };
    const std::string one = lockFor(":1");
    for (const std::string& same : std::vector<std::string>{
             ":1.0", "unix:1", "localhost:1", "127.0.0.1:1.0", std::string(self) + ":1"}) {
        EXPECT_EQ(lockFor(same), one) << same;
    }
    EXPECT_NE(lockFor(":2"), one);
    EXPECT_NE(lockFor("elsewhere.example:1"), one);
    EXPECT_NE(lockFor("elsewhere.example:1"), lockFor("other.example:1"));
}

TEST_F(HandOverSocketTest, AnotherUsersHandOverIsRefused) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to start a sender as another user";
    ASSERT_FALSE(posix::AnotherInstanceRuns());
    const std::string path = posix::HandOverSocketPath();
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
