#include "ControllerModel.h"

#include <array>
#include <utility>

#include "LineText.h"

namespace velkor::simulator {

namespace {

// The machine settings the console sends with a value; the controller keeps the last of each.
constexpr std::array<std::string_view, 16> kSettingWords = {
    "SH_S",        "head_DELTA", "setSpeed", "setAccel", "SAM_DEL", "STP_OUT",
    "L1headPaz",   "setS_OUT",   "stToR",    "setA_OUT", "R_DELTA", "uporDelay",
    "n_uporDelay", "SbrosDelay", "S_SH_S",   "VOZVRAT",
};

constexpr std::string_view kModeWord = "Lamin";

// The position commands of one piece, in the order the console sends them.
constexpr std::array<std::string_view, 7> kPositionWords = {
    "R_POS", "R2_POS", "R3_POS", "R4_POS", "R5_POS", "R6_POS", "R7_POS",
};

struct ExactCommand {
    std::string_view text;
    CommandKind kind;
};

// Commands without an argument; they are recognised only as exactly these bytes.
constexpr std::array<ExactCommand, 5> kExactCommands = {{
    {"GET_ALL", CommandKind::StateReport},
    {"CLR_CNT", CommandKind::ClearCount},
    {"GET_STEP", CommandKind::GetStep},
    {"GET_CNT", CommandKind::GetCount},
    {"SaveFlash", CommandKind::SaveFlash},
}};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the trailing number of an unknown command: digits and decimal points with at
// least one digit, and a sign before them.
std::size_t trailingNumberLength(std::string_view command) {
    std::size_t start = command.size();
    bool digit = false;
    while (start > 0 && (isDigit(command[start - 1]) || command[start - 1] == '.')) {
        digit = digit || isDigit(command[start - 1]);
        --start;
    }
    if (!digit) {
        return 0;
    }
    if (start > 0 && (command[start - 1] == '-' || command[start - 1] == '+')) {
        --start;
    }
    return command.size() - start;
}

}  // namespace

ParsedCommand parseCommand(std::string_view command) {
    for (const ExactCommand& exact : kExactCommands) {
        if (command == exact.text) {
            return ParsedCommand{std::string(command), {}, exact.kind, 0};
        }
    }

    // The longest known word the command starts with: no known word is a prefix of another
    // today, but the longest match keeps it right if one is added.
    std::string_view word;
    CommandKind kind = CommandKind::Unknown;
    int position = 0;
    const auto consider = [&](std::string_view candidate, CommandKind candidateKind,
                              int candidatePosition) {
        if (command.starts_with(candidate) && candidate.size() > word.size()) {
            word = candidate;
            kind = candidateKind;
            position = candidatePosition;
        }
    };
    for (const std::string_view setting : kSettingWords) {
        consider(setting, CommandKind::Setting, 0);
    }
    consider(kModeWord, CommandKind::Mode, 0);
    for (std::size_t i = 0; i < kPositionWords.size(); ++i) {
        consider(kPositionWords[i], CommandKind::Position, static_cast<int>(i) + 1);
    }
    if (kind != CommandKind::Unknown) {
        return ParsedCommand{std::string(word), std::string(command.substr(word.size())), kind,
                             position};
    }

    const std::size_t numberLength = trailingNumberLength(command);
    if (numberLength == 0 || numberLength == command.size()) {
        return ParsedCommand{std::string(command), {}, CommandKind::Unknown, 0};
    }
    const std::size_t wordLength = command.size() - numberLength;
    return ParsedCommand{std::string(command.substr(0, wordLength)),
                         std::string(command.substr(wordLength)), CommandKind::Unknown, 0};
}

bool isStoredWord(std::string_view word) {
    if (word == kModeWord) {
        return true;
    }
    for (const std::string_view setting : kSettingWords) {
        if (word == setting) {
            return true;
        }
    }
    return false;
}

std::string frame(std::string_view text) {
    std::string packet;
    packet.reserve(text.size() + 2);
    packet += '<';
    packet += text;
    packet += '>';
    return packet;
}

std::string acknowledgement(const ParsedCommand& command, bool equalsForm) {
    if (equalsForm && !command.argument.empty()) {
        return frame(command.word + "=" + command.argument);
    }
    return frame(command.word + command.argument);
}

ControllerModel::ControllerModel(ControllerConfig config)
    : config_(std::move(config)), count_(config_.count) {}

Reply ControllerModel::handle(std::string_view text) {
    const ParsedCommand command = parseCommand(text);
    Reply reply;
    const std::string ack = acknowledgement(command, config_.equalsForm);

    switch (command.kind) {
        case CommandKind::StateReport:
            reply.packets.push_back(frame("GET_ALL;CNT=" + std::to_string(count_) +
                                          ";setOut=" + std::to_string(config_.setOut) + ";"));
            break;
        case CommandKind::ClearCount:
            reply.notes.push_back("count cleared (was " + std::to_string(count_) + ")");
            count_ = 0;
            reply.packets.push_back(ack);
            break;
        case CommandKind::GetStep:
            reply.packets.push_back(ack);
            reply.packets.push_back(frame("STEP=" + std::to_string(step_)));
            break;
        case CommandKind::GetCount:
            reply.packets.push_back(ack);
            reply.packets.push_back(frame("CNT=" + std::to_string(count_)));
            break;
        case CommandKind::SaveFlash:
            reply.saveSettings = true;
            reply.packets.push_back(ack);
            break;
        case CommandKind::Position:
            step_ = command.position;
            if (command.position == 1) {
                ++count_;
                reply.notes.push_back("piece " + std::to_string(count_) + " started at " +
                                      escapeBytes(command.argument));
            } else {
                reply.notes.push_back("position " + std::to_string(command.position) + " at " +
                                      escapeBytes(command.argument));
            }
            reply.packets.push_back(ack);
            break;
        case CommandKind::Setting:
        case CommandKind::Mode:
            settings_[command.word] = command.argument;
            reply.notes.push_back(
                std::string(command.kind == CommandKind::Mode ? "mode " : "setting ") +
                command.word + " = " + escapeBytes(command.argument));
            reply.packets.push_back(ack);
            break;
        case CommandKind::Unknown:
            reply.notes.push_back("unknown command, echoed");
            reply.packets.push_back(ack);
            break;
    }

    if (config_.withheld.contains(command.word) || config_.withheld.contains(std::string(text))) {
        reply.withheld = true;
        reply.packets.clear();
        reply.notes.push_back("withheld: no reply");
    }
    return reply;
}

std::vector<std::string> ControllerModel::restoreSettings(
    const std::map<std::string, std::string>& stored) {
    std::vector<std::string> refused;
    for (const auto& [word, value] : stored) {
        if (isStoredWord(word)) {
            settings_[word] = value;
        } else {
            refused.push_back(word);
        }
    }
    return refused;
}

std::string formatSettingsFile(const std::map<std::string, std::string>& settings) {
    std::string text = "# velkor-simulator: controller settings stored by SaveFlash\n";
    for (const auto& [word, value] : settings) {
        text += escapeBytes(word);
        text += '=';
        text += escapeBytes(value);
        text += '\n';
    }
    return text;
}

std::map<std::string, std::string> parseSettingsFile(std::string_view text,
                                                     std::vector<std::string>& problems) {
    std::map<std::string, std::string> settings;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        const std::optional<std::string> word =
            equals == std::string_view::npos ? std::nullopt : unescapeBytes(line.substr(0, equals));
        const std::optional<std::string> value = equals == std::string_view::npos
                                                     ? std::nullopt
                                                     : unescapeBytes(line.substr(equals + 1));
        if (!word || word->empty() || !value) {
            problems.push_back("line " + std::to_string(lineNumber) +
                               " is not WORD=VALUE: " + escapeBytes(line));
            continue;
        }
        settings[*word] = *value;
    }
    return settings;
}

}  // namespace velkor::simulator
