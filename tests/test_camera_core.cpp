// The camera core on a scripted device: opening, control transfers, sensor
// control and the frame reader, without any bus.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "camera/cam_bayer.h"
#include "models/products.h"
#include "fake_device.h"
#include "log_recorder.h"

namespace {
const ResolutionEntry kRes[] = {
    {0xc0, 1948, 1920000, 1200, 1600, "1592x1192"},
    {0xc1, 800, 479744, 600, 800, "792x592"},
    {0xc2, 748, 119808, 300, 400, "392x292"},
};
const PixelClockEntry kClk[] = {
    {0xa0, 2, 48000, 1, "High"},
    {0xa1, 0, 24000, 1, "Normal"},
};

// A camera with a small sensor table and a gain written as it is.
class TestCamera : public CamBayer {
  public:
    TestCamera() {
        SensorControl& s = sensorControl();
        sensorControl().resolution.table = kRes;
        s.resolution.max = 3;
        sensorControl().pixelClock.table = kClk;
        s.pixelClock.max = 2;
        s.pixelClock.def = 1;
        sensorControl().analogGain.value = 30;
        s.analogGain.min = 1;
        s.analogGain.max = 80;
        s.analogGain.step = 1;
        s.analogGain.def = 20;
        sensorControl().exposure.value = 300;
        s.exposure.min = 1;
        s.exposure.max = 6000;
        s.exposure.step = 1;
        s.rawDepth.supported = 1;
        s.loadTiming();
        s.bodyLen = kRes[0].frameBytes + s.headLen + 2048;
    }
    int _set_analog_gain(int gain) override {
        return sensorControl().applyAnalogGain(gain, [](int g) { return static_cast<uint16_t>(g); });
    }
    // The device sends the frame the reader plans for, however much it asks.
    void framePlan(FramePlan& plan) override {
        CamBayer::framePlan(plan);
        if (device) device->frameBytes = static_cast<int>(plan.expected);
    }
    FakeDevice* device = nullptr;
};

struct Rig {
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    std::unique_ptr<TestCamera> camera = std::make_unique<TestCamera>();
    explicit Rig(uint16_t product = 0xa811, uint16_t release = 0xa000) {
        device->deviceInfo.product = product;
        device->deviceInfo.bcdDevice = release;
        device->frame = markedFrame;
        camera->device = device.get();
        // What the product table gives a camera it creates for this pair.
        camera->sensorControl().quirks =
            productQuirks(device->deviceInfo.vendor, device->deviceInfo.product);
        EXPECT_EQ(camera->__open_driver(device), 0);
        device->forget();
    }
};

constexpr int kFrame8 = 1600 * 1200 + 512;  // 1,920,512
}  // namespace

// ---- Construction, opening and the transport primitives -------------------

TEST(CameraObject, FreshObjectReportsBaseState) {
    TestCamera camera;
    EXPECT_STREQ(camera._name(), "kvdt");
    EXPECT_EQ(camera._state(), 0);
    EXPECT_EQ(camera._raw_depth(), 8);
    EXPECT_EQ(camera._head(), 512);
    int min = -1;
    EXPECT_EQ(camera._blacklevel_range(&min, nullptr, nullptr), -4);
    EXPECT_EQ(min, -1);
    EXPECT_EQ(camera._set_blacklevel(0), -4);
    // Without a device every request fails instead of touching null.
    EXPECT_EQ(camera._sumbit_ctl_urb(1000, 1, &camera.sensorControl().urbFrameRequest),
              static_cast<int>(usb::kNotOpen));
    EXPECT_EQ(camera._sensor_suspend(), 0);
    EXPECT_EQ(camera._state(), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(camera._gamma(i), 100);
    EXPECT_EQ(camera._contrast(), 128);
    EXPECT_EQ(camera._saturation(), -4);
}

TEST(CameraObject, OpenConfiguresInOrderAndFillsIdentity) {
    auto device = std::make_shared<FakeDevice>();
    device->deviceInfo = {0x8020, 0xc006, 0xa123, 0x0210};
    TestCamera camera;
    ASSERT_EQ(camera.__open_driver(device), 0);
    const std::vector<std::string> start(device->calls.begin(), device->calls.begin() + 4);
    EXPECT_EQ(start, (std::vector<std::string>{"open", "reset", "configure", "claim"}));
    EXPECT_EQ(camera._idvendor(), 0x8020);
    EXPECT_EQ(camera._idproduct(), 0xc006);
    EXPECT_EQ(camera._bcddevice(), 0xa123);
    EXPECT_EQ(camera._bcdusb(), 0x0210);
}

TEST(CameraObject, FailedOpenLeavesNoDeviceAndFailedClaimNoInterface) {
    auto refused = std::make_shared<FakeDevice>();
    refused->openStatus = usb::kError;
    TestCamera first;
    EXPECT_EQ(first.__open_driver(refused), -3);
    EXPECT_EQ(first.link().device(), nullptr);
    EXPECT_EQ(first._set_resolution(1, true), 0);  // stored, nothing can be sent
    EXPECT_TRUE(refused->requests.empty());

    auto unclaimed = std::make_shared<FakeDevice>();
    unclaimed->claimStatus = usb::kError;
    {
        TestCamera second;
        EXPECT_EQ(second.__open_driver(unclaimed), -3);
        EXPECT_FALSE(second.link().claimed());
        EXPECT_EQ(second._sumbit_ctl_urb(1000, 1, &second.sensorControl().urbFrameRequest),
                  static_cast<int>(usb::kNotOpen));
        EXPECT_TRUE(unclaimed->requests.empty());
    }
    EXPECT_EQ(unclaimed->count("close"), 1);  // the open device is still closed at the end
}

TEST(CameraObject, ProductA005LogsIdsInsteadOfReadingTheVersion) {
    auto device = std::make_shared<FakeDevice>();
    device->deviceInfo = {0x0547, 0xa005, 0xa000, 0x0200};
    TestCamera camera;
    camera.sensorControl().quirks = productQuirks(0x0547, 0xa005);
    LogRecorder log;
    testing::internal::CaptureStdout();
    EXPECT_EQ(camera.__open_driver(device), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log.messages, std::vector<std::string>{"2: a005 547"});
    EXPECT_EQ(camera.firmwareVersion(), 0);
    EXPECT_TRUE(device->sent(0xb6).empty());
}

// A real sensor gets the pauses the protocol asks for; a simulated one is
// not slowed down by them.
TEST(Transport, PausesOnlyWhereTheDeviceNeedsThem) {
    Rig rig;
    rig.device->pauses = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(rig.camera->_delay(30), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(Transport, ControlAttemptsStallsAndBadRecords) {
    Rig rig;
    EZURB urb{};
    urb.requestType = 0x40;
    urb.request = 0xb7;
    rig.device->controlStatuses = {usb::kTimeout};
    EXPECT_EQ(rig.camera->_sumbit_ctl_urb(1000, 1, &urb), static_cast<int>(usb::kTimeout));
    EXPECT_EQ(rig.device->requests.size(), 1u);

    rig.device->forget();
    rig.device->controlStatuses = {usb::kStall, usb::kStall, usb::kStall};
    EXPECT_EQ(rig.camera->_sumbit_ctl_urb(1000, 3, &urb), static_cast<int>(usb::kStall));
    EXPECT_EQ(rig.device->requests.size(), 3u);
    EXPECT_EQ(rig.device->count("clear0"), 3);

    rig.device->forget();
    rig.device->controlStatuses = {usb::kStall};
    EXPECT_EQ(rig.camera->_sumbit_ctl_urb(1000, 2, &urb), 0);  // cleared, then through
    EXPECT_EQ(rig.device->requests.size(), 2u);

    // A data stage without a buffer is never handed to the device.
    rig.device->forget();
    urb.length = 64;
    EXPECT_NE(rig.camera->_sumbit_ctl_urb(1000, 1, &urb), 0);
    EXPECT_NE(rig.camera->_sumbit_ctl_urb(1000, 1, nullptr), 0);
    EXPECT_TRUE(rig.device->requests.empty());
}

TEST(Transport, SuspendResumeAndDestruction) {
    Rig rig;
    rig.device->controlStatuses = {usb::kError};
    EXPECT_EQ(rig.camera->_sensor_suspend(), 0);
    EXPECT_EQ(rig.camera->_state(), 0);

    rig.device->forget();
    rig.camera->_set_analog_gain(33);
    rig.camera->_set_pixsclock(0);
    rig.device->forget();
    EXPECT_EQ(rig.camera->_sensor_resume(), 0);
    EXPECT_EQ(rig.camera->_state(), 1);
    // Start, depth, clock, gain, resolution (black level not offered).
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xba, 0xb9, 0xb5, 0xb7, 0xb4}));
    EXPECT_EQ(rig.device->sent(0xb9)[0].value, 10);
    EXPECT_EQ(rig.device->sent(0xb5)[0].value, 0xa0);
    EXPECT_EQ(rig.device->sent(0xb7)[0].value, 33);
    EXPECT_EQ(rig.device->sent(0xb4)[0].value, 0xc0);

    rig.device->forget();
    rig.camera.reset();
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xbb}));
    EXPECT_EQ(rig.device->calls.back(), "close");
}

TEST(Transport, TriggerQueryOnlyOnItsHardware) {
    Rig plain(0xa811, 0xa000);
    EXPECT_EQ(plain.camera->_extern_snap(), 0);
    EXPECT_TRUE(plain.device->requests.empty());

    Rig trigger(0xa811, 0xb002);
    trigger.device->reply = {0, 0, 0xcc};
    EXPECT_EQ(trigger.camera->_extern_snap(), 1);
    ASSERT_EQ(trigger.device->requests.size(), 1u);
    const FakeDevice::Request r = trigger.device->requests[0];
    EXPECT_EQ(r.requestType, 0xc0);
    EXPECT_EQ(r.request, 0xb6);
    EXPECT_EQ(r.index, 1);
    EXPECT_EQ(r.length, 64);
    trigger.device->reply = {0, 0, 0xcb};
    EXPECT_EQ(trigger.camera->_extern_snap(), 0);
}

TEST(Transport, BulkReadTimeoutGrowsWithTheExposure) {
    Rig rig;
    std::vector<unsigned char> buffer(4096);
    int received = -1;
    rig.camera->_set_exposure(10.0f);
    rig.camera->_read_bulk_data(buffer.data(), 4096, &received);
    rig.camera->_set_exposure(5000.0f);
    rig.camera->_read_bulk_data(buffer.data(), 4096, &received);
    ASSERT_EQ(rig.device->bulkTimeouts.size(), 2u);
    EXPECT_GE(rig.device->bulkTimeouts[0], 1000u);
    EXPECT_GT(rig.device->bulkTimeouts[1], rig.device->bulkTimeouts[0]);
    EXPECT_GE(rig.device->bulkTimeouts[1], static_cast<unsigned>(rig.camera->_exposure()));
    // A device that claims more than was asked for is held to the length,
    // and the transfer counts as failed.
    rig.device->frame = [](unsigned char*, int length) { return length + 100; };
    EXPECT_EQ(rig.camera->_read_bulk_data(buffer.data(), 4096, &received), -3);
    EXPECT_EQ(received, 4096);
}

// ---- Sensor control -------------------------------------------------------------

TEST(SensorControl, TableIndexesAreChecked) {
    Rig rig;
    for (int i = 0; i < rig.camera->_resolution_count(); ++i) {
        EXPECT_EQ(rig.camera->_resolution_width_at_index(i), kRes[i].width - 8);
        EXPECT_EQ(rig.camera->_resolution_height_at_index(i), kRes[i].height - 8);
    }
    for (int bad : {-1, 3, 1000000, INT32_MIN}) {
        EXPECT_EQ(rig.camera->_resolution_width_at_index(bad), -2);
        EXPECT_EQ(rig.camera->_resolution_height_at_index(bad), -2);
        EXPECT_EQ(rig.camera->_resolution_string_at_index(bad), nullptr);
        EXPECT_EQ(rig.camera->_pixsclock_string_at_index(bad), nullptr);
        EXPECT_EQ(rig.camera->_raw_depth_state(bad), -2);
        EXPECT_EQ(rig.camera->_set_pixsclock(bad), -2);
    }
    rig.camera->_set_resolution(1, true);
    rig.device->forget();
    EXPECT_EQ(rig.camera->_set_resolution(3, true), -2);
    EXPECT_EQ(rig.camera->_set_resolution(-1, false), -2);
    EXPECT_EQ(rig.camera->_resolution(), 1);
    EXPECT_EQ(rig.camera->sensorControl().resolutionPending, 0);
    EXPECT_TRUE(rig.device->requests.empty());
}

TEST(SensorControl, SixteenBitPermission) {
    Rig rig;
    EXPECT_EQ(rig.camera->_set_raw_depth(12), -2);
    EXPECT_EQ(rig.camera->_raw_depth_state(0), 4);  // clock 0 needs resolution index 2 or above
    EXPECT_EQ(rig.camera->_raw_depth_state(1), 0);
    ASSERT_EQ(rig.camera->_set_pixsclock(1), 0);
    rig.camera->_set_resolution(1, true);
    ASSERT_EQ(rig.camera->_set_raw_depth(16), 0);
    EXPECT_EQ(rig.device->sent(0xb9).back().value, 5);
    // Depth 16 at resolution 1: the clock that needs index 2 is refused.
    EXPECT_EQ(rig.camera->_set_pixsclock(0), 4);
    EXPECT_EQ(rig.camera->_pixsclock(), 1);
    // Now at clock 1 (16 bits from index 0); move to index 2, then to clock 0:
    // allowed there, but resolution 0 and 1 are then refused rather than
    // leaving the camera in a mode it cannot deliver at 16 bits.
    ASSERT_EQ(rig.camera->_set_resolution(2, true), 0);
    ASSERT_EQ(rig.camera->_set_pixsclock(0), 0);
    EXPECT_EQ(rig.camera->_set_resolution(0, true), 4);
    EXPECT_EQ(rig.camera->_set_resolution(1, false), 4);
    EXPECT_EQ(rig.camera->_resolution(), 2);
    EXPECT_EQ(rig.camera->_set_raw_depth(8), 0);
    EXPECT_EQ(rig.camera->_set_resolution(0, true), 0);
    EXPECT_EQ(rig.camera->_set_raw_depth(16), 4);
    EXPECT_EQ(rig.camera->_raw_depth(), 8);

    TestCamera eightBitOnly;
    eightBitOnly.sensorControl().rawDepth.supported = 0;
    EXPECT_EQ(eightBitOnly._set_raw_depth(8), -4);
}

TEST(SensorControl, RetimeKeepsTheExposureAcrossClocksAndResolutions) {
    Rig rig(0xc004);  // its base re-timing writes the exposure register at once
    rig.camera->_set_pixsclock(0);
    rig.camera->_set_exposure(20.0f);
    const int lines = rig.camera->sensorControl().exposure.value;
    EXPECT_EQ(lines, static_cast<int>(48000 * 20.0f / 1948));
    const float before = rig.camera->_exposure();
    rig.device->forget();
    rig.camera->_set_pixsclock(1);
    EXPECT_EQ(rig.camera->sensorControl().exposure.value, static_cast<int>(lines / 2.0 + 0.5));
    EXPECT_NEAR(rig.camera->_exposure(), before, 1948.0 / 24000);
    // Exposure write, then the clock request carrying the line count.
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb7, 0xb5}));
    EXPECT_EQ(rig.device->sent(0xb5)[0].index, rig.camera->sensorControl().exposure.value);

    rig.device->forget();
    rig.camera->_set_resolution(2, false);
    EXPECT_NEAR(rig.camera->_exposure(), before, 2 * 748.0 / 24000);
    EXPECT_EQ(rig.camera->sensorControl().lineLength, 748);
    EXPECT_EQ(rig.camera->sensorControl().resolution.urb.index, rig.camera->sensorControl().exposure.value);

    // Other products only build the write: the line count travels with the
    // next resolution or clock request.
    Rig quiet(0xa811);
    quiet.camera->_set_pixsclock(1);
    EXPECT_EQ(quiet.device->codes(), (std::vector<uint8_t>{0xb5}));
}

TEST(SensorControl, ExposureSplitsIntoPeriodsAndClamps) {
    Rig rig;
    TestCamera& c = *rig.camera;
    c.sensorControl().exposure.max = 1000;
    c.sensorControl().longExposure.max = 9;
    c.sensorControl().longExposure.supported = 1;
    const float line = 1948.0f / 48000.0f;  // clock 0 is in force
    c._set_exposure(2500.5f * line);
    EXPECT_EQ(c.sensorControl().exposure.value, 500);
    EXPECT_EQ(c.sensorControl().longExposure.value, 2);
    auto writes = rig.device->sent(0xb7);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].index, c.sensorControl().regExposure);
    EXPECT_EQ(writes[0].value, 500);
    EXPECT_EQ(writes[1].index, c.sensorControl().regLongExposure);
    EXPECT_EQ(writes[1].value, 2);

    rig.device->forget();
    c._set_exposure(2500.5f * line);  // unchanged: nothing sent
    EXPECT_TRUE(rig.device->requests.empty());

    c._set_exposure(20000.5f * line);
    EXPECT_EQ(c.sensorControl().exposure.value, 999);
    EXPECT_EQ(c.sensorControl().longExposure.value, 9);
    float min = 0, max = 0, step = 0;
    c._exposure_range(&min, &max, &step);
    EXPECT_FLOAT_EQ(max, 9999 * line);
    EXPECT_FLOAT_EQ(min, line);

    // Nonsense times end at the limits instead of in undefined conversions.
    c._set_exposure(-5.0f);
    EXPECT_EQ(c.sensorControl().exposure.value, 1);
    EXPECT_EQ(c.sensorControl().longExposure.value, 0);
    c._set_exposure(NAN);
    EXPECT_EQ(c.sensorControl().exposure.value, 1);
    c._set_exposure(INFINITY);
    EXPECT_EQ(c.sensorControl().exposure.value + c.sensorControl().longExposure.value * 1000, 9999);

    // Without long exposure the line count stops at the maximum.
    c.sensorControl().longExposure.supported = 0;
    c._set_exposure(1e9f);
    EXPECT_EQ(c.sensorControl().exposure.value, 1000);
}

TEST(SensorControl, LongExposureRestart) {
    Rig rig(0xe006);
    TestCamera& c = *rig.camera;
    EXPECT_EQ(c._restart_state(), -4);
    EXPECT_EQ(c._restart_exposure(), -4);
    c.sensorControl().exposure.max = 1000;
    c.sensorControl().longExposure.max = 200;
    c.sensorControl().longExposure.supported = 1;
    c._set_exposure(70000.5f * 1948.0f / 48000.0f);
    rig.device->forget();
    EXPECT_EQ(c._restart_state(), 0);
    EXPECT_EQ(c._restart_exposure(), 0);
    ASSERT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xbb, 0xb4}));
    const auto start = rig.device->sent(0xb4)[0];
    EXPECT_EQ(start.index, 70000 & 0xffff);
    EXPECT_EQ(start.value, (1 << 8) | 0xc0);

    Rig refused(0xa009);
    refused.camera->sensorControl().longExposure.supported = 1;
    EXPECT_EQ(refused.camera->_restart_state(), -4);
    EXPECT_EQ(refused.camera->_restart_exposure(), -4);
    EXPECT_TRUE(refused.device->requests.empty());
}

TEST(SensorControl, GainAndBlackLevelLimits) {
    Rig rig;
    TestCamera& c = *rig.camera;
    EXPECT_EQ(c._set_analog_gain(500), 0);
    EXPECT_EQ(c._analog_gain(), 80);
    EXPECT_EQ(c._set_analog_gain(-3), 0);
    EXPECT_EQ(c._analog_gain(), 1);
    auto writes = rig.device->sent(0xb7);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].value, 80);
    EXPECT_EQ(writes[1].index, c.sensorControl().regAnalogGain);

    c.sensorControl().blackLevel.supported = 1;
    c.sensorControl().blackLevel.max = 100;
    EXPECT_EQ(c._set_blacklevel(101), -2);
    EXPECT_EQ(c._set_blacklevel(-1), -2);
    EXPECT_EQ(c._set_blacklevel(40), 0);
    EXPECT_EQ(c._blacklevel(), 40);
    EXPECT_EQ(rig.device->sent(0xb7).back().index, c.sensorControl().regBlackLevel);

    rig.device->forget();
    c._set_resolution(1, true);
    rig.device->forget();
    c._default();  // gain 20, clock 1, black level 0
    EXPECT_EQ(c._analog_gain(), 20);
    EXPECT_EQ(c._blacklevel(), 0);
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb7, 0xb5, 0xb7}));
}

TEST(SensorControl, RegionIsClampedToTheFrame) {
    Rig rig;
    TestCamera& c = *rig.camera;
    int x = -1, y = -1, w = -1, h = -1;
    c._set_roi(-5, -5, 100000, 100000);
    EXPECT_EQ(c.sensorControl().urbRoiSize.value, 1600);
    EXPECT_EQ(c.sensorControl().urbRoiSize.index, 1200);
    c._roi(&x, &y, &w, &h);
    EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({0, 0, 1592, 1192}));

    c._set_roi(3, 3, 101, 101);
    c._roi(&x, &y, &w, &h);
    EXPECT_EQ(std::vector<int>({x, y, w + 8, h + 8}), std::vector<int>({0, 2, 108, 108}));

    // An origin beyond the frame keeps at least 8 pixels and stays inside.
    for (auto [ox, oy] :
         {std::pair{5000, 5000}, std::pair{1590, 1190}, std::pair{INT32_MAX, INT32_MAX}}) {
        c._set_roi(ox, oy, 50, 50);
        c._roi(&x, &y, &w, &h);
        EXPECT_GE(w, 8);
        EXPECT_GE(h, 8);
        EXPECT_LE(x + w + 8, 1600);
        EXPECT_LE(y + h + 8, 1200);
    }
    c._set_roi(100, 100, INT32_MAX, INT32_MAX);
    c._roi(&x, &y, &w, &h);
    EXPECT_LE(x + w + 8, 1600);

    c._set_roi(0, 0, 400, 300);
    bool on = false;
    c._roi_state(&on);
    EXPECT_TRUE(on);
    int rw = 0, rh = 0;
    c._raw_size(&rw, &rh);
    EXPECT_EQ(std::pair(rw, rh), std::pair(408, 308));
    c._set_rotate(1);
    c._raw_size(&rw, &rh);
    EXPECT_EQ(std::pair(rw, rh), std::pair(308, 408));
    c._set_rotate(0);
    // Any resolution change ends the region.
    c._set_resolution(0, false);
    c._roi_state(&on);
    EXPECT_FALSE(on);
    c._raw_size(&rw, &rh);
    EXPECT_EQ(std::pair(rw, rh), std::pair(1600, 1200));
}

TEST(SensorControl, RegionStoredAtAnotherResolutionIsRefitted) {
    Rig rig;
    TestCamera& c = *rig.camera;
    c._set_roi(1200, 900, 300, 200);
    c._set_resolution(2, false);  // 400 x 300: the stored region lies outside
    c._set_roi_state(true);
    int x, y, w, h;
    c._roi(&x, &y, &w, &h);
    EXPECT_LE(x + w + 8, 400);
    EXPECT_LE(y + h + 8, 300);
    EXPECT_GE(w, 8);

    TestCamera fresh;  // never given a region: switching on takes the whole frame
    fresh._set_roi_state(true);
    fresh._roi(&x, &y, &w, &h);
    EXPECT_EQ(std::vector<int>({x, y, w, h}), std::vector<int>({0, 0, 1592, 1192}));
}

TEST(SensorControl, CarriedRetimeForLongExposureFamilies) {
    Rig rig;
    TestCamera& c = *rig.camera;
    c.sensorControl().exposure.max = 1068;
    c.sensorControl().longExposure.max = 4000;
    c.sensorControl().longExposure.supported = 1;
    c._set_pixsclock(0);
    c.sensorControl().exposure.value = 500;
    c.sensorControl().longExposure.value = 0;
    const ExposureLimits limits[] = {{0xc0, 1068, -1}, {0xc1, 546, -1}};
    c.sensorControl().pixelClock.value = 1;  // 48000 -> 24000 at the same resolution
    rig.device->forget();
    EXPECT_EQ(c.sensorControl().retimeCarried(limits, 2, true), 250u);
    EXPECT_EQ(c.sensorControl().exposure.value, 250);
    EXPECT_EQ(c.sensorControl().pixelRate, 24000);
    EXPECT_TRUE(rig.device->requests.empty());  // built, not sent

    // A long exposure: the total crosses 16 bits and rides in both requests.
    c.sensorControl().exposure.value = 100;
    c.sensorControl().longExposure.value = 200;  // 200 * 1068 + 100 = 213700 lines
    c.sensorControl().pixelClock.value = 0;      // back to 48000: doubled
    const uint32_t total = c.sensorControl().retimeCarried(limits, 2, true);
    EXPECT_EQ(total, 427400u);
    EXPECT_EQ(c.sensorControl().longExposure.value, 427400 / 1068);
    EXPECT_EQ(c.sensorControl().resolution.urb.index, 427400 & 0xffff);
    EXPECT_EQ(c.sensorControl().resolution.urb.value >> 8, (427400 >> 16) & 0xff);
    EXPECT_EQ(c.sensorControl().pixelClock.urb.index, 427400 & 0xffff);

    // The mode's maximum applies and limits the total.
    c.sensorControl().resolution.value = 1;  // mode 0xc1: 546 lines per period
    c.sensorControl().longExposure.value = 4000;
    EXPECT_EQ(c.sensorControl().retimeCarried(limits, 2, true), 4001u * 546 - 1);
    EXPECT_EQ(c.sensorControl().exposure.max, 546);
}

// ---- Frame reader -------------------------------------------------------------------

TEST(FrameReader, BufferSizeIsCheckedBeforeAnyTransfer) {
    Rig rig;
    std::vector<unsigned char> buffer(2 * kFrame8);
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8 - 1), -2);
    EXPECT_EQ(rig.device->count("bulk1"), 0);
    EXPECT_EQ(rig.camera->_raw_data(nullptr, kFrame8), -2);
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(rig.device->count("bulk1"), 1);

    ASSERT_EQ(rig.camera->_set_pixsclock(1), 0);
    ASSERT_EQ(rig.camera->_set_raw_depth(16), 0);
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), 2 * 1600 * 1200 + 511), -2);
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), 2 * 1600 * 1200 + 512), 0);

    // At 800 x 600 the transfer, lowered to whole packets (480,256 bytes),
    // is shorter than header and samples (480,512): the buffer must still
    // hold every sample the record describes.
    rig.camera->_set_raw_depth(8);
    rig.camera->_set_resolution(1, true);
    rig.device->forget();
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), 800 * 600 + 511), -2);
    EXPECT_EQ(rig.device->count("bulk1"), 0);
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), 800 * 600 + 512), 0);
}

TEST(FrameReader, WritesTheRecordAndSwapsSixteenBitSamples) {
    Rig rig;
    std::vector<unsigned char> buffer(2 * kFrame8 + 4096);
    rig.camera->_set_pixsclock(1);
    rig.camera->_set_raw_depth(16);
    rig.camera->_set_resolution(2, true);
    rig.device->frame = [](unsigned char* b, int length) {
        markedFrame(b, length);
        b[512] = 0x12;  // first sample, most significant byte first
        b[513] = 0x34;
        return length;
    };
    rig.device->forget();
    ASSERT_EQ(rig.camera->_raw_data(buffer.data(), static_cast<int>(buffer.size())), 0);
    const auto* image = reinterpret_cast<const _ezImage*>(buffer.data());
    EXPECT_EQ(0, std::memcmp(image->signature, "KVEZ", 4));
    EXPECT_EQ(image->width, 400);
    EXPECT_EQ(image->height, 300);
    EXPECT_EQ(image->depth, 16);
    EXPECT_EQ(image->channels, 1);
    EXPECT_EQ(image->header_size, 512);
    EXPECT_EQ(image->resolution, 2);
    EXPECT_EQ(image->data, buffer.data() + 512);
    EXPECT_EQ(buffer[512], 0x34);
    EXPECT_EQ(buffer[513], 0x12);
    // Read, then acknowledge.
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb3}));
}

TEST(FrameReader, FramingFaultsGiveNoFrame) {
    Rig rig;
    std::vector<unsigned char> buffer(kFrame8);
    rig.device->frame = [](unsigned char* b, int length) {
        markedFrame(b, length);
        b[4] = 0x87;
        return length;
    };
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), -3);
    // The acknowledge goes out whatever the frame looked like.
    EXPECT_EQ(rig.device->sent(0xb3).size(), 1u);

    rig.device->frame = [](unsigned char* b, int length) {
        markedFrame(b, length);
        std::memset(b + 2 * 512, 0x88, 10);  // the third packet starts a new frame
        return length;
    };
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), -3);

    // A marked transfer cut short is no frame either.
    rig.device->frame = [](unsigned char* b, int length) {
        markedFrame(b, length);
        return 3 * 512;
    };
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), -3);

    // Nothing received: no frame, even if the buffer still holds a marker.
    rig.device->frame = [](unsigned char*, int) { return 0; };
    std::memset(buffer.data(), 0x88, 10);
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), -3);

    // Unmarked hardware skips the header check only.
    Rig unmarked(0xa811, 0xa001);
    unmarked.device->frame = [](unsigned char* b, int length) {
        std::memset(b, 0, static_cast<size_t>(length));
        return length;
    };
    EXPECT_EQ(unmarked.camera->_raw_data(buffer.data(), kFrame8), 0);
}

TEST(FrameReader, PendingResolutionGoesOutBeforeTheRead) {
    Rig rig;
    std::vector<unsigned char> buffer(kFrame8);
    rig.camera->_set_resolution(1, false);
    EXPECT_EQ(rig.camera->_resolution(), 1);
    EXPECT_TRUE(rig.device->requests.empty());
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), 800 * 600 + 511), -2);  // stays pending
    EXPECT_TRUE(rig.device->requests.empty());
    ASSERT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb4, 0xb3}));
    EXPECT_EQ(rig.device->calls[1], "bulk1");
    EXPECT_EQ(rig.device->sent(0xb4)[0].value, 0xc1);
    rig.device->forget();
    rig.camera->_raw_data(buffer.data(), kFrame8);
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb3}));
}

// A frame carries the resolution it was read at, even when another one is
// chosen while it is in flight: a still armed then for a mode of the same
// size waits for a frame of that mode.
TEST(FrameReader, AFrameKeepsTheResolutionItWasReadAt) {
    static const ResolutionEntry kTwins[] = {
        {0xc0, 1948, 1920000, 1200, 1600, "1592x1192"},
        {0xc3, 2100, 1920000, 1200, 1600, "1592x1192 Bin"},
    };
    Rig rig;
    TestCamera& camera = *rig.camera;
    camera.sensorControl().resolution.table = kTwins;
    camera.sensorControl().resolution.max = 2;
    camera.sensorControl().channels = 1;
    camera._set_snap_format(0);
    std::vector<unsigned char> raw(kFrame8), image(kFrame8 + kStatisticsBytes);
    const auto* record = reinterpret_cast<const _ezImage*>(raw.data());
    rig.device->frame = [&](unsigned char* b, int length) {
        EXPECT_EQ(camera._saveimage("unused", 1), 0);  // asked for during the read
        return markedFrame(b, length);
    };
    ASSERT_EQ(camera._raw_data(raw.data(), kFrame8), 0);
    EXPECT_EQ(record->resolution, 0);
    ASSERT_EQ(camera._raw2image(raw.data(), image.data(), true), 0);
    EXPECT_EQ(camera.stills().armed(), 1);

    rig.device->frame = markedFrame;
    ASSERT_EQ(camera._raw_data(raw.data(), kFrame8), 0);
    EXPECT_EQ(record->resolution, 1);
    ASSERT_EQ(camera._raw2image(raw.data(), image.data(), true), 0);
    EXPECT_EQ(camera.stills().armed(), 0);
    EXPECT_EQ(camera._resolution(), 0);  // on its way back
}

TEST(FrameReader, RegionProgrammedAtFirstResolutionCroppedElsewhere) {
    Rig rig;
    std::vector<unsigned char> buffer(kFrame8);
    const auto* image = reinterpret_cast<const _ezImage*>(buffer.data());
    rig.camera->_set_roi(100, 50, 200, 100);
    EXPECT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), -3);
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb3, 0xbd, 0xbe}));
    EXPECT_EQ(rig.device->sent(0xbd)[0].value, 100);
    EXPECT_EQ(rig.device->sent(0xbd)[0].index, 50);
    EXPECT_EQ(rig.device->sent(0xbe)[0].value, 208);
    EXPECT_EQ(rig.device->sent(0xbe)[0].index, 108);
    rig.device->forget();
    ASSERT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(image->width, 208);
    EXPECT_EQ(image->height, 108);
    EXPECT_TRUE(rig.device->sent(0xbd).empty());
    // Switching off at the programmed resolution restores the full frame
    // before the next read.
    rig.camera->_set_roi_state(false);
    rig.device->forget();
    ASSERT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb4, 0xb3}));
    EXPECT_EQ(image->width, 1600);

    // At another resolution the frame is cut in memory.
    rig.camera->_set_resolution(1, true);
    rig.camera->_set_roi(8, 4, 92, 42);
    rig.device->frame = [](unsigned char* b, int length) {
        markedFrame(b, length);
        for (int row = 0; row < 600; ++row)
            b[512 + row * 800 + 8] = static_cast<unsigned char>(row);
        return length;
    };
    rig.device->forget();
    ASSERT_EQ(rig.camera->_raw_data(buffer.data(), kFrame8), 0);
    EXPECT_TRUE(rig.device->sent(0xbd).empty());
    EXPECT_EQ(image->width, 100);
    EXPECT_EQ(image->height, 50);
    for (int row = 0; row < 50; ++row) EXPECT_EQ(image->data[row * 100], row + 4);
}

// Setters run while the reader waits in the transfer: the frame in hand is of
// the mode asked for before it, and a region meant for a new mode waits until
// that mode's request has gone out.
TEST(FrameReader, ChangesDuringTheTransferApplyFromTheNextFrame) {
    Rig rig;
    TestCamera& c = *rig.camera;
    std::vector<unsigned char> buffer(kFrame8);
    const auto* image = reinterpret_cast<const _ezImage*>(buffer.data());
    c._set_resolution(1, true);
    bool changed = false;
    auto changeOnce = [&](auto change) {
        changed = false;
        rig.device->frame = [&, change](unsigned char* b, int length) {
            markedFrame(b, length);
            if (!changed) change();
            changed = true;
            return length;
        };
    };

    // A new mode sent at once during the transfer: the record keeps the old index.
    changeOnce([&] { c._set_resolution(2, true); });
    ASSERT_EQ(c._raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(image->resolution, 1);
    EXPECT_EQ(image->width, 800);
    ASSERT_EQ(c._raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(image->resolution, 2);
    EXPECT_EQ(image->width, 400);

    // Full frame and a region asked for during the transfer: the full-frame
    // request goes out before the region's, and the old frame is delivered.
    changeOnce([&] {
        c._set_resolution(0, false);
        c._set_roi(100, 50, 200, 100);
    });
    rig.device->forget();
    EXPECT_EQ(c._raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(image->resolution, 2);
    EXPECT_EQ(image->width, 400);
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb3}));
    EXPECT_EQ(c._raw_data(buffer.data(), kFrame8), -3);
    EXPECT_EQ(rig.device->codes(), (std::vector<uint8_t>{0xb3, 0xb4, 0xb3, 0xbd, 0xbe}));
    EXPECT_EQ(rig.device->sent(0xb4)[0].value, 0xc0);
    ASSERT_EQ(c._raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(image->width, 208);
    EXPECT_EQ(image->height, 108);

    // A region asked for at a cut-out mode during the transfer is cut from
    // this frame already: the mode did not change.
    c._set_resolution(1, true);
    changeOnce([&] { c._set_roi(8, 4, 92, 42); });
    ASSERT_EQ(c._raw_data(buffer.data(), kFrame8), 0);
    EXPECT_EQ(image->width, 100);
    EXPECT_EQ(image->height, 50);
}

TEST(FrameReader, AsynchronousRequestIsStored) {
    TestCamera camera;
    unsigned char byte = 0;
    EXPECT_EQ(camera._raw_data_asyn(nullptr, &byte, camera._body() - 1), -2);
    EXPECT_EQ(camera._raw_data_asyn(nullptr, &byte, camera._body()), 0);
}
