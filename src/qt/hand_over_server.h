#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>

namespace doredaviro {
class frmDoredAviro;
}

namespace doredaviro::qt {

// Takes the paths that later starts of the program hand over and gives them to
// the form as drops. A connection from another user, a malformed or oversized
// frame, or one not whole within a few seconds is closed unanswered; so is any
// past the number or the bytes it takes on at once.
class HandOverServer : public QObject {
    Q_OBJECT
public:
    explicit HandOverServer(frmDoredAviro& form);
    ~HandOverServer() override;

    // Listens on `path`; only the holder of the single-copy lock may.
    bool Listen(const std::string& path);
    // Stops listening: the window is closing.
    void Close();

    // Connections being read or waiting for their sender's confirmation.
    int Connections() const { return connections_; }

private:
    class Connection;
    void TakeConnection();

    frmDoredAviro& form_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::size_t buffered_ = 0;
    int connections_ = 0;  // bytes of frames not yet whole, over all connections
};

}  // namespace doredaviro::qt
