#pragma once

#include <optional>
#include <string>

#include "EventLog.h"
#include "Journal.h"

namespace velkor {

// The event log as the console keeps it: every line appended goes to the view that shows it
// (the main window) and, once start-up has begun, to the journal on disk. A journal that cannot
// be written costs one line in the log, which is not journalled itself.
class EventRecord {
  public:
    explicit EventRecord(std::size_t limit = EventLog::kDefaultLimit);
    EventRecord(const EventRecord&) = delete;
    EventRecord& operator=(const EventRecord&) = delete;

    EventLog& log() { return log_; }
    const EventLog& log() const { return log_; }

    void setView(EventLog::Observer view) { view_ = std::move(view); }
    // The journal's day files go to `folder` from now on.
    void startJournal(const std::string& folder);
    // A message a box showed the operator: on record in the journal, with its time.
    void recordShownMessage(const std::string& message);
    // A line for the journal alone (what nobody is left to see at shutdown).
    void journalOnly(const std::string& line);

  private:
    EventLog log_;
    EventLog::Observer view_;
    std::optional<Journal> journal_;
    bool writingJournalNotice_ = false;
};

}  // namespace velkor
