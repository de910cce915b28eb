#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velkor {

// The command line of the console and its tools, read one way in every program: an option
// takes its value as the next argument or after "=" (--gap 30, --gap=30); -h and --help ask for
// the usage, --version for the version, and either wins over everything after it. A program's
// options are declared in a table; what is not an option is an operand (a database, a folder).
// Plain C++ without Qt, as the controller simulator reads its command line with it too.
class CommandLine {
  public:
    // Takes an option's value; false when the value is no good for it.
    using Setter = std::function<bool(const std::string& value)>;

    // An option without a value.
    CommandLine& flag(std::string name, bool& target);
    // An option with a value; `setter` checks and keeps it.
    CommandLine& option(std::string name, Setter setter);
    // An option whose value is a text that must not be empty, such as a path.
    CommandLine& option(std::string name, std::optional<std::string>& target);
    // Up to `most` operands; without this the program takes none.
    CommandLine& operands(std::vector<std::string>& target, std::size_t most);

    struct Outcome {
        bool help = false;
        bool version = false;
        std::string error;  // why the line is refused; empty when it is good
    };
    // `arguments` without the program name.
    Outcome read(const std::vector<std::string>& arguments) const;

  private:
    struct Option {
        std::string name;
        bool takesValue;
        Setter setter;
    };
    const Option* find(const std::string& name) const;

    std::vector<Option> options_;
    std::vector<std::string>* operands_ = nullptr;
    std::size_t mostOperands_ = 0;
};

// Answers an outcome the same way in every program: the usage or "<program> <version>" on
// standard output (status 0), or "<program>: <error>", a blank line and the usage on standard
// error (status 2). Nothing when the program is to go on.
std::optional<int> answerCommandLine(const CommandLine::Outcome& outcome, const char* program,
                                     const char* usage, const char* version);

}  // namespace velkor
