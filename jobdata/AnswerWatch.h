// Internal to the job database, beside the client library's interfaces.
#pragma once

#include <chrono>
#include <cstdint>

#include "FirebirdInterfaces.h"

namespace velkor::firebird {

// Holds a call into the client library to a time limit. A server that stops answering (its
// machine hangs, it is stopped, the network between stalls) would otherwise hold the calling
// thread until TCP gives up, minutes later: once the limit has passed, the connection is cut
// on this side (the server, if it ever answers again, rolls back what it held), so that the
// call fails at once as on a lost connection. One thread watches the calls of every session.
class AnsweredWithin {
  public:
    // Watches a call on `attachment` from now until the object goes; no limit: no watch. The
    // watch holds a reference of its own, so a call that frees the attachment (detach) may be
    // watched too.
    AnsweredWithin(Firebird::IAttachment* attachment, std::chrono::milliseconds limit);
    ~AnsweredWithin();
    AnsweredWithin(const AnsweredWithin&) = delete;
    AnsweredWithin& operator=(const AnsweredWithin&) = delete;

    // Ends the watch; true when the limit had passed and the connection was cut.
    bool cut();

  private:
    Firebird::IAttachment* attachment_ = nullptr;
    std::uint64_t id_ = 0;
    bool cut_ = false;
};

// The process is ending: no call waits long for its answer any more. Calls under way and
// those that follow get a second at most.
void stopWaitingForAnswers();

}  // namespace velkor::firebird
