// The simulated sensor made physical, for checking calibration and sensor
// characterisation against a known truth: photo-electrons with shot noise,
// dark current growing with exposure and temperature, a full well, read
// noise, per-pixel offsets (DSNU) and responses (PRNU), hot pixels and a
// known conversion gain. The scene supplies the mean light; every sample
// then costs a few hashes and table lookups, several times the fast noise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device_profile.h"
#include "sim/scene.h"

namespace sim {

// What the sensor is; every value can be set through EZCAM_SIM_SENSOR or
// SimSetSensor as "key=value,..." (the keys in brackets).
struct SensorProperties {
    double k = 0.5;                // [k] DN per electron of the 12-bit converter at unity gain
    double readNoise = 4.0;        // [read] electrons rms
    double darkCurrent = 20.0;     // [dark] electrons per second at referenceCelsius
    double doublingCelsius = 6.0;  // [doubling] the dark current doubles every this many degrees
    double referenceCelsius = 25.0;  // [tref]
    double dsnu = 2.0;             // [dsnu] electrons rms of the pixels' own offsets
    double prnu = 0.01;            // [prnu] relative rms of the pixels' own responses
    double fullWell = 6000.0;      // [well] electrons
    double hotFraction = 1e-4;     // [hot] share of pixels with hotFactor times the dark current
    double hotFactor = 50.0;       // [hotfactor]
    double light = 1.0;            // [light] illumination relative to the scene's; 0: capped lens

    // Merges "key=value,key=value" into this properties. False, with the reason,
    // for an unknown key or a value out of its range (nothing is changed).
    bool merge(std::string_view text, std::string& error);
    // DN per electron of frames of `depth` bits (16-bit samples carry the
    // converter's 12 bits at the top) at a relative analog gain.
    double conversion(int depth, double gain) const;
    // Electrons per second of dark current at a temperature.
    double darkAt(double celsius) const;
};

// The settings of one frame the sensor needs beyond the scene's exposure.
struct SensorFrame {
    SensorProperties properties;
    double exposureSeconds = 0;
    double celsius = 25.0;
};

class PhysicalSensor {
  public:
    explicit PhysicalSensor(uint32_t seed);

    // Prepares `scene` for frame `frame` with the mean light in converter
    // units at unity gain, and this frame's settings.
    void prepare(Scene& scene, const Geometry& geometry, const Exposure& exposure,
                 const SensorFrame& settings, uint64_t frame);

    // Samples [first, first + count) of the prepared frame, as Scene::emit
    // writes them (the same frame in any pieces; black past the image).
    void emit(unsigned char* out, size_t first, size_t count, SampleOrder order,
              uint64_t noiseSeed) const;

  private:
    template <int Bytes>
    void emitSamples(unsigned char* out, size_t first, size_t count, SampleOrder order,
                     uint64_t noiseSeed) const;
    void rowSamples(int y, int x0, int x1, uint64_t noiseSeed, int32_t* levels) const;

    uint32_t seed_;
    const Scene* scene_ = nullptr;
    int depth_ = 8;
    // Per frame: electrons per converter unit of light, dark electrons of
    // a normal and a hot pixel, converter units per electron, black (12-bit).
    float electronsPerUnit_ = 0, dark_ = 0, hotDark_ = 0, dnPerElectron_ = 0, black_ = 0;
    float readNoise_ = 0, dsnu_ = 0, prnu_ = 0, fullWell_ = 0;
    uint32_t hotBelow_ = 0;  // a pixel is hot when 32 bits of its hash fall below this
    mutable std::vector<int32_t> row_;
};

}  // namespace sim
