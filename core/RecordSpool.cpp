#include "RecordSpool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Text.h"
#include "VelkorError.h"

namespace velkor {
namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            fields.emplace_back();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

// An optional text as a field: "" for nothing, "=" and the text otherwise.
std::string optionalField(const std::optional<std::string>& text) {
    return text ? "=" + *text : std::string();
}
std::optional<std::string> optionalText(const std::string& field) {
    return field.empty() ? std::nullopt : std::optional(field.substr(1));
}
std::string numberField(const std::optional<std::int64_t>& number) {
    return number ? std::to_string(*number) : std::string();
}
std::optional<std::int64_t> optionalNumber(const std::string& field) {
    return field.empty() ? std::nullopt : std::optional(std::stoll(field));
}

std::string millisecondsField(std::chrono::system_clock::time_point at) {
    return std::to_string(
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
}
std::chrono::system_clock::time_point timeOf(const std::string& field) {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(std::stoll(field)));
}

SettingsChange changeOf(const std::vector<std::string>& f) {
    SettingsChange change;
    change.key = f[1];
    change.made = timeOf(f[2]);
    change.workstation = f[3];
    change.account = f[4];
    change.kind = kindOfCode(f[5]).value_or(ChangeKind::Setting);
    change.outcome = changeOutcomeOfCode(f[6]).value_or(ChangeOutcome::Failed);
    change.subject = f[7];
    change.before = optionalText(f[8]);
    change.after = optionalText(f[9]);
    for (std::size_t at = 0; at < f[10].size();) {
        const std::size_t blank = std::min(f[10].find(' ', at), f[10].size());
        change.sent.push_back(f[10].substr(at, blank - at));
        at = blank + 1;
    }
    change.message = f[11];
    change.contentHash = optionalText(f[12]);
    change.pieces = optionalNumber(f[13]);
    change.superseded = optionalNumber(f[14]);
    return change;
}

VelkorError spoolError(const std::string& path, const char* what) {
    return VelkorError(cp1251("Файл записей о работе машины ") + utf8ToCp1251(path) + ": " + what +
                       " (" + std::strerror(errno) + ")");
}

}  // namespace

RecordSpool::RecordSpool(const std::string& folder) : path_(folder + "/" + kFileName) {
    file_ = ::open(path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file_ < 0) {
        throw spoolError(path_, errno == ELOOP
                                    ? cp1251("символическая ссылка не открывается").c_str()
                                    : cp1251("не открывается").c_str());
    }
    read();
}

RecordSpool::~RecordSpool() {
    ::close(file_);
}

// Lines the console did not finish writing (the disk filled) are passed over.
void RecordSpool::read() {
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) {
            break;  // no line end: cut short
        }
        const std::vector<std::string> f = fieldsOf(line);
        try {
            if (f[0] == "B" && f.size() == 10) {
                DispatchRecord record;
                record.key = f[1];
                record.begun = timeOf(f[2]);
                record.workstation = f[3];
                record.account = f[4];
                record.scan = optionalText(f[5]);
                record.barcode = optionalNumber(f[6]);
                record.piece = optionalNumber(f[7]);
                record.profileMode = std::stoi(f[8]);
                record.counter = optionalNumber(f[9]);
                record.outcome = DispatchOutcome::Cut;
                record.message = cp1251("Консоль прекратила работу во время отправки");
                if (unwritten_.emplace(record.key, record).second) {
                    order_.push_back(record.key);
                }
            } else if (f[0] == "H" && f.size() == 15) {
                if (unwritten_.emplace(f[1], changeOf(f)).second) {
                    order_.push_back(f[1]);
                }
            } else if (DispatchRecord* dispatch = f.size() > 1 ? dispatchOf(f[1]) : nullptr;
                       dispatch != nullptr && f[0] == "C" && f.size() == 3) {
                dispatch->commands.push_back(f[2]);
            } else if (dispatch != nullptr && f[0] == "E" && f.size() == 6) {
                DispatchRecord& record = *dispatch;
                record.outcome = outcomeOfCode(f[2]).value_or(DispatchOutcome::Cut);
                record.stoppedAt = std::stoi(f[3]);
                record.counter = optionalNumber(f[4]);
                record.message = f[5];
            } else if (f[0] == "W" && f.size() == 2) {
                unwritten_.erase(f[1]);
            }
        } catch (const std::logic_error&) {
            // a number that is none: the line was damaged; the rest is read
        }
    }
    std::erase_if(order_, [this](const std::string& key) { return !unwritten_.contains(key); });
    waiting_ = order_.size();
}

DispatchRecord* RecordSpool::dispatchOf(const std::string& key) {
    const auto found = unwritten_.find(key);
    return found == unwritten_.end() ? nullptr : std::get_if<DispatchRecord>(&found->second);
}

std::vector<RecordEntry> RecordSpool::takeUnwritten() {
    std::vector<RecordEntry> records;
    for (const std::string& key : order_) {
        records.push_back(std::move(unwritten_[key]));
    }
    unwritten_.clear();
    order_.clear();
    return records;
}

void RecordSpool::append(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        line += (line.empty() ? "" : "\t") + escaped(field);
    }
    line += '\n';
    // One write: a console killed after it has the whole line on disk, one killed before it has
    // none of it.
    const ssize_t written = ::write(file_, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) {
        if (written > 0) {
            errno = ENOSPC;
        }
        throw spoolError(path_, cp1251("запись не удалась").c_str());
    }
}

void RecordSpool::begun(const DispatchRecord& record) {
    ++waiting_;
    append({"B", record.key, millisecondsField(record.begun), record.workstation, record.account,
            optionalField(record.scan), numberField(record.barcode), numberField(record.piece),
            std::to_string(record.profileMode), numberField(record.counter)});
}

void RecordSpool::sent(const std::string& key, const std::string& command) {
    append({"C", key, command});
}

void RecordSpool::ended(const DispatchRecord& record) {
    append({"E", record.key, outcomeCode(record.outcome), std::to_string(record.stoppedAt),
            numberField(record.counter), record.message});
}

void RecordSpool::noted(const SettingsChange& change) {
    ++waiting_;
    append({"H", change.key, millisecondsField(change.made), change.workstation, change.account,
            kindCode(change.kind), outcomeCode(change.outcome), change.subject,
            optionalField(change.before), optionalField(change.after), commandsText(change.sent),
            change.message, optionalField(change.contentHash), numberField(change.pieces),
            numberField(change.superseded)});
}

const std::string& keyOf(const RecordEntry& entry) {
    return std::visit([](const auto& record) -> const std::string& { return record.key; }, entry);
}

// Once nothing waits, the file starts over: it never holds more than what waits and what went
// in since it last did.
void RecordSpool::written(const std::string& key) {
    if (waiting_ > 0) {
        --waiting_;
    }
    if (waiting_ == 0) {
        if (::ftruncate(file_, 0) != 0) {
            throw spoolError(path_, cp1251("не очищается").c_str());
        }
        return;
    }
    append({"W", key});
}

}  // namespace velkor
