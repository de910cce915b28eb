#include "UnansweredProbe.h"

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

}  // namespace velkor
