#include "hand_over.h"

#include "frmDoredAviro.h"

namespace doredaviro {

HandOverTicket HandOver::Frame(const std::vector<std::string>& paths) {
    const HandOverTicket ticket = form_.OfferHandOver(paths);
    if (ticket == 0) return 0;
    const long long now = system_.Milliseconds();
    held_[ticket] = now + kHandOverHoldMs;
    form_.TickAt(now + kHandOverHoldMs, now);
    return ticket;
}

bool HandOver::Confirm(HandOverTicket ticket) {
    if (held_.erase(ticket) == 0) return false;
    return form_.TakeHandOver(ticket);
}

void HandOver::Gone(HandOverTicket ticket) {
    if (held_.erase(ticket) == 0) return;
    form_.DropHandOver(ticket);
}

void HandOver::Settle(HandOverTicket ticket) {
    held_.erase(ticket);
    const bool kept = line_ && line_->Seal(ticket) && form_.TakeHandOver(ticket);
    if (!kept) form_.DropHandOver(ticket);
    if (line_) line_->Finish(ticket, kept);
}

void HandOver::Expire(long long now) {
    std::vector<HandOverTicket> due;
    long long next = 0;
    for (const auto& [ticket, until] : held_) {
        if (until <= now) {
            due.push_back(ticket);
        } else if (next == 0 || until < next) {
            next = until;
        }
    }
    for (HandOverTicket ticket : due) Settle(ticket);
    // A tick may come a little early.
    if (next != 0) form_.TickAt(next, now);
}

void HandOver::SettleAll() {
    while (!held_.empty()) Settle(held_.begin()->first);
}

}  // namespace doredaviro
