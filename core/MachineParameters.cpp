#include "MachineParameters.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "ControllerProtocol.h"
#include "Numbers.h"
#include "Text.h"

namespace velkor {
namespace {

using enum Applied;

// A shared parameter, or a white one and its laminated twin: the twin takes the white one's
// row with its own member.
struct Entry {
    std::string_view key;
    MachineParameter::Member white;
    MachineParameter::Member laminated;  // the white member again: no twin
    Applied applied;
    int pushPlace = 0;
    int strokeShift = 0;
    bool trimmedText = false;
};

#define VELKOR_SHARED(name) #name, &MachineVariables::name, &MachineVariables::name
#define VELKOR_PAIR(name) #name, &MachineVariables::name, &MachineVariables::name##_L

// In the order of the machine's parameter list.
const Entry kEntries[] = {
    {VELKOR_SHARED(Qty_Imp_mm), Stored},
    {VELKOR_SHARED(Step_pnevmo), Stored},
    {VELKOR_SHARED(L_marking), Stored},
    {VELKOR_SHARED(L_BarCode), Stored},
    {VELKOR_SHARED(Port), Never},
    {VELKOR_SHARED(pwd), Never},
    {VELKOR_SHARED(TestMode), Never},
    {VELKOR_PAIR(SH_S), Sent, 1, -2},
    {VELKOR_PAIR(head_DELTA), Sent, 10, -1},
    {VELKOR_PAIR(setSpeed), Sent, 2},
    {VELKOR_PAIR(setAccel), Sent, 3},
    {VELKOR_PAIR(SAM_DEL), Sent},
    {VELKOR_PAIR(STP_OUT), Sent, 7, +1},
    {VELKOR_PAIR(L1headPaz), Sent, 6},
    {VELKOR_PAIR(L_upor), Stored},
    {VELKOR_PAIR(stToR), Sent, 5},
    {VELKOR_PAIR(setS_OUT), Sent, 8},
    {VELKOR_PAIR(setA_OUT), Sent, 9},
    {VELKOR_PAIR(R_DELTA), Sent, 11},
    {VELKOR_PAIR(uporDelay), Sent, 12},
    {VELKOR_PAIR(SbrosDelay), Sent, 13},
    {VELKOR_PAIR(n_uporDelay), Sent, 14},
    {VELKOR_PAIR(S_SH_S), Sent, 4},
    {VELKOR_PAIR(VOZVRAT), Sent, 0, 0, true},
};

#undef VELKOR_PAIR
#undef VELKOR_SHARED

std::vector<MachineParameter> parametersOf(const Entry& row) {
    const std::string word = row.applied == Sent ? std::string(row.key) : std::string();
    MachineParameter white{.key = std::string(row.key),
                           .member = row.white,
                           .trimmedText = row.trimmedText,
                           .applied = row.applied,
                           .commandWord = word,
                           .pushPlace = row.pushPlace,
                           .strokeShift = row.strokeShift};
    if (row.white == row.laminated) {
        return {white};
    }
    white.laminatedTwin = white.key + "_L";
    return {white, MachineParameter{.key = white.laminatedTwin,
                                    .member = row.laminated,
                                    .trimmedText = row.trimmedText,
                                    .applied = row.applied,
                                    .commandWord = word,
                                    .laminated = true}};
}

std::vector<const MachineParameter*> parametersWhere(bool (*chosen)(const MachineParameter&),
                                                     bool (*before)(const MachineParameter*,
                                                                    const MachineParameter*)) {
    std::vector<const MachineParameter*> chosenOnes;
    for (const MachineParameter& parameter : machineParameters()) {
        if (chosen(parameter)) {
            chosenOnes.push_back(&parameter);
        }
    }
    std::stable_sort(chosenOnes.begin(), chosenOnes.end(), before);
    return chosenOnes;
}

}  // namespace

std::string MachineParameter::databaseKey() const {
    std::string upper(key);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

const std::vector<MachineParameter>& machineParameters() {
    static const std::vector<MachineParameter> parameters = [] {
        std::vector<MachineParameter> all;
        for (const Entry& row : kEntries) {
            for (MachineParameter& parameter : parametersOf(row)) {
                all.push_back(std::move(parameter));
            }
        }
        return all;
    }();
    return parameters;
}

const MachineParameter* findMachineParameter(std::string_view key) {
    const auto& parameters = machineParameters();
    const auto found = std::find_if(parameters.begin(), parameters.end(),
                                    [&](const MachineParameter& p) { return p.key == key; });
    return found == parameters.end() ? nullptr : &*found;
}

const MachineParameter& machineParameter(std::string_view key) {
    const MachineParameter* parameter = findMachineParameter(key);
    if (parameter == nullptr) {
        throw std::logic_error("no machine variable " + std::string(key));
    }
    return *parameter;
}

const std::vector<const MachineParameter*>& pushedParameters() {
    static const auto pushed =
        parametersWhere([](const MachineParameter& p) { return p.pushPlace > 0; },
                        [](const MachineParameter* a, const MachineParameter* b) {
                            return a->pushPlace < b->pushPlace;
                        });
    return pushed;
}

const std::vector<const MachineParameter*>& strokeShiftedParameters() {
    static const auto shifted =
        parametersWhere([](const MachineParameter& p) { return p.strokeShift != 0; },
                        [](const MachineParameter*, const MachineParameter*) { return false; });
    return shifted;
}

long double lengthValue(const MachineVariables& variables, const MachineParameter& parameter) {
    return variables.*std::get<long double MachineVariables::*>(parameter.member);
}

std::string shownText(const MachineVariables& variables, const MachineParameter& parameter) {
    return std::visit(
        [&](auto member) {
            const auto& value = variables.*member;
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, long double>) {
                return generalText(value);
            } else if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::int32_t>) {
                return std::to_string(value);
            } else {
                return value;
            }
        },
        parameter.member);
}

void storeVariableText(MachineVariables& variables, const MachineParameter& parameter,
                       std::string_view text) {
    std::visit(
        [&](auto member) {
            auto& value = variables.*member;
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, long double>) {
                value =
                    readRealEitherSeparator(text);  // stored with a full stop, typed with a comma
            } else if constexpr (std::is_same_v<Value, std::int32_t>) {
                value = readInteger(text);
            } else {
                value = parameter.trimmedText ? trimmed(text) : std::string(text);
            }
        },
        parameter.member);
}

void loadMachineVariables(MachineVariables& variables, const std::vector<VariableRow>& rows) {
    for (const auto& row : rows) {
        if (const auto* parameter = findMachineParameter(trimmed(row.key))) {
            storeVariableText(variables, *parameter, row.value);
            variables.given.emplace(parameter->key);
        }
    }
    variables.loaded = true;
}

}  // namespace velkor
