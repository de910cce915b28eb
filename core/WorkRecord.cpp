#include "WorkRecord.h"

#include <pwd.h>
#include <unistd.h>

#include <QMetaObject>
#include <array>
#include <random>

#include "Text.h"

namespace velkor {
namespace {

std::string hostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) {
        return "?";
    }
    return name.data();
}

std::string accountName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr ? std::string(entry->pw_name) : std::to_string(::geteuid());
}

// 128 random bits: unique across workstations and runs without asking anyone.
std::string newKey() {
    static thread_local std::mt19937_64 bits{std::random_device{}()};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string key;
    for (int half = 0; half < 2; ++half) {
        std::uint64_t value = bits();
        for (int digit = 0; digit < 16; ++digit, value >>= 4U) {
            key += kHex[value & 15U];
        }
    }
    return key;
}

std::chrono::milliseconds ageOf(std::chrono::system_clock::time_point made) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now() -
                                                                 made);
}

}  // namespace

WorkRecord::WorkRecord(Parts parts)
    : parts_(std::move(parts)), workstation_(hostName()), account_(accountName()) {}

WorkRecord::~WorkRecord() {
    close(std::chrono::milliseconds(0));
}

void WorkRecord::post(std::function<void()> onWindowThread) {
    QMetaObject::invokeMethod(this, std::move(onWindowThread), Qt::QueuedConnection);
}

// With the lock held. A spool that cannot be written is said once; the record goes on in
// memory and is written all the same while the console runs.
void WorkRecord::keep(const std::function<void(RecordSpool&)>& entry) {
    if (!spool_) {
        return;
    }
    try {
        entry(*spool_);
    } catch (const std::exception& error) {
        if (!spoolTroubleTold_) {
            spoolTroubleTold_ = true;
            post([this, message = std::string(error.what())] { parts_.log.append(message); });
        }
    }
}

void WorkRecord::open(const std::string& folder, const std::string& databaseString) {
    std::unique_ptr<RecordSpool> spool;
    try {
        spool = std::make_unique<RecordSpool>(folder);
    } catch (const std::exception& error) {
        parts_.log.append(error.what() +
                          cp1251(": записи о работе машины хранятся только в памяти до записи "
                                 "в базу"));
    }
    {
        const std::lock_guard lock(mutex_);
        spool_ = std::move(spool);
        if (spool_) {
            std::vector<RecordEntry> earlier = spool_->takeUnwritten();
            if (!earlier.empty()) {
                parts_.log.append(cp1251("Записей прошлого запуска ещё не в базе: ") +
                                  std::to_string(earlier.size()) +
                                  cp1251("; они записываются сейчас"));
            }
            toWrite_.insert(toWrite_.begin(), std::make_move_iterator(earlier.begin()),
                            std::make_move_iterator(earlier.end()));
        }
    }
    worker_ = std::thread([this, databaseString] { work(databaseString); });
}

void WorkRecord::close(std::chrono::milliseconds limit) {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
        endBy_ = std::chrono::steady_clock::now() + limit;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

std::size_t WorkRecord::unwritten() const {
    const std::lock_guard lock(mutex_);
    return toWrite_.size();
}

std::string WorkRecord::begin(Begun dispatch) {
    DispatchRecord record;
    record.key = newKey();
    record.begun = std::chrono::system_clock::now();
    record.workstation = workstation_;
    record.account = account_;
    record.scan = std::move(dispatch.scan);
    record.barcode = dispatch.barcode;
    record.piece = dispatch.piece;
    record.profileMode = parts_.profileMode();
    record.counter = parts_.counter();
    {
        const std::lock_guard lock(mutex_);
        keep([&](RecordSpool& spool) { spool.begun(record); });
        if (record.scan && record.barcode) {
            question_ = Question{*record.scan, *record.barcode, record.piece};
        }
        open_.emplace(record.key, record);
    }
    wake_.notify_one();
    return record.key;
}

void WorkRecord::sent(const std::string& key, const std::string& command) {
    const std::lock_guard lock(mutex_);
    keep([&](RecordSpool& spool) { spool.sent(key, command); });
    open_.at(key).commands.push_back(command);
}

void WorkRecord::end(const std::string& key, DispatchOutcome outcome, int stoppedAt,
                     const std::string& message) {
    const std::optional<std::int64_t> counter = parts_.counter();
    {
        const std::lock_guard lock(mutex_);
        auto entry = open_.extract(key);
        DispatchRecord& record = entry.mapped();
        record.outcome = outcome;
        record.stoppedAt = stoppedAt;
        record.message = message;
        record.counter = counter;
        keep([&](RecordSpool& spool) { spool.ended(record); });
        toWrite_.push_back(std::move(record));
    }
    wake_.notify_one();
}

void WorkRecord::dropped(const std::optional<std::string>& scan, const std::string& why) {
    const std::string key = begin({scan, std::nullopt, std::nullopt});
    end(key, DispatchOutcome::Dropped, 0, why);
}

void WorkRecord::note(SettingsChange change) {
    change.key = newKey();
    change.made = std::chrono::system_clock::now();
    change.workstation = workstation_;
    change.account = account_;
    {
        const std::lock_guard lock(mutex_);
        keep([&](RecordSpool& spool) { spool.noted(change); });
        toWrite_.emplace_back(std::move(change));
    }
    wake_.notify_one();
}

void WorkRecord::troubleBegan(const std::string& error) {
    parts_.log.append(cp1251("Записи о работе машины не записываются в базу данных: ") + error +
                      cp1251(". Они хранятся в ") + RecordSpool::kFileName +
                      cp1251(" и будут записаны, как только база их примет"));
}

// On the worker: a question about the scan just begun comes first (before that scan's own
// record goes in, so that it finds only earlier ones), then the records in the order they
// ended. A failure waits `retryEvery` and tries again; once the console ends, what could not be
// written in time stays on disk.
void WorkRecord::work(const std::string& databaseString) {
    std::unique_ptr<RecordBook> book;
    bool opened = false;
    bool troubled = false;
    std::size_t writtenSinceTrouble = 0;
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return ending_ || question_ || !toWrite_.empty(); });
        if (ending_ && (toWrite_.empty() || std::chrono::steady_clock::now() >= endBy_)) {
            return;
        }
        const std::optional<Question> question = std::exchange(question_, std::nullopt);
        const std::optional<RecordEntry> entry =
            toWrite_.empty() ? std::nullopt : std::optional(toWrite_.front());
        lock.unlock();
        try {
            if (!book) {
                book = parts_.book();
            }
            if (!opened) {
                book->open(databaseString);
                opened = true;
            }
            if (question) {
                PieceNotice notice{question->scan, book->latestSentOf(question->barcode),
                                   std::nullopt};
                if (question->piece) {
                    notice.progress = book->progressOfPiece(*question->piece);
                }
                post([this, notice] {
                    if (notice.earlier) {
                        parts_.log.append(cp1251("Деталь ") + notice.scan +
                                          cp1251(" уже обработана ") + notice.earlier->when +
                                          cp1251(", рабочее место ") + notice.earlier->workstation);
                    }
                    emit noticed(notice);
                });
            }
            if (const auto* change = entry ? std::get_if<SettingsChange>(&*entry) : nullptr) {
                book->enterChange(*change, ageOf(change->made));
            }
            if (const auto* record = entry ? std::get_if<DispatchRecord>(&*entry) : nullptr) {
                book->enter(*record, ageOf(record->begun));
                if (record->piece && record->outcome == DispatchOutcome::Sent) {
                    if (auto progress = book->progressOfPiece(*record->piece)) {
                        post([this, notice = PieceNotice{record->scan.value_or(""), std::nullopt,
                                                         std::move(progress)}] {
                            emit noticed(notice);
                        });
                    }
                }
            }
            lock.lock();
            if (entry) {
                toWrite_.pop_front();
                keep([&](RecordSpool& spool) { spool.written(keyOf(*entry)); });
                ++writtenSinceTrouble;
            }
            if (troubled && toWrite_.empty()) {
                troubled = false;
                post([this, written = writtenSinceTrouble] {
                    parts_.log.append(cp1251("Записи о работе машины снова записываются в базу "
                                             "данных; записано из ожидавших: ") +
                                      std::to_string(written));
                });
            }
        } catch (const std::exception& error) {
            lock.lock();
            if (ending_) {
                return;  // what is left waits on disk for the next start
            }
            if (!troubled) {
                troubled = true;
                writtenSinceTrouble = 0;
                post([this, message = std::string(error.what())] { troubleBegan(message); });
            }
            wake_.wait_for(lock, parts_.retryEvery, [this] { return ending_; });
        }
    }
}

}  // namespace velkor
