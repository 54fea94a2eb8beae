// Settings changed on one thread while another processes frames: no frame
// may see a half-built table, and nothing may race (run under
// ThreadSanitizer too).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "pipeline_fixture.h"
#include "sim_session.h"

namespace {

// Channel k of a finished image as its own plane.
std::vector<unsigned char> plane(Frames& f, int k) {
    std::vector<unsigned char> out;
    const _ezImage* r = f.imageRecord();
    for (size_t i = 0; i < size_t(r->width) * r->height; ++i) out.push_back(r->data[3 * i + k]);
    return out;
}

constexpr int kGammas[2] = {40, 150};
constexpr int kGains[2] = {64, 110};

}  // namespace

// Each channel's output depends on its own gain and gamma only, so every
// frame must show, channel by channel, one of the four possible results.
TEST(PipelineThreads, EveryFrameUsesWholeTables) {
    std::array<std::vector<std::vector<unsigned char>>, 3> allowed;
    const auto pattern = [](int x, int y) { return testPattern(x, y, 8); };
    for (int g = 0; g < 2; ++g)
        for (int y = 0; y < 2; ++y) {
            TestPipeline reference;
            reference.setDigitalGain(kGains[g], kGains[g], kGains[g]);
            reference.setGamma(kGammas[y], 3);
            Frames f(64, 48, 8, pattern);
            f.run(reference, true);
            for (int k = 0; k < 3; ++k) allowed[k].push_back(plane(f, k));
        }

    TestPipeline camera;
    camera.setThreads(FramePipeline::kMaxThreads);  // stripes on the worker pool too
    camera.setGamma(kGammas[0], 3);
    Frames first(64, 48, 8, pattern);
    first.run(camera, true);  // takes the starting tables over
    std::atomic<bool> done{false};
    std::atomic<int> frames{0}, torn{0};
    std::thread show([&] {
        Frames f(64, 48, 8, pattern);
        while (!done.load() || frames.load() < 50) {
            f.run(camera, true);
            for (int k = 0; k < 3; ++k) {
                const auto p = plane(f, k);
                if (std::find(allowed[k].begin(), allowed[k].end(), p) == allowed[k].end()) ++torn;
            }
            ++frames;
        }
    });
    for (int i = 0; i < 3000; ++i) {
        const int k = i % 3;
        int gains[3] = {camera.digitalGain[0].value, camera.digitalGain[1].value,
                        camera.digitalGain[2].value};
        gains[k] = kGains[i / 3 % 2];
        camera.setDigitalGain(gains[0], gains[1], gains[2]);
        camera.setGamma(kGammas[i / 7 % 2], k, 3);
    }
    done = true;
    show.join();
    EXPECT_GT(frames.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}

// A setter that finds a frame copying its staged table waits for the copy.
TEST(PipelineThreads, SetterWaitsWhileAFrameCopies) {
    TestPipeline camera;
    camera.setContrast(200);
    ASSERT_TRUE(shared::claimCopy(camera.contrast.changed));  // a frame is copying
    std::atomic<bool> staged{false};
    std::thread setter([&] {
        camera.setContrast(60);
        staged = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(staged.load());
    std::array<unsigned char, 256> expected{};
    __matrix_contrast(200, expected.data(), 256);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), camera.contrast.lut2));
    shared::finishCopy(camera.contrast.changed);
    setter.join();
    EXPECT_TRUE(staged.load());
    EXPECT_EQ(camera.contrast.changed, 1);
    EXPECT_EQ(camera.contrast.staged.value, 60);
}

using PipelineLive = simsession::Session;

// The viewer's shape: frames read and finished on one thread while the
// settings change through the call surface on another.
TEST_F(PipelineLive, SettingsChangeWhileFramesAreFinished) {
    const std::string name = plug(0xc004);
    ASSERT_FALSE(name.empty());
    const char* c = name.c_str();
    SetResolution(2, c);
    std::vector<unsigned char> frame(static_cast<size_t>(RecvMemSize(c)));
    while (GetRawData(frame.data(), static_cast<int>(frame.size()), c) != 0) {
    }
    std::atomic<bool> done{false};
    std::atomic<int> finished{0};
    std::thread show([&] {
        std::vector<unsigned char> raw(frame.size()), image(frame.size() * 3 + 8192);
        while (!done.load() || finished.load() < 20) {
            if (GetRawData(raw.data(), static_cast<int>(raw.size()), c) != 0) continue;
            if (DecodeRaw2Image(raw.data(), image.data(), c) == 0) ++finished;
        }
    });
    for (int i = 0; i < 200; ++i) {
        SetGamma(60 + i % 90, c);
        SetGammaEx(40 + i % 100, i % 3, c);
        SetContrast(100 + i % 50, c);
        SetSaturation(80 + i % 60, c);
        SetChannelGain(50 + i % 30, 64, 90 - i % 20, c);
        SetStretch(i % 20, 200 + i % 50, i % 4 == 0, c);
        SetStretchEx(0, 255, i % 5 == 0, i % 3, c);
        SetMonochrome(i % 7 == 0, c);
        SetColorEnhancement(i % 11 == 0, c);
        SetHistogramState(i % 2 == 0, c);
        SetFlip(i % 4, c);
        SetRotate(i % 3, c);
        SetAutoExposure(i % 2 == 1, c);
        SetAETarget(80 + i % 60, c);
        SetFlatfieldState(i % 3 == 0, c);
        if (i % 40 == 0) {
            EXPECT_EQ(CalcFlatfield(frame.data(), false, c), 0);
            EXPECT_EQ(CalcWhiteBalance(frame.data(), nullptr, c), 0);
        }
    }
    done = true;
    show.join();
    EXPECT_GE(finished.load(), 20);
}
