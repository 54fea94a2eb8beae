// Internals of the libusb bus that tests and diagnostics reach for: the
// choice of discovery and the mapping of libusb results to transfer status.
#pragma once

#include <cstdint>
#include <memory>

#include "usb/usb.h"

namespace usb {

enum class Discovery {
    kAuto,       // libusb hot-plug where the system's libusb offers it
    kEnumerate,  // periodic enumeration, every scanIntervalMs
};

// As makeLibusbBus(), with the discovery chosen by the caller.
std::unique_ptr<Bus> makeLibusbBus(Discovery discovery, int scanIntervalMs = 500);

// A libusb_error value as a transfer status.
uint32_t statusFromLibusbError(int error);
// A libusb_transfer_status value as a transfer status.
uint32_t statusFromTransferStatus(int status);

}  // namespace usb
