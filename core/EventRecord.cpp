#include "EventRecord.h"

#include "Text.h"

namespace velkor {

EventRecord::EventRecord(std::size_t limit) : log_(limit) {
    log_.setObserver({
        [this](const std::string& line) {
            if (view_.appended) {
                view_.appended(line);
            }
            journalOnly(line);
        },
        [this] {
            if (view_.cleared) {
                view_.cleared();
            }
        },
        [this](const std::string& notice) {
            if (view_.trimmed) {
                view_.trimmed(notice);
            }
        },
    });
}

void EventRecord::startJournal(const std::string& folder) {
    journal_.emplace(folder);
}

void EventRecord::recordShownMessage(const std::string& message) {
    journalOnly(cp1251("Показано сообщение: ") + message);
}

void EventRecord::journalOnly(const std::string& line) {
    if (!journal_ || writingJournalNotice_) {
        return;
    }
    if (const auto trouble = journal_->append(line)) {
        writingJournalNotice_ = true;
        log_.append(*trouble);
        writingJournalNotice_ = false;
    }
}

}  // namespace velkor
