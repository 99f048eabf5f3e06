#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"

// Paths handed from a later start of the program to the copy that runs: a Unix socket beside
// each of its single-copy locks. A hand-over is one frame of raw path bytes, never converted:
//   "ZKH2", u32 payload size, then the payload: u32 count, and per path u32 size
//   and its bytes (little-endian).
// The running copy answers one byte: 'Y' it holds room for them, 'N' refused. After 'Y' the
// sender confirms with 'C', and the confirmation counts exactly when the socket takes it. To
// give the room back (its time is up, or the window closes) the copy first shuts the socket
// for reading, after which the kernel refuses a 'C' (EPIPE), and then reads what came before:
// a 'C' there is kept. The kernel orders the two under one lock, so a sender whose 'C' was
// taken reports its paths taken and one whose 'C' was refused reports they were not, however
// late either side is. The copy's last byte, 'K' kept or 'N', only informs.
namespace doredaviro::posix {

// Far more than the longest command line can carry.
constexpr std::size_t kMaxHandOverBytes = std::size_t{16} << 20;
constexpr std::size_t kHandOverHeaderBytes = 8;
// What the running copy takes on at once: more connections are closed unread,
// and one that would buffer past the bytes is dropped.
constexpr int kMaxHandOverConnections = 32;
constexpr std::size_t kMaxHandOverBufferedBytes = std::size_t{32} << 20;

// The socket beside the single-copy lock `lockPath`.
std::string HandOverSocketPath(const std::string& lockPath);

std::string EncodeHandOver(const std::vector<std::string>& paths);
// How many more bytes `received`, the start of a frame, needs to be whole: 0
// once whole; -1 when it can never be one (a wrong magic or size, or bytes past
// its end).
long HandOverBytesMissing(std::string_view received);
// The paths of a whole frame, or nothing unless it is well-formed: the sizes add
// up, 1 to 32767 paths, each absolute, without NUL and at most 4095 bytes.
std::optional<std::vector<std::string>> DecodeHandOver(std::string_view frame);

// True when the process at the other end of the connected socket `fd` runs as
// this user.
bool PeerIsThisUser(int fd);

// The running copy's side. Listens on `path`, replacing the socket a copy that
// has ended left there: only the holder of the single-copy lock may call it.
// The descriptor (non-blocking, close-on-exec), or -1 with errno set. A path too
// long for a socket address is reached through its folder.
int ListenForHandOvers(const std::string& path);

// One hand-over being received on a connection accepted from `listenFd`.
class HandOverConnection {
public:
    // Takes the next connection waiting on `listenFd`; one from another user is
    // closed at once. fd() is -1 when there was none to take.
    explicit HandOverConnection(int listenFd);
    ~HandOverConnection();
    HandOverConnection(const HandOverConnection&) = delete;
    HandOverConnection& operator=(const HandOverConnection&) = delete;

    enum class State {
        Reading,    // more to come
        Whole,      // the frame is in: Answer it
        Confirmed,  // after Answer(true): the socket took the sender's confirmation
        Broken,     // malformed, or the sender went without confirming
    };
    // Reads what has arrived, without blocking.
    State Read();
    int fd() const { return fd_; }
    std::size_t Buffered() const { return received_.size(); }
    // The paths once Read() has said Whole.
    const std::vector<std::string>& paths() const { return paths_; }
    // Tells the sender whether there is room for them; a refusal closes the
    // connection, room waits for the sender's confirmation.
    void Answer(bool room);
    // After Answer(true): no confirmation can come any more; true when one came before.
    bool Seal();
    // Tells the sender, for its information, whether they were kept, and closes the
    // connection.
    void Finish(bool kept);

private:
    int fd_ = -1;
    bool answered_ = false;
    std::string received_;
    std::vector<std::string> paths_;
};

// Sends `paths` to the running copy and waits up to `timeoutMs` in all for it: to
// listen (it may still be starting), to take the connection and the frame, and
// to answer. Only a copy running as this user is sent anything. When the lock
// turns out free meanwhile, this process takes it and gets NoOtherCopy. Taken
// exactly when the copy's socket took the confirmation.
HandOverResult SendToRunningCopy(const std::vector<std::string>& paths, int timeoutMs);

}  // namespace doredaviro::posix
