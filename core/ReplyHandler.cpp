#include "ReplyHandler.h"

#include <optional>
#include <vector>

#include "ControllerProtocol.h"
#include "Logging.h"
#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

// The report cut into lines at every ";" and every line break; an empty piece after a final
// separator is no line.
std::vector<std::string> reportLines(const std::string& packet) {
    std::vector<std::string> lines;
    std::string current;
    bool open = false;
    for (std::size_t i = 0; i < packet.size(); ++i) {
        const char c = packet[i];
        if (c == ';' || c == '\n' || c == '\r') {
            lines.push_back(std::move(current));
            current.clear();
            open = false;
            if (c == '\r' && i + 1 < packet.size() && packet[i + 1] == '\n') {
                ++i;
            }
        } else {
            current += c;
            open = true;
        }
    }
    if (open) {
        lines.push_back(std::move(current));
    }
    return lines;
}

// Characters `from` (counted from 1) to `from` + 4 of a field, trimmed.
std::string fieldValue(const std::string& field, std::size_t from) {
    return field.size() < from ? std::string()
                               : trimmed(std::string_view(field).substr(from - 1, 5));
}

}  // namespace

void ReplyHandler::handle(const std::string& packet) noexcept {
    try {
        const bool report = isStateReport(packet);
        if (report && showRequest_ == 1) {
            log_.append(packet);
            showRequest_ = 0;
        }
        if (!report) {
            log_.append(packet);
            lastReply_ = replyText(packet);
            return;
        }
        handleStateReport(packet);
    } catch (...) {
        // Nothing should get here; if it does, the operator sees it and the line stays alive.
        const std::string what = describeException(std::current_exception());
        try {
            log_.append("ERROR " + what);
        } catch (...) {
            qCCritical(lcConsole, "a packet's failure (%s) could not be logged: %s", what.c_str(),
                       describeException(std::current_exception()).c_str());
        }
    }
}

void ReplyHandler::handleStateReport(const std::string& packet) {
    // The report may carry the count from before this run.
    const bool countedBefore = reportSeen_ && reportSeen_(clock_.now());
    const auto lines = reportLines(packet);
    // From the last field to the first: with two count fields the first one stays on display.
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const std::string field = trimmed(*line);
        if (field.rfind("CNT", 0) == 0) {
            const std::string value = fieldValue(field, 5);
            const std::optional<std::int64_t> total = counter_.totalOf(value);
            if (!total) {
                log_.append("ERROR_CNT " + value);  // the counter stays as it is
            } else if (!countedBefore) {
                counter_.report(*total);
            }
        } else if (field.rfind("setOut", 0) == 0) {
            const std::string value = fieldValue(field, 8);
            try {
                outputState_ = readInteger(value);
            } catch (const VelkorError&) {
                log_.append("ERROR_Out " + value);
            }
        }
    }
}

}  // namespace velkor
