// Cameras used from a grab thread while the registry thread unplugs them,
// shuts down or changes their settings.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "camera/cam_bayer.h"
#include "device/registry.h"
#include "sim_session.h"

using simsession::Session;

namespace {
// A grab thread: reads frames until the camera is no longer found.
struct Grabber {
    explicit Grabber(std::string cameraName) : name(std::move(cameraName)) {
        buffer.resize(static_cast<size_t>(RecvMemSize(name.c_str())));
        thread = std::thread([this] {
            while (!stop.load()) {
                const int result =
                    GetRawData(buffer.data(), static_cast<int>(buffer.size()), name.c_str());
                if (result == -1) break;
                if (result == 0) {
                    std::memcpy(&last, buffer.data(), sizeof last);
                    frames.fetch_add(1);
                }
                ++results[result];
            }
        });
    }
    // False when the frames stop coming for ten seconds.
    bool waitForFrames(int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (frames.load() < count)
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            else
                std::this_thread::yield();
        return true;
    }
    void join() { thread.join(); }
    // A failed assertion leaves the thread running: stop it.
    ~Grabber() {
        stop.store(true);
        if (thread.joinable()) thread.join();
    }

    std::string name;
    std::vector<unsigned char> buffer;
    _ezImage last{};  // the record of the last frame (a lost one leaves none)
    std::atomic<int> frames{0};
    std::atomic<bool> stop{false};
    std::map<int, int> results;  // read by the test after join
    std::thread thread;
};
}  // namespace

using GrabThread = Session;

TEST_F(GrabThread, UnplugWhileReadingFreesTheCameraAfterItsLastCall) {
    const std::string name = plug(0xc004);
    ASSERT_FALSE(name.empty());
    const int id = lastId;
    ASSERT_EQ(ResumeDevice(name.c_str()), 0);
    std::weak_ptr<CamBayer> watch = ezcam::findCamera(name.c_str());
    ASSERT_FALSE(watch.expired());

    Grabber grabber(name);
    ASSERT_TRUE(grabber.waitForFrames(3));
    EXPECT_EQ(unplug(id), name);
    EXPECT_EQ(events.back().event, EZ_DEVICE_REMOVED);
    grabber.join();  // the read in flight returned; the next one found nothing

    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(DeviceCount(), 0);
    EXPECT_EQ(
        GetRawData(grabber.buffer.data(), static_cast<int>(grabber.buffer.size()), name.c_str()),
        -1);
    EXPECT_EQ(GetExposure(name.c_str()), -1.0f);
    for (const auto& [result, count] : grabber.results)
        EXPECT_TRUE(result == 0 || result == -3) << result;
}

TEST_F(GrabThread, ShutdownWhileReading) {
    const std::string name = plug(0xc006);
    ASSERT_EQ(ResumeDevice(name.c_str()), 0);
    std::weak_ptr<CamBayer> watch = ezcam::findCamera(name.c_str());
    Grabber grabber(name);
    ASSERT_TRUE(grabber.waitForFrames(2));
    ExitDevice();
    grabber.join();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(DeviceCount(), 0);
    InitDevice(&Session::hotPlug, this, "");
}

TEST_F(GrabThread, SettingsChangeBetweenFrames) {
    const std::string name = plug(0xc006);
    const char* c = name.c_str();
    const int id = lastId;
    ASSERT_EQ(ResumeDevice(c), 0);
    Grabber grabber(name);
    for (int round = 0; round < 40; ++round) {
        ASSERT_TRUE(grabber.waitForFrames(round / 2));
        SetExposure(5.0f + round, c);
        SetPixelclock(round % 3, c);
        SetResolution(round % 5, c);
        if (round % 4 == 0) SetRoi(round, round, 200, 100, c);
        if (round % 7 == 0) SetRoiState(false, c);
        SetAnaloggain(30 + round, c);
    }
    const int before = grabber.frames.load();
    SetRoiState(false, c);
    SetResolution(2, c);
    ASSERT_TRUE(grabber.waitForFrames(before + 3));
    EXPECT_EQ(unplug(id), name);
    grabber.join();
    // The last frames came at the last resolution.
    EXPECT_EQ(grabber.last.width, 640);
    EXPECT_EQ(grabber.last.height, 480);
    EXPECT_GT(grabber.results[0], 20);
}
