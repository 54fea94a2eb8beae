// The simulated devices, one row per product and release: what each sends
// and expects on the wire, stated for the device itself.
#include "sim/device_profile.h"


namespace sim {
namespace {

constexpr PeriodLines kPeriods205[] = {{0x0a, 1068}, {0x0b, 546}, {0x0c, 284}};
constexpr PeriodLines kPeriods674V1[] = {{0x0a, 1521}, {0x0b, 759}, {0x0d, 759}};
constexpr PeriodLines kPeriods694M[] = {{0x0a, 2261}, {0x0b, 1129}, {0x0d, 1129}};
constexpr PeriodLines kPeriods694C[] = {{0x0a, 2261}, {0x0b, 1211}, {0x0c, 855}, {0x0d, 1129}};
constexpr PeriodLines kPeriods035M[] = {
    {0xc0, 1080}, {0xc1, 540}, {0xc2, 540}, {0xc3, 860}, {0xc4, 538}};
constexpr PeriodLines kPeriods035C[] = {{0xc0, 1080}, {0xc1, 540}, {0xc2, 540}};
constexpr PeriodLines kPeriods036[] = {{0xc0, 60000}, {0xc1, 1608}, {0xc2, 1608}};

// The 640-wide mode of this sensor reads out two half-width frames side by side.
constexpr ModeGeometry kGeometry035C[] = {{0xc1, 1280, 512}};

// One device: the vendor (0: any of 0x0547, 0x8020, 0x8021), the product,
// the device releases the row is for (none: every release no earlier row of
// the product names) and what the device sends and expects.
struct DeviceRow {
    uint16_t vendor;
    uint16_t product;
    ReleaseList releases;
    DeviceProfile profile;
};

constexpr ReleaseList kAll{};
constexpr GainCode A200 = GainCode::A200, A131 = GainCode::A131, A500 = GainCode::A500,
                   A300 = GainCode::A300, A131M = GainCode::A131M, A1K = GainCode::A1K;
constexpr Framing Header = Framing::Header, Trailer3 = Framing::Trailer3,
                  Padded = Framing::PaddedTrailer, Extra1 = Framing::Extra1;

// clang-format off
constexpr DeviceRow kDevices[] = {
    // ---- A family: registers gain, exposure 9 (no long exposure), black level 2 ----
    {0, 0xc811, kAll, {.model = "VAo200C1", .resolutions = VAh200C1Res, .clocks = VAh200C1Clk, .bayer = 3, .regGain = 0x2f, .regExposure = 9, .regBlackLevel = 2, .gainCode = A200, .framing = Header}},
    {0, 0xa811, kAll, {.model = "VAh200C1", .resolutions = VAh200C1Res, .clocks = VAh200C1Clk, .bayer = 3, .regGain = 0x2f, .regExposure = 9, .regBlackLevel = 2, .gainCode = A200, .framing = Trailer3}},
    {0, 0xc008, kAll, {.model = "VAo131C1", .resolutions = VAo131C1Res, .clocks = VAo131C1Clk, .bayer = 3, .regGain = 0x2f, .regExposure = 9, .regBlackLevel = 2, .gainCode = A131, .framing = Header}},
    {0, 0xf008, kAll, {.model = "VAg131C1", .resolutions = VAo131C1Res, .clocks = VAo131C1Clk, .bayer = 3, .regGain = 0x2f, .regExposure = 9, .regBlackLevel = 2, .gainCode = A131, .framing = Extra1}},
    // Two sensor generations; the boards 0xb002 and 0xb003 pad the trailer to a packet.
    {0, 0xa008, {{0xa001}}, {.model = "VAh131C1", .resolutions = VAc500C1Res, .clocks = VAc500C1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Trailer3}},
    {0, 0xa008, {{0xb003}}, {.model = "VAh131C1", .resolutions = VAc500C1Res, .clocks = VAc500C1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Padded}},
    {0, 0xa008, {{0xb002}}, {.model = "VAh131C1", .resolutions = VAo131C1Res, .clocks = VAo131C1Clk, .bayer = 3, .regGain = 0x2f, .regExposure = 9, .regBlackLevel = 2, .gainCode = A131, .framing = Padded}},
    {0, 0xa008, kAll, {.model = "VAh131C1", .resolutions = VAo131C1Res, .clocks = VAo131C1Clk, .bayer = 3, .regGain = 0x2f, .regExposure = 9, .regBlackLevel = 2, .gainCode = A131, .framing = Trailer3}},
    {0, 0xc007, kAll, {.model = "VAo300C1", .resolutions = VAo300C1Res, .clocks = VAo300C1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A300, .framing = Header}},
    {0, 0xf007, kAll, {.model = "VAg300C1", .resolutions = VAo300C1Res, .clocks = VAo300C1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A300, .framing = Extra1}},
    {0, 0xa007, {{0xb002}}, {.model = "VAh300C1", .resolutions = VAo300C1Res, .clocks = VAo300C1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A300, .framing = Padded}},
    {0, 0xa007, kAll, {.model = "VAh300C1", .resolutions = VAo300C1Res, .clocks = VAo300C1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A300, .framing = Trailer3}},
    {0, 0xc00b, kAll, {.model = "VAo131M1", .resolutions = VAo131M1Res, .clocks = VAo131M1Clk, .bayer = 0, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A131M, .framing = Header}},
    {0, 0xf00b, kAll, {.model = "VAg131M1", .resolutions = VAo131M1Res, .clocks = VAo131M1Clk, .bayer = 0, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A131M, .framing = Extra1}},
    {0, 0xa00b, kAll, {.model = "VAh131M1", .resolutions = VAo131M1Res, .clocks = VAo131M1Clk, .bayer = 0, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A131M, .framing = Trailer3}},
    // The 0xa100 boards run faster clocks.
    {0, 0xc004, {{0xa100}}, {.model = "VAo500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Header}},
    {0, 0xc004, kAll, {.model = "VAo500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V0Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Header}},
    // At 16 bits its full mode carries one packet more; the 0xb002 board pads
    // the trailer and sends 16-bit samples least significant byte first.
    {0, 0xa004, {{0xa100}}, {.model = "VAh500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Trailer3, .extraPacketAt16Full = true}},
    {0, 0xa004, {{0xb002}}, {.model = "VAh500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V0Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Padded, .order = SampleOrder::Host, .extraPacketAt16Full = true}},
    {0, 0xa004, kAll, {.model = "VAh500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V0Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Trailer3, .extraPacketAt16Full = true}},
    {0, 0xa00d, {{0xa100}}, {.model = "VAh500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V1Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Trailer3, .extraPacketAt16Full = true}},
    {0, 0xa00d, {{0xb002}}, {.model = "VAh500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V0Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Padded, .order = SampleOrder::Host, .extraPacketAt16Full = true}},
    {0, 0xa00d, kAll, {.model = "VAh500C1", .resolutions = VAo500C1Res, .clocks = VAo500C1V0Clk, .bayer = 3, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Trailer3, .extraPacketAt16Full = true}},
    {0, 0xc003, kAll, {.model = "VAo1KC1", .resolutions = VAo1KC1Res, .clocks = VAo1KC1Clk, .bayer = 4, .regGain = 0x305e, .regExposure = 0x3012, .regBlackLevel = 2, .gainCode = A1K, .gainUnity = 110, .framing = Header}},
    {0, 0xa003, kAll, {.model = "VAh1KC1", .resolutions = VAh1KC1Res, .clocks = VAo1KC1Clk, .bayer = 4, .regGain = 0x305e, .regExposure = 0x3012, .regBlackLevel = 2, .gainCode = A1K, .gainUnity = 110, .framing = Trailer3}},
    {0, 0xc006, kAll, {.model = "VAo500M1", .resolutions = VAo500M1Res, .clocks = VAo500M1Clk, .bayer = 0, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Header}},
    {0, 0xa006, kAll, {.model = "VAh500M1", .resolutions = VAo500M1Res, .clocks = VAo500M1Clk, .bayer = 0, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .framing = Trailer3}},

    // ---- The 5-megapixel colour camera: four-byte trailer, samples in host order ----
    {0, 0xac11, kAll, {.model = "V3h5MC1", .resolutions = V3h5MC1Res, .clocks = V3h5MC1Clk, .bayer = 4, .regGain = 0x35, .regExposure = 9, .regBlackLevel = 2, .gainCode = A500, .gainUnity = 1, .framing = Framing::Trailer4, .order = SampleOrder::Host}},

    // ---- S family: registers gain 1, exposure 3, long exposure 4, black level 2 ----
    {0, 0xc00a, kAll, {.model = "VSo035M1", .resolutions = VSo035M1Res, .clocks = VSo035M1Clk, .bayer = 0, .regGain = 1, .regExposure = 3, .regLongExposure = 4, .regBlackLevel = 2, .periodLines = 1080, .periodByMode = kPeriods035M, .framing = Header}},
    {0, 0xa00a, kAll, {.model = "VSh035M1", .resolutions = VSo035M1Res, .clocks = VSo035M1Clk, .bayer = 0, .regGain = 1, .regExposure = 3, .regLongExposure = 4, .regBlackLevel = 2, .periodLines = 1080, .periodByMode = kPeriods035M, .framing = Trailer3}},
    {0, 0xc005, kAll, {.model = "VSo035C1", .resolutions = VSo035C1Res, .clocks = VSo035C1Clk, .bayer = 2, .regGain = 1, .regExposure = 3, .regLongExposure = 4, .regBlackLevel = 2, .exposureLines = 30, .periodLines = 1080, .periodByMode = kPeriods035C, .framing = Header, .geometry = kGeometry035C}},
    {0, 0xa005, kAll, {.model = "VSh035C1", .resolutions = VSo035C1Res, .clocks = VSo035C1Clk, .bayer = 2, .regGain = 1, .regExposure = 3, .regLongExposure = 4, .regBlackLevel = 2, .exposureLines = 30, .periodLines = 1080, .periodByMode = kPeriods035C, .framing = Trailer3, .geometry = kGeometry035C}},
    {0, 0xc009, kAll, {.model = "VSo036C1", .resolutions = VSo036C1Res, .clocks = VSo036C1Clk, .bayer = 2, .regGain = 1, .regExposure = 3, .regLongExposure = 4, .regBlackLevel = 2, .periodLines = 5000, .periodByMode = kPeriods036, .framing = Header}},
    {0, 0xa009, kAll, {.model = "VSh036C1", .resolutions = VSo036C1Res, .clocks = VSo036C1Clk, .bayer = 2, .regGain = 1, .regExposure = 3, .regLongExposure = 4, .regBlackLevel = 2, .periodLines = 5000, .periodByMode = kPeriods036, .framing = Trailer3}},
    // The exposure is one 32-bit line count, high half in 0xa2, low half in
    // 0xa3; samples packed as 12 bits; 61440-byte packets.
    {0, 0xc00c, kAll, {.model = "VS200C1", .resolutions = VS200C1Res, .clocks = VS200C1Clk, .bayer = 2, .regGain = 0xa0, .regExposure = 0xa2, .regLongExposure = 0xa3, .regBlackLevel = 0xa1, .gainUnity = 40, .exposureLines = 100, .periodLines = 1250, .exposureInModeRequests = false, .exposureSplit32 = true, .framing = Framing::Signature, .order = SampleOrder::Packed12, .packet = 61440}},

    // ---- D family: registers gain 1, exposure 0x63, long exposure 0x62, black level 2 ----
    {0, 0xd004, kAll, {.model = "VDo205M1", .resolutions = VDo205M1Res, .clocks = VDo205M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 297, .blackMax = 1023, .periodLines = 1068, .periodByMode = kPeriods205, .framing = Header, .sensorWidth = 1360}},
    {0, 0xe004, kAll, {.model = "VDh205M1", .resolutions = VDo205M1Res, .clocks = VDo205M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 297, .blackMax = 1023, .periodLines = 1068, .periodByMode = kPeriods205, .framing = Trailer3, .sensorWidth = 1360}},
    {0, 0xe008, kAll, {.model = "VDh205C1", .resolutions = VDh205C1Res, .clocks = VDh205C1Clk, .bayer = 4, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 297, .blackMax = 1023, .periodLines = 1068, .periodByMode = kPeriods205, .framing = Trailer3, .sensorWidth = 1360}},
    {0, 0xd006, kAll, {.model = "VDo285M1", .resolutions = VDo285M1Res, .clocks = VDo285M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 83, .blackMax = 1023, .periodLines = 1068, .framing = Header}},
    {0, 0xe006, kAll, {.model = "VDh285M1", .resolutions = VDo285M1Res, .clocks = VDo285M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 83, .blackMax = 1023, .periodLines = 1068, .framing = Trailer3}},
    {0, 0xe009, kAll, {.model = "VDh285C1", .resolutions = VDh285C1Res, .clocks = VDh285C1Clk, .bayer = 4, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 83, .blackMax = 1023, .periodLines = 1068, .framing = Trailer3}},
    {0, 0xe80a, kAll, {.model = "VDh674C1", .resolutions = VDh674C1Res, .clocks = VDh674C1Clk, .bayer = 3, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 83, .blackMax = 1023, .periodLines = 1521, .framing = Trailer3, .bulkPipe = 2}},
    // Newer boards have the binned modes and the fast clock; 0xb001 pads the trailer.
    {0, 0xe00a, {{0xa001, 0xa004, 0xa104}}, {.model = "VDh674M1", .resolutions = VDh674M1V1Res, .clocks = VDh674M1Clk2, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 83, .blackMax = 1023, .periodLines = 1521, .periodByMode = kPeriods674V1, .framing = Trailer3, .bulkPipe = 2}},
    {0, 0xe00a, {{0xb001}}, {.model = "VDh674M1", .resolutions = VDh674M1V0Res, .clocks = VDh674M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 83, .blackMax = 1023, .periodLines = 1521, .framing = Padded, .bulkPipe = 2}},
    {0, 0xe00a, kAll, {.model = "VDh674M1", .resolutions = VDh674M1V0Res, .clocks = VDh674M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 83, .blackMax = 1023, .periodLines = 1521, .framing = Trailer3, .bulkPipe = 2}},
    {0, 0xe00b, {{0xa001}}, {.model = "VDh687M1", .resolutions = VDh687M1V1Res, .clocks = VDh687M1Clk2, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 256, .blackMax = 1023, .periodLines = 2261, .periodByMode = kPeriods694M, .framing = Trailer3, .bulkPipe = 2}},
    {0, 0xe00b, kAll, {.model = "VDh687M1", .resolutions = VDh687M1Res, .clocks = VDh687M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 256, .blackMax = 1023, .periodLines = 2261, .periodByMode = kPeriods694M, .framing = Trailer3, .bulkPipe = 2}},
    // 0xa106 sends the samples bare.
    {0, 0xe00c, {{0xa106}}, {.model = "VDh694M1", .resolutions = VDh694M1V1Res, .clocks = VDh694M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 143, .blackMax = 1023, .periodLines = 2261, .periodByMode = kPeriods694M, .framing = Framing::Bare, .bulkPipe = 2}},
    {0, 0xe00c, {{0xa001, 0xa004, 0xa104}}, {.model = "VDh694M1", .resolutions = VDh694M1V1Res, .clocks = VDh694M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 143, .blackMax = 1023, .periodLines = 2261, .periodByMode = kPeriods694M, .framing = Trailer3, .bulkPipe = 2}},
    {0, 0xe00c, kAll, {.model = "VDh694M1", .resolutions = VDo285M1Res, .clocks = VDo285M1Clk, .bayer = 0, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 143, .blackMax = 1023, .periodLines = 2261, .periodByMode = kPeriods694M, .framing = Trailer3, .bulkPipe = 2}},
    // The newer colour board reads its narrower modes as whole 2736-sample rows.
    {0, 0xe80c, {{0xa001}}, {.model = "VDh694C1", .resolutions = VDh694C1V1Res, .clocks = VDh94C1Clk, .bayer = 4, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 256, .blackMax = 1023, .periodLines = 2261, .periodByMode = kPeriods694C, .framing = Trailer3, .bulkPipe = 2, .sensorWidth = 2736}},
    {0, 0xe80c, kAll, {.model = "VDh694C1", .resolutions = VDo285M1Res, .clocks = VDo285M1Clk, .bayer = 4, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 256, .blackMax = 1023, .periodLines = 2261, .periodByMode = kPeriods694C, .framing = Trailer3, .bulkPipe = 2}},
    {0, 0xd001, kAll, {.model = "VDo282C1", .resolutions = VDo282C1Res, .clocks = VDo282C1Clk, .bayer = 4, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 297, .blackMax = 1023, .periodLines = 1060, .framing = Header}},
    {0, 0xe001, kAll, {.model = "VDh282C1", .resolutions = VDo282C1Res, .clocks = VDo282C1Clk, .bayer = 4, .regGain = 1, .regExposure = 0x63, .regLongExposure = 0x62, .regBlackLevel = 2, .gainUnity = 297, .blackMax = 1023, .periodLines = 1060, .framing = Trailer3}},

    // ---- The 2048 x 2048 camera: exposure in lines of 0x42 and periods of 0x43,
    // samples in host order, four counter bytes after them ----
    {0x4b56, 0x6401, kAll, {.model = "VSi400M1", .resolutions = VSi400M1Res, .clocks = VSi400M1Clk, .bayer = 0, .regGain = 0x41, .regExposure = 0x42, .regLongExposure = 0x43, .regBlackLevel = 0x44, .gainUnity = 0, .gainBias = 1, .blackMax = 8191, .exposureLines = 5000, .periodLines = 65535, .exposureInModeRequests = false, .framing = Framing::Tail4, .order = SampleOrder::Host}},
};
// clang-format on

constexpr uint16_t kSharedVendors[] = {0x0547, 0x8020, 0x8021};

bool vendorMatches(uint16_t rowVendor, uint16_t vendor) {
    if (rowVendor != 0) return rowVendor == vendor;
    for (uint16_t v : kSharedVendors)
        if (v == vendor) return true;
    return false;
}

}  // namespace

std::optional<DeviceProfile> findProfile(uint16_t vendor, uint16_t product, uint16_t release) {
    for (const DeviceRow& row : kDevices)
        if (row.product == product && vendorMatches(row.vendor, vendor) &&
            row.releases.contains(release))
            return row.profile;
    return std::nullopt;
}

int decodeGain(GainCode code, uint16_t reg) {
    const int r = reg;
    switch (code) {
    case GainCode::Identity:
        return r;
    case GainCode::A200:
        if (r >= 32 && r <= 63) return r - 31;
        if (r >= 160 && r <= 255) return r - 127;
        if (r >= 448 && r <= 511) return r - 319;
        return r;
    case GainCode::A131:
        if (r >= 31 && r <= 61) return r - 31;
        if (r >= 63 && r <= 127) return (r - 1) / 2;
        if (r >= 193 && r <= 209) return r - 129;
        return r;
    case GainCode::A500:
        return r < 64 ? r : (r + 16065) >> 8;
    case GainCode::A300:
        if (r >= 8 && r <= 32) return r - 7;
        if (r >= 81 && r <= 96) return r - 55;
        if (r >= 352) return (r + 10400) >> 8;
        return r;
    case GainCode::A131M:
        return r >= 96 ? r - 32 : r;
    case GainCode::A1K: {
        static constexpr uint16_t kBases[] = {0x1040, 0x1840, 0x1c40, 0x1cc0, 0x1dc0};
        for (int q = 0; q < 5; ++q)
            if ((r & 0xffc0) == kBases[q]) return q * 64 + (r & 0x3f);
        return 0;
    }
    }
    return r;
}

}  // namespace sim
