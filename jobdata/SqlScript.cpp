#include "SqlScript.h"

#include <algorithm>
#include <cctype>

#include "Text.h"

namespace velkor {
namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return out;
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 32) {
            if (!current.empty()) {
                out.push_back(std::move(current));
                current.clear();
            }
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        out.push_back(std::move(current));
    }
    return out;
}

}  // namespace

std::vector<std::string> splitSqlScript(std::string_view script) {
    std::vector<std::string> statements;
    std::string terminator = ";";
    std::string current;
    char quote = 0;
    std::size_t i = 0;

    auto finish = [&] {
        std::string statement = trimmed(current);
        current.clear();
        if (statement.empty()) {
            return;
        }
        const auto parts = words(statement);
        const std::string first = upper(parts[0]);
        const std::string second = parts.size() > 1 ? upper(parts[1]) : "";
        if (first == "SET" && second == "TERM" && parts.size() > 2) {
            terminator = parts[2];
        } else if (!(first == "SET" && second == "SQL") && first != "COMMIT") {
            statements.push_back(std::move(statement));
        }
    };

    while (i < script.size()) {
        const char c = script[i];
        if (quote != 0) {
            current += c;
            if (c == quote) {
                quote = 0;
            }
            ++i;
        } else if (c == '\'' || c == '"') {
            quote = c;
            current += c;
            ++i;
        } else if (c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
            while (i < script.size() && script[i] != '\n') {
                ++i;
            }
        } else if (script.substr(i, terminator.size()) == terminator) {
            i += terminator.size();
            finish();
        } else {
            current += c;
            ++i;
        }
    }
    finish();
    return statements;
}

}  // namespace velkor
