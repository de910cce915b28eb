#include "ControllerProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "Numbers.h"
#include "Text.h"
#include "VelkorError.h"

namespace velkor {

std::string impulseText(long double millimetres, long double impulsesPerMillimetre) {
    const long double impulses = std::trunc(millimetres * impulsesPerMillimetre);
    // The controller counts in a 32-bit integer: anything beyond would arrive as another number.
    if (!fitsControllerInteger(impulses)) {
        throw VelkorError(cp1251("Длина ") + generalText(millimetres) + cp1251(" мм при ") +
                          generalText(impulsesPerMillimetre) +
                          cp1251(" импульсах на мм не умещается в число контроллера (от "
                                 "-2147483648 до 2147483647 импульсов); ничего не отправлено"));
    }
    return std::to_string(static_cast<std::int64_t>(impulses));
}

std::string impulseTextOf(std::string_view lengthText, long double impulsesPerMillimetre) {
    return impulseText(readReal(trimmed(lengthText)), impulsesPerMillimetre);
}

std::string generalText(long double value) {
    return withDecimalSeparator(realText(value), ',');
}

long double shownValue(long double value) {
    return readReal(generalText(value));
}

bool isStateReport(std::string_view packet) {
    return trimmed(packet).rfind("GET_ALL", 0) == 0;
}

std::string replyText(std::string_view packet) {
    std::string reply;
    reply.reserve(packet.size());
    for (char c : packet) {
        if (c != '=' && c != ';') {
            reply += c;
        }
    }
    return reply;
}

}  // namespace velkor
