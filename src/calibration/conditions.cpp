// Frame conditions: their kinds' names, comparison and description.
#include "calibration/conditions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace calib {

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Dark:
        return "dark";
    case Kind::Flat:
        return "flat";
    case Kind::Bias:
        return "bias";
    }
    return "?";
}

std::optional<Kind> kindNamed(std::string_view name) {
    for (Kind k : kKinds)
        if (name == kindName(k)) return k;
    return std::nullopt;
}

std::optional<Kind> kindOf(int code) {
    for (Kind k : kKinds)
        if (static_cast<int>(k) == code) return k;
    return std::nullopt;
}

bool Conditions::sameGeometry(const Conditions& o) const {
    return model == o.model && release == o.release && width == o.width && height == o.height &&
           roiX == o.roiX && roiY == o.roiY && binX == o.binX && binY == o.binY &&
           depth == o.depth && bayer == o.bayer;
}

bool Conditions::sameSettings(const Conditions& o) const {
    return sameGeometry(o) && clock == o.clock && gain == o.gain && black == o.black &&
           std::fabs(exposureMs - o.exposureMs) <= 1e-3 * std::max(1.0, exposureMs);
}

Conditions conditionsOf(const EzFrameInfo& info, std::string model, int release,
                        std::string clock) {
    Conditions c;
    c.model = std::move(model);
    c.release = release;
    c.width = info.width;
    c.height = info.height;
    c.roiX = info.roi_x;
    c.roiY = info.roi_y;
    c.binX = info.x_binning;
    c.binY = info.y_binning;
    c.depth = info.depth;
    c.bayer = info.bayer;
    c.clock = std::move(clock);
    c.gain = info.analog_gain;
    c.black = info.black_level;
    c.exposureMs = info.exposure_ms;
    c.hasTemperature = info.has_temperature != 0;
    c.temperature = info.temperature;
    return c;
}

std::string milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", ms);
    std::string s = text;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

std::string describe(const Conditions& c) {
    char text[160];
    std::snprintf(text, sizeof text, "%dx%d %d-bit, gain %d, black %d, %s ms", c.width, c.height,
                  c.depth, c.gain, c.black, milliseconds(c.exposureMs).c_str());
    std::string s = text;
    if (c.hasTemperature) {
        std::snprintf(text, sizeof text, ", %.1f C", c.temperature);
        s += text;
    }
    return s;
}

}  // namespace calib
