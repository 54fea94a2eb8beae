// The libusb implementation of the USB access layer.
#pragma once

#include <memory>

#include "usb/usb.h"

namespace usb {
// A bus over libusb with hot-plug (or periodic enumeration where the system's
// libusb has none); null when libusb cannot be initialised.
std::unique_ptr<Bus> makeLibusbBus();
}  // namespace usb
