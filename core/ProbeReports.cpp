#include "ProbeReports.h"

namespace velkor {

void UnansweredProbe::asked(Clock::TimePoint now) {
    ++unanswered_;
    lastAsked_ = now;
}

bool UnansweredProbe::answeredBy(Clock::TimePoint now) {
    if (unanswered_ == 0 || now - lastAsked_ > kLongestAnswer) {
        unanswered_ = 0;
        return false;
    }
    --unanswered_;
    return true;
}

bool ProbeReports::reportSeen(Clock::TimePoint now) {
    if (!controllersLine_) {
        return false;
    }
    if (autoPush_ != AutoPush::Started) {
        autoPush_ = AutoPush::Armed;
    }
    return unanswered_.answeredBy(now);
}

bool ProbeReports::startArmedPush() {
    if (autoPush_ != AutoPush::Armed) {
        return false;
    }
    autoPush_ = AutoPush::Started;
    return true;
}

}  // namespace velkor
