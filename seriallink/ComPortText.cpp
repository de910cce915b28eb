#include "ComPortText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "Text.h"

namespace velkor {
namespace {

constexpr std::array kBaudRates = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                   "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                   "57600",  "115200", "128000", "256000"};
constexpr std::array kStopBits = {"1", "1.5", "2"};
constexpr std::array kDataBits = {"5", "6", "7", "8"};
constexpr std::array kParity = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array kFlowControl = {"Hardware", "Software", "None", "Custom"};
constexpr std::array kDTR = {"Disable", "Enable", "Handshake"};
constexpr std::array kRTS = {"Disable", "Enable", "Handshake", "Toggle"};

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto up = [](char c) {
                   return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
               };
               return up(x) == up(y);
           });
}

template <typename Enum, std::size_t N>
Enum fromText(const std::array<const char*, N>& texts, std::string_view text, Enum fallback) {
    for (std::size_t i = 0; i < N; ++i) {
        if (sameIgnoringAsciiCase(texts[i], text)) {
            return static_cast<Enum>(i);
        }
    }
    return fallback;
}

}  // namespace

std::string BaudRateToText(TBaudRate v) {
    return kBaudRates[v];
}
TBaudRate TextToBaudRate(std::string_view t) {
    return fromText(kBaudRates, t, br9600);
}
std::string StopBitsToText(TStopBits v) {
    return kStopBits[v];
}
TStopBits TextToStopBits(std::string_view t) {
    return fromText(kStopBits, t, sbOneStopBit);
}
std::string DataBitsToText(TDataBits v) {
    return kDataBits[v];
}
TDataBits TextToDataBits(std::string_view t) {
    return fromText(kDataBits, t, dbEight);
}
std::string ParityToText(TParityBits v) {
    return kParity[v];
}
TParityBits TextToParity(std::string_view t) {
    return fromText(kParity, t, prNone);
}
std::string FlowControlToText(TFlowControl v) {
    return kFlowControl[v];
}
TFlowControl TextToFlowControl(std::string_view t) {
    return fromText(kFlowControl, t, fcCustom);
}
std::string DTRToText(TDTRFlowControl v) {
    return kDTR[v];
}
TDTRFlowControl TextToDTR(std::string_view t) {
    return fromText(kDTR, t, dtrDisable);
}
std::string RTSToText(TRTSFlowControl v) {
    return kRTS[v];
}
TRTSFlowControl TextToRTS(std::string_view t) {
    return fromText(kRTS, t, rtsDisable);
}
std::string YesNoText(bool v) {
    return v ? "Yes" : "No";
}
bool TextToYesNo(std::string_view t) {
    return sameIgnoringAsciiCase(t, "YES");
}

std::string CharToText(char c) {
    const auto code = static_cast<unsigned char>(c);
    if (code >= 33 && code <= 127) {
        return std::string(1, c);
    }
    return "#" + std::to_string(code);
}

char TextToChar(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    if (text[0] == '#' && text.size() > 1) {
        int code = 0;
        const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), code);
        if (error != std::errc() || end != text.data() + text.size()) {
            return 0;
        }
        return static_cast<char>(code);
    }
    return text[0];
}

std::string LineStatusText(TLineStatus status) {
    switch (status) {
        case TLineStatus::Open:
            return cp1251("открыт");
        case TLineStatus::Lost:
            return cp1251("связь потеряна, переподключение");
        case TLineStatus::Closed:
            break;
    }
    return cp1251("закрыт");
}

}  // namespace velkor
