#include "ConsoleDatabase.h"
#include "MachineParameters.h"

#include <gtest/gtest.h>

#include <set>

#include "Numbers.h"
#include "VelkorError.h"

namespace velkor {
namespace {

// Loads VARIABLES rows as start-up does.
MachineVariables loaded(const std::vector<VariableRow>& rows, std::string* error = nullptr) {
    MachineVariables variables;
    try {
        loadMachineVariables(variables, rows);
    } catch (const VelkorError& e) {
        if (error == nullptr) {
            throw;
        }
        *error = e.what();
    }
    return variables;
}

TEST(MachineVariables, FortyOneKeysEachWithItsOwnVariable) {
    const auto& definitions = machineParameters();
    EXPECT_EQ(definitions.size(), 41u);
    std::set<std::string_view> keys;
    for (const auto& d : definitions) {
        keys.insert(d.key);
    }
    EXPECT_EQ(keys.size(), 41u);
    // Every definition writes its own member.
    MachineVariables variables;
    for (const auto& d : definitions) {
        storeVariableText(variables, d, "1");
    }
    for (const auto& d : definitions) {
        std::visit(
            [&](auto member) {
                EXPECT_NE(variables.*member, std::remove_reference_t<decltype(variables.*member)>{})
                    << d.key;
            },
            d.member);
    }
}

TEST(MachineVariables, KeysAreTrimmedButCompareWithCase) {
    const auto v =
        loaded({{"  SH_S\t\x01", "12.5"}, {"sh_s", "99"}, {"head_delta", "7"}, {"Unknown", "x"}});
    EXPECT_EQ(v.SH_S, readReal("12,5"));
    EXPECT_EQ(v.head_DELTA, 0);
}

TEST(MachineVariables, RealsTakeEitherDecimalSeparator) {
    const auto fullStop = loaded({{"Qty_Imp_mm", "16.3"}, {"L_upor", "-0.04"}});
    const auto comma = loaded({{"Qty_Imp_mm", "16,3"}, {"L_upor", "1E2"}});
    EXPECT_EQ(fullStop.Qty_Imp_mm, readReal("16,3"));
    EXPECT_EQ(comma.Qty_Imp_mm, readReal("16,3"));
    EXPECT_EQ(fullStop.L_upor, readReal("-0,04"));
    EXPECT_EQ(comma.L_upor, 100);
}

TEST(MachineVariables, IntegersTextsAndDuplicates) {
    const auto v = loaded({{"setSpeed", "800"},
                           {"setSpeed", "0050"},
                           {"SbrosDelay", "$10"},
                           {"Port", " ttyUSB0"},
                           {"pwd", "secret "},
                           {"VOZVRAT", "  2.5\t"},
                           {"VOZVRAT_L", "x"}});
    EXPECT_EQ(v.setSpeed, 50);
    EXPECT_EQ(v.SbrosDelay, 16);
    EXPECT_EQ(v.Port, " ttyUSB0");
    EXPECT_EQ(v.pwd, "secret ");
    EXPECT_EQ(v.VOZVRAT, "2.5");
    EXPECT_EQ(v.VOZVRAT_L, "x");
    EXPECT_EQ(v.setAccel, 0);  // no row: stays as it was
    EXPECT_EQ(v.L_upor, 0);
}

TEST(MachineVariables, ABadValueStopsTheLoadKeepingTheRowsBeforeIt) {
    std::string error;
    const auto v = loaded({{"setSpeed", "800"}, {"SH_S", "12.5mm"}, {"setAccel", "900"}}, &error);
    EXPECT_EQ(error, "'12,5mm' is not a valid floating point value");
    EXPECT_EQ(v.setSpeed, 800);
    EXPECT_EQ(v.SH_S, 0);
    EXPECT_EQ(v.setAccel, 0);

    loaded({{"L_BarCode", "9 "}}, &error);
    EXPECT_EQ(error, "'9 ' is not a valid integer value");
}

}  // namespace
}  // namespace velkor
