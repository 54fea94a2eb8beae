// A simulated camera behind an emulated usbdevfs device node: umockdev
// redirects the device node's ioctls to a handler that plays the kernel's
// part (URB submission, reaping, halts, removal) and hands the transfers to
// the simulator core. Only for tests linked with libumockdev-preload.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_camera.h"

struct usbdevfs_urb;

namespace umock {

// The umockdev testbed: a private sysfs and /dev for this process. Aborts
// the process unless the preload library is active, so that nothing ever
// reaches the machine's real USB devices. Create it before libusb_init.
class Testbed {
public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    UMockdevTestbed* get() const { return testbed_; }

private:
    UMockdevTestbed* testbed_;
};

// Interface layout of the emulated camera: one vendor interface with two
// bulk IN endpoints (pipes 1 and 2).
constexpr uint8_t kEndpoint1 = 0x82;
constexpr uint8_t kEndpoint2 = 0x86;

struct Capabilities {
    // A scatter-gather host controller takes a whole read as one URB; without
    // one libusb splits large reads into 16 KiB URBs chained by bulk
    // continuation.
    bool scatterGather = true;
};

class Camera {
public:
    // address: the device number on bus 1 (1..127), unique per testbed; also
    // the simulated camera's id in its trace.
    Camera(Testbed& testbed, int address, uint16_t vendor, uint16_t product, uint16_t bcdDevice,
           Capabilities capabilities = {});
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Adds the device to sysfs and announces it with an "add" uevent.
    void plug();
    // Surprise removal: pending URBs fail with -ESHUTDOWN, later ioctls with
    // ENODEV, and a "remove" uevent goes out. A camera that vanished by
    // itself (a simulator fault) fails the same way but is announced only
    // by this call.
    void unplug();

    sim::SimCamera& sim() { return *sim_; }

    // Kernel-side state.
    void halt(uint8_t endpoint);        // URBs on it fail with -EPIPE until cleared
    void bindKernelDriver(bool bound);  // a driver holds interface 0

    struct Stats {
        int claimedInterface = -1;
        int altSetting = -1;
        int setConfigurations = 0;
        int resets = 0;
        int driverDisconnects = 0;
        std::vector<uint8_t> clearedHalts;
        std::vector<uint8_t> bulkEndpoints;  // one entry per bulk URB submitted
        int pendingUrbs = 0;
    };
    Stats stats();

private:
    struct Pending {
        usbdevfs_urb* urb;
        int status;  // final status once finished by the kernel, else 0
    };

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    void handle(UMockdevIoctlClient* client);
    void reap(UMockdevIoctlClient* client, void* argument);
    bool complete(usbdevfs_urb* urb);
    int pipeOf(uint8_t endpoint) const;

    Testbed& testbed_;
    const int address_;
    const std::string node_;
    const std::string syspath_;
    const std::vector<uint8_t> descriptors_;
    const Capabilities capabilities_;
    std::unique_ptr<sim::SimCamera> sim_;
    UMockdevIoctlBase* handler_;

    std::mutex mutex_;  // the handler runs on umockdev's worker thread
    bool plugged_ = false;
    std::atomic<bool> gone_{false};  // also set from the simulator's unplug
    bool driverBound_ = false;
    std::vector<uint8_t> halted_;
    std::deque<Pending> pending_;
    Stats stats_;
};

}  // namespace umock
