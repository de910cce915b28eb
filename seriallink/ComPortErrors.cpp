#include "ComPortErrors.h"

#include <string>

#include "Text.h"

namespace velkor {
namespace {

constexpr const char* kMessages[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

std::string errorText(int errorNumber, int osError) {
    std::string text = ComErrorMessage(errorNumber);
    if (osError > 0) {
        text += " (Error: " + std::to_string(osError) + ")";
    }
    return text;
}

}  // namespace

const char* ComErrorMessage(int errorNumber) {
    if (errorNumber < 1 || errorNumber > 24) {
        return "";
    }
    return kMessages[errorNumber - 1];
}

EComPort::EComPort(int errorNumber, int osError)
    : VelkorError(errorText(errorNumber, osError)),
      errorNumber_(errorNumber),
      osError_(osError > 0 ? osError : -1) {}

EComPort::EComPort(int errorNumber, const std::string& message)
    : VelkorError(message), errorNumber_(errorNumber), osError_(-1) {}

ELineLost::ELineLost(const std::string& port)
    : EComPort(CEPortNotOpen,
               cp1251("Связь с контроллером потеряна (порт ") + port +
                   cp1251("): команда не отправлена. Консоль подключится снова сама, как только "
                          "порт вернётся")) {}

}  // namespace velkor
