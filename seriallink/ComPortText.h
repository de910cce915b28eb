#pragma once

#include <string>
#include <string_view>

#include "ComPort.h"

namespace velkor {

// The text forms of the port settings, as stored and shown in setup dialogs. Reading compares
// without regard to the case of a-z; a text that matches nothing gives the type's fallback
// (br9600, sbOneStopBit, dbEight, prNone, fcCustom, dtrDisable, rtsDisable, false).
std::string BaudRateToText(TBaudRate v);
TBaudRate TextToBaudRate(std::string_view text);
std::string StopBitsToText(TStopBits v);
TStopBits TextToStopBits(std::string_view text);
std::string DataBitsToText(TDataBits v);
TDataBits TextToDataBits(std::string_view text);
std::string ParityToText(TParityBits v);
TParityBits TextToParity(std::string_view text);
std::string FlowControlToText(TFlowControl v);
TFlowControl TextToFlowControl(std::string_view text);
std::string DTRToText(TDTRFlowControl v);
TDTRFlowControl TextToDTR(std::string_view text);
std::string RTSToText(TRTSFlowControl v);
TRTSFlowControl TextToRTS(std::string_view text);
std::string YesNoText(bool v);
bool TextToYesNo(std::string_view text);
// The line's state as the windows show it (8-bit, Windows-1251): "открыт", "закрыт", or
// "связь потеряна, переподключение" while the port waits for its device to come back.
std::string LineStatusText(TLineStatus status);
// A character as itself when its code is 33 to 127, otherwise "#" and its decimal code.
std::string CharToText(char c);
char TextToChar(std::string_view text);

}  // namespace velkor
