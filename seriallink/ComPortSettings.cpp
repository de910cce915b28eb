#include "ComPortSettings.h"

#include "ComPort.h"

namespace velkor {

template <typename T>
void TComParity::change(T& field, T value) {
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyDeviceState();
        }
    }
}
void TComParity::SetBits(TParityBits v) {
    change(bits_, v);
}
void TComParity::SetCheck(bool v) {
    change(check_, v);
}
void TComParity::SetReplace(bool v) {
    change(replace_, v);
}
void TComParity::SetReplaceChar(char v) {
    change(replaceChar_, v);
}
void TComParity::Assign(const TComParity& other) {
    bits_ = other.bits_;
    check_ = other.check_;
    replace_ = other.replace_;
    replaceChar_ = other.replaceChar_;
    if (port_ != nullptr) {
        port_->ApplyDeviceState();
    }
}

template <typename T>
void TComFlowControl::change(T& field, T value) {
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyDeviceState();
        }
    }
}
void TComFlowControl::SetOutCTSFlow(bool v) {
    change(outCTSFlow_, v);
}
void TComFlowControl::SetOutDSRFlow(bool v) {
    change(outDSRFlow_, v);
}
void TComFlowControl::SetControlDTR(TDTRFlowControl v) {
    change(controlDTR_, v);
}
void TComFlowControl::SetControlRTS(TRTSFlowControl v) {
    change(controlRTS_, v);
}
void TComFlowControl::SetXonXoffOut(bool v) {
    change(xonXoffOut_, v);
}
void TComFlowControl::SetXonXoffIn(bool v) {
    change(xonXoffIn_, v);
}
void TComFlowControl::SetDSRSensitivity(bool v) {
    change(dsrSensitivity_, v);
}
void TComFlowControl::SetTxContinueOnXoff(bool v) {
    change(txContinueOnXoff_, v);
}
void TComFlowControl::SetXonChar(char v) {
    change(xonChar_, v);
}
void TComFlowControl::SetXoffChar(char v) {
    change(xoffChar_, v);
}

TFlowControl TComFlowControl::FlowControl() const {
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
        return fcHardware;
    }
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) {
        return fcSoftware;
    }
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xonXoffIn_ && !xonXoffOut_) {
        return fcNone;
    }
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl preset) {
    if (preset != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (preset == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (preset == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    if (port_ != nullptr) {
        port_->ApplyDeviceState();
    }
}

void TComFlowControl::Assign(const TComFlowControl& other) {
    TCustomComPort* port = port_;
    *this = other;
    port_ = port;
    if (port_ != nullptr) {
        port_->ApplyDeviceState();
    }
}

void TComTimeouts::change(std::int32_t& field, std::int32_t value) {
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyTimeoutSettings();
        }
    }
}
void TComTimeouts::SetReadInterval(std::int32_t v) {
    change(readInterval_, v);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t v) {
    change(readTotalMultiplier_, v);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t v) {
    change(readTotalConstant_, v);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t v) {
    change(writeTotalMultiplier_, v);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t v) {
    change(writeTotalConstant_, v);
}
void TComTimeouts::Assign(const TComTimeouts& other) {
    TCustomComPort* port = port_;
    *this = other;
    port_ = port;
    if (port_ != nullptr) {
        port_->ApplyTimeoutSettings();
    }
}

void TComBuffer::change(std::int32_t& field, std::int32_t value) {
    if (value > 0 && value % 2 == 1) {
        --value;  // queue sizes are even
    }
    if (field != value) {
        field = value;
        if (port_ != nullptr) {
            port_->ApplyBufferSizes();
        }
    }
}
void TComBuffer::SetInputSize(std::int32_t v) {
    change(inputSize_, v);
}
void TComBuffer::SetOutputSize(std::int32_t v) {
    change(outputSize_, v);
}
void TComBuffer::Assign(const TComBuffer& other) {
    inputSize_ = other.inputSize_;
    outputSize_ = other.outputSize_;
    if (port_ != nullptr) {
        port_->ApplyBufferSizes();
    }
}

}  // namespace velkor
