#include "ControllerProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Numbers.h"
#include "Text.h"

namespace velkor {

std::string impulseText(long double millimetres, long double impulsesPerMillimetre) {
    const long double impulses = std::trunc(millimetres * impulsesPerMillimetre);
    char text[64];
    std::snprintf(text, sizeof text, "%.0Lf", impulses);
    return std::string(text) == "-0" ? "0" : text;
}

std::string impulseTextOf(std::string_view lengthText, long double impulsesPerMillimetre) {
    return impulseText(readReal(trimmed(lengthText)), impulsesPerMillimetre);
}

std::string generalText(long double value) {
    std::string text = realText(value);
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
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
