#include "posix/hand_over.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/frmDoredAviro.h"
#include "posix/instance_lock.h"

namespace doredaviro::posix {

namespace {

constexpr char kMagic[] = "ZKH2";
// No more than the list could ever hold.
constexpr std::size_t kMaxPaths = kMaxRows;
constexpr std::size_t kMaxPathBytes = 4095;

void PutU32(std::string& out, std::size_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::size_t GetU32(std::string_view in, std::size_t at) {
    std::size_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int Remaining(long long deadline) {
    const long long left = deadline - NowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool SendAll(int fd, const std::string& bytes, long long deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, Remaining(deadline)) <= 0) return false;
        // No SIGPIPE when the other end has gone.
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
        if (n > 0) sent += static_cast<std::size_t>(n);
    }
    return true;
}

// The running copy's one-byte answer; 0 when none came in time.
char ReadAnswer(int fd, long long deadline) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, Remaining(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return 0;
        char answer = 0;
        const ssize_t n = recv(fd, &answer, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        return n == 1 ? answer : 0;
    }
}

}  // namespace

std::string HandOverSocketPath(const std::string& lockPath) {
    std::string path = lockPath;
    const std::string lock = ".lock";
    if (path.size() < lock.size()) return {};
    return path.replace(path.size() - lock.size(), lock.size(), ".sock");
}

std::string EncodeHandOver(const std::vector<std::string>& paths) {
    std::string payload;
    PutU32(payload, paths.size());
    for (const std::string& path : paths) {
        PutU32(payload, path.size());
        payload += path;
    }
    std::string frame(kMagic, 4);
    PutU32(frame, payload.size());
    return frame + payload;
}

long HandOverBytesMissing(std::string_view received) {
    const std::size_t magic = std::min<std::size_t>(received.size(), 4);
    if (received.substr(0, magic) != std::string_view(kMagic, magic)) return -1;
    if (received.size() < kHandOverHeaderBytes) {
        return static_cast<long>(kHandOverHeaderBytes - received.size());
    }
    const std::size_t payload = GetU32(received, 4);
    if (payload > kMaxHandOverBytes) return -1;
    const std::size_t whole = kHandOverHeaderBytes + payload;
    if (received.size() > whole) return -1;
    return static_cast<long>(whole - received.size());
}

std::optional<std::vector<std::string>> DecodeHandOver(std::string_view frame) {
    if (HandOverBytesMissing(frame) != 0) return std::nullopt;
    std::size_t at = kHandOverHeaderBytes;
    auto fits = [&](std::size_t n) { return frame.size() - at >= n; };
    if (!fits(4)) return std::nullopt;
    const std::size_t count = GetU32(frame, at);
    at += 4;
    if (count == 0 || count > kMaxPaths) return std::nullopt;
    std::vector<std::string> paths;
    paths.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!fits(4)) return std::nullopt;
        const std::size_t size = GetU32(frame, at);
        at += 4;
        if (size == 0 || size > kMaxPathBytes || !fits(size)) return std::nullopt;
        std::string path(frame.substr(at, size));
        at += size;
        if (path[0] != '/' || path.find('\0') != std::string::npos) return std::nullopt;
        paths.push_back(std::move(path));
    }
    if (at != frame.size()) return std::nullopt;
    return paths;
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == getuid();
}

namespace {

// A socket address for `path`. One too long for an address (a deep runtime
// folder) is reached through a descriptor of its folder, held while in use.
class SocketAddress {
public:
    explicit SocketAddress(const std::string& path) {
        if (path.empty()) {
            errno = ENOENT;
            return;
        }
        if (Set(path)) return;
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) {
            errno = ENAMETOOLONG;
            return;
        }
        const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
        folder_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0) return;
        if (!Set("/proc/self/fd/" + std::to_string(folder_) + path.substr(slash))) {
            errno = ENAMETOOLONG;
        }
    }
    ~SocketAddress() {
        if (folder_ >= 0) close(folder_);
    }
    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;

    bool ok() const { return ok_; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t size() const { return sizeof address_; }

private:
    bool Set(const std::string& path) {
        address_ = {};
        address_.sun_family = AF_UNIX;
        if (path.size() >= sizeof address_.sun_path) return false;
        std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
        return ok_ = true;
    }

    sockaddr_un address_{};
    int folder_ = -1;
    bool ok_ = false;
};

}  // namespace

int ListenForHandOvers(const std::string& path) {
    const SocketAddress address(path);
    if (!address.ok()) return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    unlink(path.c_str());
    if (bind(fd, address.get(), address.size()) != 0 || listen(fd, 64) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

HandOverConnection::HandOverConnection(int listenFd) {
    for (;;) {
        fd_ = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd_ < 0) return;
        if (PeerIsThisUser(fd_)) return;
        close(fd_);
    }
}

HandOverConnection::~HandOverConnection() {
    if (fd_ >= 0) close(fd_);
}

HandOverConnection::State HandOverConnection::Read() {
    if (fd_ < 0) return State::Broken;
    if (answered_) {
        // Only the confirmation may come now; the end of the connection means the
        // sender went.
        char confirm = 0;
        ssize_t n;
        while ((n = recv(fd_, &confirm, 1, 0)) < 0 && errno == EINTR) {
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return State::Reading;
        return n == 1 && confirm == 'C' ? State::Confirmed : State::Broken;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return State::Reading;
        if (n <= 0) return State::Broken;  // gone before the frame was whole
        received_.append(chunk, static_cast<std::size_t>(n));
        const long missing = HandOverBytesMissing(received_);
        if (missing < 0) return State::Broken;
        if (missing == 0) {
            auto paths = DecodeHandOver(received_);
            received_.clear();
            received_.shrink_to_fit();
            if (!paths) return State::Broken;
            paths_ = std::move(*paths);
            return State::Whole;
        }
    }
}

namespace {

// One byte into a socket whose peer sends nothing more than one byte never blocks;
// a sender that has gone reports that itself.
void SendByte(int fd, char byte) { send(fd, &byte, 1, MSG_NOSIGNAL); }

}  // namespace

void HandOverConnection::Answer(bool room) {
    if (fd_ < 0 || answered_) return;
    SendByte(fd_, room ? 'Y' : 'N');
    answered_ = true;
    paths_.clear();
    paths_.shrink_to_fit();
    if (!room) {
        close(fd_);
        fd_ = -1;
    }
}

bool HandOverConnection::Seal() {
    if (fd_ < 0 || !answered_) return false;
    // From here the sender's 'C' is refused; one sent before is still there to read.
    shutdown(fd_, SHUT_RD);
    char confirm = 0;
    ssize_t n;
    while ((n = recv(fd_, &confirm, 1, 0)) < 0 && errno == EINTR) {
    }
    return n == 1 && confirm == 'C';
}

void HandOverConnection::Finish(bool kept) {
    if (fd_ < 0) return;
    SendByte(fd_, kept ? 'K' : 'N');
    close(fd_);
    fd_ = -1;
}

namespace {

// The one step that decides: the socket takes the confirmation, or refuses it (EPIPE) because
// the copy has given the room back. Only a deadline that passes before the socket has room for
// one byte leaves it unsent, and then nothing was sent that could count.
HandOverResult Confirm(int fd, long long deadline) {
    for (;;) {
        const char confirm = 'C';
        if (send(fd, &confirm, 1, MSG_NOSIGNAL) == 1) return HandOverResult::Taken;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return HandOverResult::Refused;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, Remaining(deadline)) == 0) return HandOverResult::NoAnswer;
    }
}

HandOverResult Exchange(int fd, const std::string& frame, long long deadline) {
    if (!SendAll(fd, frame, deadline)) return HandOverResult::NoAnswer;
    const char room = ReadAnswer(fd, deadline);
    if (room == 'N') return HandOverResult::Refused;
    if (room != 'Y') return HandOverResult::NoAnswer;
    const HandOverResult result = Confirm(fd, deadline);
    // Whether they went in already or wait for a batch: the answer only informs, and a copy
    // that stalls now still has them.
    if (result == HandOverResult::Taken) ReadAnswer(fd, deadline);
    return result;
}

}  // namespace

HandOverResult SendToRunningCopy(const std::vector<std::string>& paths, int timeoutMs) {
    const long long deadline = NowMs() + timeoutMs;
    const std::string frame = EncodeHandOver(paths);
    // The runtime folder's socket first; the cache folder's reaches a copy whose runtime folder
    // is another.
    std::vector<std::string> sockets;
    for (const std::string& lock : InstanceLockPaths()) {
        sockets.insert(sockets.begin(), HandOverSocketPath(lock));
    }
    for (;;) {
        bool busy = false;
        for (const std::string& path : sockets) {
            const SocketAddress address(path);
            if (!address.ok()) continue;
            const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0) return HandOverResult::NoAnswer;
            if (connect(fd, address.get(), address.size()) != 0) {
                // A full backlog: the copy runs but is busy or stopped; it may still come.
                busy = busy || errno == EAGAIN;
                close(fd);
                continue;
            }
            // Only a copy of this user's hears any path: a socket someone else made in its
            // place gets nothing.
            if (!PeerIsThisUser(fd)) {
                fprintf(stderr, "Zivev+Korvu: the socket %s belongs to another user\n",
                        path.c_str());
                close(fd);
                continue;
            }
            const HandOverResult result = Exchange(fd, frame, deadline);
            close(fd);
            return result;
        }
        // Nobody listens: the copy may still be starting, or may have ended, leaving its
        // socket behind; the lock tells which.
        if (!busy && !AnotherInstanceRuns()) return HandOverResult::NoOtherCopy;
        if (Remaining(deadline) == 0) return HandOverResult::NoAnswer;
        usleep(static_cast<useconds_t>(std::min(25, Remaining(deadline)) * 1000));
    }
}

}  // namespace doredaviro::posix
