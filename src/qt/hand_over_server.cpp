#include "qt/hand_over_server.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/frmDoredAviro.h"
#include "posix/hand_over.h"

namespace doredaviro::qt {

namespace {

// Long enough for any real hand-over, short enough that a stalled sender goes.
constexpr int kConnectionLimitMs = 5000;
// How long accepting rests when the process has no descriptor to spare.
constexpr int kOutOfDescriptorsPauseMs = 250;

}  // namespace

// One connection, read as its bytes arrive; it deletes itself when done, and a
// hand-over that was offered but never confirmed gives its room back.
class HandOverServer::Connection : public QObject {
public:
    Connection(HandOverServer& server, int listenFd)
        : QObject(&server), server_(server), connection_(listenFd) {
        if (connection_.fd() < 0) {
            acceptError_ = errno;
            return;
        }
        ++server_.connections_;
        notifier_ = new QSocketNotifier(connection_.fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Connection::Read);
        QTimer::singleShot(kConnectionLimitMs, this, [this] { End(); });
    }
    ~Connection() override {
        // The notifier goes before the descriptor it watches is closed.
        delete notifier_;
        if (accepted()) --server_.connections_;
        if (ticket_ != 0) server_.form_.DropHandOver(ticket_);
    }
    bool accepted() const { return acceptError_ == 0; }
    int acceptError() const { return acceptError_; }

private:
    void Read() {
        if (ended_) return;
        const std::size_t before = connection_.Buffered();
        const auto state = connection_.Read();
        server_.buffered_ = server_.buffered_ - before + connection_.Buffered();
        switch (state) {
            case posix::HandOverConnection::State::Reading:
                if (server_.buffered_ > posix::kMaxHandOverBufferedBytes) End();
                return;
            case posix::HandOverConnection::State::Broken:
                End();
                return;
            case posix::HandOverConnection::State::Whole:
                // Answered at once; the paths are held for the sender, who must
                // still be there to confirm.
                ticket_ = server_.form_.OfferHandOver(connection_.paths());
                connection_.Answer(ticket_ != 0);
                if (ticket_ == 0) End();
                return;
            case posix::HandOverConnection::State::Confirmed: {
                // The sender learns at once whether they are kept; they go in
                // as an event of their own.
                const HandOverTicket ticket = ticket_;
                ticket_ = 0;
                const bool kept = server_.form_.TakeHandOver(ticket);
                connection_.Finish(kept);
                End();
                if (kept) {
                    frmDoredAviro& form = server_.form_;
                    QTimer::singleShot(0, &server_, [&form] { form.HandOverArrived(); });
                }
                return;
            }
        }
    }
    void End() {
        if (ended_) return;
        ended_ = true;
        if (notifier_) notifier_->setEnabled(false);
        server_.buffered_ -= connection_.Buffered();
        deleteLater();
    }

    HandOverServer& server_;
    posix::HandOverConnection connection_;
    QSocketNotifier* notifier_ = nullptr;
    HandOverTicket ticket_ = 0;
    int acceptError_ = 0;
    bool ended_ = false;
};

HandOverServer::HandOverServer(frmDoredAviro& form) : form_(form) {}

HandOverServer::~HandOverServer() { Close(); }

void HandOverServer::Close() {
    notifier_.reset();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool HandOverServer::Listen(const std::string& path) {
    fd_ = posix::ListenForHandOvers(path);
    if (fd_ < 0) {
        std::fprintf(stderr, "Zivev+Korvu: cannot take paths from later starts on %s: %s\n",
                     path.c_str(), std::strerror(errno));
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &HandOverServer::TakeConnection);
    return true;
}

void HandOverServer::TakeConnection() {
    if (fd_ < 0) return;
    if (connections_ >= posix::kMaxHandOverConnections) {
        // Past what it takes on at once: closed unread, and the sender reports it.
        const int extra = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (extra >= 0) close(extra);
        if (extra >= 0 || (errno != EMFILE && errno != ENFILE)) return;
    } else {
        auto* connection = new Connection(*this, fd_);
        if (connection->accepted()) return;
        const int error = connection->acceptError();
        delete connection;
        if (error != EMFILE && error != ENFILE) return;
    }
    // Out of descriptors: a connection left waiting would wake this at once,
    // again and again; rest until one may be free.
    notifier_->setEnabled(false);
    QTimer::singleShot(kOutOfDescriptorsPauseMs, this, [this] {
        if (notifier_) notifier_->setEnabled(true);
    });
}

}  // namespace doredaviro::qt
