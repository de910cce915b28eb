#include "AnswerWatch.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "Logging.h"

namespace velkor::firebird {
namespace {

using Clock = std::chrono::steady_clock;

// What a call still gets once the process is ending: a database that answers at all answers
// within it.
constexpr auto kGrace = std::chrono::seconds(1);

class Watcher {
  public:
    static Watcher& instance() {
        static Watcher watcher;
        return watcher;
    }

    std::uint64_t arm(Firebird::IAttachment* attachment, Clock::time_point deadline) {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { watch(); });
        }
        const std::uint64_t id = nextId_++;
        watched_.emplace(
            id, Watched{attachment, hurry_ ? std::min(deadline, Clock::now() + kGrace) : deadline,
                        false});
        changed_.notify_one();
        return id;
    }

    bool disarm(std::uint64_t id) {
        std::lock_guard lock(mutex_);
        const auto found = watched_.find(id);
        const bool cut = found != watched_.end() && found->second.cut;
        if (found != watched_.end()) {
            watched_.erase(found);
        }
        return cut;
    }

    void hurry() {
        std::lock_guard lock(mutex_);
        hurry_ = true;
        for (auto& [id, watched] : watched_) {
            watched.deadline = std::min(watched.deadline, Clock::now() + kGrace);
        }
        changed_.notify_one();
    }

  private:
    struct Watched {
        Firebird::IAttachment* attachment;
        Clock::time_point deadline;
        bool cut;
    };

    Watcher() = default;
    ~Watcher() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_one();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    // The attachment is cut while the lock is held: the call's owner cannot let go of it
    // meanwhile, as disarming waits for the lock.
    void watch() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            Watched* due = nullptr;
            for (auto& [id, watched] : watched_) {
                if (!watched.cut && (due == nullptr || watched.deadline < due->deadline)) {
                    due = &watched;
                }
            }
            if (due == nullptr) {
                changed_.wait(lock);
            } else if (const Clock::time_point deadline = due->deadline; Clock::now() < deadline) {
                // A copy: the watched call may end, and its entry go, while this waits.
                changed_.wait_until(lock, deadline);
            } else {
                cutConnection(due->attachment);
                due->cut = true;
            }
        }
    }

    static void cutConnection(Firebird::IAttachment* attachment) {
        // Aborting closes this side of a connection to a server at once; the embedded engine
        // has no such side, and its call is asked to give up instead.
        for (const int how : {fb_cancel_abort, fb_cancel_raise}) {
            try {
                Status status;
                attachment->cancelOperation(&status, how);
                return;
            } catch (const Firebird::FbException& error) {
                char text[512];
                master()->getUtilInterface()->formatStatus(text, sizeof text, error.getStatus());
                qCWarning(lcJobData, "a call without an answer could not be cut (%d): %s", how,
                          text);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint64_t, Watched> watched_;
    std::uint64_t nextId_ = 1;
    bool stopping_ = false;
    bool hurry_ = false;
    std::thread thread_;
};

}  // namespace

AnsweredWithin::AnsweredWithin(Firebird::IAttachment* attachment, std::chrono::milliseconds limit) {
    if (attachment != nullptr && limit > std::chrono::milliseconds::zero()) {
        attachment_ = attachment;
        attachment_->addRef();
        id_ = Watcher::instance().arm(attachment, Clock::now() + limit);
    }
}

AnsweredWithin::~AnsweredWithin() {
    cut();
}

bool AnsweredWithin::cut() {
    if (id_ != 0) {
        cut_ = Watcher::instance().disarm(id_);
        id_ = 0;
        attachment_->release();
    }
    return cut_;
}

void stopWaitingForAnswers() {
    Watcher::instance().hurry();
}

}  // namespace velkor::firebird
