// The link to one device: its identity, control requests and bulk reads on
// its claimed interface, and whether it streams.
//
// Threads: open() runs under the camera's settings lock before any other
// call and the destructor after the last; control() and bulkRead() may run
// on any thread. The frame path calls bulkRead() without the settings lock,
// so that setters go on while a transfer waits for a whole exposure.
#pragma once

#include <cstdint>
#include <memory>

#include "ezcam.h"
#include "usb/usb.h"

class DeviceLink {
  public:
    DeviceLink() = default;
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Takes the device, reads its identity, opens, resets and configures it
    // and claims its first interface: EZ_OK, or EZ_EIO (the link then sends
    // nothing; the identity stays readable).
    int open(std::shared_ptr<usb::Device> device);
    // The bus status of a control request: 0 sent; a stall is cleared and
    // the request tried again, up to `attempts` times.
    uint32_t control(EZURB& urb, uint32_t timeoutMs, uint32_t attempts);
    // EZ_OK when the transfer succeeded, else EZ_EIO; *received holds the
    // bytes delivered either way (never more than length).
    int bulkRead(unsigned char* buffer, int length, int* received, unsigned timeoutMs);
    // A real sensor needs the pauses the protocol asks for; a simulated one
    // is not slowed down.
    bool needsPauses() const;

    uint16_t bcdUsb() const { return info_.bcdUsb; }
    uint16_t vendor() const { return info_.vendor; }
    uint16_t product() const { return info_.product; }
    uint16_t release() const { return info_.bcdDevice; }
    uint32_t bulkPipe = 1;  // the pipe frames arrive on
    // The device, for the simulated bus to name it; null before open().
    usb::Device* device() const { return device_.get(); }
    bool claimed() const { return interface_ != nullptr; }

    // 0 idle, 1 streaming, 3 removed. Read without a lock by the frame path
    // and the call surface (shared_state.h).
    int state() const;
    void setState(int state);

  private:
    usb::DeviceInfo info_{};
    std::shared_ptr<usb::Device> device_;     // owned; closed by the destructor
    std::shared_ptr<usb::Device> interface_;  // the claimed interface; null when not claimed
    mutable int32_t state_ = 0;
};
