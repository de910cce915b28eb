#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "EventLog.h"
#include "IniFile.h"

namespace velkor {

// The production counter: the pieces the machine has made, shown on the main window and kept
// in Morvel.INI as [Main] CNT. The controller counts from zero after every start of the
// console (start-up's CLR_CNT); the total is its count plus the base read at start-up. Texts
// are 8-bit Windows-1251.
class ProductionCounter {
  public:
    // `changed` is told whenever text() changes; trouble writing the INI file goes to `log`.
    ProductionCounter(EventLog& log, std::function<void()> changed)
        : log_(log), changed_(std::move(changed)) {}

    // "0", the saved count, a reported total or, in place of a missing saved one, the text
    // that says so.
    const std::string& text() const { return text_; }
    std::int64_t base() const { return base_; }
    // The count shown, when it is one (not the text of a missing entry).
    std::optional<std::int64_t> known() const;
    // True once start-up has read the saved counter (or found it missing): only from then on
    // do reports and shutdown write it, so neither the port probe's report (counted without the
    // base) nor a start-up that failed early ever wipes the saved total.
    bool saving() const { return ini_.has_value(); }

    // Start-up's reading of the saved counter into the base. The counter shows the entry, or in
    // its place the missing-entry text "Ошибка в названии параметров : MAIN = CNT", also when
    // it is no number. A missing entry fails with the conversion error of that text. An entry
    // that is there but is no number is first kept in the file under a key of its own, stamped
    // with `now`, and the error names the file, the key and where the text went; only then may
    // a report replace it.
    void readAtStartUp(const IniFile& ini, const std::tm& now);

    // The total for the controller's count in a state report; nothing for a count that is no
    // whole number, or a total beyond 64 bits.
    std::optional<std::int64_t> totalOf(const std::string& count) const;
    // A reported total: shown, and once saving() also saved at once, so that a crash or a power
    // failure loses no count the controller has reported.
    void report(std::int64_t total);
    // The count as it stands at the end of the run, when it holds a known count: never the
    // text of a missing entry over the saved one. Throws when the file cannot be written.
    void saveAtShutdown() const;

  private:
    void show(const std::string& text);

    EventLog& log_;
    std::function<void()> changed_;
    std::string text_ = "0";
    std::int64_t base_ = 0;
    bool known_ = false;  // text() holds a number read from the INI file or from a report
    std::optional<IniFile> ini_;
};

}  // namespace velkor
