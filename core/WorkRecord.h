#pragma once

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "DispatchLedger.h"
#include "EventLog.h"
#include "RecordBook.h"
#include "RecordSpool.h"

namespace velkor {

// What the record knows of a scanned piece, for the window: when and where it was sent before,
// and its batch's progress.
struct PieceNotice {
    std::string scan;
    std::optional<EarlierDispatch> earlier;
    std::optional<BatchProgress> progress;
};

// The record of the machine's work: every dispatch of positions and every change to the
// machine's settings, written whole to the job database beside the window, on a thread and a
// connection of its own, so that no position and no change ever waits for it. Until the
// database has a record, the workstation's disk keeps it (RecordSpool): a database that is away,
// a full disk on the server, the console killed or restarted lose none. The operator is told
// once when records stop going in and once when they go in again.
//
// It also finds, beside the window, when a scanned piece was sent before and how far its batch
// is, and tells the window (noticed).
class WorkRecord : public QObject, public DispatchLedger {
    Q_OBJECT

  public:
    struct Parts {
        EventLog& log;
        std::function<std::unique_ptr<RecordBook>()> book;
        std::function<int()> profileMode;
        std::function<std::optional<std::int64_t>()> counter;
        // How long after a failed write the next try comes.
        std::chrono::milliseconds retryEvery;
    };
    explicit WorkRecord(Parts parts);
    ~WorkRecord() override;
    WorkRecord(const WorkRecord&) = delete;
    WorkRecord& operator=(const WorkRecord&) = delete;

    // Start-up claimed `folder`: the records an earlier run left there go in first, and the
    // record goes to the database that `databaseString` names.
    void open(const std::string& folder, const std::string& databaseString);
    // The console ends: the records not yet written get up to `limit` to go in; the rest wait
    // on disk for the next start.
    void close(std::chrono::milliseconds limit);
    // Records not yet in the database.
    std::size_t unwritten() const;

    std::string begin(Begun dispatch) override;
    void sent(const std::string& key, const std::string& command) override;
    void end(const std::string& key, DispatchOutcome outcome, int stoppedAt,
             const std::string& message) override;
    void dropped(const std::optional<std::string>& scan, const std::string& why) override;

    // A change to the settings, as the settings history keeps it: when, where and by whom are
    // filled in here.
    void note(SettingsChange change);

  signals:
    void noticed(const velkor::PieceNotice& notice);

  private:
    struct Question {  // about the scan just begun
        std::string scan;
        std::int64_t barcode = 0;
        std::optional<std::int64_t> piece;
    };

    void keep(const std::function<void(RecordSpool&)>& entry);
    void work(const std::string& databaseString);
    void post(std::function<void()> onWindowThread);
    void troubleBegan(const std::string& error);

    Parts parts_;
    std::string workstation_;
    std::string account_;
    mutable std::mutex mutex_;  // everything below, shared with the worker
    std::condition_variable wake_;
    std::unique_ptr<RecordSpool> spool_;
    std::map<std::string, DispatchRecord> open_;  // begun, not ended
    std::deque<RecordEntry> toWrite_;
    std::optional<Question> question_;
    bool ending_ = false;
    std::chrono::steady_clock::time_point endBy_;
    bool spoolTroubleTold_ = false;
    std::thread worker_;
};

}  // namespace velkor
