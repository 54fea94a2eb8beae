// The model catalogue without a device: which class each product creates,
// names and instance counters, and the constants the classes set.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "models/catalogue.h"
#include "models/models.h"

namespace {
struct Expected {
    uint16_t product;
    const std::type_info& type;
    bool colour;
};

// Every row of the catalogue's creation table for the vendors 0x0547,
// 0x8020 and 0x8021.
const std::vector<Expected>& creationTable() {
    static const std::vector<Expected> rows = {
        {0xa003, typeid(CamBayer), true},   {0xa004, typeid(CamBayer), true},
        {0xa00d, typeid(CamBayer), true},  {0xa005, typeid(CamBayer), true},
        {0xa006, typeid(CamBayer), false}, {0xa007, typeid(CamBayer), true},
        {0xa008, typeid(CamBayer), true},  {0xa009, typeid(VSo036C1), true},
        {0xa00a, typeid(CamBayer), false}, {0xa00b, typeid(CamBayer), false},
        {0xa811, typeid(VAh200C1), true},  {0xac11, typeid(CamBayer), true},
        {0xc003, typeid(CamBayer), true},   {0xc004, typeid(CamBayer), true},
        {0xc005, typeid(CamBayer), true},  {0xc006, typeid(CamBayer), false},
        {0xc007, typeid(CamBayer), true},  {0xc008, typeid(CamBayer), true},
        {0xc009, typeid(VSo036C1), true},  {0xc00a, typeid(CamBayer), false},
        {0xc00b, typeid(CamBayer), false}, {0xc00c, typeid(VS200C1), true},
        {0xc811, typeid(CamBayer), true},  {0xd001, typeid(CamBayer), true},
        {0xd004, typeid(CamBayer), false}, {0xd006, typeid(CamBayer), false},
        {0xe001, typeid(CamBayer), true},  {0xe004, typeid(CamBayer), false},
        {0xe006, typeid(CamBayer), false}, {0xe008, typeid(CamBayer), true},
        {0xe009, typeid(CamBayer), true},  {0xe00a, typeid(VDh674M1), false},
        {0xe00b, typeid(VDh674M1), false}, {0xe00c, typeid(VDh694M1), false},
        {0xe80a, typeid(CamBayer), true},  {0xe80c, typeid(VDh694C1), true},
        {0xf007, typeid(CamBayer), true},  {0xf008, typeid(CamBayer), true},
        {0xf00b, typeid(CamBayer), false},
    };
    return rows;
}

// A camera as the catalogue creates it for a product of vendor 0x0547.
std::unique_ptr<CamBayer> made(uint16_t product, uint16_t vendor = 0x0547) {
    std::unique_ptr<CamBayer> camera = _create_device(product, vendor);
    EXPECT_NE(camera, nullptr) << std::hex << product;
    return camera;
}

std::string named(const char* display, int counter) {
    return std::string(display) + static_cast<char>('0' + counter);
}
}  // namespace

TEST(Creation, EveryProductOfTheSharedVendorsMakesItsClass) {
    for (uint16_t vendor : {0x0547, 0x8020, 0x8021}) {
        for (const Expected& row : creationTable()) {
            SCOPED_TRACE(testing::Message() << std::hex << vendor << ":" << row.product);
            std::unique_ptr<CamBayer> camera = _create_device(row.product, vendor);
            ASSERT_NE(camera, nullptr);
            EXPECT_EQ(typeid(*camera), row.type);
            EXPECT_EQ(camera->link().device(), nullptr);  // nothing opened
        }
        EXPECT_EQ(_create_device(0x6401, vendor), nullptr);
        EXPECT_EQ(_create_device(0xa00c, vendor), nullptr);
    }
    std::unique_ptr<CamBayer> miravel = _create_device(0x6401, 0x4b56);
    ASSERT_NE(miravel, nullptr);
    EXPECT_EQ(typeid(*miravel), typeid(VSi400M1));
    for (const Expected& row : creationTable())
        EXPECT_EQ(_create_device(row.product, 0x4b56), nullptr);
    EXPECT_EQ(_create_device(0xc004, 0x1234), nullptr);
    EXPECT_EQ(_create_device(0, 0), nullptr);
}

// Whatever the class, a new object is consistent with its own tables: the
// current entries exist, the timing matches them, the limits hold the
// values, colour classes have their processing tables, and a buffer of
// bodyLen bytes holds any full frame the base reader can deliver.
TEST(Creation, EveryClassIsConsistentWithItsTables) {
    for (const Expected& row : creationTable()) {
        SCOPED_TRACE(testing::Message() << std::hex << row.product);
        std::unique_ptr<CamBayer> camera = _create_device(row.product, 0x0547);
        EXPECT_NE(camera->pipeline().defects.points, nullptr);
        EXPECT_EQ(camera->pipeline().defects.capacity, 8192);
        EXPECT_EQ(camera->pipeline().colour(), row.colour);
        EXPECT_EQ(camera->pipeline().digitalGain[2].supported != 0, row.colour);
        // The sensors of the VDh674 generation stream on the second pipe.
        EXPECT_EQ(camera->link().bulkPipe, row.product >= 0xe00a && row.product <= 0xe80c ? 2u : 1u);
        // Two models only get their sensor when the device is claimed.
        if (row.product == 0xac11 || row.product == 0xc004 || row.product == 0xa004 ||
            row.product == 0xa00d)
            continue;
        EXPECT_EQ(camera->name().substr(0, camera->name().size() - 1), camera->modelName());
        // Classes turned colour at claim time start from a monochrome base.
        const bool colourNow = row.colour && row.product != 0xe80c;
        EXPECT_EQ(camera->_channles(), colourNow ? 3 : 1);
        EXPECT_EQ(camera->_bayer() != 0, colourNow);

        const auto* res = static_cast<const ResolutionEntry*>(camera->sensorControl().resolution.table);
        const auto* clk = static_cast<const PixelClockEntry*>(camera->sensorControl().pixelClock.table);
        ASSERT_NE(res, nullptr);
        ASSERT_NE(clk, nullptr);
        ASSERT_LT(camera->sensorControl().resolution.value, camera->sensorControl().resolution.max);
        ASSERT_LT(camera->sensorControl().pixelClock.value, camera->sensorControl().pixelClock.max);
        EXPECT_EQ(camera->sensorControl().lineLength, res[camera->sensorControl().resolution.value].lineLength);
        EXPECT_EQ(camera->sensorControl().pixelRate, clk[camera->sensorControl().pixelClock.value].rate);
        for (const SensorSetting* s :
             {&camera->sensorControl().analogGain, &camera->sensorControl().exposure, &camera->sensorControl().blackLevel}) {
            EXPECT_LE(s->min, s->value);
            EXPECT_LE(s->value, s->max);
            EXPECT_EQ(s->step, 1);
        }
        const int bytes = camera->sensorControl().rawDepth.supported ? 2 : 1;
        for (int i = 0; i < camera->sensorControl().resolution.max; ++i)
            EXPECT_GE(camera->sensorControl().bodyLen, camera->sensorControl().headLen + res[i].width * res[i].height * bytes) << i;
    }
}

TEST(Names, DerivedClassesAdvanceTheirBaseCounters) {
    // The VAh200C1 constructor runs VAo200C1's first.
    const int ownBefore = cntVAh200C1;
    const int baseBefore = cntVAo200C1;
    auto first = made(0xa811);
    EXPECT_EQ(first->name(), named("QCH200.", ownBefore));
    EXPECT_EQ(first->modelName(), "QCH200.");
    auto second = made(0xc811);
    EXPECT_EQ(second->name(), named("QC200.", baseBefore + 1));
    EXPECT_EQ(cntVAh200C1, ownBefore + 1);
    EXPECT_EQ(cntVAo200C1, baseBefore + 2);

    // Built as VAo300C1: its name and counter.
    const int before300 = cntVAo300C1;
    std::unique_ptr<CamBayer> g = _create_device(0xf007, 0x0547);
    EXPECT_EQ(g->name(), named("QC300.", before300));
    EXPECT_EQ(cntVAo300C1, before300 + 1);
    // VAh300C1 counts on cntVE300, after advancing cntVAo300C1.
    const int beforeVE300 = cntVE300;
    auto h300 = made(0xa007);
    EXPECT_EQ(h300->name(), named("QCH300.", beforeVE300));
    EXPECT_EQ(cntVAo300C1, before300 + 2);

    // Three constructors run for a VDh285C1.
    const int counts[] = {cntVDo285M1, cntVDh285M1, cntVDh285C1};
    auto colour = made(0xe009);
    EXPECT_EQ(colour->name(), named("RCH-1.4C.", counts[2]));
    EXPECT_EQ(cntVDo285M1, counts[0] + 1);
    EXPECT_EQ(cntVDh285M1, counts[1] + 1);

    // A VAh131M1 runs VAg131M1's constructor, which is VAo131M1's.
    const int before131M = cntVAo131M1;
    auto mono = made(0xa00b);
    EXPECT_EQ(mono->modelName(), "QCH130M.");
    EXPECT_EQ(cntVAo131M1, before131M + 1);
}

TEST(Names, TheEleventhCameraOfAClassGetsAColon) {
    ASSERT_LE(cntVSh036C1, 10);
    std::vector<std::unique_ptr<CamBayer>> cameras;
    while (cntVSh036C1 < 10) cameras.push_back(made(0xa009));
    auto eleventh = made(0xa009);
    EXPECT_EQ(eleventh->name(), "Norvan CH30.:");
    // Its base class was counted once per camera as well.
    EXPECT_GE(cntVSo036C1, 11);
}

TEST(Names, CountsPastPrintableAsciiStayUniqueAndPrintable) {
    std::vector<std::unique_ptr<CamBayer>> cameras;
    while (cntVSi400M1 < 79) cameras.push_back(made(0x6401, 0x4b56));
    const int first = cntVSi400M1;
    auto next = made(0x6401, 0x4b56);
    auto after = made(0x6401, 0x4b56);
    EXPECT_EQ(next->name(), "Miravel.~" + std::to_string(first));
    EXPECT_EQ(after->name(), "Miravel.~" + std::to_string(first + 1));
    EXPECT_EQ(next->name().find('\0'), std::string::npos);
}

TEST(Names, ClaimTimeModelsStayUnnamedUntilClaimed) {
    auto created = made(0xac11);
    CamBayer& camera = *created;
    EXPECT_EQ(camera.name(), "kvdt");
    EXPECT_TRUE(camera.modelName().empty());
    EXPECT_EQ(camera.sensorControl().resolution.table, nullptr);
    EXPECT_EQ(camera._resolution_count(), 0);
    EXPECT_EQ(camera._resolution_string_at_index(0), nullptr);
    EXPECT_EQ(camera._saturation(), 100);  // colour settings come with the object
}

// A sample of classes against the catalogue, as created for their products.
TEST(Constants, SampleOfClasses) {
    using V = std::vector<int>;
    int min = 0, max = 0, step = 0;
    const auto vAo1KC1 = made(0xc003);
    CamBayer& k = *vAo1KC1;
    EXPECT_EQ((V{k.sensorControl().regAnalogGain, k.sensorControl().regExposure, k._bayer(), k._resolution_count(),
                 k._pixsclock_count()}),
              (V{0x305e, 0x3012, 4, 5, 5}));
    EXPECT_STREQ(k._resolution_string_at_index(0), "3664X2732");
    EXPECT_EQ((V{k._pixsclock(), k.sensorControl().pixelClock.def, k.sensorControl().lineLength, k.sensorControl().pixelRate}),
              (V{0, 1, 3776, 36000}));
    k._analog_gain_range(&min, &max, &step);
    EXPECT_EQ((V{min, max, step, k._analog_gain(), k.sensorControl().exposure.def}), (V{1, 310, 1, 110, 300}));
    EXPECT_EQ(k._body(), 10068480 + 512 + 2048);
    EXPECT_EQ(k._set_raw_depth(16), -4);
    EXPECT_EQ((V{k.sensorControl().rawDepth.max, k.sensorControl().rawDepth.step}), (V{8, 0}));
    EXPECT_EQ(k._blacklevel_range(&min, &max, &step), -4);

    // Its h variant has its own modes but keeps VAo1KC1's buffer size.
    const auto vAh1KC1 = made(0xa003);
    CamBayer& h = *vAh1KC1;
    EXPECT_STREQ(h._resolution_string_at_index(0), "3656X2740");
    EXPECT_EQ((V{h._resolution_count(), h.sensorControl().lineLength, h._body(), h._saturation()}),
              (V{3, 3711, k._body(), 85}));

    const auto vAo131M1 = made(0xc00b);
    CamBayer& mono = *vAo131M1;
    EXPECT_EQ((V{mono._body(), mono.sensorControl().pixelRate, mono.sensorControl().exposure.max}),
              (V{2 * (1351680 + 512) + 2048, 40000, 10000}));
    EXPECT_EQ(mono._digital_gain_range(&min, &max, &step), -4);

    const auto vS200C1 = made(0xc00c);
    CamBayer& s = *vS200C1;
    EXPECT_EQ((V{s.sensorControl().packetLen, s._pixsclock(), s.sensorControl().pixelRate, s.sensorControl().regBlackLevel, s.sensorControl().longExposure.max,
                 s._restart_state()}),
              (V{61440, 2, 40000, 0xa1, 30, 0}));
    EXPECT_STREQ(s._pixsclock_string_at_index(s._pixsclock()), "High");
    EXPECT_EQ(s._blacklevel_range(&min, &max, &step), 0);
    EXPECT_EQ(s._body(), 512 + 2 * 2266112 + 2048);

    const auto vSi400M1 = made(0x6401, 0x4b56);
    CamBayer& si = *vSi400M1;
    EXPECT_EQ((V{si.sensorControl().regAnalogGain, si.sensorControl().regExposure, si.sensorControl().regLongExposure, si.sensorControl().regBlackLevel}),
              (V{0x41, 0x42, 0x43, 0x44}));
    EXPECT_EQ((V{si.sensorControl().analogGain.max, si._analog_gain(), si.sensorControl().analogGain.def, si.sensorControl().exposure.value,
                 si.sensorControl().exposure.max}),
              (V{1, 0, 1, 5000, 65535}));
    EXPECT_EQ((V{si.sensorControl().longExposure.max, si.sensorControl().pixelRate, si._body()}),
              (V{8191, 25000, 2 * (4194304 + 512) + 4096}));

    // Colour on a monochrome base keeps the base's buffer size; a colour
    // class below it computes its own, and starts with edge inhibition on.
    const auto vDh285C1 = made(0xe009);
    CamBayer& c = *vDh285C1;
    EXPECT_EQ(
        (V{c._bayer(), c._resolution_count(), c.sensorControl().resolution.def, c.sensorControl().regExposure, c.sensorControl().regLongExposure}),
        (V{4, 2, 1, 0x63, 0x62}));
    EXPECT_EQ(c._body(), 512 + 2 * 1422336 + 2048);
    const auto vDh674C1 = made(0xe80a);
    CamBayer& c674 = *vDh674C1;
    bool on = false;
    EXPECT_EQ(c674._edge_inhibition(&on), 0);
    EXPECT_TRUE(on);
    EXPECT_EQ((V{c674._bayer(), c674._body(), c674.sensorControl().exposure.max}),
              (V{3, 512 + 2 * 2903040 + 2048, 1521}));
    const auto vDh282C1 = made(0xe001);
    CamBayer& d282 = *vDh282C1;
    EXPECT_EQ(
        (V{d282.productFeatures().edgeInhibitionState, d282.sensorControl().exposure.def, d282.sensorControl().longExposure.max, d282.sensorControl().analogGain.def}),
        (V{0, 300, 4000, 200}));
}

// Saturation: one 131072-byte block, staged half second; digital gains
// neutral. Each table holds what its parameter asks for.
TEST(Constants, ColourTablesFollowTheirParameters) {
    const auto vAo200C1 = made(0xc811);
    CamBayer& built128 = *vAo200C1;  // records 100, builds for 128
    ASSERT_NE(built128.pipeline().saturation.lut, nullptr);
    EXPECT_EQ(built128.pipeline().saturation.lut2, built128.pipeline().saturation.lut + 65536);
    EXPECT_EQ(built128._saturation(), 100);
    EXPECT_EQ(built128.pipeline().saturation.lut[100], 128);  // row 0: 100 pushed out by 1.28
    EXPECT_EQ(built128.pipeline().saturation.lut2[100], 128);
    EXPECT_EQ(built128.pipeline().saturation.lut[200 * 256 + 200], 200);  // grey stays grey
    const auto vAo300C1 = made(0xc007);
    CamBayer& neutral = *vAo300C1;                                          // built for 100: the identity
    for (int r : {0, 77, 255})
        for (int v : {0, 31, 255}) EXPECT_EQ(neutral.pipeline().saturation.lut[r * 256 + v], v);
    const auto another1KC1 = made(0xc003);
    CamBayer& reduced = *another1KC1;  // 85 recorded and built
    EXPECT_EQ(reduced._saturation(), 85);
    EXPECT_EQ(reduced.pipeline().saturation.lut[100], 85);

    int g[3] = {}, range[3] = {};
    EXPECT_EQ(built128._digital_gain(&g[0], &g[1], &g[2]), 0);
    EXPECT_EQ(built128._digital_gain_range(&range[0], &range[1], &range[2]), 0);
    EXPECT_EQ((std::vector<int>{g[0], g[1], g[2], range[0], range[1], range[2]}),
              (std::vector<int>{64, 64, 64, 16, 240, 1}));
    for (const SoftWareValue& gain : built128.pipeline().digitalGain)
        for (int i : {0, 1, 128, 255}) EXPECT_EQ(gain.lut[i] + gain.lut2[i], 2 * i);
}
