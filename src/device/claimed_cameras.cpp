// The pairs the SDK claims, in one place for the generated udev rules.
#include "device/registry.h"

namespace ezcam {
std::span<const SupportedCamera> claimedCameras() {
    return tabCamSupport;
}
}  // namespace ezcam
