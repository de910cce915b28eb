#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CommandSplitter.h"
#include "ControllerModel.h"
#include "ReplyScheduler.h"
#include "SerialDriver.h"
#include "TestClock.h"

namespace velkor::test {

// The machine's controller, and the other devices a workstation lists, behind the serial
// driver seam in the test's own process: the simulator's controller model answers on the
// test's clock, as the simulator program does on its line. A command ends when the line has been
// quiet for the gap (20 ms), so commands written together run together as they would on a
// real line; replies may come late, in pieces or after junk, be withheld, and the line may be
// pulled and plugged in again. Nothing here pauses for real: the clock's pauses deliver what
// falls due and wait only until the console's event thread has taken it.
class InProcessController {
  public:
    struct Options {
        simulator::ControllerConfig controller{};
        simulator::ReplyStyle replies{};
        std::chrono::milliseconds gap{20};
        bool silent = false;  // takes every command and answers none (a bare line)
    };
    // A command as the controller took it, with when its first byte arrived (test clock).
    struct Received {
        Clock::TimePoint at;
        std::string command;
    };

    // The controller is at `port` (the name the console opens).
    InProcessController(TestClock& clock, std::string port, Options options);
    InProcessController(TestClock& clock, std::string port)
        : InProcessController(clock, std::move(port), Options{}) {}
    ~InProcessController();
    InProcessController(const InProcessController&) = delete;
    InProcessController& operator=(const InProcessController&) = delete;

    // Makes the drivers the console's port uses (ConsoleOptions::serialDriver).
    std::function<std::unique_ptr<SerialDriver>()> driverFactory();

    const std::string& port() const { return port_; }
    // Another name of the controller's device, as /dev/serial/by-id gives one.
    void addAlias(const std::string& name);
    // Other listed devices: one that never answers, one that answers every write with noise.
    void addSilentDevice(const std::string& name);
    void addNoisyDevice(const std::string& name);
    // Told of each command the controller has taken, after its answer went out.
    void whenReceived(std::function<void(const std::string& command)> taken) {
        whenReceived_ = std::move(taken);
    }
    // Writes fail with this error number (0: they go through), as a failing adapter's do.
    void failWrites(int error);

    // The controller sends bytes of its own (a report, boot messages); they reach the console
    // at once.
    void send(const std::string& bytes);
    // The cable is pulled: the line is gone and cannot be opened until it is plugged in again.
    void pull();
    void plugIn();

    std::vector<Received> received() const;
    std::vector<std::string> commands() const;
    // What the other devices were sent, as written.
    std::string writtenTo(const std::string& device) const;

  private:
    class Driver;
    struct Device;

    Device* device(const std::string& name);
    void written(Device& device, const std::string& bytes);
    void handleExpired();
    void handle(const simulator::Command& command);
    void deliverDue();
    void deliver(Device& device, const std::string& bytes);
    void settle();
    bool heldOpen(const Device& device) const;  // with the mutex held
    simulator::MonoTime monoNow() const;

    TestClock& clock_;
    std::string port_;
    simulator::CommandSplitter splitter_;
    simulator::ControllerModel model_;
    simulator::ReplyScheduler scheduler_;
    std::vector<Received> received_;

    mutable std::mutex mutex_;  // guards the devices' bytes and the driver's state
    std::condition_variable changed_;
    std::map<std::string, std::shared_ptr<Device>> devices_;  // by name: aliases share one
    std::vector<Driver*> drivers_;  // the drivers of the ports made meanwhile
    int failWrites_ = 0;
    bool silent_ = false;
    std::function<void(const std::string&)> whenReceived_;
};

}  // namespace velkor::test
