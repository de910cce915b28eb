#include "ComDataPacket.h"

#include "ComPort.h"

namespace velkor {

TComDataPacket::TComDataPacket() {
    link_.LinkRxBuf = [this](TCustomComPort&, const char* bytes, int count) {
        framer_.Receive(bytes, count);
    };
}

TComDataPacket::~TComDataPacket() {
    try {
        SetComPort(nullptr);
    } catch (...) {
        // The port refused to detach a link it does not have (it refused to attach it and
        // reported that through its OnException); there is nothing left to undo.
    }
}

void TComDataPacket::SetComPort(TCustomComPort* port) {
    if (port == port_) {
        return;
    }
    if (port_ != nullptr) {
        TCustomComPort* old = port_;
        port_ = nullptr;
        old->removeDestroyListener(destroyListenerId_);
        destroyListenerId_ = 0;
        old->DetachLink(&link_);
    }
    port_ = port;
    if (port_ == nullptr) {
        return;
    }
    destroyListenerId_ = port_->addDestroyListener([this] { portDestroyed(); });
    try {
        port_->AttachLink(&link_);
    } catch (...) {
        port_->removeDestroyListener(destroyListenerId_);
        destroyListenerId_ = 0;
        port_ = nullptr;
        throw;
    }
}

// The port is about to be destroyed and is calling its destroy listeners. The component only
// lets go of it: the port drops its links and listeners with itself, and nothing may throw
// here, inside the port's destructor.
void TComDataPacket::portDestroyed() {
    port_ = nullptr;
    destroyListenerId_ = 0;
}

}  // namespace velkor
