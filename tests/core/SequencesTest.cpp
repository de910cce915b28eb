// The console's timed sequences (dispatch, confirmed sends, the push, the toggle) on a clock the
// test turns and a line that records what goes out: each pause shows what was written before
// it, and a controller that answers inside the pauses confirms or withholds each command.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "DispatchQueue.h"
#include "MachineParameters.h"
#include "MemoryDatabase.h"
#include "PositionDispatch.h"
#include "ProfileMode.h"
#include "RecordingDriver.h"
#include "ReplyHandler.h"
#include "SettingsPush.h"
#include "TestClock.h"
#include "Text.h"

namespace velkor {
namespace {

void loadTestVariables(MachineVariables& variables) {
    loadMachineVariables(variables, {{"Qty_Imp_mm", "10"},
                                     {"L_upor", "50"},
                                     {"Step_pnevmo", "10"},
                                     {"SH_S", "500"},
                                     {"head_DELTA", "200"},
                                     {"STP_OUT", "30"},
                                     {"setSpeed", "900"},
                                     {"setAccel", "40"},
                                     {"S_SH_S", "20"},
                                     {"stToR", "15"},
                                     {"L1headPaz", "195.6"},
                                     {"setS_OUT", "300"},
                                     {"setA_OUT", "30"},
                                     {"R_DELTA", "5"},
                                     {"uporDelay", "100"},
                                     {"SbrosDelay", "200"},
                                     {"n_uporDelay", "300"}});
}

// What went out and the pauses, in the order they came, as "R_POS5000" and "150 ms".
class Timeline {
  public:
    Timeline(test::RecordingDriver::Log& log, test::TestClock& clock) : log_(log) {
        clock.duringPause = [this](int milliseconds) {
            const std::string written = log_.writtenSoFar();
            if (written.size() > seen_) {
                const std::string sent = written.substr(seen_);
                seen_ = written.size();
                entries.push_back(sent);
                if (answer) {
                    answer(sent);
                }
            }
            entries.push_back(std::to_string(milliseconds) + " ms");
            if (meanwhile) {
                meanwhile();
            }
        };
    }

    // Only what was written.
    std::vector<std::string> sent() const {
        std::vector<std::string> commands;
        std::copy_if(entries.begin(), entries.end(), std::back_inserter(commands),
                     [](const std::string& e) { return !e.ends_with(" ms"); });
        return commands;
    }

    std::vector<std::string> entries;
    std::function<void(const std::string& sent)> answer;  // the controller, inside the pause
    std::function<void()> meanwhile;                      // the operator, inside the pause

  private:
    test::RecordingDriver::Log& log_;
    std::size_t seen_ = 0;
};

// A controller that confirms each command by echoing it, once it has withheld the answer as
// many times as the test says.
class Sequences : public ::testing::Test {
  protected:
    Sequences() {
        log.waitForBytes = true;
        loadTestVariables(variables);
        port.OpenPort();
        timeline.answer = [this](const std::string& sent) {
            if (int& left = withheld[sent]; left > 0) {
                --left;
                return;
            }
            replies.handle(sent);
        };
    }
    ~Sequences() override { port.ClosePort(); }

    std::size_t sentTimes(const std::string& command) const {
        const auto all = timeline.sent();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), command));
    }

    test::RecordingDriver::Log log;
    test::TestClock clock;
    Timeline timeline{log, clock};
    std::map<std::string, int> withheld;
    EventLog eventLog;
    MachineVariables variables;
    ProductionCounter counter{eventLog, {}};
    ReplyHandler replies{eventLog, counter, clock};
    TComPort port{std::make_unique<test::RecordingDriver>(log)};
    ControllerLine line{port, clock};
    ConfirmedSender sender{line, replies, eventLog, clock};
    std::vector<std::string> acknowledged;  // by the controller, in the sequence under test
};

TEST_F(Sequences, ADispatchReadsEveryFieldFirstAndSendsTheFilledOnesBetweenItsPauses) {
    PositionFields fields{"550", "", " 1050,5 ", "", "", "", "", "900"};
    dispatchPositions(fields, variables, line, clock, clock.now());
    EXPECT_EQ(timeline.entries, (std::vector<std::string>{"150 ms", "R_POS5000", "200 ms", "200 ms",
                                                          "R3_POS10005", "200 ms", "200 ms",
                                                          "200 ms", "200 ms", "200 ms", "150 ms"}));

    // A field that is no number (even the eighth, which has no command) stops the dispatch
    // before anything of the piece goes out.
    timeline.entries.clear();
    fields[7] = "12x";
    EXPECT_THROW(dispatchPositions(fields, variables, line, clock, clock.now()), std::exception);
    EXPECT_EQ(timeline.entries, std::vector<std::string>{"150 ms"});
}

TEST_F(Sequences, AConfirmedSendRepeatsUntilConfirmedAndEscEndsOnlyItsSequence) {
    withheld["L1headPaz1956"] = 2;
    std::vector<int> waitingShown;
    sender.setWaitingObserver([&](std::optional<ConfirmedSender::Waiting> waiting) {
        waitingShown.push_back(waiting ? waiting->sent : 0);
    });
    sender.runSequence([&] {
        sender.send("SH_S100", 100);
        sender.send("L1headPaz1956", 100);
    });
    EXPECT_EQ(timeline.entries,
              (std::vector<std::string>{"SH_S100", "100 ms", "L1headPaz1956", "100 ms",
                                        "L1headPaz1956", "100 ms", "L1headPaz1956", "100 ms"}));
    EXPECT_EQ(waitingShown, (std::vector<int>{2, 3, 0}));

    // Never confirmed: Esc after the second repeat ends the sequence there; the one around it
    // goes on.
    withheld["STP_OUT300"] = 1000;
    bool escPressed = false;
    timeline.meanwhile = [&] {
        if (!escPressed && sentTimes("STP_OUT300") == 3) {
            escPressed = true;
            EXPECT_TRUE(sender.cancelInnermost());
        }
    };
    sender.runSequence([&] {
        sender.runSequence([&] {
            sender.send("STP_OUT300", 100);
            sender.send("never sent", 100);
        });
        EXPECT_EQ(eventLog.lines().back(), "CANCEL STP_OUT300");
        sender.send("Lamin0", 100);
    });
    EXPECT_EQ(sentTimes("STP_OUT300"), 3u);
    EXPECT_EQ(sentTimes("never sent"), 0u);
    EXPECT_EQ(timeline.sent().back(), "Lamin0");
    EXPECT_FALSE(sender.running());
}

TEST_F(Sequences, ThePushSendsTheFourteenSettingsConfirmedAndEndsWithImportGood) {
    eventLog.append("before the push");
    EXPECT_EQ(runSettingsPush(sender, variables, eventLog, acknowledged), SequenceEnd::Completed);
    EXPECT_EQ(acknowledged, timeline.sent());
    EXPECT_EQ(timeline.sent(),
              (std::vector<std::string>{"SH_S5000", "setSpeed900", "setAccel40", "S_SH_S200",
                                        "stToR150", "L1headPaz1956", "STP_OUT300", "setS_OUT300",
                                        "setA_OUT30", "head_DELTA2000", "R_DELTA50", "uporDelay100",
                                        "SbrosDelay200", "n_uporDelay300"}));
    std::vector<int> pauses(14, 100);
    pauses.insert(pauses.begin(), 300);
    pauses.push_back(150);
    EXPECT_EQ(clock.pauses, pauses);
    EXPECT_EQ(eventLog.lines(), std::vector<std::string>{"IMPORT GOOD!!!"});

    // Ended by the operator: the log says where, and no "IMPORT GOOD!!!".
    withheld["stToR150"] = 1000;
    timeline.meanwhile = [&] {
        if (sentTimes("stToR150") == 2) {
            sender.cancelInnermost();
        }
    };
    acknowledged.clear();
    EXPECT_EQ(runSettingsPush(sender, variables, eventLog, acknowledged),
              SequenceEnd::EndedByOperator);
    EXPECT_EQ(acknowledged,
              (std::vector<std::string>{"SH_S5000", "setSpeed900", "setAccel40", "S_SH_S200"}));
    EXPECT_EQ(eventLog.lines().back(), "CANCEL stToR150");
    EXPECT_EQ(timeline.sent().back(), "stToR150");
}

TEST_F(Sequences, TheToggleShiftsLengthsByTheStrokeAndShowsOnlyWhatTheControllerConfirmed) {
    std::vector<int> shown;
    ProfileMode mode{sender, variables, eventLog, [&](int m) { shown.push_back(m); }};
    timeline.meanwhile = [&] {
        mode.toggle(acknowledged);
    };  // clicks during a toggle start nothing
    mode.toggle(acknowledged);
    EXPECT_EQ(timeline.sent(),
              (std::vector<std::string>{"Lamin1", "SH_S4800", "head_DELTA1900", "STP_OUT400"}));
    EXPECT_EQ(clock.pauses, (std::vector<int>{500, 500, 500, 500}));
    EXPECT_EQ(eventLog.lines().back(), "IMPORT lam!!!");

    timeline.entries.clear();
    clock.pauses.clear();
    mode.toggle(acknowledged);
    EXPECT_EQ(timeline.sent(),
              (std::vector<std::string>{"Lamin0", "SH_S5000", "head_DELTA2000", "STP_OUT300"}));
    EXPECT_EQ(clock.pauses, (std::vector<int>{100, 100, 100, 100}));
    EXPECT_EQ(eventLog.lines().back(), "IMPORT White!!!");

    // A toggle Esc ends shows the last confirmed mode again; the next one sends all four.
    withheld["head_DELTA1900"] = 1000;
    timeline.meanwhile = [&] {
        if (sentTimes("head_DELTA1900") == 2) {
            sender.cancelInnermost();
        }
    };
    mode.toggle(acknowledged);
    EXPECT_EQ(shown, (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(mode.shown(), 0);
    withheld.clear();
    timeline.meanwhile = {};
    timeline.entries.clear();
    mode.toggle(acknowledged);
    EXPECT_EQ(timeline.sent().size(), 4u);
    EXPECT_EQ(mode.shown(), 1);
}

// What the queue puts on record, one line an entry.
struct LedgerLines final : DispatchLedger {
    std::string begin(Begun dispatch) override {
        lines.push_back("begin " + dispatch.scan.value_or("-"));
        return std::to_string(lines.size());
    }
    void sent(const std::string& /*key*/, const std::string& command) override {
        lines.push_back(command);
    }
    void end(const std::string& /*key*/, DispatchOutcome outcome, int stoppedAt,
             const std::string& /*message*/) override {
        lines.push_back(std::string(outcomeCode(outcome)) + " " + std::to_string(stoppedAt));
    }
    void dropped(const std::optional<std::string>& scan, const std::string& /*why*/) override {
        lines.push_back("dropped " + scan.value_or("-"));
    }
    std::vector<std::string> lines;
};

// The queue of dispatches, on the same clock and line.
class ConsoleDispatches : public ::testing::Test {
  protected:
    ConsoleDispatches() {
        log.waitForBytes = true;
        loadTestVariables(variables);
        queue.editField(0, "150");
        port.OpenPort();
    }
    ~ConsoleDispatches() override { port.ClosePort(); }

    test::RecordingDriver::Log log;
    test::TestClock clock;
    Timeline timeline{log, clock};
    EventLog eventLog;
    MachineVariables variables;
    TComPort port{std::make_unique<test::RecordingDriver>(log)};
    ControllerLine line{port, clock};
    test::MemoryDatabase database{std::make_shared<test::MemoryDatabase::Contents>()};
    std::vector<std::string> activity;
    LedgerLines ledger;
    DispatchQueue queue{{database, variables, line, clock, eventLog, ledger},
                        [] { return false; },
                        {},
                        [this] { activity.push_back(std::to_string(queue.waiting())); }};
};

TEST_F(ConsoleDispatches, ClicksDuringADispatchWaitTheirTurnAndEachPieceGoesOutWhole) {
    timeline.meanwhile = [&] {
        if (clock.pauses.size() == 1) {  // in the first dispatch's first pause
            queue.sendFields();
            queue.sendFields();
        } else if (clock.pauses.size() == 2) {  // the first has read its fields already
            queue.editField(0, "250");
        }
    };
    queue.sendFields();
    EXPECT_EQ(timeline.sent(), (std::vector<std::string>{"R_POS1000", "R_POS2000", "R_POS2000"}));
    EXPECT_EQ(clock.pauses.size(), 3u * 9u);
    // Asked for, taken up, two more asked for meanwhile, each taken up in turn, done.
    EXPECT_EQ(activity, (std::vector<std::string>{"1", "0", "1", "2", "1", "0", "0"}));

    // A line that fails drops those waiting behind it, and the log says how many.
    timeline.entries.clear();
    clock.pauses.clear();
    timeline.meanwhile = [&] {
        if (clock.pauses.size() == 1) {
            queue.sendFields();
            queue.sendFields();
            port.ClosePort();
        }
    };
    EXPECT_THROW(queue.sendFields(), std::exception);
    EXPECT_TRUE(timeline.sent().empty());
    EXPECT_EQ(queue.waiting(), 0u);
    EXPECT_TRUE(eventLog.lines().back().ends_with(": 2"));
}

TEST_F(ConsoleDispatches, EveryDispatchGoesOnRecordWithWhatItSentAndWhereItEnded) {
    queue.editField(2, "250");
    queue.sendFields();
    queue.editField(5, "12x");  // checked before anything goes out: stopped there
    EXPECT_THROW(queue.sendFields(), std::exception);
    EXPECT_THROW(queue.scan("abc"), std::exception);  // no barcode: nothing begins
    timeline.meanwhile = [&] {
        if (clock.pauses.size() == 1) {  // the line fails with one more waiting
            queue.sendFields();
            port.ClosePort();
        }
    };
    queue.editField(0, "150");  // the scan emptied the fields
    clock.pauses.clear();
    EXPECT_THROW(queue.sendFields(), std::exception);
    EXPECT_EQ(ledger.lines,
              (std::vector<std::string>{"begin -", "R_POS1000", "R3_POS2000", "SENT 0", "begin -",
                                        "STOPPED 6", "begin abc", "FAILED 0", "begin -",
                                        "STOPPED 1", "dropped -"}));
}

}  // namespace
}  // namespace velkor
