#include "UnansweredProbe.h"

namespace velkor {

void UnansweredProbe::asked(Clock::time_point now) {
    ++unanswered_;
    lastAsked_ = now;
}

bool UnansweredProbe::answeredBy(Clock::time_point now) {
    if (unanswered_ == 0 || now - lastAsked_ > kLongestAnswer) {
        unanswered_ = 0;
        return false;
    }
    --unanswered_;
    return true;
}

}  // namespace velkor
