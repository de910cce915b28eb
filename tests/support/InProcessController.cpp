#include "InProcessController.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>

namespace velkor::test {
namespace {

// What a device on another port answers whatever reaches it (a modem, a scale, a loose end).
constexpr char kNoise[] = "\x15?ERR>>\xff<<<no";

}  // namespace

struct InProcessController::Device {
    enum class Kind { Controller, Silent, Noisy };
    Kind kind;
    std::string incoming{};  // sent to the console, not read yet
    bool unreported = false;
    bool pulled = false;
    std::string written{};  // what a device other than the controller was sent
};

// The console port's driver: the device it has open, the bytes waiting there, and its event
// thread's wait.
class InProcessController::Driver final : public SerialDriver {
  public:
    explicit Driver(InProcessController& site) : site_(site) {
        const std::lock_guard lock(site_.mutex_);
        site_.drivers_.push_back(this);
    }
    ~Driver() override {
        const std::lock_guard lock(site_.mutex_);
        std::erase(site_.drivers_, this);
    }

    const Device* openDevice() const { return open_; }

    int openDevice(const std::string& port) override {
        const std::lock_guard lock(site_.mutex_);
        const auto found = site_.devices_.find(port);
        if (found == site_.devices_.end() || found->second->pulled) {
            return ENOENT;
        }
        open_ = found->second.get();
        open_->incoming.clear();
        open_->unreported = false;
        return 0;
    }
    int closeDevice() override {
        const std::lock_guard lock(site_.mutex_);
        open_ = nullptr;
        return 0;
    }
    bool isOpen() const override {
        const std::lock_guard lock(site_.mutex_);
        return open_ != nullptr;
    }
    int setQueueSizes(std::uint32_t, std::uint32_t) override { return 0; }
    int setLineState(const LineState&) override { return 0; }
    int setTimeouts(const TimeoutSettings&) override { return 0; }
    void setEventMask(std::uint32_t) override {}

    WaitResult waitEvents(std::uint32_t& events) override {
        std::unique_lock lock(site_.mutex_);
        site_.changed_.wait(lock, [this] {
            return stopRequested_ || (open_ != nullptr && (open_->pulled || open_->unreported));
        });
        if (stopRequested_) {
            return WaitResult::Stopped;
        }
        if (open_->pulled) {
            return WaitResult::Lost;
        }
        open_->unreported = false;
        events = CommMask::RxChar;
        return WaitResult::Events;
    }
    void requestStop() override {
        {
            const std::lock_guard lock(site_.mutex_);
            stopRequested_ = true;
        }
        site_.changed_.notify_all();
    }
    void clearStop() override {
        const std::lock_guard lock(site_.mutex_);
        stopRequested_ = false;
    }

    int write(const char* bytes, std::size_t count, std::size_t& written) override {
        Device* device = nullptr;
        {
            const std::lock_guard lock(site_.mutex_);
            if (open_ == nullptr || open_->pulled || site_.failWrites_ != 0) {
                written = 0;
                return open_ != nullptr && !open_->pulled ? site_.failWrites_ : EIO;
            }
            device = open_;
        }
        written = count;
        site_.written(*device, std::string(bytes, count));
        return 0;
    }
    int read(char* buffer, std::size_t count, std::size_t& got) override {
        const std::lock_guard lock(site_.mutex_);
        got = 0;
        if (open_ != nullptr) {
            got = std::min(count, open_->incoming.size());
            open_->incoming.copy(buffer, got);
            open_->incoming.erase(0, got);
            open_->unreported = open_->unreported || !open_->incoming.empty();
        }
        if (got > 0 || (open_ != nullptr && open_->incoming.empty())) {
            site_.changed_.notify_all();
        }
        return 0;
    }
    int status(std::uint32_t& flags, std::uint32_t& waiting) override {
        const std::lock_guard lock(site_.mutex_);
        flags = 0;
        waiting = open_ == nullptr ? 0 : static_cast<std::uint32_t>(open_->incoming.size());
        return 0;
    }
    int modemLines(std::uint32_t& lines) override {
        lines = 0;
        return 0;
    }
    int purge(bool abort) override {
        const std::lock_guard lock(site_.mutex_);
        if (!abort && open_ != nullptr) {
            open_->incoming.clear();
        }
        return 0;
    }
    bool hungUp() override {
        const std::lock_guard lock(site_.mutex_);
        return open_ != nullptr && open_->pulled;
    }
    bool sameDevice(const std::string& a, const std::string& b) const override {
        const std::lock_guard lock(site_.mutex_);
        const auto first = site_.devices_.find(a);
        const auto second = site_.devices_.find(b);
        return a == b || (first != site_.devices_.end() && second != site_.devices_.end() &&
                          first->second == second->second);
    }

  private:
    InProcessController& site_;
    Device* open_ = nullptr;  // guarded by the site's mutex
    bool stopRequested_ = false;
};

InProcessController::InProcessController(TestClock& clock, std::string port, Options options)
    : clock_(clock),
      port_(std::move(port)),
      splitter_(options.gap),
      model_(options.controller),
      scheduler_(options.replies),
      silent_(options.silent) {
    devices_[port_] = std::make_shared<Device>(Device{Device::Kind::Controller});
    clock_.addSettler([this] { settle(); });
}

InProcessController::~InProcessController() = default;

std::function<std::unique_ptr<SerialDriver>()> InProcessController::driverFactory() {
    return [this] { return std::unique_ptr<SerialDriver>(std::make_unique<Driver>(*this)); };
}

void InProcessController::addAlias(const std::string& name) {
    const std::lock_guard lock(mutex_);
    devices_[name] = devices_.at(port_);
}

void InProcessController::addSilentDevice(const std::string& name) {
    const std::lock_guard lock(mutex_);
    devices_[name] = std::make_shared<Device>(Device{Device::Kind::Silent});
}

void InProcessController::addNoisyDevice(const std::string& name) {
    const std::lock_guard lock(mutex_);
    devices_[name] = std::make_shared<Device>(Device{Device::Kind::Noisy});
}

void InProcessController::failWrites(int error) {
    const std::lock_guard lock(mutex_);
    failWrites_ = error;
}

InProcessController::Device* InProcessController::device(const std::string& name) {
    const std::lock_guard lock(mutex_);
    return devices_.at(name).get();
}

simulator::MonoTime InProcessController::monoNow() const {
    return clock_.now().time_since_epoch();
}

// On the user-interface thread, inside the console's write.
void InProcessController::written(Device& device, const std::string& bytes) {
    switch (device.kind) {
        case Device::Kind::Controller:
            for (const simulator::Command& command : splitter_.feed(bytes, monoNow())) {
                handle(command);
            }
            if (const auto deadline = splitter_.deadline()) {
                clock_.at(Clock::TimePoint(
                              std::chrono::duration_cast<Clock::TimePoint::duration>(*deadline)),
                          [this] { handleExpired(); });
            }
            return;
        case Device::Kind::Silent:
            device.written += bytes;
            return;
        case Device::Kind::Noisy:
            device.written += bytes;
            deliver(device, kNoise);
            return;
    }
}

void InProcessController::handleExpired() {
    if (const auto command = splitter_.expire(monoNow())) {
        handle(*command);
    }
}

void InProcessController::handle(const simulator::Command& command) {
    received_.push_back({Clock::TimePoint(std::chrono::duration_cast<Clock::TimePoint::duration>(
                             command.firstByte)),
                         command.text});
    const simulator::Reply reply = model_.handle(command.text);
    if (!silent_ && !reply.withheld && !reply.packets.empty()) {
        scheduler_.schedule(reply.packets, monoNow());
        deliverDue();
    }
    if (whenReceived_) {
        whenReceived_(command.text);
    }
}

void InProcessController::deliverDue() {
    for (const simulator::Chunk& chunk : scheduler_.takeDue(monoNow())) {
        deliver(*device(port_), chunk.bytes);
    }
    if (const auto next = scheduler_.nextDue()) {
        clock_.at(Clock::TimePoint(std::chrono::duration_cast<Clock::TimePoint::duration>(*next)),
                  [this] { deliverDue(); });
    }
}

bool InProcessController::heldOpen(const Device& device) const {
    return std::any_of(drivers_.begin(), drivers_.end(),
                       [&](const Driver* driver) { return driver->openDevice() == &device; });
}

// Bytes for a device that the console does not have open are lost, as on a real line.
void InProcessController::deliver(Device& device, const std::string& bytes) {
    {
        const std::lock_guard lock(mutex_);
        if (!heldOpen(device) || device.pulled) {
            return;
        }
        device.incoming += bytes;
        device.unreported = true;
    }
    changed_.notify_all();
    settle();
}

void InProcessController::send(const std::string& bytes) {
    deliver(*device(port_), bytes);
}

void InProcessController::pull() {
    {
        const std::lock_guard lock(mutex_);
        devices_.at(port_)->pulled = true;
    }
    changed_.notify_all();
    settle();
}

void InProcessController::plugIn() {
    const std::lock_guard lock(mutex_);
    devices_.at(port_)->pulled = false;
}

// Waits, handling events, until the console has read every byte its open device holds and, when
// the device was pulled, has let go of it.
void InProcessController::settle() {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QCoreApplication::processEvents();
        std::unique_lock lock(mutex_);
        const bool pending = std::any_of(drivers_.begin(), drivers_.end(), [](const Driver* d) {
            const Device* open = d->openDevice();
            return open != nullptr && (open->pulled || !open->incoming.empty());
        });
        if (!pending) {
            return;
        }
        if (waited.elapsed() > 5000) {
            ADD_FAILURE() << "the console did not take what the line brought";
            return;
        }
        changed_.wait_for(lock, std::chrono::milliseconds(1));
    }
}

std::vector<InProcessController::Received> InProcessController::received() const {
    return received_;
}

std::vector<std::string> InProcessController::commands() const {
    std::vector<std::string> texts;
    for (const Received& r : received_) {
        texts.push_back(r.command);
    }
    return texts;
}

std::string InProcessController::writtenTo(const std::string& name) const {
    const std::lock_guard lock(mutex_);
    return devices_.at(name)->written;
}

}  // namespace velkor::test
