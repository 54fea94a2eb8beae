// What a simulated camera needs to know about the device it plays: its
// tables, sensor registers, the way it frames and orders its bulk data, and
// the physical constants of its scene. One row per (product, release).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "models/tables.h"

namespace sim {

// How a frame travels on the bulk pipe.
enum class Framing : uint8_t {
    Header,         // 512-byte header opening with ten 0x88, then w x h samples
    Trailer3,       // table frame bytes, then 0x88, capture flag (0xcc), 0
    PaddedTrailer,  // table frame bytes, then one packet ending with 0x88, flag, 0
    Extra1,         // table frame bytes, then one byte; capture flag two bytes before the end
    Trailer4,       // table frame bytes, then 0x88, 0, capture flag, counter
    Signature,      // w x h samples, the first four bytes replaced by "XTDT"
    Tail4,          // table frame bytes, then a four-byte frame counter
    Bare,           // table frame bytes only
};

// Byte layout of 16-bit samples (12 significant bits, aligned to the top).
enum class SampleOrder : uint8_t {
    MsbFirst,  // most significant byte first
    Host,      // least significant byte first
    Packed12,  // top 8 bits, then the low 4 bits in the low nibble
};

// Encoding of the analog-gain register: how the host turns its gain step into
// the register value. The device decodes it back to the step.
enum class GainCode : uint8_t { Identity, A200, A131, A500, A300, A131M, A1K };

// Exposure lines per long-exposure period in one resolution mode.
struct PeriodLines {
    uint8_t mode;
    uint32_t lines;
};

// The device's own frame size for a mode, where it differs from the table.
struct ModeGeometry {
    uint8_t mode;
    uint16_t width;
    uint16_t height;
};

struct DeviceProfile {
    const char* model = "";  // model class, for messages
    std::span<const ResolutionEntry> resolutions{};
    std::span<const PixelClockEntry> clocks{};
    int bayer = 0;  // 0 monochrome, else the Bayer code of the sensor's first tile
    uint16_t regGain = 0;
    uint16_t regExposure = 0;
    uint16_t regLongExposure = 0;
    uint16_t regBlackLevel = 0;
    GainCode gainCode = GainCode::Identity;
    int gainUnity = 30;     // gain step with the nominal response (the model's initial gain)
    int gainBias = 0;       // added to the step before scaling (for steps starting at 0)
    int blackMax = 100;     // black-level register value worth an eighth of full scale
    uint32_t exposureLines = 300;  // initial exposure in lines
    // Lines per long-exposure period; 0 when the sensor has no long exposure.
    uint32_t periodLines = 0;
    std::span<const PeriodLines> periodByMode{};
    // 0xb4/0xb5 carry the exposure line count (index, and bits 16..23 in the
    // high byte of the value).
    bool exposureInModeRequests = true;
    // The exposure registers hold the high and the low 16 bits of the count.
    bool exposureSplit32 = false;
    Framing framing = Framing::Header;
    SampleOrder order = SampleOrder::MsbFirst;
    int bulkPipe = 1;
    int packet = 512;  // packet length the host checks for a stray frame start
    // The sensor always reads out this many columns (0: the mode's width).
    uint16_t sensorWidth = 0;
    std::span<const ModeGeometry> geometry{};
    // A 16-bit frame of mode table entry 0 carries one more packet of pixels.
    bool extraPacketAt16Full = false;
};

// The profile of a (vendor, product) pair at a device release, or nothing for
// a pair no model drives.
std::optional<DeviceProfile> findProfile(uint16_t vendor, uint16_t product, uint16_t release);

// The gain step a register value encodes.
int decodeGain(GainCode code, uint16_t reg);

}  // namespace sim
