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
#include <span>

// A vendor and product pair watched on the bus.
struct SupportedCamera {
    uint32_t vendor;
    uint32_t product;
};
// The pairs watched by default: the watched rows of the product table, in
// its order, under vendor 0x0547.
std::span<const SupportedCamera> tabCamSupport();

namespace ezcam {
// Every pair the SDK may claim: the watched pairs and every pair a model
// drives (EZCAM_EXTRA_IDS can add those). The udev rules are generated
// from it.
std::span<const SupportedCamera> claimedCameras();
}  // namespace ezcam
