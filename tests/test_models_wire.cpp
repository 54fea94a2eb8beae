// The model classes on a scripted device: the gain register value of every
// mapping, what they choose and send when the device is claimed, and the
// switches and temperature of the cooled cameras, failures included.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_device.h"
#include "log_recorder.h"
#include "models/catalogue.h"
#include "models/models.h"

namespace {
struct Opened {
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    std::unique_ptr<CamBayer> camera;
    std::string out;  // what opening wrote to standard output
    LogRecorder log;  // and what it logged

    Opened(uint16_t product, uint16_t release, uint16_t vendor = 0x0547) {
        device->deviceInfo = {vendor, product, release, 0x0200};
        device->reply = {0, 0};  // a temperature of 0 for the reads at claim
        camera = _create_device(product, vendor);
        if (!camera) return;
        testing::internal::CaptureStdout();
        EXPECT_EQ(camera->__open_driver(device), 0);
        out = testing::internal::GetCapturedStdout();
    }
    // The 0xb8 switch requests and the temperature reads, in order, as
    // "value/index" and "T".
    std::vector<std::string> switches() const {
        std::vector<std::string> out;
        std::lock_guard lock(device->mutex);
        for (const FakeDevice::Request& r : device->requests) {
            if (r.request == 0xb8)
                out.push_back(std::to_string(r.value) + "/" + std::to_string(r.index));
            else if (r.request == 0xb6 && r.requestType == 0xc0 && r.index == 1 && r.length == 64)
                out.push_back("T");
        }
        return out;
    }
};

using Strings = std::vector<std::string>;
}  // namespace

TEST(GainRegister, ValuesSentByEachMapping) {
    struct Case {
        uint16_t product, release;
        int gain;
        uint16_t value, reg;
        int stored;
    };
    // product, release, gain asked, register value, register, gain stored
    // clang-format off
    const Case cases[] = {
        // VAo1KC1: stage by gain / 64, position by gain mod 64; clamped to 1..310
        // (the catalogue's examples 300 and 310 go through the simulator).
        {0xc003, 0xa000, 999, 0x1dc0 + 54, 0x305e, 310}, {0xc003, 0xa000, 0, 0x1040 + 1, 0x305e, 1},
        {0xc003, 0xa000, 255, 0x1cc0 + 63, 0x305e, 255},
        // VAo300C1 and the class built as it (159 -> 30304: through the simulator).
        {0xf007, 0xa000, 41, 96, 0x35, 41}, {0xc007, 0xa000, 25, 32, 0x35, 25}, {0xc007, 0xa000, 42, 352, 0x35, 42},
        // VAo200C1 and VAh200C1.
        {0xc811, 0xa000, 32, 63, 0x2f, 32}, {0xa811, 0xa000, 33, 160, 0x2f, 33}, {0xa811, 0xa000, -5, 32, 0x2f, 1},
        // VAo131C1, VAg131C1 and VAh131C1 on its older sensor.
        {0xc008, 0xa000, 30, 61, 0x2f, 30}, {0xc008, 0xa000, 63, 127, 0x2f, 63},
        {0xf008, 0xa000, 64, 193, 0x2f, 64}, {0xa008, 0xa000, 80, 209, 0x2f, 80},
        // VAh131C1 on the newer sensor maps like the 5-megapixel models.
        {0xa008, 0xa001, 64, 319, 0x35, 64}, {0xa008, 0xb003, 1, 7, 0x35, 7},
        {0xc006, 0xa000, 63, 63, 0x35, 63}, {0xc004, 0xa000, 100, 9535, 0x35, 100},
        {0xac11, 0xa000, 200, 28479, 0x35, 174},
        // Monochrome 1.3 megapixels.
        {0xc00b, 0xa000, 5, 10, 0x35, 10}, {0xf00b, 0xa000, 63, 63, 0x35, 63}, {0xa00b, 0xa000, 64, 96, 0x35, 64},
        // S, D and Si: the gain itself, within the class's limits.
        {0xd006, 0xa000, 50, 83, 1, 83}, {0xe00c, 0xa001, 1000, 1000, 1, 1000}, {0xc00c, 0xa000, 80, 80, 0xa0, 80},
        {0x6401, 0xa000, 5, 1, 0x41, 1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.product << "@" << c.release << std::dec
                                        << " gain " << c.gain);
        Opened o(c.product, c.release, c.product == 0x6401 ? 0x4b56 : 0x0547);
        ASSERT_NE(o.camera, nullptr);
        o.device->forget();
        EXPECT_EQ(o.camera->_set_analog_gain(c.gain), 0);
        const std::vector<FakeDevice::Request> sent = o.device->sent(0xb7);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].requestType, 0x40);
        EXPECT_EQ(sent[0].value, c.value);
        EXPECT_EQ(sent[0].index, c.reg);
        EXPECT_EQ(o.camera->_analog_gain(), c.stored);
    }
}

TEST(Claim, CooledModelsSendTheirClaimRequestsInOrder) {
    // VDh687M1: only the new-hardware request, and edge inhibition stays on.
    Opened r687(0xe00b, 0xa001);
    EXPECT_EQ(r687.switches(), (Strings{"1/2"}));
    EXPECT_STREQ(r687.camera->_pixsclock_string_at_index(0), "Higher");
    bool on = false;
    r687.camera->_edge_inhibition(&on);
    EXPECT_TRUE(on);
    Opened r687old(0xe00b, 0xa004);
    EXPECT_TRUE(r687old.switches().empty());

    // VDh694C1: colour at claim, no switches.
    Opened c694(0xe80c, 0xa001);
    EXPECT_TRUE(c694.switches().empty());
    EXPECT_EQ((std::vector<int>{c694.camera->_channles(), c694.camera->_bayer(),
                                c694.camera->_resolution_count(), c694.camera->_pixsclock_count()}),
              (std::vector<int>{3, 4, 5, 2}));
    EXPECT_EQ(c694.camera->modelName(), "R-694C.");
    Opened c694old(0xe80c, 0xa004);
    EXPECT_STREQ(c694old.camera->_resolution_string_at_index(0), "1352X1016");
}

TEST(Claim, ReleaseNamedModelsAndTheirCounters) {
    const int newer = cntVE131_;
    const int older = cntVE131;
    Opened a(0xa008, 0xa001);
    EXPECT_EQ(a.camera->name(), std::string("QCH131.") + char('0' + newer));
    EXPECT_STREQ(a.camera->_resolution_string_at_index(0), "1272X952");
    EXPECT_EQ((std::vector<int>{a.camera->_pixsclock(), a.camera->sensorControl().pixelRate, a.camera->_body()}),
              (std::vector<int>{1, 18000, 512 + 2 * 1249280 + 2048}));
    Opened b(0xa008, 0xa000);
    EXPECT_EQ(b.camera->name(), std::string("QCH130.") + char('0' + older));
    EXPECT_STREQ(b.camera->_resolution_string_at_index(0), "1272x1016");
    EXPECT_EQ(b.camera->_body(), 512 + 2 * 1351680 + 2048);
    EXPECT_EQ(cntVE131_, newer + 1);
    EXPECT_EQ(cntVE131, older + 1);

    // V3h5MC1 is named and configured by its claim alone.
    const int before = cntV3h5MC1;
    Opened u(0xac11, 0xa000);
    EXPECT_EQ(u.camera->name(), std::string("QU5M.") + char('0' + before));
    EXPECT_EQ((std::vector<int>{u.camera->_pixsclock(), u.camera->sensorControl().pixelRate, u.camera->_body()}),
              (std::vector<int>{1, 48000, 2 * (5040128 + 512) + 4096}));
    EXPECT_EQ(u.camera->_set_raw_depth(16), 0);
}

TEST(Claim, VAo500C1ChoosesItsClockAtClaim) {
    Opened v1(0xc004, 0xa100);
    EXPECT_EQ(v1.out, "");  // the library never prints
    EXPECT_EQ(v1.log.messages, std::vector<std::string>{"2: VAo500C1::_claim_device"});
    EXPECT_EQ((std::vector<int>{v1.camera->sensorControl().pixelRate, v1.camera->sensorControl().lineLength, v1.camera->_body(),
                                v1.camera->sensorControl().blackLevel.value}),
              (std::vector<int>{48000, 3492, 2 * 512 + 10245226, 48}));
    EXPECT_EQ(v1.camera->_blacklevel_range(nullptr, nullptr, nullptr), -4);
    // This product writes the exposure register whenever it is re-timed.
    const std::vector<FakeDevice::Request> exposure = v1.device->sent(0xb7);
    ASSERT_EQ(exposure.size(), 1u);
    EXPECT_EQ(exposure[0].value, 300);
    EXPECT_EQ(exposure[0].index, 9);

    Opened v0(0xc004, 0xa000);
    EXPECT_EQ(v0.camera->sensorControl().pixelRate, 36000);

    // Its h variant claims the same way, keeps its own name and sends no
    // exposure at claim.
    Opened h(0xa00d, 0xa000);
    EXPECT_EQ(h.out, "");
    EXPECT_EQ(h.log.messages, std::vector<std::string>{"2: VAo500C1::_claim_device"});
    EXPECT_EQ(h.camera->modelName(), "QCH500.");
    EXPECT_EQ(h.camera->_resolution_count(), 5);
    EXPECT_TRUE(h.device->sent(0xb7).empty());
}

TEST(Switches, EdgeInhibitionAndCooler) {
    Opened d(0xd006, 0xa000);
    EXPECT_TRUE(d.switches().empty());  // the plain cooled model claims nothing
    EXPECT_EQ(d.camera->_set_edge_inhibition(true) + d.camera->_set_cooled(true), 0);
    EXPECT_EQ(d.camera->_set_cooled(false) + d.camera->_set_edge_inhibition(false), 0);
    EXPECT_EQ(d.switches(), (Strings{"17/0", "1/1", "0/1", "0/0"}));
    EXPECT_EQ(d.camera->_set_shift_operator(2), -4);

    // Cameras without these switches refuse them and send nothing.
    Opened a(0xc811, 0xa000);
    a.device->forget();
    bool on = false;
    EXPECT_EQ(a.camera->_set_edge_inhibition(true), -4);
    EXPECT_EQ(a.camera->_cooled(&on), -4);
    EXPECT_TRUE(a.device->requests.empty());
}

TEST(Switches, TemperatureReadings) {
    Opened r(0xe00a, 0xa001);
    const std::pair<std::vector<unsigned char>, float> cases[] = {{{40, 0}, 20.0f},
                                                                  {{0, 0}, 0.0f},
                                                                  {{0xf6, 0xff}, -6.25f},
                                                                  {{0xff, 0xff}, -0.625f},
                                                                  {{0x00, 0x80}, -160.0f}};
    for (const auto& [reply, celsius] : cases) {
        r.device->reply = reply;
        float t = 99.0f;
        EXPECT_EQ(r.camera->_temperature(&t), 0);
        EXPECT_FLOAT_EQ(t, celsius);
    }
    // A failed, stalled (the stall is cleared) or short answer leaves the value alone.
    float t = 99.0f;
    r.device->controlStatuses = {usb::kError, usb::kStall};
    EXPECT_EQ(r.camera->_temperature(&t) + r.camera->_temperature(&t), -6);
    EXPECT_EQ(r.device->count("clear0"), 1);
    r.device->reply = {7};
    EXPECT_EQ(r.camera->_temperature(&t), -3);
    EXPECT_EQ(t, 99.0f);

    // Hardware without the sensor: not offered, nothing asked.
    Opened old(0xe00c, 0xa106);
    old.device->forget();
    EXPECT_EQ(old.camera->_temperature(&t), -4);
    EXPECT_TRUE(old.device->requests.empty());
}
