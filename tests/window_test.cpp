#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/frmDoredAviro.h"
#include "core/paths.h"
#include "fake_platform.h"

namespace doredaviro {
namespace {

using testing::FakePlatform;
using testing::LaunchCall;
using testing::MsgBoxCall;
using Rows = std::vector<std::string>;

const std::string kCaption = "+Korvu支援Tool  Zivev+Korvu";
const MsgBoxCall kWait{"+Korvuの処理が完了するまでお待ち下さい。", MessageStyle::Information,
                       kCaption};
const MsgBoxCall kEmpty{"リストに圧縮/解凍を行う項目がありません。", MessageStyle::Exclamation,
                        kCaption};
const MsgBoxCall kFailed{
    "+Korvuを起動できなかった項目があります。\r\n起動できなかった項目はリストに残しています。",
    MessageStyle::Critical, kCaption};
const MsgBoxCall kSelect{"削除するアイテムを選択して下さい。", MessageStyle::Information, kCaption};
const MsgBoxCall kFull{"リストに登録できる項目は32767件までです。", MessageStyle::Exclamation,
                       kCaption};

class WindowTest : public ::testing::Test {
protected:
    FakePlatform fake_;
    frmDoredAviro form_{fake_, fake_, Settings{"/opt/korvu/Zivev+Korvu.ini", "/opt/korvu/korvu"}};
};

TEST_F(WindowTest, DropsGoInAtTheTopInReverse) {
    form_.lstFileList_OLEDragDrop({"X"});
    EXPECT_EQ(fake_.selected, -1);
    form_.lstFileList_OLEDragDrop({"A", "B", "C"});
    EXPECT_EQ(fake_.rows, (Rows{"C", "B", "A", "X"}));
    // Same path twice, a folder, and empty names from a broken source.
    form_.lstFileList_OLEDragDrop({"/home/u/dir", "", "/home/u/dir"});
    EXPECT_EQ(fake_.rows, (Rows{"/home/u/dir", "/home/u/dir", "C", "B", "A", "X"}));
    EXPECT_TRUE(fake_.msgBoxes.empty());
}

TEST_F(WindowTest, DropPastTheRowLimitAddsNothingAndSays) {
    fake_.rows.assign(kMaxRows - 2, "queued");
    form_.lstFileList_OLEDragDrop({"a", "b"});
    EXPECT_EQ(fake_.ListCount(), kMaxRows);
    EXPECT_TRUE(fake_.msgBoxes.empty());

    form_.lstFileList_OLEDragDrop({"c"});
    EXPECT_EQ(fake_.ListCount(), kMaxRows);
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kFull});

    fake_.rows.clear();
    fake_.msgBoxes.clear();
    form_.lstFileList_OLEDragDrop(Rows(kMaxRows + 1, "p"));
    EXPECT_EQ(fake_.ListCount(), 0);
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kFull});
    // A full-size drop goes in as one batch.
    form_.lstFileList_OLEDragDrop(Rows(kMaxRows, "p"));
    EXPECT_EQ(fake_.ListCount(), kMaxRows);
    EXPECT_EQ(fake_.log.back(), "Insert 32767");
}

TEST_F(WindowTest, DeleteRemovesTheSelectedRowOrAsksForOne) {
    form_.lstFileList_KeyDown(Key::Delete);
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kSelect});

    fake_.rows = {"r0", "r1", "r2", "r3", "r4"};
    form_.lstFileList_KeyDown(Key::Delete);
    EXPECT_EQ(fake_.msgBoxes.size(), 2u);
    EXPECT_EQ(fake_.rows.size(), 5u);

    fake_.selected = 2;
    form_.lstFileList_KeyDown(Key::Delete);
    EXPECT_EQ(fake_.rows, (Rows{"r0", "r1", "r3", "r4"}));
    form_.lstFileList_KeyDown(Key::Other);
    form_.lstFileList_KeyDown(Key::F1);  // the window's business, not the list's
    EXPECT_EQ(fake_.rows.size(), 4u);
    EXPECT_TRUE(fake_.launches.empty());
}

TEST_F(WindowTest, ExecuteLaunchesTopDownThenWaitsThenEmpties) {
    fake_.rows = {"X", "Y", "Z"};
    fake_.curDir = "/home/user/work dir";
    form_.cmdExec_Click();

    const std::string tool = "/opt/korvu/korvu";
    const std::string cwd = "/home/user/work dir";
    EXPECT_EQ(fake_.launches,
              (std::vector<LaunchCall>{{tool, "X", cwd}, {tool, "Y", cwd}, {tool, "Z", cwd}}));
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kWait});
    EXPECT_TRUE(fake_.rows.empty());
    EXPECT_EQ(fake_.selected, -1);
    // The list is emptied only after the user has read the message.
    EXPECT_EQ(fake_.log,
              (Rows{"Launch X", "Launch Y", "Launch Z", "MsgBox " + kWait.prompt, "Remove 0 3"}));
    // A quick batch neither repaints on the way nor flashes a progress bar.
    EXPECT_EQ(fake_.pumps, 0);
    EXPECT_TRUE(fake_.progress.empty());
    EXPECT_EQ(form_.RunningArchivers(), 3);
    form_.ArchiverEnded(2, true);
    form_.ArchiverEnded(2, true);  // told twice, counted once
    form_.ArchiverEnded(1, false);
    EXPECT_EQ(form_.RunningArchivers(), 1);
}

TEST_F(WindowTest, ALongBatchRepaintsAtIntervalsAndShowsProgressLate) {
    fake_.rows.assign(100, "p");
    fake_.clockStep = 10;  // each launch takes 10 ms
    std::vector<int> selectedAtPump;
    bool closed = true;
    fake_.onPump = [&] {
        selectedAtPump.push_back(fake_.selected);
        if (fake_.pumps == 1) {
            // What other processes and the window manager send meanwhile waits; it takes
            // no time of the batch's.
            const long long step = std::exchange(fake_.clockStep, 0);
            form_.lstFileList_OLEDragDrop({"dropped"});
            form_.handOver().Confirm(form_.handOver().Frame({"/handed"}));
            form_.Tick();
            closed = form_.Form_QueryUnload();
            fake_.clockStep = step;
        }
    };
    form_.cmdExec_Click();
    EXPECT_FALSE(closed);
    EXPECT_EQ(fake_.unloads, 0);
    // A repaint every 40 ms or more, each showing the row being started.
    EXPECT_EQ(fake_.pumps, 24);
    ASSERT_EQ(selectedAtPump.size(), 24u);
    EXPECT_EQ(selectedAtPump.front(), 3);
    EXPECT_EQ(selectedAtPump.back(), 95);
    // Progress only once the batch has run half a second.
    ASSERT_FALSE(fake_.progress.empty());
    EXPECT_EQ(fake_.progress.front(), std::make_pair(52, 100));
    EXPECT_EQ(fake_.progress.back(), std::make_pair(96, 100));
    const auto hidden = std::find(fake_.log.begin(), fake_.log.end(), "HideProgress");
    const auto wait = std::find(fake_.log.begin(), fake_.log.end(), "MsgBox " + kWait.prompt);
    EXPECT_LT(hidden, wait);
    EXPECT_EQ(fake_.rows, (Rows{"/handed", "dropped"}));
    EXPECT_EQ(fake_.selected, -1);
}

TEST_F(WindowTest, ExecuteWithAnEmptyQueueOnlyWarns) {
    form_.Form_KeyDown(Key::F1);
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kEmpty});
    EXPECT_TRUE(fake_.launches.empty());
}

TEST_F(WindowTest, FailedLaunchesStayQueuedInOrder) {
    fake_.rows = {"a", "b", "c", "d", "e"};
    fake_.launchSucceeds = [](const LaunchCall& c) {
        return c.argument != "b" && c.argument != "d";
    };
    form_.cmdExec_Click();
    EXPECT_EQ(fake_.launches.size(), 5u);
    EXPECT_EQ(fake_.rows, (Rows{"b", "d"}));
    EXPECT_EQ(fake_.msgBoxes, (std::vector<MsgBoxCall>{kWait, kFailed}));
    EXPECT_EQ(fake_.selected, -1);

    // Nothing started at all: no wait message, nothing removed.
    fake_.msgBoxes.clear();
    fake_.launchSucceeds = [](const LaunchCall&) { return false; };
    form_.cmdExec_Click();
    EXPECT_EQ(fake_.rows, (Rows{"b", "d"}));
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kFailed});
}

TEST_F(WindowTest, NothingElseRunsWhileABatchWaitsAndDropsGoInAfterIt) {
    fake_.rows = {"a", "b", "c"};
    fake_.launchSucceeds = [](const LaunchCall& c) { return c.argument != "b"; };
    fake_.onMsgBox = [this](const MsgBoxCall& box) {
        if (box.prompt != kWait.prompt) return;
        form_.lstFileList_OLEDragDrop({"late1", "late2"});
        fake_.selected = 0;
        form_.lstFileList_KeyDown(Key::Delete);
        form_.Form_KeyDown(Key::F1);
        form_.Form_KeyDown(Key::F4);
        form_.cmdClose_Click();
        form_.lstFileList_OLEDragDrop({"later"});
    };
    form_.cmdExec_Click();
    EXPECT_EQ(fake_.launches.size(), 3u);
    EXPECT_EQ(fake_.unloads, 0);
    EXPECT_TRUE(form_.Loaded());
    EXPECT_FALSE(form_.Busy());
    // In the order they came, each as its own drop, once the batch's last message is closed.
    EXPECT_EQ(fake_.rows, (Rows{"later", "late2", "late1", "b"}));
    const auto failed = std::find(fake_.log.begin(), fake_.log.end(), "MsgBox " + kFailed.prompt);
    ASSERT_NE(failed, fake_.log.end());
    EXPECT_EQ(std::vector<std::string>(failed + 1, fake_.log.end()),
              (Rows{"Insert 2", "Insert 1"}));
}

TEST_F(WindowTest, AWaitingDropPastTheLimitSaysSoAndTheNextStillGoesIn) {
    fake_.rows.assign(kMaxRows - 3, "queued");
    fake_.selected = -1;
    fake_.onMsgBox = [this](const MsgBoxCall& box) {
        if (box.prompt == kSelect.prompt) {
            form_.lstFileList_OLEDragDrop({"1", "2", "3", "4"});  // one too many
            form_.lstFileList_OLEDragDrop({"5", "6"});
        } else if (box.prompt == kFull.prompt) {
            form_.lstFileList_OLEDragDrop({"7"});  // while the limit message is open
        }
    };
    form_.lstFileList_KeyDown(Key::Delete);
    EXPECT_EQ(fake_.msgBoxes, (std::vector<MsgBoxCall>{kSelect, kFull}));
    EXPECT_EQ(fake_.ListCount(), kMaxRows);
    EXPECT_EQ(Rows(fake_.rows.begin(), fake_.rows.begin() + 3), (Rows{"7", "6", "5"}));
    EXPECT_FALSE(form_.Busy());
}

TEST_F(WindowTest, CommandLinePathsAreOneDropMadeAbsolute) {
    const char sep = fake_.PathSeparator();
    const std::string start = sep == '/' ? "/home/u" : "C:\\u";
    const std::string absolute = sep == '/' ? "/abs/x" : "D:\\abs\\x";
    form_.SetCommandLine({"a", "", absolute, "--", "dir" + std::string(1, sep) + "b c"}, start);
    EXPECT_TRUE(fake_.rows.empty());  // not before the window is shown
    fake_.rows = {"queued"};
    form_.OpenCommandLine();
    EXPECT_EQ(fake_.rows, (Rows{start + sep + "dir" + sep + "b c", start + sep + "--", absolute,
                                start + sep + "a", "queued"}));
    EXPECT_EQ(fake_.log, (Rows{"Insert 4"}));
    form_.OpenCommandLine();  // only once
    EXPECT_EQ(fake_.rows.size(), 5u);

    // Past the limit: nothing goes in, and the usual message says why.
    fake_.rows.assign(kMaxRows - 1, "queued");
    form_.SetCommandLine({"a", "b"}, start);
    form_.OpenCommandLine();
    EXPECT_EQ(fake_.ListCount(), kMaxRows - 1);
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kFull});
}

TEST_F(WindowTest, AHandOverIsAnsweredAtOnceAndGoesInAsAQueuedEvent) {
    HandOver& handOver = form_.handOver();
    const HandOverTicket ticket = handOver.Frame({"/h/1", "/h/2"});
    EXPECT_NE(ticket, 0u);
    EXPECT_TRUE(fake_.rows.empty());  // not inside the call that received it
    EXPECT_TRUE(handOver.Confirm(ticket));
    EXPECT_TRUE(fake_.rows.empty());  // nor inside the one that confirmed it
    EXPECT_EQ(fake_.broughtToFront, 0);
    ASSERT_EQ(fake_.ticks.back(), 0);
    form_.Tick();
    EXPECT_EQ(fake_.rows, (Rows{"/h/2", "/h/1"}));
    EXPECT_EQ(fake_.broughtToFront, 1);
    EXPECT_FALSE(handOver.Confirm(ticket));  // once only
    form_.Tick();
    EXPECT_EQ(fake_.rows.size(), 2u);

    // The list cannot take them: refused at once, and no message at all.
    fake_.rows.assign(kMaxRows - 1, "queued");
    EXPECT_EQ(handOver.Frame({"/h/3", "/h/4"}), 0u);
    EXPECT_TRUE(fake_.msgBoxes.empty());
    EXPECT_EQ(fake_.ListCount(), kMaxRows - 1);
}

TEST_F(WindowTest, RoomPromisedToAHandOverIsKeptUntilItComesOrGoes) {
    HandOver& handOver = form_.handOver();
    fake_.rows.assign(kMaxRows - 4, "queued");
    const HandOverTicket first = handOver.Frame({"/h/1", "/h/2"});
    ASSERT_NE(first, 0u);
    // Held rows count: two more fit, three do not.
    EXPECT_EQ(handOver.Frame({"/h/3", "/h/4", "/h/5"}), 0u);
    // A drop meanwhile goes in at once, but only into the room that is left.
    form_.lstFileList_OLEDragDrop({"d1"});
    EXPECT_EQ(fake_.rows.front(), "d1");
    form_.lstFileList_OLEDragDrop({"d2", "d3"});
    EXPECT_EQ(fake_.msgBoxes, std::vector<MsgBoxCall>{kFull});
    EXPECT_TRUE(handOver.Confirm(first));
    form_.Tick();
    EXPECT_EQ(fake_.ListCount(), kMaxRows - 1);
    EXPECT_EQ(fake_.rows.front(), "/h/2");

    // A sender that went without its answer frees its room.
    const HandOverTicket gone = handOver.Frame({"/h/6"});
    ASSERT_NE(gone, 0u);
    EXPECT_EQ(handOver.Frame({"/h/7"}), 0u);
    handOver.Gone(gone);
    EXPECT_FALSE(handOver.Confirm(gone));
    const HandOverTicket last = handOver.Frame({"/h/7"});
    EXPECT_TRUE(handOver.Confirm(last));
    form_.Tick();
    EXPECT_EQ(fake_.ListCount(), kMaxRows);
    EXPECT_EQ(fake_.rows.front(), "/h/7");
}

TEST_F(WindowTest, WhileAMessageIsOpenAFullListRefusesAtOnceAndWhatWaitsStaysBounded) {
    fake_.rows.assign(kMaxRows - 1, "queued");
    std::vector<HandOverTicket> tickets;
    fake_.onMsgBox = [&](const MsgBoxCall& box) {
        if (box.prompt != kSelect.prompt) return;
        tickets.push_back(form_.handOver().Frame({"/h/1"}));
        tickets.push_back(form_.handOver().Frame({"/h/2"}));  // the first took the last row
        form_.handOver().Confirm(tickets[0]);
        form_.Tick();
        form_.lstFileList_OLEDragDrop(Rows(kMaxRows + 1, "huge"));  // never fits any list
    };
    form_.lstFileList_KeyDown(Key::Delete);
    ASSERT_EQ(tickets.size(), 2u);
    EXPECT_NE(tickets[0], 0u);
    EXPECT_EQ(tickets[1], 0u);
    EXPECT_EQ(fake_.msgBoxes, (std::vector<MsgBoxCall>{kSelect, kFull}));
    EXPECT_EQ(fake_.ListCount(), kMaxRows);
    EXPECT_EQ(fake_.rows.front(), "/h/1");
}

TEST_F(WindowTest, AHandOverDuringABatchIsTakenAndGoesInAfterIt) {
    fake_.rows = {"a"};
    fake_.onMsgBox = [&](const MsgBoxCall& box) {
        if (box.prompt == kWait.prompt) {
            const HandOverTicket ticket = form_.handOver().Frame({"/h/1"});
            EXPECT_NE(ticket, 0u);
            EXPECT_TRUE(form_.handOver().Confirm(ticket));
            form_.Tick();
            EXPECT_EQ(fake_.rows, Rows{"a"});
        }
    };
    form_.cmdExec_Click();
    EXPECT_EQ(fake_.rows, Rows{"/h/1"});
}

TEST_F(WindowTest, EveryWayOfClosingRunsTheSameCloseAndTakesNothingAfter) {
    using Close = std::function<bool(frmDoredAviro&)>;
    const std::vector<std::pair<std::string, Close>> ways = {
        {"F4", [](frmDoredAviro& f) { return f.Form_KeyDown(Key::F4), true; }},
        {"close button", [](frmDoredAviro& f) { return f.cmdClose_Click(), true; }},
        {"window manager", [](frmDoredAviro& f) { return f.Form_QueryUnload(); }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        FakePlatform fake;
        frmDoredAviro form(fake, fake, Settings{"/i", "/t"});
        form.handOver().Listen(&fake);
        const HandOverTicket held = form.handOver().Frame({"/h/held"});
        ASSERT_NE(held, 0u);
        // Refused while a message is open.
        fake.onMsgBox = [&](const MsgBoxCall&) {
            EXPECT_FALSE(form.Form_QueryUnload());
            close(form);
        };
        form.cmdExec_Click();
        EXPECT_TRUE(form.Loaded());
        fake.onMsgBox = nullptr;

        EXPECT_TRUE(close(form));
        EXPECT_FALSE(form.Loaded());
        EXPECT_EQ(fake.unloads, 1);
        // The sender of what was held, and any later one, hear it was not added.
        EXPECT_EQ(fake.finished, (std::map<HandOverTicket, bool>{{held, false}}));
        EXPECT_FALSE(form.handOver().Confirm(held));
        EXPECT_EQ(form.handOver().Frame({"/h/late"}), 0u);
        EXPECT_EQ(fake.broughtToFront, 0);
        EXPECT_TRUE(form.Form_QueryUnload());  // the window's own close after ours
        EXPECT_EQ(fake.unloads, 1);
    }
}

// --- When the archivers end ---

class ArchiversTest : public WindowTest {
protected:
    // Execute over `paths`, each archiver started as process 1, 2, ... in order.
    void Run(const Rows& paths) {
        fake_.rows = paths;
        form_.cmdExec_Click();
    }
    void After(long long ms) { fake_.clock += ms; }
};

TEST_F(ArchiversTest, EndingInAnyOrderCountsOnceAndTellsOnceAtTheEnd) {
    Run({"/a", "/b", "/c"});
    EXPECT_EQ(fake_.taskbar, (std::vector<std::pair<int, int>>{{0, 3}}));
    After(5000);
    form_.ArchiverEnded(3, true);
    form_.ArchiverEnded(1, false);
    form_.ArchiverEnded(1, false);   // told twice
    form_.ArchiverEnded(99, false);  // not one of ours
    EXPECT_TRUE(fake_.notices.empty());
    form_.ArchiverEnded(2, true);
    // The last to end: the task bar clears, and one notice names the failure.
    EXPECT_EQ(fake_.taskbar.back(), std::make_pair(0, 0));
    ASSERT_EQ(fake_.notices.size(), 1u);
    EXPECT_EQ(fake_.notices[0].title, "+Korvuの処理が終わりました");
    EXPECT_EQ(fake_.notices[0].text, "3件のうち1件が失敗しました。\n/a");
    EXPECT_TRUE(fake_.notices[0].failure);
}

TEST_F(ArchiversTest, FailuresNameTheFirstTwoAndCountTheRest) {
    Run({"/4\xff", "/3", "/2", "/1"});
    After(5000);
    for (long long p : {1, 2, 3, 4}) form_.ArchiverEnded(p, false);
    ASSERT_EQ(fake_.notices.size(), 1u);
    // In the order they ended. A name that is no UTF-8 is shown, not sent raw.
    EXPECT_EQ(fake_.notices[0].text, "4件すべて失敗しました。\n/4\xef\xbf\xbd\n/3\nほか2件");
    EXPECT_TRUE(fake_.notices[0].putBack);
}

TEST_F(ArchiversTest, ASuccessIsToldOnlyToSomeoneElsewhereAndAShortRunNotAtAll) {
    Run({"/a"});
    After(5000);
    form_.ArchiverEnded(1, true);
    EXPECT_TRUE(fake_.notices.empty());  // the window is active

    fake_.active = false;
    Run({"/b", "/c"});
    After(5000);
    form_.ArchiverEnded(2, true);
    form_.ArchiverEnded(3, true);
    ASSERT_EQ(fake_.notices.size(), 1u);
    EXPECT_EQ(fake_.notices[0].text, "2件の処理が終わりました。");
    EXPECT_FALSE(fake_.notices[0].failure);

    Run({"/quick"});
    After(1000);
    form_.ArchiverEnded(4, false);
    EXPECT_EQ(fake_.notices.size(), 1u);
    EXPECT_EQ(fake_.taskbar.back(), std::make_pair(0, 0));
}

TEST_F(ArchiversTest, ABatchWhileOthersRunJoinsTheirRun) {
    Run({"/a", "/b"});
    After(2000);
    form_.ArchiverEnded(1, true);
    Run({"/c"});
    EXPECT_EQ(fake_.taskbar.back(), std::make_pair(1, 3));
    After(2000);
    form_.ArchiverEnded(3, false);
    form_.ArchiverEnded(2, true);
    ASSERT_EQ(fake_.notices.size(), 1u);
    EXPECT_EQ(fake_.notices[0].text, "3件のうち1件が失敗しました。\n/c");
}

// Archivers that end while the rest are still being started belong to the same run.
TEST_F(ArchiversTest, EndingsDuringTheLaunchesStayInTheirRun) {
    fake_.clockStep = kPumpIntervalMs;  // the loop lets events in at every row
    fake_.onPump = [this] {
        for (long long p = 1; p <= fake_.lastProcess; ++p) form_.ArchiverEnded(p, p % 2 == 0);
    };
    Run({"/e", "/d", "/c", "/b", "/a"});
    form_.ArchiverEnded(5, false);
    EXPECT_EQ(fake_.records.size(), 1u);
    fake_.rows.clear();
    form_.Form_KeyDown(Key::F5);
    EXPECT_EQ(fake_.rows, (Rows{"/e", "/c", "/a"}));
}

TEST_F(ArchiversTest, ManyEndingAtOnceUpdateTheTaskBarAFewTimesASecond) {
    Run(Rows(2000, "/p"));
    fake_.taskbar.clear();
    for (long long p = 1; p <= 1999; ++p) {
        if (p % 100 == 0) After(50);  // 2000 ends within a second
        form_.ArchiverEnded(p, true);
    }
    EXPECT_LE(fake_.taskbar.size(), 5u);
    // A change held back is shown when the tick it asked for comes.
    ASSERT_FALSE(fake_.ticks.empty());
    form_.Tick();
    EXPECT_EQ(fake_.taskbar.back(), std::make_pair(1999, 2000));
}

TEST_F(ArchiversTest, EachRunIsRecordedInTheOrderStarted) {
    Run({"/b\tc", "/a"});
    fake_.wallClock += 1500;
    form_.ArchiverEnded(2, ArchiverEnd{false, -1, 9, "killed"});
    form_.ArchiverEnded(1, ArchiverEnd{false, 2, 0, "no room\n"});
    ASSERT_EQ(fake_.records.size(), 1u);
    EXPECT_EQ(fake_.records[0].first, "run-2025-12-09T00-50-53.123Z.tsv");
    EXPECT_EQ(fake_.records[0].second,
              "# Zivev+Korvu run record 1\n"
              "2025-12-09T00:50:53.123Z\t2025-12-09T00:50:54.623Z\texit 2\t/b\\tc\tno room\\n\n"
              "2025-12-09T00:50:53.123Z\t2025-12-09T00:50:54.623Z\tsignal 9\t/a\tkilled\n");
    EXPECT_EQ(form_.LastRecord(), "/state/run-2025-12-09T00-50-53.123Z.tsv");
}

// The failures go back as the drop that listed them: in the list's order, under the rules of
// any drop, and once.
TEST_F(ArchiversTest, PutBackIsOneDropOfTheFailures) {
    struct Case {
        const char* name;
        Rows listedMeanwhile;  // rows added after the run
        bool fromNotice;
        bool duringMessage;
        Rows expected;
        bool full;
    };
    const Case cases[] = {
        {"by key, in the order listed", {}, false, false, {"/c", "/a"}, false},
        {"from the notice, above rows added since",
         {"/new"},
         true,
         false,
         {"/c", "/a", "/new"},
         false},
        {"while a message is open it waits", {}, false, true, {"/c", "/a"}, false},
        {"past the limit: the list's message", Rows(kMaxRows - 1, "p"), false, false, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        frmDoredAviro form{fake, fake, Settings{"/i", "/k"}};
        fake.rows = {"/c", "/b", "/a"};
        form.cmdExec_Click();
        for (long long p : {3, 2, 1}) form.ArchiverEnded(p, p == 2);
        fake.rows = c.listedMeanwhile;
        fake.msgBoxes.clear();
        if (c.duringMessage) {
            fake.onMsgBox = [&](const MsgBoxCall&) {
                form.Form_KeyDown(Key::F5);
                EXPECT_TRUE(fake.rows.empty());
            };
            form.cmdExec_Click();  // an empty list's message
        } else if (c.fromNotice) {
            form.NoticeAnswered(NoticeAnswer::PutBack);
            EXPECT_EQ(fake.broughtToFront, 1);
        } else {
            form.Form_KeyDown(Key::F5);
        }
        if (c.full) {
            EXPECT_EQ(fake.msgBoxes, std::vector<MsgBoxCall>{kFull});
            EXPECT_EQ(fake.rows.size(), c.listedMeanwhile.size());
        } else {
            EXPECT_EQ(fake.rows, c.expected);
        }
        const auto rows = fake.rows;
        form.Form_KeyDown(Key::F5);
        EXPECT_EQ(fake.rows, rows);
        EXPECT_TRUE(fake.programStarts.empty());
    }
}

// Closing never waits for the archivers, nor loses what they did: the process stays without
// its window until they end and the notice is answered.
TEST_F(ArchiversTest, AClosedWindowStillTellsAndThenEnds) {
    struct Case {
        const char* name;
        bool answered;  // the desktop shows the notice and will say what became of it
        std::function<void(frmDoredAviro&, FakePlatform&)> then;
        Rows viewed;
        std::vector<Rows> started;
    };
    const Case cases[] = {
        {"put back: a new start takes them",
         true,
         [](frmDoredAviro& f, FakePlatform&) { f.NoticeAnswered(NoticeAnswer::PutBack); },
         {},
         {{"/a", "/c"}}},
        {"clicked: the record opens",
         true,
         [](frmDoredAviro& f, FakePlatform&) { f.NoticeAnswered(NoticeAnswer::Clicked); },
         {"/state/run-2025-12-09T00-50-53.123Z.tsv"},
         {}},
        {"never answered: it ends in time",
         true,
         [](frmDoredAviro& f, FakePlatform& k) {
             k.clock += kClosedNoticeWaitMs;
             f.Tick();
         },
         {},
         {}},
        {"no notice service", false, nullptr, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        frmDoredAviro form{fake, fake, Settings{"/i", "/k"}};
        fake.noticesAnswered = c.answered;
        fake.rows = {"/c", "/b", "/a"};
        form.cmdExec_Click();
        form.Form_KeyDown(Key::F4);
        EXPECT_EQ(fake.unloads, 1);  // at once
        for (long long p : {1, 2, 3}) form.ArchiverEnded(p, p == 2);
        EXPECT_EQ(fake.records.size(), 1u);
        ASSERT_EQ(fake.notices.size(), 1u);  // however short the run
        EXPECT_EQ(fake.notices[0].text, "3件のうち2件が失敗しました。\n/c\n/a");
        if (c.then) {
            EXPECT_EQ(fake.programEnds, 0);
            c.then(form, fake);
        }
        EXPECT_EQ(fake.programEnds, 1);
        EXPECT_EQ(fake.viewed, c.viewed);
        EXPECT_EQ(fake.programStarts, c.started);
        EXPECT_TRUE(fake.taskbar.back() == std::make_pair(0, 3));  // nothing more shown
    }
    // With nothing running, closing ends the program at once.
    form_.Form_KeyDown(Key::F4);
    EXPECT_EQ(fake_.programEnds, 1);
}

TEST_F(WindowTest, FunctionKeysWorkTheButtons) {
    fake_.rows = {"only"};
    form_.Form_KeyDown(Key::F1);
    EXPECT_EQ(fake_.launches.size(), 1u);
    form_.Form_KeyDown(Key::Delete);
    form_.Form_KeyDown(Key::Other);
    EXPECT_EQ(fake_.unloads, 0);
    form_.Form_KeyDown(Key::F4);
    EXPECT_EQ(fake_.unloads, 1);
    EXPECT_FALSE(form_.Loaded());
}

// Every front end asks this one rule, so no two can read a key differently.
TEST(KeyOfTest, ShiftStatesChangeOnlyThePasteKeys) {
    using namespace keycode;
    const int all = kShift | kCtrl | kAlt;
    for (int shift = 0; shift <= all; ++shift) {
        EXPECT_EQ(KeyOf(kF1, shift), Key::F1) << shift;
        EXPECT_EQ(KeyOf(kF4, shift), Key::F4) << shift;
        EXPECT_EQ(KeyOf(kDelete, shift), Key::Delete) << shift;
        EXPECT_EQ(KeyOf(kV, shift), shift == kCtrl ? Key::Paste : Key::Other) << shift;
        EXPECT_EQ(KeyOf(kInsert, shift), shift == kShift ? Key::Paste : Key::Other) << shift;
        EXPECT_EQ(KeyOf('A', shift), Key::Other) << shift;
    }
}

TEST(ShownPathTest, OneLineOfValidUtf8WithThePathUnchangedOtherwise) {
    const std::pair<std::string, std::string> cases[] = {
        {"/tmp/日本語/a b.txt", "/tmp/日本語/a b.txt"},
        {"/a\nb\rc\td", "/a↵b↵c→d"},
        {std::string("/x\0\x01\x1f\x7f", 6), "/x\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"/bad-\xff\xc3", "/bad-\uFFFD\uFFFD"},
        {"C:\\x\xED\xA0\x80y", "C:\\x\uFFFDy"},  // a lone surrogate, as Windows names keep it
    };
    for (const auto& [path, shown] : cases) EXPECT_EQ(ShownPath(path), shown) << path;
}

TEST_F(WindowTest, AlwaysOnTopFollowsTheCheckBox) {
    for (CheckState state :
         {CheckState::Checked, CheckState::Unchecked, CheckState::Checked, CheckState::Grayed}) {
        fake_.checkState = state;
        form_.chkWinPos_Click();
    }
    EXPECT_EQ(fake_.alwaysOnTop, (std::vector<bool>{true, false, true, false}));
}

float Prop(FakePlatform& fake, Control c, doredaviro::Prop p) { return fake.Get(c, p); }

TEST_F(WindowTest, ResizeMatchesTheWorkedExample) {
    form_.Form_Resize();
    using C = Control;
    using P = doredaviro::Prop;
    EXPECT_FLOAT_EQ(Prop(fake_, C::lstFileList, P::Height), 2329.41176f);
    EXPECT_FLOAT_EQ(Prop(fake_, C::lstFileList, P::Width), 7955.88235f);
    EXPECT_FLOAT_EQ(Prop(fake_, C::lblF1, P::Left), 2427.94117f);
    EXPECT_FLOAT_EQ(Prop(fake_, C::lblF1, P::Top), 3229.41176f);
    EXPECT_FLOAT_EQ(Prop(fake_, C::cmdExec, P::Left), 2427.94117f);
    EXPECT_FLOAT_EQ(Prop(fake_, C::cmdExec, P::Top), 3429.41176f);
    EXPECT_FLOAT_EQ(Prop(fake_, C::lblF4, P::Left), 4397.94117f);
    EXPECT_FLOAT_EQ(Prop(fake_, C::cmdClose, P::Top), 3429.41176f);
    // Nothing else moves.
    EXPECT_EQ(Prop(fake_, C::lstFileList, P::Left), 100.0f);
    EXPECT_EQ(Prop(fake_, C::lstFileList, P::Top), 735.0f);
    EXPECT_EQ(Prop(fake_, C::chkWinPos, P::Top), 135.0f);
    EXPECT_EQ(Prop(fake_, C::cmdExec, P::Width), 1350.0f);
}

TEST_F(WindowTest, ResizeReadsTheListBackAndSurvivesZero) {
    using C = Control;
    using P = doredaviro::Prop;
    fake_.scaleWidth = 0;
    fake_.scaleHeight = 0;
    form_.Form_Resize();
    EXPECT_EQ(Prop(fake_, C::lstFileList, P::Height), 0.0f);
    EXPECT_EQ(Prop(fake_, C::lblF1, P::Top), 900.0f);
    EXPECT_EQ(Prop(fake_, C::cmdExec, P::Top), 1100.0f);
    EXPECT_EQ(Prop(fake_, C::lblF1, P::Left), -1550.0f);
    EXPECT_EQ(Prop(fake_, C::cmdClose, P::Left), 420.0f);

    // A list that shows only whole rows of 180 twips keeps less than it is given.
    fake_.scaleWidth = 8115;
    fake_.scaleHeight = 3960;
    fake_.listHeightReadBack = [](float h) { return std::floor(h / 180.0f) * 180.0f; };
    form_.Form_Resize();
    EXPECT_EQ(Prop(fake_, C::lstFileList, P::Height), 2160.0f);
    EXPECT_EQ(Prop(fake_, C::lblF4, P::Top), 3060.0f);
    EXPECT_EQ(Prop(fake_, C::cmdClose, P::Top), 3260.0f);
}

}  // namespace
}  // namespace doredaviro
