// The serial link's error numbers, their fixed messages and the exceptions that carry them.
#pragma once

#include <string>

#include "VelkorError.h"

namespace velkor {

// Error numbers of the serial link, each with a fixed message.
enum TComExceptionNumber {
    CE_OpenFailed = 1,
    CE_WriteFailed,
    CE_ReadFailed,
    CE_InvalidAsync,
    CE_PurgeFailed,
    CE_AsyncCheck,
    CE_SetStateFailed,
    CE_TimeoutsFailed,
    CE_SetupComFailed,
    CE_ClearComFailed,
    CE_ModemStatFailed,
    CE_EscapeComFailed,
    CE_TransmitFailed,
    CE_ConnChangeProp,
    CE_EnumPortsFailed,
    CE_StoreFailed,
    CE_LoadFailed,
    CE_RegFailed,
    CE_LedStateFailed,
    CE_ThreadCreated,
    CE_WaitFailed,
    CE_HasLink,
    CE_RegError,
    CEPortNotOpen
};

// The message of an error number, without the system code.
const char* ComErrorMessage(int errorNumber);

// The serial link's error: its number (1 to 24), the system's error code or -1, and the fixed
// message followed by " (Error: <code>)" when a system code belongs to it.
class EComPort : public VelkorError {
  public:
    EComPort(int errorNumber, int osError);
    int ErrorNumber() const { return errorNumber_; }
    int OsError() const { return osError_; }

  protected:
    EComPort(int errorNumber, const std::string& message);

  private:
    int errorNumber_;
    int osError_;
};

// A send while the line is lost: the command did not go out; the port comes back by itself.
// It carries error number 24 ("Port Not Open") with a message that tells the operator why.
class ELineLost : public EComPort {
  public:
    explicit ELineLost(const std::string& port);
};

}  // namespace velkor
