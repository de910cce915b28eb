#include "JobLoad.h"

#include <QMetaObject>
#include <ctime>

#include "JobDatabase.h"
#include "Logging.h"
#include "Text.h"

namespace velkor {

JobLoad::JobLoad(std::string databaseString, std::string path, std::int32_t barcodeLength,
                 HolePositionLimits limits, QObject* parent)
    : QObject(parent), path_(std::move(path)) {
    worker_ =
        std::thread([this, databaseString = std::move(databaseString), barcodeLength,
                     limits]() mutable { run(std::move(databaseString), barcodeLength, limits); });
}

JobLoad::~JobLoad() {
    ending_ = true;
    worker_.join();
}

// On the worker: what it tells the window goes as queued calls, which die with this object.
void JobLoad::run(std::string databaseString, std::int32_t barcodeLength,
                  HolePositionLimits limits) {
    const auto started = std::chrono::steady_clock::now();
    Outcome outcome;
    JobImportOptions options{limits, [this](const JobImportReport& report) {
                                 QMetaObject::invokeMethod(
                                     this,
                                     [this, report] {
                                         progress_ = report;
                                         emit progressed();
                                     },
                                     Qt::QueuedConnection);
                                 return !ending_.load();
                             }};
    try {
        JobDatabase database(JobDatabase::kLoadAnswerLimit);
        database.connect(std::move(databaseString));
        outcome.report = importJobFile(database, path_, barcodeLength, std::time(nullptr), options);
    } catch (const std::exception& error) {
        outcome.error = error.what();
    } catch (...) {
        outcome.error = describeException(std::current_exception());
    }
    outcome.took = std::chrono::steady_clock::now() - started;
    QMetaObject::invokeMethod(
        this,
        [this, outcome = std::move(outcome)] {
            outcome_ = outcome;
            if (!outcome_.error) {
                progress_ = outcome_.report;
            }
            emit finished();
        },
        Qt::QueuedConnection);
}

}  // namespace velkor
