// The simulated sensor's physics, measured on its frames: signal against
// exposure and gain, black level, saturation, vignetting, colour cast, hot
// pixels, noise and the drifting scene.
#include <gtest/gtest.h>

#include <cmath>

#include "sim_test_util.h"

using sim::SimCamera;
using simtest::frame;
using simtest::out;

namespace {

// A monochrome sensor with long exposure (1080 lines a period), 16-bit.
struct Mono {
    SimCamera cam{1, 0x0547, 0xc00a, 0x0100};
    static constexpr int kWidth = 1280, kHeight = 1024;
    Mono() { out(cam, 0xb9, 5, 0); }
    void lines(uint32_t n) {
        out(cam, 0xb7, static_cast<uint16_t>(n % 1080), 3);
        out(cam, 0xb7, static_cast<uint16_t>(n / 1080), 4);
    }
    std::vector<int> image() {
        return simtest::samples(frame(cam), 512, size_t{kWidth} * kHeight, simtest::Order::Msb);
    }
    double mean() {
        const std::vector<int> s = image();
        return simtest::mean(s, kWidth, 0, 0, kWidth, kHeight);
    }
};

double stddevOfDifference(const std::vector<int>& a, const std::vector<int>& b, int width, int x0,
                          int y0, int w, int h, double* meanDifference) {
    double sum = 0, sum2 = 0;
    const int n = w * h;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            const double d = a[static_cast<size_t>(y) * width + x] - b[static_cast<size_t>(y) * width + x];
            sum += d;
            sum2 += d * d;
        }
    *meanDifference = sum / n;
    return std::sqrt(sum2 / n - (sum / n) * (sum / n));
}

}  // namespace

TEST(SimPhysics, SignalIsProportionalToExposureAndGainUpToSaturation) {
    Mono m;
    m.lines(0);
    const double black = m.mean();
    EXPECT_GT(black, 0.0);  // the sensor's own offset
    m.lines(50);
    const double s1 = m.mean() - black;
    m.lines(100);
    const double s2 = m.mean() - black;
    m.lines(200);
    const double s4 = m.mean() - black;
    EXPECT_GT(s1, 1000.0);
    EXPECT_NEAR(s2 / s1, 2.0, 0.03);
    EXPECT_NEAR(s4 / s1, 4.0, 0.06);
    // Doubling the analog gain doubles the signal.
    m.lines(50);
    out(m.cam, 0xb7, 60, 1);
    EXPECT_NEAR((m.mean() - black) / s1, 2.0, 0.03);
    // Long exposures count whole periods (at a sixth of the gain, to stay
    // below full scale).
    out(m.cam, 0xb7, 5, 1);
    m.lines(1080 + 20);
    EXPECT_NEAR((m.mean() - black) / s1, 1100.0 / 50 / 6, 0.06);
    // Far beyond full scale every sample saturates at the converter's top.
    m.lines(30000);
    const std::vector<int> s = m.image();
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 0xfff0);
    EXPECT_EQ(*std::min_element(s.begin(), s.end()), 0xfff0);
}

TEST(SimPhysics, GainRegisterIsReadThroughTheModelsMapping) {
    // This model writes gain g >= 64 as g x 256 - 16065.
    SimCamera c(1, 0x0547, 0xc004, 0x0100);
    out(c, 0xb9, 5, 0);
    out(c, 0xb4, 0xc8, 0);
    auto mean = [&c] {
        const std::vector<int> s = simtest::samples(frame(c), 512, 640u * 480, simtest::Order::Msb);
        return simtest::mean(s, 640, 0, 0, 640, 480);
    };
    const double black = mean();
    out(c, 0xb4, 0xc8, 100);
    out(c, 0xb7, 30, 0x35);
    const double g30 = mean() - black;
    out(c, 0xb7, 100 * 256 - 16065, 0x35);
    EXPECT_NEAR((mean() - black) / g30, 100.0 / 30, 0.06);
}

TEST(SimPhysics, BlackLevelIsAnOffsetIndependentOfExposure) {
    Mono m;
    m.lines(50);
    const double a0 = m.mean();
    out(m.cam, 0xb7, 50, 2);
    const double a50 = m.mean();
    m.lines(150);
    const double b50 = m.mean();
    out(m.cam, 0xb7, 0, 2);
    const double b0 = m.mean();
    EXPECT_GT(a50 - a0, 1000.0);
    EXPECT_NEAR(a50 - a0, b50 - b0, 0.02 * (a50 - a0));
}

TEST(SimPhysics, CornersAreDarkerAndColourChannelsRespondUnequally) {
    Mono m;
    m.lines(0);
    const double black = m.mean();
    m.lines(150);
    const std::vector<int> s = m.image();
    const double centre = simtest::mean(s, Mono::kWidth, 576, 448, 128, 128) - black;
    const int w = Mono::kWidth, h = Mono::kHeight, p = 64;
    for (auto [x, y] : {std::pair{0, 0}, {w - p, 0}, {0, h - p}, {w - p, h - p}})
        EXPECT_LT(simtest::mean(s, w, x, y, p, p) - black, 0.9 * centre) << x << "," << y;
    // A monochrome sensor has no mosaic: its four sites agree.
    const double all = simtest::mean(s, w, 0, 0, w, h) - black;
    for (int site = 0; site < 4; ++site)
        EXPECT_NEAR(simtest::mean(s, w, 0, 0, w, h, site & 1, site >> 1) - black, all, 0.02 * all);

    // Bayer code 3 (B G / G R as the decoders name it) sits under red, green /
    // green, blue filters: green strongest, blue weakest.
    SimCamera c(2, 0x0547, 0xc004, 0x0100);
    out(c, 0xb9, 5, 0);
    out(c, 0xb4, 0xc8, 0);
    const double cblack = simtest::mean(simtest::samples(frame(c), 512, 640u * 480, simtest::Order::Msb), 640, 0, 0, 640, 480);
    out(c, 0xb4, 0xc8, 300);
    const std::vector<int> rgb = simtest::samples(frame(c), 512, 640u * 480, simtest::Order::Msb);
    const double red = simtest::mean(rgb, 640, 0, 0, 640, 480, 0, 0) - cblack;
    const double green1 = simtest::mean(rgb, 640, 0, 0, 640, 480, 1, 0) - cblack;
    const double green2 = simtest::mean(rgb, 640, 0, 0, 640, 480, 0, 1) - cblack;
    const double blue = simtest::mean(rgb, 640, 0, 0, 640, 480, 1, 1) - cblack;
    EXPECT_NEAR(green1, green2, 0.02 * green1);
    EXPECT_LT(red, 0.9 * green1);
    EXPECT_LT(blue, 0.9 * red);
}

TEST(SimPhysics, HotPixelsStayPutAndNoiseGrowsWithSignal) {
    Mono m;
    m.lines(25);
    auto hot = [](const std::vector<int>& s) {
        std::vector<size_t> at;
        for (int y = 1; y + 1 < Mono::kHeight; ++y)
            for (int x = 1; x + 1 < Mono::kWidth; ++x) {
                const size_t i = static_cast<size_t>(y) * Mono::kWidth + x;
                const int around = std::max({s[i - 1], s[i + 1], s[i - Mono::kWidth], s[i + Mono::kWidth]});
                if (s[i] > 3 * around) at.push_back(i);
            }
        return at;
    };
    const std::vector<int> a = m.image(), b = m.image();
    const std::vector<size_t> hotA = hot(a);
    EXPECT_GE(hotA.size(), 3u);
    EXPECT_LE(hotA.size(), 40u);
    EXPECT_EQ(hotA, hot(b));

    // Frame-to-frame noise in a corner free of objects: zero mean, and
    // roughly the square root of the signal (four times the signal, twice
    // the noise, less the read noise).
    double mean25 = 0, mean100 = 0;
    const double n25 = stddevOfDifference(a, b, Mono::kWidth, 16, 16, 128, 128, &mean25);
    m.lines(100);
    const std::vector<int> c = m.image(), d = m.image();
    const double n100 = stddevOfDifference(c, d, Mono::kWidth, 16, 16, 128, 128, &mean100);
    EXPECT_GT(n25, 16.0);
    EXPECT_LT(std::abs(mean25), 0.1 * n25);
    EXPECT_LT(std::abs(mean100), 0.1 * n100);
    EXPECT_GT(n100 / n25, 1.4);
    EXPECT_LT(n100 / n25, 2.2);
}

TEST(SimPhysics, ObjectsDriftSlowlyFromFrameToFrame) {
    SimCamera c(1, 0x0547, 0xc004, 0x0100);
    c.setPaced(false);
    out(c, 0xb4, 0xc8, 300);
    auto image = [&c] { return simtest::samples(frame(c), 512, 640u * 480, simtest::Order::Byte); };
    auto change = [](const std::vector<int>& a, const std::vector<int>& b) {
        double sum = 0;
        for (size_t i = 0; i < a.size(); ++i) sum += std::abs(a[i] - b[i]);
        return sum / static_cast<double>(a.size());
    };
    const std::vector<int> first = image();
    const std::vector<int> next = image();
    for (int i = 0; i < 150; ++i) frame(c);
    const std::vector<int> later = image();
    EXPECT_GT(change(first, later), 1.5 * change(first, next));
}
