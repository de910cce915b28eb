// Apply actions of the settings window, without the window.
#include "ApplySetting.h"

#include <gtest/gtest.h>

#include <set>

#include "ErrorText.h"
#include "InProcessController.h"
#include "MemoryDatabase.h"
#include "Numbers.h"
#include "Text.h"

namespace velkor {
namespace {

using namespace std::chrono_literals;

// The 38 parameters of the settings window: 32 of them go to the controller, a laminated twin
// under its white parameter's word; the push takes fourteen white ones, one place each.
TEST(MachineParameters, TheSettingsWindowsParametersAndTheirWords) {
    std::set<std::string> keys;
    std::set<int> pushPlaces;
    int settable = 0;
    int sent = 0;
    for (const MachineParameter& row : machineParameters()) {
        EXPECT_TRUE(keys.insert(row.key).second) << row.key;
        settable += row.applied == Applied::Never ? 0 : 1;
        sent += row.applied == Applied::Sent ? 1 : 0;
        EXPECT_EQ(row.applied == Applied::Sent, !row.commandWord.empty()) << row.key;
        if (row.laminated && !row.commandWord.empty()) {
            EXPECT_EQ(row.commandWord + "_L", row.key);
        }
        if (!row.laminatedTwin.empty()) {
            EXPECT_EQ(machineParameter(row.laminatedTwin).laminated, true) << row.key;
        }
        if (row.pushPlace != 0) {
            EXPECT_FALSE(row.laminated) << row.key;
            EXPECT_TRUE(pushPlaces.insert(row.pushPlace).second) << row.key;
        }
    }
    EXPECT_EQ(keys.size(), 41u);
    EXPECT_EQ(settable, 38);
    EXPECT_EQ(sent, 32);
    EXPECT_EQ(pushPlaces, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

// The settings window's apply against the job database in memory and the controller behind the
// serial driver seam.
class ApplySettingTest : public ::testing::Test {
  protected:
    ApplySettingTest() {
        contents->variables = {
            {"Qty_Imp_mm", "16.3"}, {"SH_S", "500"},       {"SH_S_L", "500"},
            {"setSpeed", "700"},    {"SETSPEED_L", "700"},  // the key's case does not matter
            {"VOZVRAT", "1"}};
        database.connect("KV.GDB");
        variables.Qty_Imp_mm = readReal("16,3");
        port.SetTriggersOnRxChar(false);
        port.SetPort(controller.port());
        port.OpenPort();
    }

    // Applies a value and returns what reached the controller once the line fell quiet.
    std::vector<std::string> apply(std::string_view key, std::string_view typed) {
        const std::size_t before = controller.commands().size();
        applySetting(machineParameter(key), cp1251(typed), variables, line, database, change);
        clock.run(50ms);
        const auto commands = controller.commands();
        return {commands.begin() + static_cast<std::ptrdiff_t>(before), commands.end()};
    }

    // What the next start-up reads: the rows of VARIABLES.
    std::map<std::string, std::string> storedRows() const {
        std::map<std::string, std::string> rows;
        for (const auto& [key, value] : contents->variables) {
            rows[trimmed(key)] = value;
        }
        return rows;
    }

    using Commands = std::vector<std::string>;

    test::TestClock clock;
    test::InProcessController controller{clock, "/dev/ttyVELKOR-controller"};
    std::shared_ptr<test::MemoryDatabase::Contents> contents =
        std::make_shared<test::MemoryDatabase::Contents>();
    test::MemoryDatabase database{contents};
    SettingsChange change;  // what the history would keep of the last apply
    MachineVariables variables;
    TComPort port{controller.driverFactory()()};
    ControllerLine line{port, clock};
};

TEST_F(ApplySettingTest, LengthsGoOutAsImpulsesTruncatedInExtendedPrecision) {
    EXPECT_EQ(apply("SH_S", "300"), Commands{"SH_S4890"});
    EXPECT_EQ(storedRows()["SH_S"], "300");
    // The history learns the row's key, the stored value it replaced and what was sent.
    EXPECT_EQ(change.subject, "SH_S");
    EXPECT_EQ(change.before, "500");
    EXPECT_EQ(change.after, "300");
    EXPECT_EQ(change.sent, Commands{"SH_S4890"});
    EXPECT_EQ(variables.SH_S, 300.0L);
    // 16,3 is a hair below 16.3 in extended precision: 100 mm make 1629.99... impulses.
    EXPECT_EQ(apply("SH_S", "100"), Commands{"SH_S1629"});
    EXPECT_EQ(apply("SH_S", "10"), Commands{"SH_S163"});
    EXPECT_EQ(apply("SH_S", "250"), Commands{"SH_S4074"});
    EXPECT_EQ(apply("SH_S", " -10\t"), Commands{"SH_S-163"});
    EXPECT_EQ(apply("SH_S", "0,05"), Commands{"SH_S0"});
    EXPECT_EQ(storedRows()["SH_S"], "0.05");
    // The laminated twin sends the same word and writes its own row.
    EXPECT_EQ(apply("SH_S_L", "12,5"), Commands{"SH_S203"});
    EXPECT_EQ(storedRows()["SH_S"], "0.05");
    EXPECT_EQ(storedRows()["SH_S_L"], "12.5");
}

TEST_F(ApplySettingTest, IntegersGoOutAsTypedAndAreStoredAsNumbers) {
    EXPECT_EQ(apply("setSpeed", "0050"), Commands{"setSpeed0050"});
    EXPECT_EQ(variables.setSpeed, 50);
    EXPECT_EQ(storedRows()["setSpeed"], "50");
    EXPECT_EQ(apply("setSpeed_L", "800"), Commands{"setSpeed800"});
    EXPECT_EQ(variables.setSpeed_L, 800);
    EXPECT_EQ(storedRows()["SETSPEED_L"], "800");
    EXPECT_EQ(apply("setSpeed", "$1F"), Commands{"setSpeed$1F"});
    EXPECT_EQ(storedRows()["setSpeed"], "31");
}

TEST_F(ApplySettingTest, StoredOnlyValuesStayOffTheLineAndChangeLaterImpulses) {
    EXPECT_EQ(apply("Qty_Imp_mm", "10"), Commands{});
    EXPECT_EQ(storedRows()["Qty_Imp_mm"], "10");
    EXPECT_EQ(apply("SH_S", "300"), Commands{"SH_S3000"});
    EXPECT_EQ(apply("L_upor", "12,5"), Commands{});
    EXPECT_EQ(variables.L_upor, 12.5L);
}

TEST_F(ApplySettingTest, ScrewReturnTextIsSentAsTypedAndStoredWithFullStops) {
    EXPECT_EQ(apply("VOZVRAT", " 2,5 "), Commands{"VOZVRAT2,5"});
    EXPECT_EQ(variables.VOZVRAT, "2,5");
    EXPECT_EQ(storedRows()["VOZVRAT"], "2.5");
    // A quote cannot break the statement: the row receives exactly the text.
    EXPECT_EQ(apply("VOZVRAT", "x';--"), Commands{"VOZVRATx';--"});
    EXPECT_EQ(storedRows()["VOZVRAT"], "x';--");
    EXPECT_EQ(apply("VOZVRAT", ""), Commands{"VOZVRAT"});
    EXPECT_EQ(storedRows()["VOZVRAT"], "");
}

TEST_F(ApplySettingTest, TextThatIsNoNumberChangesNothing) {
    const auto rowsBefore = storedRows();
    for (auto [key, typed, message] :
         {std::tuple{"setSpeed", "abc", "'abc' is not a valid integer value"},
          {"setSpeed", " 2147483648 ", "'2147483648' is not a valid integer value"},
          {"setSpeed", "", "'' is not a valid integer value"},
          {"SH_S", "16.3", "'16.3' is not a valid floating point value"},
          {"Qty_Imp_mm", "1,2,3", "'1,2,3' is not a valid floating point value"}}) {
        EXPECT_EQ(test::errorOf([&, k = key, t = typed] { apply(k, t); }), message);
    }
    EXPECT_EQ(controller.commands(), Commands{});
    EXPECT_EQ(variables.setSpeed, 0);
    EXPECT_EQ(variables.SH_S, 0.0L);
    EXPECT_EQ(storedRows(), rowsBefore);
}

// A length whose impulses the controller cannot hold is neither sent nor kept, so no later
// start pushes it again.
TEST_F(ApplySettingTest, ALengthTheControllerCannotHoldIsNeitherSentNorKept) {
    const auto rowsBefore = storedRows();
    for (const char* typed : {"1e10", "-1e10", "1e4000"}) {
        EXPECT_NE(test::errorOf([&] { apply("SH_S", typed); }), "no error") << typed;
    }
    EXPECT_EQ(controller.commands(), Commands{});
    EXPECT_EQ(variables.SH_S, 0.0L);
    EXPECT_EQ(storedRows(), rowsBefore);
}

TEST_F(ApplySettingTest, AFailedSendKeepsTheNewValueInMemoryOnly) {
    port.ClosePort();
    EXPECT_EQ(test::errorOf([&] { apply("setSpeed", "900"); }), "Port Not Open");
    EXPECT_EQ(variables.setSpeed, 900);
    EXPECT_EQ(storedRows()["setSpeed"], "700");
}

TEST_F(ApplySettingTest, ATextLongerThanTheDatabaseHoldsIsNeitherSentNorKept) {
    database.readVariables();  // as start-up does: it learns how long a value may be
    EXPECT_NE(test::errorOf([&] { apply("VOZVRAT", std::string(10'000, '7')); }), "no error");
    EXPECT_EQ(controller.commands(), Commands{});
    EXPECT_EQ(variables.VOZVRAT, "");
    EXPECT_EQ(storedRows()["VOZVRAT"], "1");
}

// The operator is told that the controller and the database now differ.
TEST_F(ApplySettingTest, AFailedWriteComesAfterTheSend) {
    contents->writeFails = "Unable to complete network request to host \"server\"";
    EXPECT_EQ(test::errorOf([&] { apply("setSpeed", "900"); }),
              cp1251("Контроллер получил setSpeed900, но в базе значение не сохранено (при "
                     "следующем запуске вернётся прежнее): ") +
                  contents->writeFails);
    clock.run(50ms);
    EXPECT_EQ(controller.commands(), Commands{"setSpeed900"});
    EXPECT_EQ(variables.setSpeed, 900);
    EXPECT_EQ(storedRows()["setSpeed"], "700");
    EXPECT_EQ(change.sent, Commands{"setSpeed900"});
    EXPECT_EQ(change.before, std::nullopt);
}

TEST_F(ApplySettingTest, AParameterWithoutARowLivesInMemoryWithoutComplaint) {
    EXPECT_EQ(apply("SAM_DEL", "150"), Commands{"SAM_DEL150"});
    EXPECT_EQ(variables.SAM_DEL, 150);
    EXPECT_EQ(storedRows().count("SAM_DEL"), 0u);
}

// Whatever is applied to any of the 38 rows is what the next start-up loads.
TEST_F(ApplySettingTest, EveryRowComesBackAtTheNextStartUp) {
    for (const MachineParameter& row : machineParameters()) {
        if (row.applied != Applied::Never) {
            contents->set(row.key, "0");
        }
    }
    MachineVariables applied;
    for (const MachineParameter& row : machineParameters()) {
        if (row.applied != Applied::Never) {
            applySetting(row,
                         row.isText()     ? "a,b"
                         : row.isLength() ? "-12,5"
                                          : "-42",
                         applied, line, database, change);
            clock.run(50ms);
        }
    }
    test::MemoryDatabase fresh{contents};
    fresh.connect("KV.GDB");
    MachineVariables loaded;
    loadMachineVariables(loaded, fresh.readVariables());
    for (const MachineParameter& row : machineParameters()) {
        if (row.applied != Applied::Never) {
            EXPECT_EQ(shownText(loaded, row), row.isText() ? "a.b" : shownText(applied, row))
                << row.key;
        }
    }
}

}  // namespace
}  // namespace velkor
