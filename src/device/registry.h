// The registry of open cameras, as seen by the call surface.
#pragma once

#include <memory>
#include <string>

class CamBayer;

namespace ezcam {
// The registered camera of that name, or null. The handle keeps the camera
// alive for as long as the caller holds it, even if it is unplugged meanwhile.
std::shared_ptr<CamBayer> findCamera(const char* name);
// The directory given to InitDevice.
std::string documentDirectory();
}  // namespace ezcam

#include <cstdint>

// The vendor and product pairs watched on the bus.
struct SupportedCamera {
    uint32_t vendor;
    uint32_t product;
};
extern const SupportedCamera tabCamSupport[36];

#include <span>

namespace ezcam {
// Every pair the SDK claims: the udev rules are generated from it.
std::span<const SupportedCamera> claimedCameras();
}  // namespace ezcam
