// The simulated camera's frames: framing and size per transfer variant, byte
// order, regions of interest, frames read in pieces, and injected faults.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_test_util.h"

using sim::SimCamera;
using simtest::frame;
using simtest::out;

namespace {

bool allEqual(const std::vector<uint8_t>& f, size_t from, size_t count, uint8_t value) {
    return std::all_of(f.begin() + from, f.begin() + from + count, [value](uint8_t b) { return b == value; });
}

}  // namespace

TEST(SimFrames, EachVariantFramesItsPixelsAsItsReaderExpects) {
    // Marked header, then width x height samples.
    SimCamera o(1, 0x0547, 0xc004, 0x0100);
    std::vector<uint8_t> f = frame(o);
    ASSERT_EQ(f.size(), 512u + 2592 * 1944);
    EXPECT_TRUE(allEqual(f, 0, 10, 0x88));
    EXPECT_NE(f[10], 0x88);
    out(o, 0xb4, 0xc8, 300);
    EXPECT_EQ(frame(o).size(), 512u + 640 * 480);

    // The table's frame bytes, then 0x88, the capture flag and one more byte.
    SimCamera h(2, 0x0547, 0xa811, 0x0100);
    f = frame(h);
    ASSERT_EQ(f.size(), 1920000u + 3);
    EXPECT_EQ(f[1920000], 0x88);
    EXPECT_EQ(f[1920001], 0x00);
    out(h, 0xb4, 0xc1, 300);
    EXPECT_EQ(frame(h).size(), 479744u + 3);  // whole packets, less than 800 x 600

    // One extra byte.
    SimCamera g(3, 0x0547, 0xf007, 0x0100);
    EXPECT_EQ(frame(g).size(), 3211264u + 1);

    // Four-byte trailer, samples doubled at 16 bits.
    SimCamera q(4, 0x0547, 0xac11, 0x0100);
    out(q, 0xb9, 5, 0);
    f = frame(q);
    ASSERT_EQ(f.size(), 10080256u + 4);
    EXPECT_EQ(f[10080256], 0x88);

    // Signature first; no packet may look like a frame start.
    SimCamera x(5, 0x0547, 0xc00c, 0x0100);
    f = frame(x);
    ASSERT_EQ(f.size(), 1920u * 1180);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "XTDT");
    EXPECT_FALSE(allEqual(f, 12, 10, 0));
    for (size_t at = 61440; at + 10 <= f.size(); at += 61440) EXPECT_FALSE(allEqual(f, at, 10, 0xbb));

    // Four unexamined bytes after the samples, no margin.
    SimCamera m(6, 0x4b56, 0x6401, 0x0100);
    EXPECT_EQ(frame(m).size(), 2048u * 2048 + 4);
    out(m, 0xb9, 5, 0);
    EXPECT_EQ(frame(m).size(), 2u * 2048 * 2048 + 4);

    // One more packet of pixels at full size and 16 bits.
    SimCamera h5(7, 0x0547, 0xa004, 0x0100);
    out(h5, 0xb9, 5, 0);
    EXPECT_EQ(frame(h5).size(), 2u * 5121536 + 512 + 3);
    out(h5, 0xb4, 0xc6, 300);
    EXPECT_EQ(frame(h5).size(), 2u * 1249280 + 3);
}

TEST(SimFrames, ReleasesAndModesChangeWhatTheSensorSends) {
    // Trailer at the end of one extra packet.
    SimCamera padded(1, 0x0547, 0xa007, 0xb002);
    std::vector<uint8_t> f = frame(padded);
    ASSERT_EQ(f.size(), 3211264u + 512);
    EXPECT_EQ(f[f.size() - 3], 0x88);
    // Pixel bytes only.
    SimCamera bare(2, 0x0547, 0xe00c, 0xa106);
    EXPECT_EQ(frame(bare, 2).size(), 6041088u);
    // The newer tables of a release, and full-width rows of a cut mode.
    SimCamera wide(3, 0x0547, 0xe80c, 0xa001);
    out(wide, 0xb4, 0x0b, 300);
    EXPECT_EQ(wide.nextFrameShape().geometry.width, 2736);
    EXPECT_EQ(wide.nextFrameShape().geometry.height, 1080);
    EXPECT_EQ(frame(wide, 2).size(), 2976768u + 3);
    // Binned modes of this sensor read out the full field.
    SimCamera full(4, 0x0547, 0xd006, 0x0100);
    EXPECT_EQ(full.nextFrameShape().geometry.width, 1360);
    EXPECT_EQ(frame(full).size(), 512u + 1360 * 1024);
    // The 640-wide mode of this sensor sends two halves side by side.
    SimCamera pair(5, 0x0547, 0xc005, 0x0100);
    out(pair, 0xb4, 0xc1, 30);
    EXPECT_EQ(frame(pair).size(), 512u + 1280 * 512);
}

TEST(SimFrames, SamplesComeInTheByteOrderOfTheProduct) {
    // 12 significant bits at the top: the low nibble of each sample is zero.
    auto lowNibbles = [](const std::vector<uint8_t>& f, size_t from, size_t count, size_t lowByte) {
        int set = 0;
        for (size_t i = 0; i < count; ++i) set += (f[from + 2 * i + lowByte] & 0x0f) != 0;
        return set;
    };
    SimCamera msb(1, 0x0547, 0xc004, 0x0100);
    out(msb, 0xb9, 5, 0);
    std::vector<uint8_t> f = frame(msb);
    const size_t n = 2592u * 1944;
    EXPECT_EQ(lowNibbles(f, 512, n, 1), 0);
    EXPECT_GT(lowNibbles(f, 512, n, 0), static_cast<int>(n / 2));

    SimCamera host(2, 0x0547, 0xac11, 0x0100);
    out(host, 0xb9, 5, 0);
    f = frame(host);
    EXPECT_EQ(lowNibbles(f, 0, n, 0), 0);

    // Top 8 bits, then the low 4 in the low nibble of the second byte.
    SimCamera packed(3, 0x0547, 0xc00c, 0x0100);
    out(packed, 0xb9, 5, 0);
    f = frame(packed);
    ASSERT_EQ(f.size(), 2u * 1920 * 1180);
    int high = 0, low = 0;
    for (size_t i = 2; i < f.size() / 2; ++i) {
        high += (f[2 * i + 1] & 0xf0) != 0;
        low += (f[2 * i + 1] & 0x0f) != 0;
    }
    EXPECT_EQ(high, 0);
    EXPECT_GT(low, static_cast<int>(f.size() / 8));

    // The 8-bit frame is the high byte of the 16-bit one.
    SimCamera eight(4, 0x0547, 0xc004, 0x0100);
    const std::vector<int> s8 = simtest::samples(frame(eight), 512, n, simtest::Order::Byte);
    const std::vector<int> s16 = simtest::samples(frame(msb), 512, n, simtest::Order::Msb);
    const double m8 = simtest::mean(s8, 2592, 0, 0, 2592, 1944);
    const double m16 = simtest::mean(s16, 2592, 0, 0, 2592, 1944);
    EXPECT_NEAR(m8, m16 / 256, 0.01 * m8);
}

TEST(SimFrames, RegionOfInterestSizesTheFramesUntilTheNextResolutionRequest) {
    SimCamera o(1, 0x0547, 0xc004, 0x0100);
    const std::vector<int> full = simtest::samples(frame(o), 512, 2592u * 1944, simtest::Order::Byte);
    out(o, 0xbd, 1000, 600);
    out(o, 0xbe, 648, 488);
    const std::vector<uint8_t> f = frame(o);
    ASSERT_EQ(f.size(), 512u + 648 * 488);
    EXPECT_TRUE(allEqual(f, 0, 10, 0x88));
    // A window of the same field: its picture matches that part of the full frame.
    const std::vector<int> part = simtest::samples(f, 512, 648u * 488, simtest::Order::Byte);
    EXPECT_NEAR(simtest::mean(part, 648, 0, 0, 648, 488), simtest::mean(full, 2592, 1000, 600, 648, 488), 1.0);
    EXPECT_NEAR(simtest::mean(part, 648, 0, 0, 64, 64), simtest::mean(full, 2592, 1000, 600, 64, 64), 1.5);

    out(o, 0xb4, 0xc0, 300);
    EXPECT_EQ(frame(o).size(), 512u + 2592 * 1944);

    // A region larger than the mode is clamped to it, its origin moved in.
    out(o, 0xbd, 2000, 1900);
    out(o, 0xbe, 3000, 1000);
    sim::Geometry g = o.nextFrameShape().geometry;
    EXPECT_EQ(g.width, 2592);
    EXPECT_EQ(g.height, 1000);
    EXPECT_EQ(g.originX, 0);
    EXPECT_EQ(g.originY, 944);

    // Table-sized frames take the region in whole packets; this one does not.
    SimCamera h(2, 0x0547, 0xa811, 0x0100);
    out(h, 0xbe, 648, 488);
    EXPECT_EQ(frame(h).size(), 648u * 488 / 512 * 512 + 3);
    SimCamera m(3, 0x4b56, 0x6401, 0x0100);
    out(m, 0xbe, 648, 488);
    EXPECT_EQ(frame(m).size(), 648u * 488 + 4);
}

TEST(SimFrames, AFrameReadInPiecesContinuesUntilAcknowledgedOrCut) {
    SimCamera o(1, 0x0547, 0xc004, 0x0100);
    o.setPaced(false);
    out(o, 0xb4, 0xc8, 300);  // 512 + 307200 bytes
    const size_t total = 512 + 640 * 480;
    std::vector<uint8_t> chunk(16384);
    size_t got = 0;
    int received = 0, reads = 0;
    do {
        ASSERT_EQ(o.bulkRead(1, chunk.data(), 16384, &received), usb::kSuccess);
        if (reads++ == 0) EXPECT_TRUE(allEqual(chunk, 0, 10, 0x88));
        else EXPECT_FALSE(allEqual(chunk, 0, 10, 0x88));
        got += static_cast<size_t>(received);
    } while (received == 16384);
    EXPECT_EQ(got, total);  // the short last piece ends the frame
    o.bulkRead(1, chunk.data(), 16384, &received);
    EXPECT_TRUE(allEqual(chunk, 0, 10, 0x88));  // the next frame

    // The acknowledge drops the rest.
    out(o, 0xb3, 0, 0);
    o.bulkRead(1, chunk.data(), 4096, &received);
    EXPECT_TRUE(allEqual(chunk, 0, 10, 0x88));
    // So does a read that is not a whole number of packets.
    o.bulkRead(1, chunk.data(), 1000, &received);
    EXPECT_EQ(received, 1000);
    o.bulkRead(1, chunk.data(), 4096, &received);
    EXPECT_TRUE(allEqual(chunk, 0, 10, 0x88));

    // The host's read length at full size misses the frame's last 256 bytes.
    out(o, 0xb4, 0xc0, 300);
    std::vector<uint8_t> buffer((512 + 2592 * 1944) / 512 * 512);
    o.bulkRead(1, buffer.data(), static_cast<int>(buffer.size()), &received);
    EXPECT_EQ(static_cast<size_t>(received), buffer.size());
    o.bulkRead(1, chunk.data(), 4096, &received);
    EXPECT_EQ(received, 256);

    EXPECT_EQ(o.bulkRead(2, chunk.data(), 4096, &received), usb::kStall);
    SimCamera two(2, 0x0547, 0xe80a, 0x0100);
    EXPECT_EQ(two.bulkRead(1, chunk.data(), 4096, &received), usb::kStall);
    EXPECT_EQ(two.bulkRead(2, chunk.data(), 4096, &received), usb::kSuccess);
}

TEST(SimFrames, CaptureFlagRidesOnTheNextFrameOnly) {
    SimCamera h(1, 0x0547, 0xa811, 0x0100);
    out(h, 0xb4, 0xc2, 300);
    h.pressCapture();
    EXPECT_EQ(frame(h)[119808 + 1], 0xcc);
    EXPECT_EQ(frame(h)[119808 + 1], 0x00);

    SimCamera g(2, 0x0547, 0xf007, 0x0100);
    out(g, 0xb4, 0xc2, 300);
    g.pressCapture();
    std::vector<uint8_t> f = frame(g);
    EXPECT_EQ(f[f.size() - 2], 0xcc);

    SimCamera q(3, 0x0547, 0xac11, 0x0100);
    out(q, 0xb4, 0xc2, 300);
    q.pressCapture();
    EXPECT_EQ(frame(q)[307200 + 2], 0xcc);
    EXPECT_EQ(frame(q)[307200 + 2], 0x00);
}

TEST(SimFrames, InjectedFaultsHitTheNextFrame) {
    SimCamera o(1, 0x0547, 0xc004, 0x0100);
    out(o, 0xb4, 0xc8, 300);
    o.corruptNextFrameMarker();
    std::vector<uint8_t> f = frame(o);
    EXPECT_NE(f[4], 0x88);
    EXPECT_TRUE(allEqual(frame(o), 0, 10, 0x88));

    SimCamera h(2, 0x0547, 0xa811, 0x0100);
    out(h, 0xb4, 0xc2, 300);
    h.corruptNextFrameMarker();
    EXPECT_NE(frame(h)[119808], 0x88);
    h.resizeNextFrame(-100);
    f = frame(h);
    ASSERT_EQ(f.size(), 119808u - 100 + 3);
    EXPECT_EQ(f[f.size() - 3], 0x88);
    h.resizeNextFrame(1000);
    f = frame(h);
    ASSERT_EQ(f.size(), 119808u + 1000 + 3);
    EXPECT_EQ(f[f.size() - 3], 0x88);
    EXPECT_EQ(frame(h).size(), 119808u + 3);

    // No frames while stopped, from the camera or by the sensor stop request.
    h.stopFrames(true);
    EXPECT_EQ(h.frameReadyAt(), SimCamera::Clock::time_point::max());
    uint32_t status = 0;
    EXPECT_TRUE(frame(h, 1, &status).empty());
    EXPECT_EQ(status, usb::kTimeout);
    h.stopFrames(false);
    out(h, 0xbb, 0, 0);
    EXPECT_TRUE(frame(h, 1, &status).empty());
    out(h, 0xba, 0, 0);
    EXPECT_EQ(frame(h).size(), 119808u + 3);

    // Unplugged part way through a read: what arrived is counted.
    int unplugs = 0;
    h.onUnplug([&] { ++unplugs; });
    h.unplugDuringNextRead(5000);
    f = frame(h, 1, &status);
    EXPECT_EQ(status, usb::kNoDevice);
    EXPECT_EQ(f.size(), 5000u);
    EXPECT_TRUE(h.unplugged());
    EXPECT_EQ(unplugs, 1);
}
