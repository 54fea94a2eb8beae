// The bus the registry watches for cameras.
#pragma once

#include "usb/usb.h"

namespace ezcam {
// Simulated cameras when EZCAM_SIM is set (even empty), real ones through
// libusb otherwise. Chosen once per process.
usb::Bus& cameraBus();
}  // namespace ezcam
