#include "qt/hand_over_server.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "posix/hand_over.h"

namespace doredaviro::qt {

namespace {

// How long accepting rests when the process has no descriptor to spare.
constexpr int kOutOfDescriptorsPauseMs = 250;

}  // namespace

// One connection, read as its bytes arrive; it deletes itself when done. Once its frame is
// answered with room, the hand-over decides when it ends.
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
        // A sender that never sends its frame whole goes unanswered.
        QTimer::singleShot(static_cast<int>(kHandOverHoldMs), this, [this] {
            if (ticket_ == 0) End();
        });
    }
    ~Connection() override {
        // The notifier goes before the descriptor it watches is closed.
        delete notifier_;
        if (accepted()) --server_.connections_;
        // Only when the server itself goes: its sender is gone for the hand-over.
        if (ticket_ != 0) server_.handOver_.Gone(Release());
    }
    bool accepted() const { return acceptError_ == 0; }
    int acceptError() const { return acceptError_; }

    bool Seal() { return connection_.Seal(); }
    void Finish(bool kept) {
        Release();
        connection_.Finish(kept);
        End();
    }

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
            case posix::HandOverConnection::State::Whole:
                ticket_ = server_.handOver_.Frame(connection_.paths());
                connection_.Answer(ticket_ != 0);
                if (ticket_ == 0) {
                    End();
                } else {
                    server_.held_[ticket_] = this;
                }
                return;
            case posix::HandOverConnection::State::Confirmed:
                Finish(ticket_ != 0 && server_.handOver_.Confirm(ticket_));
                return;
            case posix::HandOverConnection::State::Broken:
                if (ticket_ != 0) server_.handOver_.Gone(Release());
                End();
                return;
        }
    }
    // No longer held, by the server or the hand-over.
    HandOverTicket Release() {
        const HandOverTicket ticket = ticket_;
        server_.held_.erase(ticket);
        ticket_ = 0;
        return ticket;
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

HandOverServer::HandOverServer(HandOver& handOver) : handOver_(handOver) {}

HandOverServer::~HandOverServer() {
    Close();
    handOver_.Listen(nullptr);
    // The connections, while what they report to is still here; a sender still held is gone
    // for the hand-over.
    const QObjectList connections = children();
    for (QObject* connection : connections) delete connection;
}

void HandOverServer::Close() {
    for (const auto& listener : listeners_) {
        listener->notifier.reset();
        close(listener->fd);
    }
    listeners_.clear();
}

bool HandOverServer::Listen(const std::vector<std::string>& locks) {
    for (const std::string& lock : locks) {
        const std::string path = posix::HandOverSocketPath(lock);
        auto listener = std::make_unique<Listener>();
        listener->fd = posix::ListenForHandOvers(path);
        if (listener->fd < 0) {
            std::fprintf(stderr, "Zivev+Korvu: cannot take paths from later starts on %s: %s\n",
                         path.c_str(), std::strerror(errno));
            continue;
        }
        listener->notifier = std::make_unique<QSocketNotifier>(listener->fd, QSocketNotifier::Read);
        Listener& taken = *listener;
        connect(listener->notifier.get(), &QSocketNotifier::activated, this,
                [this, &taken] { TakeConnection(taken); });
        listeners_.push_back(std::move(listener));
    }
    if (listeners_.empty()) return false;
    handOver_.Listen(this);
    return true;
}

bool HandOverServer::Seal(HandOverTicket ticket) {
    const auto held = held_.find(ticket);
    return held != held_.end() && held->second->Seal();
}

void HandOverServer::Finish(HandOverTicket ticket, bool kept) {
    const auto held = held_.find(ticket);
    if (held != held_.end()) held->second->Finish(kept);
}

void HandOverServer::TakeConnection(Listener& listener) {
    if (listener.fd < 0) return;
    if (connections_ >= posix::kMaxHandOverConnections) {
        // Past what it takes on at once: closed unread, and the sender reports it.
        const int extra = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (extra >= 0) close(extra);
        if (extra >= 0 || (errno != EMFILE && errno != ENFILE)) return;
    } else {
        auto* connection = new Connection(*this, listener.fd);
        if (connection->accepted()) return;
        const int error = connection->acceptError();
        delete connection;
        if (error != EMFILE && error != ENFILE) return;
    }
    // Out of descriptors: a connection left waiting would wake this at once,
    // again and again; rest until one may be free.
    QSocketNotifier* notifier = listener.notifier.get();
    notifier->setEnabled(false);
    QTimer::singleShot(kOutOfDescriptorsPauseMs, notifier,
                       [notifier] { notifier->setEnabled(true); });
}

}  // namespace doredaviro::qt
