#include "win32/hand_over_server.h"

#include <cstring>
#include <utility>

namespace doredaviro::win32 {

HandOverServer::~HandOverServer() { Close(); }

void HandOverServer::Listen() {
    listening_ = true;
    handOver_.Listen(this);
}

void HandOverServer::Close() {
    if (!listening_) return;
    listening_ = false;
    handOver_.Listen(nullptr);
}

LRESULT HandOverServer::Receive(const COPYDATASTRUCT& data) {
    if (data.dwData == kHandOverConfirmTag) {
        ULONGLONG ticket = 0;
        if (data.cbData != sizeof ticket || !data.lpData) return kHandOverRefused;
        std::memcpy(&ticket, data.lpData, sizeof ticket);
        // Only the slot says that the sender confirmed; the message says when to look.
        const auto held = held_.find(ticket);
        if (held == held_.end() || held->second.state() != HandOverSlot::kConfirmed) {
            return kHandOverRefused;
        }
        held_.erase(held);
        return handOver_.Confirm(ticket) ? kHandOverTaken : kHandOverRefused;
    }
    if (data.dwData != kHandOverTag) return kHandOverRefused;
    if (!listening_) return kHandOverNotReady;
    const auto decoded = DecodeHandOver(data.lpData, data.cbData);
    if (!decoded) return kHandOverRefused;
    // A sender that gave up before this came, or went, has no open slot.
    HandOverSlot slot = HandOverSlot::Open(decoded->slot);
    if (slot.state() != HandOverSlot::kOpen) return kHandOverRefused;
    const HandOverTicket ticket = handOver_.Frame(decoded->paths);
    if (ticket == 0) return kHandOverRefused;
    held_.emplace(ticket, std::move(slot));
    return kHandOverHeld + static_cast<LRESULT>(ticket);
}

bool HandOverServer::Seal(HandOverTicket ticket) {
    const auto held = held_.find(ticket);
    return held != held_.end() &&
           held->second.Settle(HandOverSlot::kWithdrawn) == HandOverSlot::kConfirmed;
}

void HandOverServer::Finish(HandOverTicket ticket, bool) { held_.erase(ticket); }

}  // namespace doredaviro::win32
