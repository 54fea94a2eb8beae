// The simulated camera against the control protocol: registers and exposure,
// modes, information memory, version, status, temperature, options, stalls.
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>

#include "sim_test_util.h"

using sim::SimCamera;
using simtest::in;
using simtest::out;

TEST(SimProtocol, RegisterWritesSetExposureTheWayEachSensorCountsIt) {
    // A sensor without long exposure: the exposure register is the line count.
    SimCamera a(1, 0x0547, 0xc004, 0x0100);
    EXPECT_EQ(out(a, 0xb7, 600, 9), usb::kSuccess);
    EXPECT_EQ(a.reg(9), 600);
    EXPECT_EQ(a.exposureLines(), 600u);
    EXPECT_EQ(out(a, 0xb7, 0x1234, 0x35), usb::kSuccess);
    EXPECT_EQ(a.reg(0x35), 0x1234);
    EXPECT_EQ(a.exposureLines(), 600u);  // the gain register leaves it alone

    // Rest and periods, 1080 lines per period in mode 0xc0, 540 in 0xc2.
    SimCamera s(2, 0x0547, 0xc00a, 0x0100);
    out(s, 0xb7, 500, 3);
    out(s, 0xb7, 2, 4);
    EXPECT_EQ(s.exposureLines(), 2u * 1080 + 500);
    out(s, 0xb4, 0xc2, 100);
    out(s, 0xb7, 7, 3);
    out(s, 0xb7, 3, 4);
    EXPECT_EQ(s.exposureLines(), 3u * 540 + 7);

    // One 32-bit count over two registers: high half, then low half.
    SimCamera x(3, 0x0547, 0xc00c, 0x0100);
    out(x, 0xb7, 1, 0xa2);
    out(x, 0xb7, 4464, 0xa3);
    EXPECT_EQ(x.exposureLines(), 70000u);
    out(x, 0xb4, 0xc0, 0);  // its mode requests carry no count
    EXPECT_EQ(x.exposureLines(), 70000u);
}

TEST(SimProtocol, ModeRequestsCarryTheLineCountAndRejectUnknownModes) {
    SimCamera c(1, 0x0547, 0xc004, 0x0100);
    EXPECT_EQ(out(c, 0xb4, 0x12c6, 0x3456), usb::kSuccess);
    EXPECT_EQ(c.resolutionMode(), 0xc6);
    EXPECT_EQ(c.exposureLines(), 0x123456u);
    EXPECT_EQ(out(c, 0xb5, 0x00a1, 700), usb::kSuccess);
    EXPECT_EQ(c.clockMode(), 0xa1);
    EXPECT_EQ(c.exposureLines(), 700u);
    EXPECT_NEAR(c.exposureMs(), 700.0 * 2180 / 18000, 1e-9);

    EXPECT_EQ(out(c, 0xb4, 0xc1, 5), usb::kStall);  // not in this model's table
    EXPECT_EQ(out(c, 0xb5, 0xa7, 5), usb::kStall);
    EXPECT_EQ(c.resolutionMode(), 0xc6);
    EXPECT_EQ(c.clockMode(), 0xa1);
    EXPECT_EQ(c.exposureLines(), 700u);

    EXPECT_EQ(out(c, 0xb9, 5, 0), usb::kSuccess);
    EXPECT_EQ(c.depth(), 16);
    EXPECT_EQ(out(c, 0xb9, 12, 0), usb::kStall);
    EXPECT_EQ(c.depth(), 16);
    EXPECT_EQ(out(c, 0xb9, 10, 0), usb::kSuccess);
    EXPECT_EQ(c.depth(), 8);

    EXPECT_EQ(out(c, 0xbb, 0, 0), usb::kSuccess);
    EXPECT_FALSE(c.running());
    EXPECT_EQ(out(c, 0xba, 0, 0), usb::kSuccess);
    EXPECT_TRUE(c.running());
    out(c, 0xbb, 0, 0);
    out(c, 0xb4, 0xc0, 300);  // a resolution request starts the exposure too
    EXPECT_TRUE(c.running());
}

// Chunks as the host sends them: first and last address, 64-byte stages.
TEST(SimProtocol, InformationMemoryKeepsChunksAtTheirAddresses) {
    SimCamera c(1, 0x0547, 0xa811, 0x0100);
    std::vector<uint8_t> data(100);
    std::iota(data.begin(), data.end(), 1);
    std::vector<uint8_t> first(data.begin(), data.begin() + 64);
    std::vector<uint8_t> last(64, 0xaa);
    std::copy(data.begin() + 64, data.end(), last.begin());
    EXPECT_EQ(out(c, 0xb0, 65, 128, first), usb::kSuccess);
    EXPECT_EQ(out(c, 0xb0, 129, 164, last), usb::kSuccess);
    EXPECT_EQ(c.memory(65, 100), data);
    EXPECT_EQ(c.memory(165, 2), (std::vector<uint8_t>{0, 0}));  // past the last address

    std::vector<uint8_t> reply;
    EXPECT_EQ(in(c, 0xb1, 65, 128, reply), usb::kSuccess);
    EXPECT_EQ(reply, first);
    EXPECT_EQ(in(c, 0xb1, 129, 165, reply), usb::kSuccess);
    ASSERT_EQ(reply.size(), 37u);
    EXPECT_TRUE(std::equal(data.begin() + 64, data.end(), reply.begin()));
    EXPECT_EQ(reply[36], 0);

    // At least 1024 bytes are kept.
    std::vector<uint8_t> high(64, 0x5c);
    EXPECT_EQ(out(c, 0xb0, 1100, 1163, high), usb::kSuccess);
    EXPECT_EQ(in(c, 0xb1, 1100, 1163, reply), usb::kSuccess);
    EXPECT_EQ(reply, high);

    // Addresses outside the memory, reversed ranges and short stages stall.
    EXPECT_EQ(out(c, 0xb0, 2040, 2103, high), usb::kStall);
    EXPECT_EQ(in(c, 0xb1, 2047, 2048, reply), usb::kStall);
    EXPECT_EQ(out(c, 0xb0, 200, 199, high), usb::kStall);
    EXPECT_EQ(out(c, 0xb0, 200, 300, high), usb::kStall);
    EXPECT_EQ(c.memory(200, 1), std::vector<uint8_t>{0});
}

TEST(SimProtocol, VersionStatusAndCaptureFlag) {
    SimCamera c(1, 0x0547, 0xc004, 0xa100);
    std::vector<uint8_t> reply;
    EXPECT_EQ(in(c, 0xb6, 0, 2, reply), usb::kSuccess);
    ASSERT_EQ(reply.size(), 64u);
    EXPECT_EQ(reply[0] | reply[1] << 8, 0xa100);  // the device release by default
    c.setFirmwareVersion(0xa101);
    in(c, 0xb6, 0, 2, reply, 2);
    EXPECT_EQ(reply, (std::vector<uint8_t>{0x01, 0xa1}));
    EXPECT_EQ(in(c, 0xb6, 0, 3, reply), usb::kStall);

    // This product's frames have no room for the flag: the status serves it once.
    in(c, 0xb6, 0, 1, reply);
    EXPECT_EQ(reply[2], 0);
    c.pressCapture();
    in(c, 0xb6, 0, 1, reply);
    EXPECT_EQ(reply[2], 0xcc);
    in(c, 0xb6, 0, 1, reply);
    EXPECT_EQ(reply[2], 0);

    // Where frames carry it, the flag stays pending until a frame took it.
    SimCamera h(2, 0x0547, 0xa811, 0x0100);
    h.pressCapture();
    in(h, 0xb6, 0, 1, reply);
    EXPECT_EQ(reply[2], 0xcc);
    simtest::frame(h);
    in(h, 0xb6, 0, 1, reply);
    EXPECT_EQ(reply[2], 0);
}

// The host's reading of the status: half degrees, or 0.625-degree steps below zero.
static double decodeTemperature(const std::vector<uint8_t>& r) {
    const int16_t n = static_cast<int16_t>(r[0] | r[1] << 8);
    if (n >= 0) return 0.5 * n;
    return -0.625 * -(n | 0x7f00);
}

TEST(SimProtocol, TemperatureDriftsTowardTheSetPointWhileTheCoolerRuns) {
    SimCamera c(1, 0x0547, 0xe00a, 0xa001);
    c.setThermal(24.0, -10.0, 0.2);
    std::vector<uint8_t> reply;
    auto reading = [&] {
        in(c, 0xb6, 0, 1, reply);
        return decodeTemperature(reply);
    };
    EXPECT_DOUBLE_EQ(reading(), 24.0);

    EXPECT_EQ(out(c, 0xb8, 1, 1), usb::kSuccess);
    EXPECT_EQ(c.option(1), 1);
    double previous = reading();
    EXPECT_GT(previous, 5.0);  // it takes time
    bool between = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (previous > -10.0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double t = reading();
        EXPECT_LE(t, previous);
        between = between || (t > -10.0 && t < 20.0);
        previous = t;
    }
    EXPECT_TRUE(between);
    EXPECT_DOUBLE_EQ(previous, -10.0);  // settles on the set point, n = -16

    out(c, 0xb8, 0, 1);  // cooler off: back toward ambient
    while (previous < 0.0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double t = reading();
        EXPECT_GE(t, previous);
        previous = t;
    }
    EXPECT_GE(previous, 0.0);
}

TEST(SimProtocol, OptionsAndOutputsAreKept) {
    SimCamera c(1, 0x0547, 0xa004, 0x0100);
    EXPECT_EQ(c.option(0), std::nullopt);
    out(c, 0xb8, 17, 0);
    out(c, 0xb8, 5, 3);
    out(c, 0xb8, 0x0161, 0);  // output 2 on
    EXPECT_EQ(c.option(0), 17);
    EXPECT_EQ(c.option(3), 5);
    EXPECT_TRUE(c.gpio(2));
    EXPECT_FALSE(c.gpio(1));
    out(c, 0xb8, 0x0061, 0);
    EXPECT_FALSE(c.gpio(2));
}

TEST(SimProtocol, StallsOnWhatTheDeviceDoesNotKnow) {
    SimCamera c(1, 0x0547, 0xc004, 0x0100);
    for (uint8_t r : {0xa0, 0xb2, 0xbc, 0xbf}) EXPECT_EQ(out(c, r, 0, 0), usb::kStall) << int(r);
    std::vector<uint8_t> reply;
    EXPECT_EQ(in(c, 0xb4, 0xc0, 0, reply), usb::kStall);  // wrong direction
    EXPECT_EQ(out(c, 0xb1, 65, 128, std::vector<uint8_t>(64)), usb::kStall);
    EXPECT_EQ(out(c, 0xbe, 0, 100), usb::kStall);  // an empty region
    EXPECT_EQ(reply.size(), 0u);
    EZURB odd{0x41, 0xb3, 0, 0, 0, nullptr, 0};
    EXPECT_EQ(c.control(odd), usb::kStall);
    EZURB noData{0x40, 0xb0, 65, 128, 64, nullptr, 0};
    EXPECT_EQ(c.control(noData), usb::kStall);

    // An injected stall hits the next request only, and changes nothing.
    c.stallNextControl();
    EXPECT_EQ(out(c, 0xb7, 123, 9), usb::kStall);
    EXPECT_EQ(c.reg(9), 0);
    EXPECT_EQ(out(c, 0xb7, 123, 9), usb::kSuccess);
    EXPECT_EQ(c.acknowledged(), 0);
    out(c, 0xb3, 0, 0);
    EXPECT_EQ(c.acknowledged(), 1);

    // A pair no model drives stalls everything, frames included.
    SimCamera u(2, 0x0547, 0xa00c, 0x0100);
    EXPECT_FALSE(u.supported());
    EXPECT_EQ(out(u, 0xba, 0, 0), usb::kStall);
    EXPECT_EQ(in(u, 0xb6, 0, 2, reply), usb::kStall);
    uint8_t buffer[512];
    int received = -1;
    EXPECT_EQ(u.bulkRead(1, buffer, 512, &received), usb::kStall);
    EXPECT_EQ(received, 0);
    EXPECT_FALSE(SimCamera(3, 0x0547, 0x6401, 0x0100).supported());
    EXPECT_TRUE(SimCamera(4, 0x4b56, 0x6401, 0x0100).supported());
    EXPECT_TRUE(SimCamera(5, 0x8021, 0xc004, 0x0100).supported());
}

TEST(SimProtocol, UnpluggedDeviceAnswersNothing) {
    SimCamera c(7, 0x0547, 0xc004, 0x0100);
    int calls = 0;
    c.onUnplug([&] { ++calls; });
    c.unplug();
    c.unplug();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(c.unplugged());
    EXPECT_EQ(out(c, 0xb3, 0, 0), usb::kNoDevice);
    uint8_t buffer[512];
    int received = -1;
    EXPECT_EQ(c.bulkRead(1, buffer, 512, &received), usb::kNoDevice);
    EXPECT_EQ(received, 0);
    EXPECT_TRUE(c.trace().empty());  // nothing reached the device
    c.onUnplug([&] { ++calls; });    // a late listener hears at once
    EXPECT_EQ(calls, 2);
}
