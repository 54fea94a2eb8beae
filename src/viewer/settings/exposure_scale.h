// Exposure as people set it: a slider whose positions are spaced evenly in
// the logarithm of the exposure, and typed times in milliseconds or seconds.
#pragma once

#include <QString>
#include <optional>

namespace viewer {

// A camera's exposure range in milliseconds, as GetExposureRange reports it.
struct ExposureRange {
    float min = 0;
    float max = 0;
    float step = 0;
    bool usable() const { return step > 0 && max >= min; }
};

inline constexpr int kExposureSliderSteps = 1000;

// The slider position (0 .. kExposureSliderSteps) nearest to `ms`.
int exposureSliderPosition(const ExposureRange& range, double ms);
// The exposure at a slider position, on the camera's grid of steps.
float exposureAtSlider(const ExposureRange& range, int position);
// `ms` on the camera's grid of steps, within the range.
float snapExposure(const ExposureRange& range, double ms);

// A typed exposure: "250" and "250 ms" are milliseconds, "1.5 s" seconds,
// "800 us" microseconds, "2 min" minutes. Nothing for other text.
std::optional<double> parseExposure(const QString& text);

// "0.1 ms", "250 ms", "1.5 s": a duration as people read it.
QString durationText(double ms);

}  // namespace viewer
