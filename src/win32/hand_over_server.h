#pragma once

#include <windows.h>

#include <map>

#include "core/hand_over.h"
#include "win32/hand_over.h"

namespace doredaviro::win32 {

// The line to later starts of the program: takes their messages to the main window, relays them
// to the hand-over and gives its answers. Before Listen, or after Close, a sender is told to ask
// again: the copy is still starting, or is closing.
class HandOverServer : public HandOverLine {
public:
    explicit HandOverServer(HandOver& handOver) : handOver_(handOver) {}
    ~HandOverServer() override;
    HandOverServer(const HandOverServer&) = delete;
    HandOverServer& operator=(const HandOverServer&) = delete;

    // From now on the window takes hand-overs: it is shown.
    void Listen();
    // No more: the window is closing.
    void Close();
    // What the window answers a WM_COPYDATA message.
    LRESULT Receive(const COPYDATASTRUCT& data);

    bool Seal(HandOverTicket ticket) override;
    void Finish(HandOverTicket ticket, bool kept) override;

private:
    HandOver& handOver_;
    bool listening_ = false;
    std::map<HandOverTicket, HandOverSlot> held_;
};

}  // namespace doredaviro::win32
