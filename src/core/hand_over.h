#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform.h"

namespace doredaviro {

class frmDoredAviro;

// How long a later start waits in all for the copy that runs: for it to listen (it may be
// starting at the same moment), to take the paths and to answer.
constexpr int kHandOverWaitMs = 10000;
// How long a sender may take to send its paths whole, and how long room stays held for one
// that was answered but has not confirmed.
constexpr long long kHandOverHoldMs = 5000;

using HandOverTicket = unsigned long long;

// The front end's line to later starts, as the hand-over needs it.
//
// A sender's confirmation counts once the line has taken it, and only then: the line decides
// that in one indivisible step that both ends can see (on Linux the socket, on Windows a word
// in shared memory), so a sender whose confirmation was taken is told so by the line itself,
// whatever happens after, and one whose confirmation comes too late learns that from the line.
class HandOverLine {
public:
    virtual ~HandOverLine() = default;
    // Shuts `ticket`'s sender out for good: a confirmation not taken by now never will be. True
    // when one was taken; the front end relays no Confirm for it after this.
    virtual bool Seal(HandOverTicket ticket) = 0;
    // Tells the sender, for its information, whether its paths were kept, and lets go of it.
    virtual void Finish(HandOverTicket ticket, bool kept) = 0;
};

// Paths that later starts of the program hand to this copy. The front end relays what comes
// on its line and sends the answers it is given; everything else is decided here: whether
// there is room, how long it is held, and what becomes of it when the sender confirms, goes,
// or takes too long, and when the window closes. Whatever a sender learns is what happened:
// paths it is told were taken join the list, before any close; paths it is told were not
// never do, and their room goes back.
class HandOver {
public:
    HandOver(frmDoredAviro& form, System& system) : form_(form), system_(system) {}
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;

    // From now on hand-overs come on `line`; nullptr when they no longer do.
    void Listen(HandOverLine* line) { line_ = line; }

    // A sender's paths have come whole. Its ticket when they fit beside the rows listed and
    // those waiting, which holds room for them until it confirms; 0 when they do not, or the
    // window is closing: the front end tells it so and lets go of it.
    HandOverTicket Frame(const std::vector<std::string>& paths);
    // The line took the sender's confirmation: its paths are kept, and go in with the next
    // tick (after a batch or a message that is open). The answer for the sender's information:
    // false only for a ticket not held. The front end lets go of it after.
    bool Confirm(HandOverTicket ticket);
    // The sender went without confirming: its room goes back.
    void Gone(HandOverTicket ticket);

    // Tickets holding room.
    std::size_t Held() const { return held_.size(); }

private:
    friend class frmDoredAviro;
    // Room held past its time goes back, unless the line took a confirmation meanwhile.
    void Expire(long long now);
    // Every ticket at once, as the window closes.
    void SettleAll();
    void Settle(HandOverTicket ticket);

    frmDoredAviro& form_;
    System& system_;
    HandOverLine* line_ = nullptr;
    std::map<HandOverTicket, long long> held_;  // ticket → when its room goes back
};

}  // namespace doredaviro
