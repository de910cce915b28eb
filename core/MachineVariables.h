#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// The machine's parameters as the console holds them for the whole run, one member per key of
// VARIABLES (member names are the keys). Lengths are millimetres in 80-bit extended precision;
// most parameters come as a white-profile value and its laminated twin ending in _L.
// Zero or empty until start-up loads them; afterwards only the settings window changes them.
// The members keep the order of the machine's parameter list rather than the tightest packing:
// there is one such struct per console.
struct MachineVariables {  // NOLINT(clang-analyzer-optin.performance.Padding)
    long double Qty_Imp_mm = 0;
    long double Step_pnevmo = 0;
    std::int32_t L_marking = 0;
    std::int32_t L_BarCode = 0;
    std::string Port;
    std::string pwd;
    std::int32_t TestMode = 0;

    long double SH_S = 0, SH_S_L = 0;
    long double head_DELTA = 0, head_DELTA_L = 0;
    std::int32_t setSpeed = 0, setSpeed_L = 0;
    std::int32_t setAccel = 0, setAccel_L = 0;
    std::int32_t SAM_DEL = 0, SAM_DEL_L = 0;
    long double STP_OUT = 0, STP_OUT_L = 0;
    long double L1headPaz = 0, L1headPaz_L = 0;
    long double L_upor = 0, L_upor_L = 0;
    long double stToR = 0, stToR_L = 0;
    std::int32_t setS_OUT = 0, setS_OUT_L = 0;
    std::int32_t setA_OUT = 0, setA_OUT_L = 0;
    long double R_DELTA = 0, R_DELTA_L = 0;
    std::int32_t uporDelay = 0, uporDelay_L = 0;
    std::int32_t SbrosDelay = 0, SbrosDelay_L = 0;
    std::int32_t n_uporDelay = 0, n_uporDelay_L = 0;
    long double S_SH_S = 0, S_SH_S_L = 0;
    std::string VOZVRAT, VOZVRAT_L;

    // The keys that have a value of their own: loaded from VARIABLES at start-up or applied in
    // the settings window since. One without holds zero or an empty text.
    std::set<std::string, std::less<>> given;
    bool loaded = false;  // start-up has read VARIABLES to its end
};

// What a command to the controller is made of must be there: throws, naming them, when one of
// `keys` has no value of its own, or when Qty_Imp_mm is among them and is 0 (every length would
// go out as 0 impulses), so that nothing of the command or sequence is sent.
void requireVariables(const MachineVariables& variables, std::span<const std::string_view> keys);
inline void requireVariables(const MachineVariables& variables,
                             std::initializer_list<std::string_view> keys) {
    requireVariables(variables, std::span<const std::string_view>(keys.begin(), keys.size()));
}

}  // namespace velkor
