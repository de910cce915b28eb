#include "CommandLine.h"

#include <algorithm>
#include <cstdio>

namespace velkor {

CommandLine& CommandLine::flag(std::string name, bool& target) {
    options_.push_back({std::move(name), false, [&target](const std::string&) {
                            target = true;
                            return true;
                        }});
    return *this;
}

CommandLine& CommandLine::option(std::string name, Setter setter) {
    options_.push_back({std::move(name), true, std::move(setter)});
    return *this;
}

CommandLine& CommandLine::option(std::string name, std::optional<std::string>& target) {
    return option(std::move(name), [&target](const std::string& value) {
        if (value.empty()) {
            return false;
        }
        target = value;
        return true;
    });
}

CommandLine& CommandLine::operands(std::vector<std::string>& target, std::size_t most) {
    operands_ = &target;
    mostOperands_ = most;
    return *this;
}

const CommandLine::Option* CommandLine::find(const std::string& name) const {
    const auto found = std::find_if(options_.begin(), options_.end(),
                                    [&name](const Option& o) { return o.name == name; });
    return found == options_.end() ? nullptr : &*found;
}

CommandLine::Outcome CommandLine::read(const std::vector<std::string>& arguments) const {
    Outcome outcome;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            return {.help = true, .version = false, .error = {}};
        }
        if (argument == "--version") {
            return {.help = false, .version = true, .error = {}};
        }
        const bool looksLikeOption = argument.size() > 1 && argument.front() == '-';
        if (!looksLikeOption && operands_ != nullptr) {
            if (operands_->size() == mostOperands_) {
                outcome.error = "unexpected argument " + argument;
                return outcome;
            }
            operands_->push_back(argument);
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const Option* option = looksLikeOption ? find(name) : nullptr;
        if (option == nullptr) {
            outcome.error = "unknown option " + argument;
            return outcome;
        }
        std::string value;
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                outcome.error = "option " + name + " takes no value";
                return outcome;
            }
        } else if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            outcome.error = "option " + name + " needs a value";
            return outcome;
        }
        if (!option->setter(value)) {
            outcome.error = "bad value for " + name + ": \"" + value + "\"";
            return outcome;
        }
    }
    return outcome;
}

std::optional<int> answerCommandLine(const CommandLine::Outcome& outcome, const char* program,
                                     const char* usage, const char* version) {
    if (outcome.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (outcome.version) {
        std::printf("%s %s\n", program, version);
        return 0;
    }
    if (!outcome.error.empty()) {
        std::fprintf(stderr, "%s: %s\n\n", program, outcome.error.c_str());
        std::fputs(usage, stderr);
        return 2;
    }
    return std::nullopt;
}

}  // namespace velkor
