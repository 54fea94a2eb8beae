// The libusb backend end to end without hardware: the real libusb code talks
// to emulated usbdevfs device nodes (umockdev) behind which the simulator
// core plays the camera.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "umockdev_camera.h"
#include "usb/libusb_bus.h"
#include "usb/libusb_internal.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kVendor = 0x0547;
constexpr uint16_t kProduct = 0xc004;     // a 5-megapixel colour camera
constexpr uint16_t kOtherProduct = 0xc006;
constexpr unsigned kTimeoutMs = 1000;
constexpr int kFrameBuffer = 8 << 20;     // larger than any frame of the camera

// Polls the bus until done() holds; false after five seconds.
template <typename Done>
bool pollUntil(usb::Bus& bus, Done done) {
    const auto deadline = Clock::now() + 5s;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        bus.poll(20);
    }
    return true;
}

template <typename Done>
bool waitUntil(Done done) {
    const auto deadline = Clock::now() + 5s;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

EZURB vendorRequest(uint8_t type, uint8_t request, uint16_t value, uint16_t index, unsigned char* data = nullptr,
                    uint16_t length = 0) {
    return EZURB{type, request, value, index, length, data, 0xdeadbeef};
}

struct BulkResult {
    uint32_t status;
    int received;
    std::chrono::milliseconds took;
};

// A bulk read on its own thread, as the camera's grab thread does it.
std::future<BulkResult> readAsync(usb::Device& device, int pipe, std::vector<unsigned char>& buffer,
                                  unsigned timeoutMs) {
    return std::async(std::launch::async, [&device, pipe, &buffer, timeoutMs] {
        const auto start = Clock::now();
        int received = -1;
        uint32_t status = device.bulkRead(pipe, buffer.data(), static_cast<int>(buffer.size()), &received, timeoutMs);
        return BulkResult{status, received,
                          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)};
    });
}

class LibusbUmockdev : public ::testing::Test {
protected:
    // Created first: libusb must only ever see the emulated sysfs and /dev.
    umock::Testbed testbed_;

    std::unique_ptr<usb::Bus> makeBus(usb::Discovery discovery = usb::Discovery::kAuto) {
        auto bus = usb::makeLibusbBus(discovery, 50);
        if (!bus) ADD_FAILURE() << "libusb could not be initialised";
        return bus;
    }

    // Watches one product and waits for its first arrival.
    std::shared_ptr<usb::Device> arrival(usb::Bus& bus, uint16_t product = kProduct) {
        std::shared_ptr<usb::Device> device;
        bus.watchArrivals(kVendor, product, [&device](std::shared_ptr<usb::Device> d) { device = std::move(d); });
        EXPECT_TRUE(pollUntil(bus, [&] { return device != nullptr; }));
        return device;
    }

    // The camera driver's opening sequence.
    static void openCamera(usb::Device& device) {
        ASSERT_EQ(device.open(), usb::kSuccess);
        ASSERT_EQ(device.reset(), usb::kSuccess);
        ASSERT_EQ(device.setFirstConfiguration(), usb::kSuccess);
        ASSERT_EQ(device.claimFirstInterface(), usb::kSuccess);
    }

    static uint32_t send(usb::Device& device, uint8_t request, uint16_t value = 0, uint16_t index = 0) {
        EZURB urb = vendorRequest(0x40, request, value, index);
        return device.control(urb, kTimeoutMs);
    }

    // One camera on the bus, arrived and opened; its sensor started when asked.
    void start(bool startSensor, umock::Capabilities capabilities = {}) {
        camera_ = std::make_unique<umock::Camera>(testbed_, 2, kVendor, kProduct, 0xa001, capabilities);
        camera_->plug();
        bus_ = makeBus();
        ASSERT_TRUE(bus_);
        device_ = arrival(*bus_);
        ASSERT_TRUE(device_);
        openCamera(*device_);
        if (startSensor) {
            ASSERT_EQ(send(*device_, 0xba), usb::kSuccess);
        }
    }

    // Declared in teardown order: the device closes before its bus goes,
    // the emulated camera stays until libusb is done with it.
    std::unique_ptr<umock::Camera> camera_;
    std::unique_ptr<usb::Bus> bus_;
    std::shared_ptr<usb::Device> device_;
};

TEST_F(LibusbUmockdev, HotplugDeliversWatchedCamerasOnlyWithTheirDescriptorIds) {
    umock::Camera present(testbed_, 2, kVendor, kProduct, 0xa001);
    umock::Camera unwatched(testbed_, 3, kVendor, kOtherProduct, 0x0001);
    present.plug();
    unwatched.plug();
    auto bus = makeBus();
    ASSERT_TRUE(bus);

    std::vector<usb::DeviceInfo> arrived;
    std::shared_ptr<usb::Device> first;
    bus->watchArrivals(kVendor, kProduct, [&](std::shared_ptr<usb::Device> d) {
        arrived.push_back(d->info());
        if (!first) first = std::move(d);
    });
    // A camera already on the bus arrives as soon as it is watched.
    ASSERT_TRUE(pollUntil(*bus, [&] { return arrived.size() == 1; }));
    EXPECT_EQ(arrived[0].vendor, kVendor);
    EXPECT_EQ(arrived[0].product, kProduct);
    EXPECT_EQ(arrived[0].bcdDevice, 0xa001);
    EXPECT_EQ(arrived[0].bcdUsb, 0x0200);

    // Plugged later: arrives through hot-plug, and only the watched product.
    umock::Camera later(testbed_, 4, kVendor, kProduct, 0xb002);
    umock::Camera laterUnwatched(testbed_, 5, 0x8020, kProduct, 0x0001);
    laterUnwatched.plug();
    later.plug();
    ASSERT_TRUE(pollUntil(*bus, [&] { return arrived.size() == 2; }));
    EXPECT_EQ(arrived[1].bcdDevice, 0xb002);
    EXPECT_EQ(bus->poll(200), 0);
    EXPECT_EQ(arrived.size(), 2u);

    // A watch set later still sees the device present all along; poll
    // reports how many events it handled.
    int others = 0;
    bus->watchArrivals(kVendor, kOtherProduct, [&](std::shared_ptr<usb::Device>) { ++others; });
    EXPECT_EQ(bus->poll(1000), 1);
    EXPECT_EQ(others, 1);

    // Another bus does not know this device, present or not.
    auto otherBus = makeBus();
    ASSERT_TRUE(otherBus);
    bool foreignRemoval = false;
    otherBus->watchRemoval(first, [&] { foreignRemoval = true; });
    EXPECT_EQ(otherBus->poll(200), 0);
    EXPECT_FALSE(foreignRemoval);

    // Cleared watches hear nothing more.
    bus->clearWatches();
    umock::Camera afterClear(testbed_, 6, kVendor, kProduct, 0x0001);
    afterClear.plug();
    EXPECT_EQ(bus->poll(300), 0);
    EXPECT_EQ(arrived.size(), 2u);
}

TEST_F(LibusbUmockdev, OpeningClaimsTheFirstInterfaceAndDetachesAKernelDriver) {
    umock::Camera camera(testbed_, 2, kVendor, kProduct, 0xa001);
    camera.bindKernelDriver(true);
    camera.plug();
    auto bus = makeBus();
    ASSERT_TRUE(bus);
    auto device = arrival(*bus);
    ASSERT_TRUE(device);

    openCamera(*device);
    umock::Camera::Stats stats = camera.stats();
    EXPECT_EQ(stats.driverDisconnects, 1);
    EXPECT_EQ(stats.claimedInterface, 0);
    EXPECT_EQ(stats.altSetting, 0);
    EXPECT_EQ(stats.resets, 1);
    // Already in its first configuration: selecting it again would reset it.
    EXPECT_EQ(stats.setConfigurations, 0);

    device->close();
    EXPECT_EQ(camera.stats().claimedInterface, -1);
    EXPECT_EQ(send(*device, 0xba), usb::kNotOpen);
    // A closed device opens again.
    openCamera(*device);
    EXPECT_EQ(send(*device, 0xba), usb::kSuccess);
}

TEST_F(LibusbUmockdev, VendorRequestsCarryTheirDataStagesBothWays) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    auto& device = device_;
    sim::SimCamera& sim = camera_->sim();

    // Without a data stage.
    EZURB stop = vendorRequest(0x40, 0xbb, 0, 0);
    EXPECT_EQ(device->control(stop, kTimeoutMs), usb::kSuccess);
    EXPECT_EQ(stop.lengthDone, 0u);
    EXPECT_FALSE(sim.running());
    EXPECT_EQ(send(*device, 0xb7, 0x0123, 0x0035), usb::kSuccess);
    EXPECT_EQ(sim.reg(0x0035), 0x0123);

    // Host to device with 64 bytes: the device stores them...
    unsigned char written[64];
    for (int i = 0; i < 64; ++i) written[i] = static_cast<unsigned char>(0xa5 ^ (i * 37));
    EZURB write = vendorRequest(0x40, 0xb0, 65, 65 + 63, written, 64);
    ASSERT_EQ(device->control(write, kTimeoutMs), usb::kSuccess);
    EXPECT_EQ(write.lengthDone, 64u);
    EXPECT_EQ(sim.memory(65, 64), std::vector<uint8_t>(written, written + 64));

    // ...and hands them back, and the setup fields crossed intact.
    unsigned char read[64] = {};
    EZURB readBack = vendorRequest(0xc0, 0xb1, 65, 65 + 63, read, 64);
    ASSERT_EQ(device->control(readBack, kTimeoutMs), usb::kSuccess);
    EXPECT_EQ(readBack.lengthDone, 64u);
    EXPECT_EQ(std::memcmp(read, written, 64), 0);
    std::vector<std::string> trace = sim.trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[trace.size() - 2].substr(0, 28), "2 ctrl 40 b0 0041 0080 64 a5");
    EXPECT_EQ(trace.back(), "2 ctrl c0 b1 0041 0080 64");

    // A reply shorter than the data stage reports its own length.
    sim.setFirmwareVersion(0x1234);
    unsigned char version[64] = {};
    EZURB versionUrb = vendorRequest(0xc0, 0xb6, 0, 2, version, 64);
    ASSERT_EQ(device->control(versionUrb, kTimeoutMs), usb::kSuccess);
    EXPECT_GE(versionUrb.lengthDone, 2u);
    EXPECT_LE(versionUrb.lengthDone, 64u);
    EXPECT_EQ(version[0] | version[1] << 8, 0x1234);

    // An unknown request stalls; the pipe works again right after.
    EXPECT_EQ(send(*device, 0x7f), usb::kStall);
    EXPECT_EQ(send(*device, 0xba), usb::kSuccess);
    EXPECT_TRUE(sim.running());

    // A data stage announced without a buffer never reaches the device.
    const size_t before = sim.trace().size();
    EZURB missing = vendorRequest(0xc0, 0xb1, 65, 128, nullptr, 64);
    EXPECT_EQ(device->control(missing, kTimeoutMs), usb::kError);
    EXPECT_EQ(missing.lengthDone, 0u);
    EXPECT_EQ(sim.trace().size(), before);
}

class FrameRead : public LibusbUmockdev, public ::testing::WithParamInterface<bool> {};

TEST_P(FrameRead, AMultiMegabyteFrameArrivesWholeWithItsShortLastPacket) {
    umock::Capabilities capabilities;
    capabilities.scatterGather = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(true, capabilities));
    auto& device = device_;
    umock::Camera& camera = *camera_;

    const size_t frameSize = camera.sim().nextFrameShape().total();
    ASSERT_GT(frameSize, 4u << 20);
    ASSERT_NE(frameSize % 512, 0u) << "the frame must end in a short packet";

    std::vector<unsigned char> frame(kFrameBuffer);
    for (uint32_t n = 0; n < 2; ++n) {
        int received = -1;
        ASSERT_EQ(device->bulkRead(1, frame.data(), kFrameBuffer, &received, 5000), usb::kSuccess);
        EXPECT_EQ(static_cast<size_t>(received), frameSize) << "frame " << n;
        // The header marker, and the frame counter the device puts after it.
        EXPECT_EQ(std::vector<unsigned char>(frame.begin(), frame.begin() + 10), std::vector<unsigned char>(10, 0x88));
        uint32_t counter = frame[16] | frame[17] << 8 | frame[18] << 16 | static_cast<uint32_t>(frame[19]) << 24;
        EXPECT_EQ(counter, n);
        EXPECT_EQ(send(*device, 0xb3), usb::kSuccess);
    }
    umock::Camera::Stats stats = camera.stats();
    EXPECT_EQ(stats.pendingUrbs, 0);
    EXPECT_EQ(stats.bulkEndpoints.front(), umock::kEndpoint1);
    if (!GetParam()) {
        EXPECT_GT(static_cast<int>(stats.bulkEndpoints.size()), 2 * static_cast<int>(frameSize / (16 << 10)));
    }

    // A buffer shorter than the frame receives what fits.
    std::vector<unsigned char> small(100000);
    int received = -1;
    ASSERT_EQ(device->bulkRead(1, small.data(), static_cast<int>(small.size()), &received, 5000), usb::kSuccess);
    EXPECT_EQ(received, 100000);
}

INSTANTIATE_TEST_SUITE_P(Controllers, FrameRead, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ScatterGather" : "Split16K";
                         });

TEST_F(LibusbUmockdev, PipesFollowTheInterfaceEndpointsAndBadArgumentsAreRefused) {
    // A camera that sends its frames on the second pipe.
    constexpr uint16_t kSecondPipeProduct = 0xe00a;
    umock::Camera camera(testbed_, 2, kVendor, kSecondPipeProduct, 0x0001);
    camera.plug();
    auto bus = makeBus();
    ASSERT_TRUE(bus);
    auto device = arrival(*bus, kSecondPipeProduct);
    ASSERT_TRUE(device);

    std::vector<unsigned char> buffer(4096);
    int received = -1;
    EXPECT_EQ(device->bulkRead(2, buffer.data(), 4096, &received, 100), usb::kNotOpen);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(send(*device, 0xba), usb::kNotOpen);
    EXPECT_EQ(device->clearHalt(2), usb::kNotOpen);

    openCamera(*device);
    ASSERT_EQ(send(*device, 0xba), usb::kSuccess);
    ASSERT_EQ(device->bulkRead(2, buffer.data(), 4096, &received, 5000), usb::kSuccess);
    EXPECT_EQ(received, 4096);
    EXPECT_EQ(camera.stats().bulkEndpoints.back(), umock::kEndpoint2);
    // The first pipe is the other endpoint, which this camera stalls.
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 4096, &received, 5000), usb::kStall);
    EXPECT_EQ(camera.stats().bulkEndpoints.back(), umock::kEndpoint1);

    const size_t urbs = camera.stats().bulkEndpoints.size();
    for (int pipe : {0, 3, -1}) EXPECT_EQ(device->bulkRead(pipe, buffer.data(), 4096, &received, 100), usb::kError);
    EXPECT_EQ(device->bulkRead(2, nullptr, 4096, &received, 100), usb::kError);
    EXPECT_EQ(device->bulkRead(2, buffer.data(), -5, &received, 100), usb::kError);
    EXPECT_EQ(device->clearHalt(3), usb::kError);
    EXPECT_EQ(camera.stats().bulkEndpoints.size(), urbs);
}

TEST_F(LibusbUmockdev, ControlTransfersProceedWhileABulkReadWaits) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    auto& device = device_;
    umock::Camera& camera = *camera_;

    camera.sim().stopFrames(true);
    std::vector<unsigned char> frame(kFrameBuffer);
    auto read = readAsync(*device, 1, frame, 10000);
    ASSERT_TRUE(waitUntil([&] { return camera.stats().pendingUrbs > 0; }));

    for (int i = 0; i < 20; ++i) {
        unsigned char status[64];
        EZURB query = vendorRequest(0xc0, 0xb6, 0, 2, status, 64);
        ASSERT_EQ(device->control(query, kTimeoutMs), usb::kSuccess) << i;
        EXPECT_EQ(send(*device, 0xb7, static_cast<uint16_t>(i), 0x09), usb::kSuccess) << i;
    }
    EXPECT_EQ(read.wait_for(0s), std::future_status::timeout);

    camera.sim().stopFrames(false);
    BulkResult result = read.get();
    EXPECT_EQ(result.status, usb::kSuccess);
    EXPECT_GT(result.received, 4 << 20);
}

TEST_F(LibusbUmockdev, StallsOnTheControlPipeAndTheBulkEndpointAreCleared) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    auto& device = device_;
    umock::Camera& camera = *camera_;

    // Control pipe: the stall ends with the next setup packet, so clearing
    // pipe 0 succeeds without a request to the device.
    camera.sim().stallNextControl();
    EXPECT_EQ(send(*device, 0xb7, 1, 0x09), usb::kStall);
    EXPECT_EQ(device->clearHalt(0), usb::kSuccess);
    EXPECT_TRUE(camera.stats().clearedHalts.empty());
    EXPECT_EQ(send(*device, 0xb7, 1, 0x09), usb::kSuccess);

    // Bulk endpoint: halted until cleared.
    std::vector<unsigned char> buffer(65536);
    int received = -1;
    camera.halt(umock::kEndpoint1);
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 65536, &received, 5000), usb::kStall);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 65536, &received, 5000), usb::kStall);
    EXPECT_EQ(device->clearHalt(1), usb::kSuccess);
    EXPECT_EQ(camera.stats().clearedHalts, std::vector<uint8_t>{umock::kEndpoint1});
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 65536, &received, 5000), usb::kSuccess);
    EXPECT_EQ(received, 65536);

    // The second pipe clears its own endpoint.
    EXPECT_EQ(device->clearHalt(2), usb::kSuccess);
    EXPECT_EQ(camera.stats().clearedHalts.back(), umock::kEndpoint2);
}

TEST_F(LibusbUmockdev, AReadWithoutDataTimesOutAndLeavesNothingPending) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    auto& device = device_;
    umock::Camera& camera = *camera_;
    camera.sim().stopFrames(true);

    std::vector<unsigned char> buffer(1 << 20);
    int received = -1;
    const auto start = Clock::now();
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 1 << 20, &received, 150), usb::kTimeout);
    EXPECT_GE(Clock::now() - start, 140ms);
    EXPECT_EQ(received, 0);
    // A zero time-out is not "forever".
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 1 << 20, &received, 0), usb::kTimeout);
    EXPECT_TRUE(waitUntil([&] { return camera.stats().pendingUrbs == 0; }));
    // The device saw both reads go unanswered.
    std::vector<std::string> trace = camera.sim().trace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "2 bulk 1 1048576 0"), 2);

    // The pipe still works afterwards.
    camera.sim().stopFrames(false);
    ASSERT_EQ(send(*device, 0xba), usb::kSuccess);
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 1 << 20, &received, 5000), usb::kSuccess);
    EXPECT_EQ(received, 1 << 20);
}

TEST_F(LibusbUmockdev, UnpluggingFreesABlockedReadAndReportsTheRemovalOnce) {
    umock::Camera camera(testbed_, 2, kVendor, kProduct, 0xa001);
    umock::Camera other(testbed_, 3, kVendor, kProduct, 0xa002);
    camera.plug();
    other.plug();
    auto bus = makeBus();
    ASSERT_TRUE(bus);
    std::shared_ptr<usb::Device> leaving, staying;
    bus->watchArrivals(kVendor, kProduct, [&](std::shared_ptr<usb::Device> d) {
        (d->info().bcdDevice == 0xa001 ? leaving : staying) = std::move(d);
    });
    ASSERT_TRUE(pollUntil(*bus, [&] { return leaving && staying; }));
    int removedLeaving = 0, removedStaying = 0;
    bus->watchRemoval(leaving, [&] { ++removedLeaving; });
    bus->watchRemoval(staying, [&] { ++removedStaying; });
    for (usb::Device* device : {leaving.get(), staying.get()}) {
        openCamera(*device);
        ASSERT_EQ(send(*device, 0xba), usb::kSuccess);
    }

    camera.sim().stopFrames(true);
    std::vector<unsigned char> frame(kFrameBuffer);
    auto read = readAsync(*leaving, 1, frame, 20000);
    ASSERT_TRUE(waitUntil([&] { return camera.stats().pendingUrbs == 1; }));

    camera.unplug();
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    BulkResult result = read.get();
    EXPECT_EQ(result.status, usb::kNoDevice);
    EXPECT_EQ(send(*leaving, 0xb3), usb::kNoDevice);
    int received = -1;
    EXPECT_EQ(leaving->bulkRead(1, frame.data(), 4096, &received, 1000), usb::kNoDevice);

    // The removal arrives through hot-plug, once, for that device only.
    ASSERT_TRUE(pollUntil(*bus, [&] { return removedLeaving == 1; }));
    EXPECT_EQ(bus->poll(200), 0);
    EXPECT_EQ(removedLeaving, 1);
    EXPECT_EQ(removedStaying, 0);

    // The other camera carries on.
    EXPECT_EQ(send(*staying, 0xb3), usb::kSuccess);
    EXPECT_EQ(staying->bulkRead(1, frame.data(), 4096, &received, 5000), usb::kSuccess);
    EXPECT_EQ(received, 4096);

    // A removal watch set after the device left still fires.
    bool late = false;
    bus->watchRemoval(leaving, [&late] { late = true; });
    EXPECT_EQ(bus->poll(1000), 1);
    EXPECT_TRUE(late);
    leaving->close();
}

TEST_F(LibusbUmockdev, ACameraVanishingMidFrameKeepsWhatArrived) {
    ASSERT_NO_FATAL_FAILURE(start(true));
    bool removed = false;
    bus_->watchRemoval(device_, [&removed] { removed = true; });

    camera_->sim().unplugDuringNextRead(100000);
    std::vector<unsigned char> frame(kFrameBuffer);
    int received = -1;
    EXPECT_EQ(device_->bulkRead(1, frame.data(), kFrameBuffer, &received, 5000), usb::kNoDevice);
    EXPECT_EQ(received, 100000);
    EXPECT_EQ(std::vector<unsigned char>(frame.begin(), frame.begin() + 10), std::vector<unsigned char>(10, 0x88));
    EXPECT_EQ(send(*device_, 0xb3), usb::kNoDevice);

    camera_->unplug();
    EXPECT_TRUE(pollUntil(*bus_, [&] { return removed; }));
}

TEST_F(LibusbUmockdev, ClosingFreesABlockedRead) {
    ASSERT_NO_FATAL_FAILURE(start(false));
    auto& device = device_;
    umock::Camera& camera = *camera_;
    camera.sim().stopFrames(true);

    std::vector<unsigned char> frame(kFrameBuffer);
    auto read = readAsync(*device, 1, frame, 20000);
    ASSERT_TRUE(waitUntil([&] { return camera.stats().pendingUrbs == 1; }));
    device->close();
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    BulkResult result = read.get();
    EXPECT_EQ(result.status, usb::kNotOpen);
    EXPECT_EQ(result.received, 0);
    EXPECT_EQ(camera.stats().pendingUrbs, 0);
    EXPECT_EQ(camera.stats().claimedInterface, -1);
}

TEST_F(LibusbUmockdev, PeriodicEnumerationFindsArrivalsAndRemovals) {
    umock::Camera present(testbed_, 2, kVendor, kProduct, 0xa001);
    present.plug();
    auto bus = makeBus(usb::Discovery::kEnumerate);
    ASSERT_TRUE(bus);
    int arrivals = 0;
    std::vector<std::shared_ptr<usb::Device>> devices;
    bus->watchArrivals(kVendor, kProduct, [&](std::shared_ptr<usb::Device> d) {
        ++arrivals;
        devices.push_back(std::move(d));
    });
    ASSERT_TRUE(pollUntil(*bus, [&] { return arrivals == 1; }));

    umock::Camera later(testbed_, 3, kVendor, kProduct, 0xa001);
    later.plug();
    ASSERT_TRUE(pollUntil(*bus, [&] { return arrivals == 2; }));

    bool removed = false;
    bus->watchRemoval(devices[0], [&removed] { removed = true; });
    present.unplug();
    ASSERT_TRUE(pollUntil(*bus, [&] { return removed; }));
    EXPECT_EQ(bus->poll(200), 0);
    EXPECT_EQ(arrivals, 2);
}

TEST_F(LibusbUmockdev, ADeviceOutlivesItsBus) {
    umock::Camera camera(testbed_, 2, kVendor, kProduct, 0xa001);
    camera.plug();
    auto bus = makeBus();
    ASSERT_TRUE(bus);
    auto device = arrival(*bus);
    ASSERT_TRUE(device);
    bus.reset();

    openCamera(*device);
    EXPECT_EQ(send(*device, 0xba), usb::kSuccess);
    std::vector<unsigned char> buffer(4096);
    int received = -1;
    EXPECT_EQ(device->bulkRead(1, buffer.data(), 4096, &received, 5000), usb::kSuccess);
    EXPECT_EQ(received, 4096);
}

}  // namespace
