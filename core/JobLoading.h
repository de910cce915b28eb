#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "EventLog.h"
#include "JobLoad.h"
#include "MachineVariables.h"
#include "RecordBook.h"

namespace velkor {

// The console's job file loads: one at a time, each beside the window on its own connection,
// and every one on record in the event log (the file, what it brought or why not, how long it
// took) and in the settings history (`noted`).
class JobLoading : public QObject {
    Q_OBJECT

  public:
    JobLoading(EventLog& log, std::function<void(SettingsChange)> noted)
        : log_(log), noted_(std::move(noted)) {}

    // Starts loading `path` into the database that `databaseString` names, with the barcode
    // length and the hole limits of `variables`; throws while another load runs.
    void start(const std::string& databaseString, const std::string& path,
               const MachineVariables& variables);
    // The console closes: a load under way ends (nothing of it stays, the file keeps its name)
    // and the log says so.
    void cancel();
    // The load under way, or null.
    const JobLoad* current() const { return load_.get(); }

  signals:
    void changed();
    // A load ended: with what the operator is to be told when it failed.
    void ended(const std::optional<std::string>& error);

  private:
    void finished();

    EventLog& log_;
    std::function<void(SettingsChange)> noted_;
    std::unique_ptr<JobLoad> load_;
};

}  // namespace velkor
