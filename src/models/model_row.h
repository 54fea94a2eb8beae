// Layout of the model catalogue's rows: the constants one model class sets,
// as plain data that CamBayer::applyModel applies in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "models/tables.h"

// A sensor setting as the catalogue gives it: value/min/max/def and whether
// the model offers it. Every step is 1.
struct Limits {
    uint16_t value;
    uint16_t min;
    uint16_t max;
    uint16_t def;
    uint8_t supported;
};

// The raw bit depth, whose step is part of the row.
struct DepthLimits {
    uint16_t value;
    uint16_t min;
    uint16_t max;
    uint16_t step;
    uint16_t def;
    uint8_t supported;
};

constexpr DepthLimits kDepthOff{8, 8, 16, 8, 8, 0};
constexpr DepthLimits kDepthOn{8, 8, 16, 8, 8, 1};
constexpr DepthLimits kDepth8Only{8, 8, 8, 0, 8, 0};

// A model's resolution or pixel-clock table with its initial and default index.
template <class Entry>
struct TableChoice {
    const Entry* table;
    uint16_t count;
    uint16_t value;
    uint16_t def;
};

template <class Entry, size_t N>
constexpr TableChoice<Entry> choose(const Entry (&table)[N], uint16_t value, uint16_t def) {
    return {table, static_cast<uint16_t>(N), value, def};
}

// How bodyLen follows from the frame bytes F of entry 0 of the resolution
// table in force and the header length H.
enum class BodyLen : uint8_t {
    Keep,  // left as the constructing class set it
    A,     // F + H + 2048
    B,     // 2 (F + H) + 2048
    C,     // 2 (F + H) + 4096
    D,     // H + 2 F + 2048
    E,     // 2 H + 10245226
};

// Analog gain step to sensor register value.
using GainMap = uint16_t (*)(int gain);

struct SensorRow {
    int32_t channels;  // 3 colour, 1 monochrome
    int32_t bayerPattern;
    uint16_t regAnalogGain;
    uint16_t regExposure;
    uint16_t regLongExposure;
    uint16_t regBlackLevel;
    TableChoice<ResolutionEntry> resolution;
    TableChoice<PixelClockEntry> pixelClock;
    Limits analogGain;
    Limits exposure;
    Limits longExposure;
    Limits blackLevel;
    DepthLimits rawDepth;
    BodyLen bodyLen;
    GainMap gain;
    const Retime* retime = nullptr;  // null: the base re-timing
};

// One step of a model's construction or claim. Null or zero members leave
// what an earlier step set.
struct ModelRow {
    const char* displayName;  // null: the name stays
    int* counter;             // the instance counter the name takes its digit from
    const SensorRow* sensor;
    uint8_t saturationValue;  // 0: no colour settings built in this step
    uint8_t saturationTable;  // parameter the saturation table is built for
    int32_t packetLen;
    int32_t edgeInhibition = -1;  // edge-inhibition state, or -1 to keep
};

// Gain mappings, one per family of sensors.
uint16_t gainVA200(int g);
uint16_t gainVA131(int g);
uint16_t gainVA500(int g);
uint16_t gainVA300(int g);
uint16_t gainVA131M(int g);
uint16_t gainVA1K(int g);
uint16_t gainUnchanged(int g);

// A row chosen by the device release when the device is claimed, with the
// requests some cooled models send at that point.
struct ClaimRow {
    ReleaseList releases;
    const ModelRow* row;
    bool newHardwareRequest;  // request 0xb8, value 1, index 2
    bool coolerOnEdgeOff;     // cooler on, then edge inhibition off
    bool readTemperature;     // once, between the two
    const char* message = nullptr;  // the model's own line, logged at info level
};

// The first row whose releases hold this release (the last row should
// hold every release); rows must not be empty.
inline const ClaimRow& pickClaim(std::span<const ClaimRow> rows, uint16_t release) {
    for (const ClaimRow& row : rows)
        if (row.releases.contains(release)) return row;
    return rows.back();
}
