// The simulated bus: cameras listed in the environment, hot-plug delivered by
// poll on the calling thread, bulk reads that wait and are released by unplug
// or close, pacing, the scripting calls, the control file and the transfer
// trace.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

#include "ezcam.h"
#include "log_recorder.h"
#include "sim/sim_bus.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The bus reads the list when first used: set it before any test runs.
const bool kListed = [] {
    setenv("EZCAM_SIM", "0547:c004,0547:c006@a001,zz:1,4b56:6401", 1);
    return true;
}();

sim::SimBus& bus() { return sim::simBus(); }

std::shared_ptr<usb::Device> openDevice(int id) {
    std::shared_ptr<usb::Device> d = bus().device(id);
    EXPECT_EQ(d->open(), usb::kSuccess);
    EXPECT_EQ(d->reset(), usb::kSuccess);
    EXPECT_EQ(d->setFirstConfiguration(), usb::kSuccess);
    EXPECT_EQ(d->claimFirstInterface(), usb::kSuccess);
    return d;
}

}  // namespace

// First in this file: run alone or with the others, the bus starts here.
TEST(SimBus, PlugsTheCamerasListedInTheEnvironment) {
    ASSERT_TRUE(kListed);
    std::vector<usb::DeviceInfo> found;
    bus().watchArrivals(0x0547, 0xc006, [&](std::shared_ptr<usb::Device> d) { found.push_back(d->info()); });
    bus().watchArrivals(0x4b56, 0x6401, [&](std::shared_ptr<usb::Device> d) { found.push_back(d->info()); });
    EXPECT_EQ(bus().poll(0), 2);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].bcdDevice, 0xa001);
    EXPECT_EQ(found[0].bcdUsb, 0x0200);
    EXPECT_EQ(found[1].vendor, 0x4b56);
    EXPECT_EQ(bus().camera(1)->info().product, 0xc004);
    EXPECT_EQ(bus().camera(1)->info().bcdDevice, 0x0100);
    EXPECT_EQ(bus().camera(3)->info().product, 0x6401);  // the malformed entry was skipped
    EXPECT_EQ(bus().camera(4), nullptr);
    bus().clearWatches();
}

TEST(SimBus, ArrivalsAndRemovalsArriveOnThePollingThread) {
    const std::thread::id self = std::this_thread::get_id();
    std::shared_ptr<usb::Device> arrived;
    int arrivals = 0, removals = 0;
    bus().watchArrivals(0x0547, 0xc007, [&](std::shared_ptr<usb::Device> d) {
        EXPECT_EQ(std::this_thread::get_id(), self);
        arrived = d;
        ++arrivals;
    });
    EXPECT_EQ(bus().poll(0), 0);
    int id = 0;
    std::thread([&] { id = SimPlugCamera(0x0547, 0xc007, 0x0100); }).join();
    EXPECT_EQ(arrivals, 0);  // nothing happens until the owner polls
    EXPECT_EQ(bus().poll(1000), 1);
    ASSERT_EQ(arrivals, 1);
    EXPECT_EQ(arrived->info().product, 0xc007);

    bus().watchRemoval(arrived, [&] {
        EXPECT_EQ(std::this_thread::get_id(), self);
        ++removals;
    });
    // A poll that waits is woken by the removal from another thread.
    std::thread later([id] {
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(SimUnplugCamera(id), 0);
    });
    EXPECT_EQ(bus().poll(10000), 1);
    later.join();
    EXPECT_EQ(removals, 1);
    EXPECT_EQ(bus().poll(0), 0);  // once only
    EXPECT_EQ(SimUnplugCamera(id), -1);
    EXPECT_EQ(arrived->open(), usb::kNoDevice);

    // A removal watch set after the device left still hears of it.
    bus().watchRemoval(arrived, [&] { ++removals; });
    EXPECT_EQ(bus().poll(0), 1);
    EXPECT_EQ(removals, 2);

    // Cleared watches hear nothing more.
    bus().clearWatches();
    const int again = SimPlugCamera(0x0547, 0xc007, 0x0100);
    EXPECT_EQ(bus().poll(0), 0);
    EXPECT_EQ(arrivals, 1);
    SimUnplugCamera(again);
}

TEST(SimBus, ScriptingCallsCheckTheirArguments) {
    EXPECT_EQ(SimPlugCamera(-1, 0xc004, 0), -2);
    EXPECT_EQ(SimPlugCamera(0x0547, 0x10000, 0), -2);
    EXPECT_EQ(SimPlugCamera(0x0547, 0xc004, 0x10000), -2);
    EXPECT_EQ(SimUnplugCamera(999), -1);
    EXPECT_EQ(SimPressCapture(999), -1);
    const int a = SimPlugCamera(0x0547, 0xa811, 0x0100);
    const int b = SimPlugCamera(0x1234, 0x5678, 0x0100);  // no model: stalls everything
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(SimPressCapture(a), 0);
    EXPECT_TRUE(bus().camera(a)->capturePending());
    std::shared_ptr<usb::Device> d = openDevice(b);
    EZURB urb{0x40, 0xba, 0, 0, 0, nullptr, 0};
    EXPECT_EQ(d->control(urb, 1000), usb::kStall);
    EXPECT_EQ(d->clearHalt(0), usb::kSuccess);
    SimUnplugCamera(a);
    SimUnplugCamera(b);
}

TEST(SimBus, AControlFilePlugsUnplugsAndCapsCamerasAsItGrows) {
    // A bus of its own: the process's bus keeps its cameras for the others.
    sim::SimBus local;
    char path[] = "/tmp/ezcam-sim-control-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::vector<uint16_t> arrived;
    std::vector<std::shared_ptr<usb::Device>> devices;
    int removals = 0;
    for (const uint16_t product : {0xc004, 0xc006})
        local.watchArrivals(0x0547, product, [&](std::shared_ptr<usb::Device> d) {
            arrived.push_back(d->info().product);
            devices.push_back(d);
            local.watchRemoval(d, [&] { ++removals; });
        });
    const auto append = [&](const char* text) {
        std::ofstream(path, std::ios::app) << text;
    };
    // Lines already there count; malformed ones are skipped, said, and the
    // rest run, each said once carried out.
    append("plug 0547:c004\nunplug x\nplug 0547:zz\n# a comment\nplug 0547:c006@a001\n");
    local.setControlFile(path);
    {
        LogRecorder log;
        EXPECT_EQ(local.poll(0), 2);
        EXPECT_EQ(log.messages,
                  (std::vector<std::string>{"2: EZCAM_SIM_CONTROL: plug 0547:c004",
                                            "1: EZCAM_SIM_CONTROL: ignoring \"unplug x\"",
                                            "1: EZCAM_SIM_CONTROL: ignoring \"plug 0547:zz\"",
                                            "2: EZCAM_SIM_CONTROL: plug 0547:c006@a001"}));
    }
    ASSERT_EQ(arrived, (std::vector<uint16_t>{0xc004, 0xc006}));
    EXPECT_EQ(devices[1]->info().bcdDevice, 0xa001);

    // Half a line waits for its end; a waiting poll sees what is appended.
    append("sensor 1 light=0");
    EXPECT_EQ(local.poll(0), 0);
    EXPECT_FALSE(local.camera(1)->sensor());
    append(",read=3\n");
    EXPECT_EQ(local.poll(0), 0);
    ASSERT_TRUE(local.camera(1)->sensor());
    EXPECT_EQ(local.camera(1)->sensor()->light, 0);
    EXPECT_EQ(local.camera(1)->sensor()->readNoise, 3);
    std::thread later([&] {
        std::this_thread::sleep_for(50ms);
        append("unplug 2\nunplug 7\nsensor 2 light=1\n");
    });
    EXPECT_EQ(local.poll(10000), 1);
    later.join();
    EXPECT_EQ(removals, 1);
    EXPECT_EQ(local.camera(2), nullptr);  // gone: the bus forgets it
    EXPECT_FALSE(local.camera(1)->unplugged());
    EXPECT_EQ(local.poll(0), 0);  // each line once
    local.clearWatches();
    local.unplug(1);
    std::remove(path);
}

TEST(SimBus, BulkReadWaitsForTheFrameAndIsReleasedByUnplugOrClose) {
    const int id = SimPlugCamera(0x0547, 0xc004, 0x0100);
    std::shared_ptr<usb::Device> d = bus().device(id);
    std::vector<unsigned char> buffer(512 + 2592 * 1944);
    int received = -1;
    EXPECT_EQ(d->bulkRead(1, buffer.data(), 512, &received, 10), usb::kNotOpen);
    d = openDevice(id);
    std::shared_ptr<sim::SimCamera> cam = bus().camera(id);

    // Nothing to deliver: the read gives up after its time-out.
    cam->stopFrames(true);
    const auto start = Clock::now();
    EXPECT_EQ(d->bulkRead(1, buffer.data(), 512, &received, 60), usb::kTimeout);
    EXPECT_GE(Clock::now() - start, 60ms);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(cam->trace().back(), std::to_string(id) + " bulk 1 512 0");

    // Controls go through while a read waits on another thread.
    auto waiting = std::async(std::launch::async, [&] {
        int n = -1;
        const uint32_t s = d->bulkRead(1, buffer.data(), static_cast<int>(buffer.size()), &n, 60000);
        return std::pair{s, n};
    });
    EZURB version{0xc0, 0xb6, 0, 2, 64, buffer.data() + 4096, 0};
    EXPECT_EQ(d->control(version, 1000), usb::kSuccess);
    EXPECT_EQ(version.lengthDone, 64u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(waiting.wait_for(0ms), std::future_status::timeout);
    const auto unplugged = Clock::now();
    SimUnplugCamera(id);
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
    EXPECT_LT(Clock::now() - unplugged, 2s);
    EXPECT_EQ(waiting.get(), (std::pair{usb::kNoDevice, 0}));

    // Closing the device releases a waiting read too; later calls are refused.
    const int other = SimPlugCamera(0x0547, 0xc004, 0x0100);
    std::shared_ptr<usb::Device> e = openDevice(other);
    bus().camera(other)->stopFrames(true);
    auto closing = std::async(std::launch::async, [&] {
        int n = -1;
        return e->bulkRead(1, buffer.data(), 512, &n, 60000);
    });
    std::this_thread::sleep_for(30ms);
    e->close();
    ASSERT_EQ(closing.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(closing.get(), usb::kNoDevice);
    EZURB ack{0x40, 0xb3, 0, 0, 0, nullptr, 0};
    EXPECT_EQ(e->control(ack, 1000), usb::kNotOpen);
    SimUnplugCamera(other);
}

TEST(SimBus, FramesArePacedByTheModeAndTheExposure) {
    const int id = SimPlugCamera(0x0547, 0xc004, 0x0100);
    std::shared_ptr<usb::Device> d = openDevice(id);
    bus().camera(id)->setPaced(true);
    std::vector<unsigned char> buffer(512 + 640 * 480);
    auto control = [&](uint8_t request, uint16_t value, uint16_t index) {
        EZURB urb{0x40, request, value, index, 0, nullptr, 0};
        return d->control(urb, 1000);
    };
    auto frames = [&](int n) {
        const auto start = Clock::now();
        for (int i = 0; i < n; ++i) {
            int received = 0;
            EXPECT_EQ(d->bulkRead(1, buffer.data(), static_cast<int>(buffer.size()), &received, 5000),
                      usb::kSuccess);
            EXPECT_EQ(received, 512 + 640 * 480);
        }
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    // 480 rows of 1540 clocks at 36000 per millisecond: 20.5 ms a frame.
    control(0xb4, 0xc8, 100);
    EXPECT_GE(frames(5), 5 * 20.0);
    // An exposure of 2000 lines (85.6 ms) is longer than the readout.
    control(0xb4, 0xc8, 2000);
    EXPECT_GE(frames(3), 3 * 85.0);
    SimUnplugCamera(id);

    // Read as the host reads: whole packets (256 bytes short of this frame),
    // then the acknowledge, which drops the rest. 600 rows of 800 clocks at
    // 48000 per millisecond: 10 ms a frame.
    const int other = SimPlugCamera(0x0547, 0xc811, 0x0100);
    std::shared_ptr<usb::Device> e = openDevice(other);
    bus().camera(other)->setPaced(true);
    EZURB mode{0x40, 0xb4, 0xc1, 300, 0, nullptr, 0};
    e->control(mode, 1000);
    std::vector<unsigned char> packets((512 + 800 * 600) / 512 * 512);
    const auto start = Clock::now();
    for (int i = 0; i < 6; ++i) {
        int received = 0;
        EXPECT_EQ(e->bulkRead(1, packets.data(), static_cast<int>(packets.size()), &received, 5000),
                  usb::kSuccess);
        EXPECT_EQ(packets[0], 0x88);
        EZURB ack{0x40, 0xb3, 0, 0, 0, nullptr, 0};
        e->control(ack, 1000);
    }
    EXPECT_GE(Clock::now() - start, 5 * 9.9ms);
    SimUnplugCamera(other);
}

TEST(SimBus, TraceRecordsEveryTransferInItsFileAndInMemory) {
    char path[] = "/tmp/ezcam-sim-trace-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("EZCAM_SIM_TRACE", path, 1);
    const int id = SimPlugCamera(0x0547, 0xa811, 0x0100);
    std::shared_ptr<usb::Device> d = openDevice(id);
    const std::shared_ptr<sim::SimCamera> camera = bus().camera(id);
    camera->setPaced(false);
    EZURB resolution{0x40, 0xb4, 0x00c2, 0x012c, 0, nullptr, 0};
    d->control(resolution, 1000);
    std::vector<unsigned char> data(64);
    for (int i = 0; i < 64; ++i) data[i] = static_cast<unsigned char>(i * 4 + 0xa0);
    EZURB write{0x40, 0xb0, 65, 128, 64, data.data(), 0};
    d->control(write, 1000);
    EZURB version{0xc0, 0xb6, 0, 2, 64, data.data(), 0};
    d->control(version, 1000);
    std::vector<unsigned char> buffer(200000);
    int received = 0;
    d->bulkRead(1, buffer.data(), 120320, &received, 1000);
    EZURB bad{0x40, 0xbc, 1, 2, 0, nullptr, 0};
    d->control(bad, 1000);  // stalled, but received all the same
    SimUnplugCamera(id);
    d->control(bad, 1000);  // gone: nothing reaches the device
    unsetenv("EZCAM_SIM_TRACE");

    std::string hex;
    for (int i = 0; i < 64; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", (i * 4 + 0xa0) & 0xff);
        hex += two;
    }
    const std::string n = std::to_string(id);
    const std::vector<std::string> expected = {
        n + " ctrl 40 b4 00c2 012c 0",
        n + " ctrl 40 b0 0041 0080 64 " + hex,
        n + " ctrl c0 b6 0000 0002 64",
        n + " bulk 1 120320 119811",
        n + " ctrl 40 bc 0001 0002 0",
    };
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        if (line.rfind(n + " ", 0) == 0) lines.push_back(line);
    std::remove(path);
    EXPECT_EQ(lines, expected);
    // The bus forgets the unplugged camera; its trace lives on in the file
    // and in the camera object for whoever still holds it.
    EXPECT_EQ(bus().camera(id), nullptr);
    EXPECT_EQ(camera->trace(), expected);
}

TEST(SimBus, ControlsAndFramesFromDifferentThreadsAtOnce) {
    const int id = SimPlugCamera(0x0547, 0xa811, 0x0100);
    std::shared_ptr<usb::Device> d = openDevice(id);
    std::shared_ptr<sim::SimCamera> cam = bus().camera(id);
    cam->setPaced(false);
    EZURB small{0x40, 0xb4, 0xc2, 300, 0, nullptr, 0};
    d->control(small, 1000);
    std::atomic<bool> stop{false};
    std::thread settings([&] {
        for (uint16_t i = 0; !stop; ++i) {
            EZURB gain{0x40, 0xb7, static_cast<uint16_t>(32 + i % 40), 0x2f, 0, nullptr, 0};
            d->control(gain, 1000);
            EZURB exposure{0x40, 0xb7, static_cast<uint16_t>(100 + i % 500), 9, 0, nullptr, 0};
            d->control(exposure, 1000);
            if (i % 7 == 0) SimPressCapture(id);
            unsigned char status[64];
            EZURB query{0xc0, 0xb6, 0, 1, 64, status, 0};
            d->control(query, 1000);
        }
    });
    std::vector<unsigned char> buffer(120320);
    int good = 0;
    for (int i = 0; i < 40; ++i) {
        int received = 0;
        ASSERT_EQ(d->bulkRead(1, buffer.data(), static_cast<int>(buffer.size()), &received, 1000),
                  usb::kSuccess);
        good += received == 119811 && buffer[119808] == 0x88;
    }
    stop = true;
    settings.join();
    EXPECT_EQ(good, 40);
    SimUnplugCamera(id);
}
