// The device profiles of every supported camera, as data.
#include "sim/device_profile.h"

#include <algorithm>
#include <initializer_list>

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

bool oneOf(uint16_t value, std::initializer_list<uint16_t> set) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

// A-family sensors: gain, exposure, (no long exposure), black-level registers.
DeviceProfile aFamily(const char* model, std::span<const ResolutionEntry> res,
                      std::span<const PixelClockEntry> clk, int bayer, uint16_t regGain,
                      GainCode code, Framing framing) {
    DeviceProfile p;
    p.model = model;
    p.resolutions = res;
    p.clocks = clk;
    p.bayer = bayer;
    p.regGain = regGain;
    p.regExposure = 9;
    p.regBlackLevel = 2;
    p.gainCode = code;
    p.framing = framing;
    return p;
}

DeviceProfile sFamily(const char* model, std::span<const ResolutionEntry> res,
                      std::span<const PixelClockEntry> clk, int bayer, Framing framing) {
    DeviceProfile p;
    p.model = model;
    p.resolutions = res;
    p.clocks = clk;
    p.bayer = bayer;
    p.regGain = 1;
    p.regExposure = 3;
    p.regLongExposure = 4;
    p.regBlackLevel = 2;
    p.framing = framing;
    return p;
}

DeviceProfile dFamily(const char* model, std::span<const ResolutionEntry> res,
                      std::span<const PixelClockEntry> clk, int bayer, int gainUnity,
                      uint32_t periodLines, Framing framing) {
    DeviceProfile p;
    p.model = model;
    p.resolutions = res;
    p.clocks = clk;
    p.bayer = bayer;
    p.regGain = 1;
    p.regExposure = 0x63;
    p.regLongExposure = 0x62;
    p.regBlackLevel = 2;
    p.gainUnity = gainUnity;
    p.blackMax = 1023;
    p.periodLines = periodLines;
    p.framing = framing;
    return p;
}

std::optional<DeviceProfile> aProduct(uint16_t product, uint16_t release) {
    const Framing h = oneOf(release, {0xb002}) ? Framing::PaddedTrailer : Framing::Trailer3;
    switch (product) {
    case 0xc811:
        return aFamily("VAo200C1", VAh200C1Res, VAh200C1Clk, 3, 0x2f, GainCode::A200,
                       Framing::Header);
    case 0xa811:
        return aFamily("VAh200C1", VAh200C1Res, VAh200C1Clk, 3, 0x2f, GainCode::A200,
                       Framing::Trailer3);
    case 0xc008:
        return aFamily("VAo131C1", VAo131C1Res, VAo131C1Clk, 3, 0x2f, GainCode::A131,
                       Framing::Header);
    case 0xf008:
        return aFamily("VAg131C1", VAo131C1Res, VAo131C1Clk, 3, 0x2f, GainCode::A131,
                       Framing::Extra1);
    case 0xa008: {
        const Framing f =
            oneOf(release, {0xb002, 0xb003}) ? Framing::PaddedTrailer : Framing::Trailer3;
        if (oneOf(release, {0xa001, 0xb003}))
            return aFamily("VAh131C1", VAc500C1Res, VAc500C1Clk, 3, 0x35, GainCode::A500, f);
        return aFamily("VAh131C1", VAo131C1Res, VAo131C1Clk, 3, 0x2f, GainCode::A131, f);
    }
    case 0xc007:
        return aFamily("VAo300C1", VAo300C1Res, VAo300C1Clk, 3, 0x35, GainCode::A300,
                       Framing::Header);
    case 0xf007:
        return aFamily("VAg300C1", VAo300C1Res, VAo300C1Clk, 3, 0x35, GainCode::A300,
                       Framing::Extra1);
    case 0xa007:
        return aFamily("VAh300C1", VAo300C1Res, VAo300C1Clk, 3, 0x35, GainCode::A300, h);
    case 0xc00b:
        return aFamily("VAo131M1", VAo131M1Res, VAo131M1Clk, 0, 0x35, GainCode::A131M,
                       Framing::Header);
    case 0xf00b:
        return aFamily("VAg131M1", VAo131M1Res, VAo131M1Clk, 0, 0x35, GainCode::A131M,
                       Framing::Extra1);
    case 0xa00b:
        return aFamily("VAh131M1", VAo131M1Res, VAo131M1Clk, 0, 0x35, GainCode::A131M,
                       Framing::Trailer3);
    case 0xc004:
    case 0xa004:
    case 0xa00d: {
        std::span<const PixelClockEntry> clk = VAo500C1V0Clk;
        if (release == 0xa100) clk = VAo500C1V1Clk;
        if (product == 0xc004)
            return aFamily("VAo500C1", VAo500C1Res, clk, 3, 0x35, GainCode::A500,
                           Framing::Header);
        DeviceProfile p = aFamily("VAh500C1", VAo500C1Res, clk, 3, 0x35, GainCode::A500, h);
        p.extraPacketAt16Full = h == Framing::Trailer3;
        return p;
    }
    case 0xc003:
    case 0xa003: {
        DeviceProfile p = product == 0xc003
                              ? aFamily("VAo1KC1", VAo1KC1Res, VAo1KC1Clk, 4, 0x305e,
                                        GainCode::A1K, Framing::Header)
                              : aFamily("VAh1KC1", VAh1KC1Res, VAo1KC1Clk, 4, 0x305e,
                                        GainCode::A1K, Framing::Trailer3);
        p.regExposure = 0x3012;
        p.gainUnity = 110;
        return p;
    }
    case 0xc006:
        return aFamily("VAo500M1", VAo500M1Res, VAo500M1Clk, 0, 0x35, GainCode::A500,
                       Framing::Header);
    case 0xa006:
        return aFamily("VAh500M1", VAo500M1Res, VAo500M1Clk, 0, 0x35, GainCode::A500,
                       Framing::Trailer3);
    case 0xac11: {
        DeviceProfile p = aFamily("V3h5MC1", V3h5MC1Res, V3h5MC1Clk, 4, 0x35, GainCode::A500,
                                  Framing::Trailer4);
        p.gainUnity = 1;
        p.order = SampleOrder::Host;
        return p;
    }
    default:
        return std::nullopt;
    }
}

std::optional<DeviceProfile> sProduct(uint16_t product) {
    switch (product) {
    case 0xc00a:
    case 0xa00a: {
        DeviceProfile p = sFamily(product == 0xc00a ? "VSo035M1" : "VSh035M1", VSo035M1Res,
                                  VSo035M1Clk, 0,
                                  product == 0xc00a ? Framing::Header : Framing::Trailer3);
        p.periodLines = 1080;
        p.periodByMode = kPeriods035M;
        return p;
    }
    case 0xc005:
    case 0xa005: {
        DeviceProfile p = sFamily(product == 0xc005 ? "VSo035C1" : "VSh035C1", VSo035C1Res,
                                  VSo035C1Clk, 2,
                                  product == 0xc005 ? Framing::Header : Framing::Trailer3);
        p.exposureLines = 30;
        p.periodLines = 1080;
        p.periodByMode = kPeriods035C;
        p.geometry = kGeometry035C;
        return p;
    }
    case 0xc009:
    case 0xa009: {
        DeviceProfile p = sFamily(product == 0xc009 ? "VSo036C1" : "VSh036C1", VSo036C1Res,
                                  VSo036C1Clk, 2,
                                  product == 0xc009 ? Framing::Header : Framing::Trailer3);
        p.periodLines = 5000;
        p.periodByMode = kPeriods036;
        return p;
    }
    case 0xc00c: {
        DeviceProfile p = sFamily("VS200C1", VS200C1Res, VS200C1Clk, 2, Framing::Signature);
        p.regGain = 0xa0;
        p.regExposure = 0xa2;
        p.regLongExposure = 0xa3;
        p.regBlackLevel = 0xa1;
        p.gainUnity = 40;
        p.exposureLines = 100;
        p.periodLines = 1250;
        p.exposureInModeRequests = false;
        p.exposureSplit32 = true;
        p.order = SampleOrder::Packed12;
        p.packet = 61440;
        return p;
    }
    default:
        return std::nullopt;
    }
}

std::optional<DeviceProfile> dProduct(uint16_t product, uint16_t release) {
    const Framing h = Framing::Trailer3;
    switch (product) {
    case 0xd004:
    case 0xe004:
    case 0xe008: {
        DeviceProfile p =
            product == 0xe008
                ? dFamily("VDh205C1", VDh205C1Res, VDh205C1Clk, 4, 297, 1068, h)
                : dFamily(product == 0xd004 ? "VDo205M1" : "VDh205M1", VDo205M1Res, VDo205M1Clk,
                          0, 297, 1068, product == 0xd004 ? Framing::Header : h);
        p.periodByMode = kPeriods205;
        p.sensorWidth = 1360;
        return p;
    }
    case 0xd006:
        return dFamily("VDo285M1", VDo285M1Res, VDo285M1Clk, 0, 83, 1068, Framing::Header);
    case 0xe006:
        return dFamily("VDh285M1", VDo285M1Res, VDo285M1Clk, 0, 83, 1068, h);
    case 0xe009:
        return dFamily("VDh285C1", VDh285C1Res, VDh285C1Clk, 4, 83, 1068, h);
    case 0xe80a: {
        DeviceProfile p = dFamily("VDh674C1", VDh674C1Res, VDh674C1Clk, 3, 83, 1521, h);
        p.bulkPipe = 2;
        return p;
    }
    case 0xe00a: {
        const bool v1 = oneOf(release, {0xa001, 0xa004, 0xa104});
        DeviceProfile p =
            v1 ? dFamily("VDh674M1", VDh674M1V1Res, VDh674M1Clk2, 0, 83, 1521, h)
               : dFamily("VDh674M1", VDh674M1V0Res, VDh674M1Clk, 0, 83, 1521, h);
        if (v1) p.periodByMode = kPeriods674V1;
        if (release == 0xb001) p.framing = Framing::PaddedTrailer;
        p.bulkPipe = 2;
        return p;
    }
    case 0xe00b: {
        DeviceProfile p =
            release == 0xa001
                ? dFamily("VDh687M1", VDh687M1V1Res, VDh687M1Clk2, 0, 256, 2261, h)
                : dFamily("VDh687M1", VDh687M1Res, VDh687M1Clk, 0, 256, 2261, h);
        p.periodByMode = kPeriods694M;
        p.bulkPipe = 2;
        return p;
    }
    case 0xe00c: {
        DeviceProfile p = oneOf(release, {0xa001, 0xa004, 0xa104, 0xa106})
                              ? dFamily("VDh694M1", VDh694M1V1Res, VDh694M1Clk, 0, 143, 2261, h)
                              : dFamily("VDh694M1", VDo285M1Res, VDo285M1Clk, 0, 143, 2261, h);
        p.periodByMode = kPeriods694M;
        if (release == 0xa106) p.framing = Framing::Bare;
        p.bulkPipe = 2;
        return p;
    }
    case 0xe80c: {
        DeviceProfile p = release == 0xa001
                              ? dFamily("VDh694C1", VDh694C1V1Res, VDh94C1Clk, 4, 256, 2261, h)
                              : dFamily("VDh694C1", VDo285M1Res, VDo285M1Clk, 4, 256, 2261, h);
        if (release == 0xa001) p.sensorWidth = 2736;
        p.periodByMode = kPeriods694C;
        p.bulkPipe = 2;
        return p;
    }
    case 0xd001:
        return dFamily("VDo282C1", VDo282C1Res, VDo282C1Clk, 4, 297, 1060, Framing::Header);
    case 0xe001:
        return dFamily("VDh282C1", VDo282C1Res, VDo282C1Clk, 4, 297, 1060, h);
    default:
        return std::nullopt;
    }
}

}  // namespace

std::optional<DeviceProfile> findProfile(uint16_t vendor, uint16_t product, uint16_t release) {
    if (vendor == 0x4b56) {
        if (product != 0x6401) return std::nullopt;
        DeviceProfile p;
        p.model = "VSi400M1";
        p.resolutions = VSi400M1Res;
        p.clocks = VSi400M1Clk;
        p.regGain = 0x41;
        p.regExposure = 0x42;
        p.regLongExposure = 0x43;
        p.regBlackLevel = 0x44;
        p.gainUnity = 0;
        p.gainBias = 1;
        p.blackMax = 8191;
        p.exposureLines = 5000;
        p.periodLines = 65535;
        p.exposureInModeRequests = false;
        p.framing = Framing::Tail4;
        p.order = SampleOrder::Host;
        return p;
    }
    if (vendor != 0x0547 && vendor != 0x8020 && vendor != 0x8021) return std::nullopt;
    if (auto p = aProduct(product, release)) return p;
    if (auto p = sProduct(product)) return p;
    return dProduct(product, release);
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
