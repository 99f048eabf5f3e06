// The hand-over's rules against every order in which a sender, the line, the user and the clock
// can act: whatever a sender learns is what happened, exactly once.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/display.h"
#include "core/frmDoredAviro.h"
#include "fake_platform.h"

namespace doredaviro {
namespace {

using testing::FakePlatform;

// One later start handing "/handed" to a copy whose list has room for exactly that. A step,
// one letter each:
//   c  the sender confirms: the line takes it, unless it was sealed (the sender then learns at
//      once that it failed)
//   r  the front end reads a confirmation the line took, and relays it
//   g  the sender goes; the front end reads what it left first
//   x  F4
//   e  the hold's time passes and the tick comes
//   t  the tick asked for comes
class Round {
public:
    explicit Round(const std::string& steps) {
        form_.handOver().Listen(&fake_);
        fake_.rows.assign(kMaxRows - 1, "q");
        ticket_ = form_.handOver().Frame({"/handed"});
        for (char step : steps) Do(step);
        // Whatever was asked for comes in the end.
        fake_.clock += kHandOverHoldMs;
        form_.Tick();
    }

    bool taken() const { return taken_; }  // what the sender reports
    int listed() const {
        return static_cast<int>(std::count(fake_.rows.begin(), fake_.rows.end(), "/handed"));
    }
    bool toldKept() const { return toldKept_; }
    FakePlatform& fake() { return fake_; }
    frmDoredAviro& form() { return form_; }
    HandOverTicket ticket() const { return ticket_; }

private:
    bool LetGo() const { return fake_.finished.count(ticket_) > 0 || relayed_; }
    void Relay() {
        if (LetGo() || fake_.sealed.count(ticket_) || !fake_.confirmations.count(ticket_)) return;
        relayed_ = true;
        toldKept_ = form_.handOver().Confirm(ticket_);
    }
    void Do(char step) {
        switch (step) {
            case 'c':
                if (gone_ || fake_.sealed.count(ticket_)) return;
                fake_.confirmations.insert(ticket_);
                taken_ = true;
                return;
            case 'r':
                Relay();
                return;
            case 'g':
                gone_ = true;
                Relay();
                if (!LetGo()) {
                    form_.handOver().Gone(ticket_);
                    relayed_ = true;
                }
                return;
            case 'x':
                form_.Form_KeyDown(Key::F4);
                return;
            case 'e':
                fake_.clock += kHandOverHoldMs;
                form_.Tick();
                return;
            case 't':
                form_.Tick();
                return;
        }
    }

    FakePlatform fake_;
    frmDoredAviro form_{fake_, fake_, Settings{"/i", "/t"}};
    HandOverTicket ticket_ = 0;
    bool taken_ = false;
    bool gone_ = false;
    bool relayed_ = false;
    bool toldKept_ = false;
};

TEST(HandOverRulesTest, InEveryOrderTheSenderLearnsWhatHappened) {
    std::string steps = "cegrtx";
    std::sort(steps.begin(), steps.end());
    int orders = 0, taken = 0;
    do {
        SCOPED_TRACE(steps);
        Round round(steps);
        ++orders;
        taken += round.taken();
        ASSERT_NE(round.ticket(), 0u);
        // Taken: listed once, before any close; else never, and its room is back.
        EXPECT_EQ(round.listed(), round.taken() ? 1 : 0);
        EXPECT_EQ(round.form().handOver().Held(), 0u);
        const auto told = round.fake().finished.find(round.ticket());
        if (told != round.fake().finished.end()) {
            EXPECT_EQ(told->second, round.taken());
        }
        EXPECT_TRUE(!round.toldKept() || round.taken());
        if (round.form().Loaded()) {
            EXPECT_EQ(round.form().handOver().Frame({"/next"}) != 0, !round.taken());
        }
    } while (std::next_permutation(steps.begin(), steps.end()));
    EXPECT_EQ(orders, 720);
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, orders);
}

// The orders last seen to lose or double, and their neighbours.
TEST(HandOverRulesTest, TheOrdersThatWentWrongBefore) {
    struct Case {
        const char* what;
        const char* steps;
        bool taken;
        int unloads;
    } cases[] = {
        // The copy stalled between its answer and the confirmation: the sender's confirmation
        // was taken, so it counts when the copy comes back, however late.
        {"stalled copy", "ce", true, 0},
        // Confirmation and F4 together: in the list before it closes.
        {"confirmed, relayed, closed before the tick", "crx", true, 1},
        {"confirmed, closed before the relay", "cx", true, 1},
        // Too late: the room went back first, and the line said so.
        {"confirmed after the hold", "ec", false, 0},
        {"gone without confirming", "g", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Round round(c.steps);
        EXPECT_EQ(round.taken(), c.taken);
        EXPECT_EQ(round.listed(), c.taken ? 1 : 0);
        EXPECT_EQ(round.fake().unloads, c.unloads);
    }
}

TEST(HandOverRulesTest, RoomIsHeldForItsTimeOnlyWhateverTheTicksSay) {
    FakePlatform fake;
    frmDoredAviro form(fake, fake, Settings{"/i", "/t"});
    form.handOver().Listen(&fake);
    const HandOverTicket first = form.handOver().Frame({"/1"});
    ASSERT_EQ(fake.ticks, std::vector<int>{static_cast<int>(kHandOverHoldMs)});
    fake.clock += 3000;
    const HandOverTicket second = form.handOver().Frame({"/2"});
    EXPECT_EQ(fake.ticks.size(), 1u);  // the first one's tick still comes sooner
    // A tick a little early gives nothing back, and asks again for when it is due.
    fake.clock += 1990;
    form.Tick();
    EXPECT_TRUE(fake.finished.empty());
    EXPECT_EQ(fake.ticks.back(), 10);
    fake.clock += 10;
    form.Tick();
    EXPECT_EQ(fake.finished, (std::map<HandOverTicket, bool>{{first, false}}));
    EXPECT_EQ(fake.ticks.back(), 3000);
    EXPECT_EQ(form.handOver().Held(), 1u);
    fake.confirmations.insert(second);
    fake.clock += 3000;
    form.Tick();
    EXPECT_EQ(fake.finished.at(second), true);
    form.Tick();
    EXPECT_EQ(fake.rows, std::vector<std::string>{"/2"});
}

TEST(DisplayKeyTest, OneServerOneKeyAndTcpDisplaysTheirOwn) {
    struct Case {
        const char* display;
        const char* key;
    } cases[] = {
        {":0", ":0"},
        {":00", ":0"},
        {":0.1", ":0"},
        {"unix:0", ":0"},
        {"/tmp/launch-x/org.xquartz:0", ":0"},
        {":10", ":10"},
        {"localhost:10.0", "localhost:10"},
        {"LocalHost:010", "localhost:10"},
        {"tcp/localhost:10", "localhost:10"},
        {"127.0.0.1:0", "127.0.0.1:0"},
        {"wayland-0", "wayland-0"},
        {"", "nodisplay"},
    };
    for (const Case& c : cases) EXPECT_EQ(DisplayKey(c.display), c.key) << c.display;
    EXPECT_EQ(DisplayKey("h:" + std::string(100, '9')).size(), 64u);
}

}  // namespace
}  // namespace doredaviro
