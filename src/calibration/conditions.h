// The settings a raw frame was taken at, as far as calibration cares: what a
// master records in its header and what the library matches masters on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ezcam.h"

namespace calib {

// The kinds of master, numbered as the call surface numbers them.
enum class Kind : uint8_t { Dark = EZ_MASTER_DARK, Flat = EZ_MASTER_FLAT, Bias = EZ_MASTER_BIAS };
constexpr Kind kKinds[] = {Kind::Bias, Kind::Dark, Kind::Flat};
const char* kindName(Kind kind);  // "dark", "flat", "bias"
std::optional<Kind> kindNamed(std::string_view name);
std::optional<Kind> kindOf(int code);

struct Conditions {
    std::string model;   // the camera model's name, what masters are matched on
    std::string camera;  // the camera's own name (model and index); "" not known
    int release = 0;    // USB device release
    int width = 0;      // the frame as delivered
    int height = 0;
    int roiX = 0;  // its origin in the mode's whole frame
    int roiY = 0;
    int binX = 1;  // 0: a binned mode of unstated factor
    int binY = 1;
    int depth = 8;  // bits per sample
    int bayer = 0;  // Bayer code of the first sample, 0 monochrome
    std::string clock;  // the pixel clock's label
    int gain = 0;       // analog gain setting
    int black = 0;      // black level setting
    double exposureMs = 0;
    bool hasTemperature = false;
    double temperature = 0;  // degrees Celsius

    // The same camera model, frame geometry and sample depth: a master of
    // other geometry cannot be applied at all.
    bool sameGeometry(const Conditions& other) const;
    // Everything a frame's samples depend on but the temperature.
    bool sameSettings(const Conditions& other) const;
};

// The conditions of a frame the reader described.
Conditions conditionsOf(const EzFrameInfo& info, std::string model, int release,
                        std::string clock);

// "2592x1944 16-bit, gain 30, black 0, 20 ms, 25.0 C".
std::string describe(const Conditions& c);
// Milliseconds without trailing zeros: "20", "0.125".
std::string milliseconds(double ms);

}  // namespace calib
