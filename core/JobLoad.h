#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "JobImport.h"

namespace velkor {

// A job file that loads beside the window: on a thread and a database connection of its own,
// so that the window stays painted and scans are looked up and sent meanwhile (they see the
// file's pieces once its one transaction commits). It reports how far it is and, once, how it
// ended; destroying it while it runs ends it (its rows go, the file keeps its name).
class JobLoad : public QObject {
    Q_OBJECT

  public:
    struct Outcome {
        JobImportReport report;  // as far as it got
        std::optional<std::string> error;
        std::chrono::duration<double> took{};
    };

    JobLoad(std::string databaseString, std::string path, std::int32_t barcodeLength,
            HolePositionLimits limits, QObject* parent = nullptr);
    ~JobLoad() override;
    JobLoad(const JobLoad&) = delete;
    JobLoad& operator=(const JobLoad&) = delete;

    const std::string& path() const { return path_; }
    // How far it is; on the thread that made it.
    const JobImportReport& progress() const { return progress_; }
    // Once finished() has come.
    const Outcome& outcome() const { return outcome_; }

  signals:
    void progressed();
    void finished();

  private:
    void run(std::string databaseString, std::int32_t barcodeLength, HolePositionLimits limits);

    std::string path_;
    JobImportReport progress_;
    Outcome outcome_;
    std::atomic<bool> ending_{false};
    std::thread worker_;
};

}  // namespace velkor
