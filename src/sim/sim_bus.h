// The in-process simulated USB bus and its cameras.
#pragma once

#include "usb/usb.h"

namespace sim {
// The process's simulated bus. On first use it plugs the cameras listed in
// EZCAM_SIM ("vvvv:pppp" or "vvvv:pppp@bbbb", comma-separated, hexadecimal).
usb::Bus& simBus();
}  // namespace sim
