// USB access layer: the few operations a camera needs from a USB device, and
// a bus that reports arrivals and removals. libusb_bus implements it for real
// hardware; other implementations live outside this folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// A vendor control request: the eight setup-packet bytes, the data stage and
// the byte count the transfer moved.
struct EZURB {
    uint8_t requestType;  // 0x40 host to device, 0xc0 device to host (vendor)
    uint8_t request;
    uint16_t value;
    uint16_t index;
    uint16_t length;      // bytes in the data stage
    unsigned char* data;  // data stage, or null
    uint32_t lengthDone;  // filled by the transfer
};

namespace usb {

// Transfer status values. The camera code tests for success and a stall;
// every other failure is just a non-zero code.
constexpr uint32_t kSuccess = 0;
constexpr uint32_t kStall = 0xe000404f;
constexpr uint32_t kError = 0xe00002bc;
constexpr uint32_t kNoDevice = 0xe00002c0;
constexpr uint32_t kNotOpen = 0xe00002cd;
constexpr uint32_t kTimeout = 0xe00002d6;
constexpr uint32_t kOverrun = 0xe00002e8;

struct DeviceInfo {
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t bcdDevice = 0;
    uint16_t bcdUsb = 0;
};

// One USB device. Control transfers on pipe 0 may run on one thread while a
// bulk read of the same device waits on another.
class Device {
public:
    virtual ~Device() = default;

    virtual DeviceInfo info() const = 0;

    virtual uint32_t open() = 0;
    virtual uint32_t reset() = 0;
    virtual uint32_t setFirstConfiguration() = 0;
    // Claims the first interface and selects alternate setting 0.
    virtual uint32_t claimFirstInterface() = 0;
    // Closes the interface and the device; later transfers fail.
    virtual void close() = 0;

    // Vendor control transfer on pipe 0; fills urb.lengthDone.
    virtual uint32_t control(EZURB& urb, unsigned timeoutMs) = 0;
    // Bulk-in read on pipe 1 or 2 (the interface's first and second
    // endpoints); *received gets the bytes delivered. Returns kTimeout when
    // nothing arrived within timeoutMs and kNoDevice once unplugged.
    virtual uint32_t bulkRead(int pipe, unsigned char* buffer, int length, int* received,
                              unsigned timeoutMs) = 0;
    // Clears a halted pipe (0 = the control pipe).
    virtual uint32_t clearHalt(int pipe) = 0;
    // Whether the device needs the pauses the camera protocol asks for
    // between some requests (a real sensor does; a simulated one answers
    // at once).
    virtual bool needsPauses() const { return false; }
};

// A bus with hot-plug. Arrivals and removals are queued by the backend and
// delivered by poll() on the calling thread.
class Bus {
public:
    using ArrivalHandler = std::function<void(std::shared_ptr<Device>)>;
    using RemovalHandler = std::function<void()>;

    virtual ~Bus() = default;

    // Calls onArrival (from poll) for every present and future device with
    // this vendor and product id.
    virtual void watchArrivals(uint16_t vendor, uint16_t product, ArrivalHandler onArrival) = 0;
    // Calls onRemoval (from poll) once, when this device leaves the bus.
    virtual void watchRemoval(const std::shared_ptr<Device>& device, RemovalHandler onRemoval) = 0;
    // Forgets every watch registered so far.
    virtual void clearWatches() = 0;
    // Handles pending arrivals and removals, waiting at most timeoutMs for
    // the first one; returns how many were handled.
    virtual int poll(int timeoutMs) = 0;
};

}  // namespace usb
