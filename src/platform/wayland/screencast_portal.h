#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/result.h"

// The desktop portal's screen-cast interface (org.freedesktop.portal.ScreenCast) over the
// session bus: one monitor shared through PipeWire.
namespace pindle::wayland {

// What the portal offers, for choosing a backend and for `doctor`.
struct PortalInfo {
    bool offersScreenCast = false;
    uint32_t version = 0;
    uint32_t sourceTypes = 0;  // 1 monitor, 2 window, 4 virtual
    uint32_t cursorModes = 0;  // 1 hidden, 2 embedded, 4 metadata
    std::string problem;       // why there is no screen casting, when there is none
};
PortalInfo queryScreenCastPortal();

// The stream of the shared monitor, as Start answered.
struct PortalStream {
    uint32_t nodeID = 0;
    bool hasPlace = false;  // position and size were given
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct PortalRequest {
    bool embedCursor = false;
    std::string restoreToken;  // from an earlier session; empty shows the chooser
    int timeoutSeconds = 300;  // how long the user may take in the chooser
};

// One screen-cast session, closed when the object goes.
class ScreenCastSession {
public:
    virtual ~ScreenCastSession() = default;
    virtual const PortalStream& stream() const = 0;
    // The token for the next session's restore_token; empty when the portal gave none.
    virtual const std::string& restoreToken() const = 0;
    // The PipeWire connection the portal opened for this session; the caller owns it.
    virtual int takePipeWireFd() = 0;
};

// CreateSession, SelectSources (one monitor; persist until revoked), Start,
// OpenPipeWireRemote. An error says why in words for the user: no bus, no portal, the
// chooser cancelled, refused.
Result<std::unique_ptr<ScreenCastSession>> startScreenCast(const PortalRequest& request);

}  // namespace pindle::wayland
