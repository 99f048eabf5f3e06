#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/hand_over.h"

namespace doredaviro::qt {

// The line to later starts of the program: takes their connections, relays what comes on them
// to the hand-over and sends its answers. A connection from another user, a malformed or
// oversized frame, or one not whole in time is closed unanswered; so is any past the number or
// the bytes it takes on at once.
class HandOverServer : public QObject, public HandOverLine {
    Q_OBJECT
public:
    explicit HandOverServer(HandOver& handOver);
    ~HandOverServer() override;

    // Listens beside each of the single-copy locks `locks`, which this process holds; true
    // when beside one at least.
    bool Listen(const std::vector<std::string>& locks);
    // Stops listening: the window is closing.
    void Close();

    // Connections being read or waiting for their sender's confirmation.
    int Connections() const { return connections_; }

    bool Seal(HandOverTicket ticket) override;
    void Finish(HandOverTicket ticket, bool kept) override;

private:
    class Connection;
    struct Listener {
        int fd = -1;
        std::unique_ptr<QSocketNotifier> notifier;
    };
    void TakeConnection(Listener& listener);

    HandOver& handOver_;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::map<HandOverTicket, Connection*> held_;
    std::size_t buffered_ = 0;  // bytes of frames not yet whole, over all connections
    int connections_ = 0;
};

}  // namespace doredaviro::qt
