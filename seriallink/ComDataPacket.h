#pragma once

#include "ComLink.h"
#include "PacketFramer.h"

namespace velkor {

class TCustomComPort;

// The packet framer bound to a serial port (the console binds one to the controller's): it attaches
// a link to the port and cuts what the port receives into packets (see PacketFramer for the rules
// and the events). The component refers to the port but does not own it; when the port is destroyed
// first, the component lets go of it and keeps working without a port.
class TComDataPacket {
  public:
    TComDataPacket();
    ~TComDataPacket();
    TComDataPacket(const TComDataPacket&) = delete;
    TComDataPacket& operator=(const TComDataPacket&) = delete;

    // The settings, the events and the pending text.
    PacketFramer& Framer() { return framer_; }
    const PacketFramer& Framer() const { return framer_; }

    // The link the port feeds; only its receive slot is assigned.
    TComLink& Link() { return link_; }

    TCustomComPort* ComPort() const { return port_; }
    // Detaches the link from the old port and attaches it to the new one (nullptr: none).
    // If the new port refuses the link, the component is left without a port and the port's
    // error reaches the caller.
    void SetComPort(TCustomComPort* port);

  private:
    void portDestroyed();

    PacketFramer framer_;
    TComLink link_;
    TCustomComPort* port_ = nullptr;
    int destroyListenerId_ = 0;
};

}  // namespace velkor
