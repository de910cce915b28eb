#pragma once

#include <functional>

namespace velkor {

class TCustomComPort;

// The handler slots through which another component (the packet framer, say) receives a port's
// received bytes and notifications. Every slot is optional; the port calls the assigned ones,
// in the order the links were attached. A link is owned by the component that created it; the
// port only refers to it.
struct TComLink {
    std::function<void(TCustomComPort& port, bool connected)> LinkConn;
    std::function<void(TCustomComPort& port, const char* bytes, int count)> LinkRxBuf;
    std::function<void(TCustomComPort& port, const char* bytes, int count)> LinkTxBuf;
    std::function<void(TCustomComPort& port)> LinkTxEmpty;
    std::function<void(TCustomComPort& port)> LinkRxFlag;
    std::function<void(TCustomComPort& port, bool on)> LinkCTS;
    std::function<void(TCustomComPort& port, bool on)> LinkDSR;
    std::function<void(TCustomComPort& port, bool on)> LinkRLSD;
    std::function<void(TCustomComPort& port)> LinkRing;
    std::function<void(TCustomComPort& port, bool started)> LinkTx;
    std::function<void(TCustomComPort& port, bool waiting)> LinkRx;
};

}  // namespace velkor
