#include "qt/hand_over_server.h"

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

// One connection, read as its bytes arrive; it deletes itself when done.
class Connection : public QObject {
public:
    // Events for the form go through `server`, so none outlives it.
    Connection(int listenFd, frmDoredAviro& form, QObject* server)
        : connection_(listenFd), form_(form), server_(server) {
        if (connection_.fd() < 0) {
            deleteLater();
            return;
        }
        notifier_ = new QSocketNotifier(connection_.fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Connection::Read);
        QTimer::singleShot(kConnectionLimitMs, this, &QObject::deleteLater);
    }
    // The notifier goes before the descriptor it watches is closed.
    ~Connection() override { delete notifier_; }

private:
    void Read() {
        switch (connection_.Read()) {
            case posix::HandOverConnection::State::Reading:
                return;
            case posix::HandOverConnection::State::Broken:
                notifier_->setEnabled(false);
                deleteLater();
                return;
            case posix::HandOverConnection::State::Whole:
                break;
        }
        notifier_->setEnabled(false);
        deleteLater();
        // The sender has its answer before the paths go anywhere; they go in as
        // an event of their own, never inside this one.
        const HandOverTicket ticket = form_.OfferHandOver(connection_.paths());
        connection_.Answer(ticket != 0);
        if (ticket != 0) {
            frmDoredAviro& form = form_;
            QTimer::singleShot(0, server_, [&form, ticket] { form.TakeHandOver(ticket); });
        }
    }

    posix::HandOverConnection connection_;
    frmDoredAviro& form_;
    QObject* server_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace

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

void HandOverServer::TakeConnection() { new Connection(fd_, form_, this); }

}  // namespace doredaviro::qt
