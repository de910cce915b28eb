#pragma once

#include <ctime>

namespace velkor::test {

// A local date and time as the console's clock would give it.
inline std::tm localMoment(int year, int month, int day, int hour, int minute, int second) {
    std::tm moment{};
    moment.tm_year = year - 1900;
    moment.tm_mon = month - 1;
    moment.tm_mday = day;
    moment.tm_hour = hour;
    moment.tm_min = minute;
    moment.tm_sec = second;
    moment.tm_isdst = -1;
    return moment;
}

}  // namespace velkor::test
