// libFuzzer entry: the bytes of a parameter-set file applied to a camera of
// any model, as loading a set does after reading the file (no disk in the
// loop). A set of another length is refused; whatever a set of the right
// length holds, the camera must come out with every value inside its
// ranges.
//
// Input: product, release (pick), then the file's bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_device.h"

namespace {
// The checks on what GetExposureRange and the other range calls promise.
bool insideRanges(CamBayer& c) {
    float low = 0, high = 0, step = 0;
    c._exposure_range(&low, &high, &step);
    int gainMin = 0, gainMax = 0, gainStep = 0;
    c._analog_gain_range(&gainMin, &gainMax, &gainStep);
    bool region = false;
    c._roi_state(&region);
    int x = 0, y = 0, width = 0, height = 0;
    c._roi(&x, &y, &width, &height);
    const int gain = c._analog_gain();
    const bool regionFits =
        !region || (x + width <= c._resolution_width_at_index(c._resolution()) &&
                    y + height <= c._resolution_height_at_index(c._resolution()));
    return c._exposure() <= high * 1.0001f + 1e-3f && gain >= gainMin && gain <= gainMax &&
           c._flip() >= 0 && c._flip() <= 3 && c.pipeline().monochrome <= 1 &&
           c.pipeline().colorEnhancement <= 1 && c.stills().format >= 0 && c.stills().format <= 31 &&
           regionFits &&
           c._resolution() < c._resolution_count() && c._pixsclock() < c._pixsclock_count();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in(data, size);
    const size_t product = in.byte() % fuzzing::products().size();
    const uint16_t release = fuzzing::release(fuzzing::products()[product], in);
    fuzzing::Camera& camera = fuzzing::camera(product, release);
    const auto [bytes, count] = in.take(in.left());
    const int result = camera.object->applyParameterSet(bytes, count);
    if ((result == 0) != (count == 38)) __builtin_trap();
    if (!insideRanges(*camera.object)) __builtin_trap();
    return 0;
}
