// Frame pipeline: raw frame to finished image, the processing settings and
// their tone and colour passes.
//
// Threads: setters run on the caller's thread, frames on the grab or show
// thread. A setter builds its table into lut2 and hands it over (shared_state.h);
// a frame takes every staged table over at its start and from then on reads
// only its live tables and live keys, and switch bytes read once. No setting
// ever makes a frame wait.
#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "CamBayer.h"
#include "processing/decode.h"
#include "processing/geometry.h"
#include "processing/pattern_filter.h"
#include "processing/pixels.h"
#include "processing/tone.h"

namespace {

// Values at which a step changes nothing and is skipped.
constexpr int kNeutralGamma = 100;
constexpr int kNeutralContrast = 128;
constexpr int kNeutralGain = 64;
constexpr int kNeutralSaturation = 100;

constexpr size_t kTableBytes = 256;
constexpr size_t kSaturationBytes = 256 * 256;

// Calls f(std::bool_constant<b>...) with each runtime flag as a compile-time
// constant: every combination is its own loop, chosen once per frame.
template <typename F>
void withFlags(F&& f) {
    f();
}
template <typename F, typename... Rest>
void withFlags(F&& f, bool first, Rest... rest) {
    if (first)
        withFlags([&](auto... more) { f(std::true_type{}, more...); }, rest...);
    else
        withFlags([&](auto... more) { f(std::false_type{}, more...); }, rest...);
}

// Runs fn(first sample, count) over the first `total` units of an image in
// memory order, units being samples or pixels of `unitBytes` bytes, a row
// at a time (or all at once when the rows are packed).
template <typename F>
void eachRun(_ezImage* image, size_t unitsPerRow, size_t unitBytes, size_t total, F&& fn) {
    if (image->stride == unitsPerRow * unitBytes) {
        fn(image->data, total);
        return;
    }
    for (size_t y = 0; total > 0 && y < image->height; ++y) {
        const size_t count = std::min(unitsPerRow, total);
        fn(pixels::row(image, y), count);
        total -= count;
    }
}

// Everything but the last two pixels of the frame, which the passes leave
// as decoded.
size_t allButLastTwo(const _ezImage* image) {
    const size_t n = static_cast<size_t>(image->width) * image->height;
    return n > 2 ? n - 2 : 0;
}

// ---- Monochrome tone --------------------------------------------------------

// The tone of a grey sample. 8-bit: contrast, then gamma. 16-bit: the high
// byte gamma, then contrast; the low byte contrast only. A step whose
// setting is neutral is left out.
template <bool Gamma, bool Contrast>
struct GreyTone {
    const unsigned char* gamma;
    const unsigned char* contrast;
    unsigned byte(unsigned v) const {
        if constexpr (Contrast) v = contrast[v];
        if constexpr (Gamma) v = gamma[v];
        return v;
    }
    unsigned high(unsigned v) const {
        if constexpr (Gamma) v = gamma[v];
        if constexpr (Contrast) v = contrast[v];
        return v;
    }
    unsigned low(unsigned v) const {
        if constexpr (Contrast) v = contrast[v];
        return v;
    }
};

template <bool Wide, typename Tone>
void greySamples(unsigned char* __restrict p, size_t samples, const Tone& tone) {
    if constexpr (Wide) {
        for (size_t i = 0; i < samples; ++i, p += 2) {
            p[0] = static_cast<unsigned char>(tone.low(p[0]));
            p[1] = static_cast<unsigned char>(tone.high(p[1]));
        }
    } else {
        for (size_t i = 0; i < samples; ++i) p[i] = static_cast<unsigned char>(tone.byte(p[i]));
    }
}

// Grey view of a colour image: the green sample, toned, in all three channels.
template <bool Wide, typename Tone>
void greyView(unsigned char* __restrict p, size_t pixels, const Tone& tone) {
    if constexpr (Wide) {
        for (size_t i = 0; i < pixels; ++i, p += 6) {
            const auto low = static_cast<unsigned char>(tone.low(p[2]));
            const auto high = static_cast<unsigned char>(tone.high(p[3]));
            p[0] = p[2] = p[4] = low;
            p[1] = p[3] = p[5] = high;
        }
    } else {
        for (size_t i = 0; i < pixels; ++i, p += 3)
            p[0] = p[1] = p[2] = static_cast<unsigned char>(tone.byte(p[1]));
    }
}

// ---- Colour pass -----------------------------------------------------------

// The steps of the colour pass as at most three lookups per sample: the
// steps on either side of saturation are composed into one table per
// channel when the frame starts (every step is a function of the sample
// alone; only saturation also looks at the green).
struct ColourTables {
    const unsigned char* before[3];   // gain, when saturation follows
    const unsigned char* saturation;  // row = green reference, column = value
    const unsigned char* after[3];    // the enabled steps after saturation (all, without it)
    const unsigned char* low[3];      // 16-bit low bytes: gain and contrast
};

// Gain, saturation (around the green after gain), gamma, contrast, each
// only when enabled. 16-bit samples: the high byte takes every step, the low
// byte gain and contrast only.
template <bool Wide, bool Gain, bool Saturation, bool Gamma, bool Contrast>
void colourPixels(unsigned char* __restrict p, size_t pixels, const ColourTables& t) {
    constexpr bool kBefore = Saturation && Gain;
    constexpr bool kAfter = Gamma || Contrast || (Gain && !Saturation);
    constexpr bool kLow = Wide && (Gain || Contrast);
    const unsigned char *b0 = t.before[0], *b1 = t.before[1], *b2 = t.before[2];
    const unsigned char *a0 = t.after[0], *a1 = t.after[1], *a2 = t.after[2];
    const unsigned char *w0 = t.low[0], *w1 = t.low[1], *w2 = t.low[2];
    const unsigned char* sat = t.saturation;
    constexpr size_t kHigh = Wide ? 1 : 0;
    constexpr size_t kStep = Wide ? 2 : 1;
    for (size_t i = 0; i < pixels; ++i, p += 3 * kStep) {
        unsigned c0 = p[kHigh], c1 = p[kStep + kHigh], c2 = p[2 * kStep + kHigh];
        if constexpr (kBefore) c0 = b0[c0], c1 = b1[c1], c2 = b2[c2];
        if constexpr (Saturation) {
            const unsigned char* row = sat + (size_t{c1} << 8);
            c0 = row[c0], c2 = row[c2], c1 = row[c1];
        }
        if constexpr (kAfter) c0 = a0[c0], c1 = a1[c1], c2 = a2[c2];
        p[kHigh] = static_cast<unsigned char>(c0);
        p[kStep + kHigh] = static_cast<unsigned char>(c1);
        p[2 * kStep + kHigh] = static_cast<unsigned char>(c2);
        if constexpr (kLow) p[0] = w0[p[0]], p[2] = w1[p[2]], p[4] = w2[p[4]];
    }
}

// out[v] = the steps applied to v in order (null steps are skipped).
void compose(unsigned char* out, std::initializer_list<const unsigned char*> steps) {
    for (int v = 0; v < 256; ++v) {
        unsigned x = static_cast<unsigned>(v);
        for (const unsigned char* step : steps)
            if (step) x = step[x];
        out[v] = static_cast<unsigned char>(x);
    }
}

// ---- Stretch ----------------------------------------------------------------

// One 256-entry table per channel on the 8-bit value of every sample (the
// high byte of 16-bit ones).
template <size_t Channels, size_t Bps>
void stretchSamples(unsigned char* __restrict p, size_t pixels,
                    const unsigned char* const* tables) {
    const unsigned char* t0 = tables[0];
    const unsigned char* t1 = tables[Channels > 1 ? 1 : 0];
    const unsigned char* t2 = tables[Channels > 2 ? 2 : 0];
    p += Bps - 1;
    for (size_t i = 0; i < pixels; ++i, p += Channels * Bps) {
        p[0] = t0[p[0]];
        if constexpr (Channels == 3) {
            p[Bps] = t1[p[Bps]];
            p[2 * Bps] = t2[p[2 * Bps]];
        }
    }
}

int32_t histogramValue(const _ezImage* image, int block, int index) {
    int32_t v = 0;
    std::memcpy(&v, image->extra + (static_cast<size_t>(block) * kHistogramBlock + index) * 4, 4);
    return v;
}

}  // namespace

// ---- Settings whose setters rebuild a staged table ----------------------

void CamBayer::_set_gamma(int value) {
    // Any value the record can hold; gamma 0 would have no exponent.
    const int v = std::clamp(value, 1, 255);
    const int count = channels == 1 ? 1 : 3;
    for (int c = 0; c < count; ++c) {
        gamma[c].stage({static_cast<uint8_t>(v)},
                       [v](unsigned char* t) { __matrix_gamma(v, t, 256); });
        gamma[c].value = static_cast<uint8_t>(v);
    }
}

int CamBayer::_set_gamma(int value, int channel) {
    if (channel < 0 || channel > 2) return -2;
    SoftWareValue& setting = gamma[channels == 1 ? 0 : channel];
    if (value < setting.min || value > setting.max || value == setting.value) return 0;
    setting.stage({static_cast<uint8_t>(value)},
                  [value](unsigned char* t) { __matrix_gamma(value, t, 256); });
    setting.value = static_cast<uint8_t>(value);
    return 0;
}

void CamBayer::_set_contrast(int value) {
    const int v = std::clamp(value, 0, 255);  // what the record can hold
    contrast.stage({static_cast<uint8_t>(v)},
                   [v](unsigned char* t) { __matrix_contrast(v, t, 256); });
    contrast.value = static_cast<uint8_t>(v);
}

void CamBayer::_set_saturation(int value) {
    SoftWareValue& s = saturation;
    if (!s.supported || value < s.min || value > s.max || value == s.value) return;
    s.stage({static_cast<uint8_t>(value)},
            [value](unsigned char* t) { __matrix_saturation(value, t, 256); });
    s.value = static_cast<uint8_t>(value);
}

void CamBayer::_set_digital_gain(int gain0, int gain1, int gain2) {
    if (!digitalGain[0].supported) return;
    const int gains[3] = {gain0, gain1, gain2};
    for (int c = 0; c < 3; ++c) {
        SoftWareValue& g = digitalGain[c];
        const int v = gains[c];
        if (v == g.value || v < g.min || v > g.max) continue;
        g.stage({static_cast<uint8_t>(v)}, [v](unsigned char* t) { __matrix_channel(v, t, 256); });
        g.value = static_cast<uint8_t>(v);
    }
}

// Every channel of the camera; -2 when the bounds are refused.
int CamBayer::_set_stretch(int low, int high, bool automatic) {
    int result = 0;
    const int count = channels == 1 ? 1 : 3;
    for (int c = 0; c < count; ++c)
        if (_set_stretch(low, high, automatic, c) != 0) result = -2;
    return result;
}

int CamBayer::_set_stretch(int low, int high, bool automatic, int channel) {
    if (channel < 0 || channel > 2) return -2;
    SoftWareValue& s = stretch[channels == 1 ? 0 : channel];
    if (automatic) {
        shared::store(s.value, 1);
        return 0;
    }
    shared::store(s.value, 0);
    // Refused bounds re-issue the stored ones, so the automatic table the
    // frame may hold is replaced either way.
    const bool refused = low < 0 || high > 255 || low >= high;
    const int lo = refused ? s.min : low;
    const int hi = refused ? s.max : high;
    s.stage({0, static_cast<uint8_t>(lo), static_cast<uint8_t>(hi)},
            [lo, hi](unsigned char* t) { __matrix_stretch(lo, hi, t, 256); });
    if (refused) return -2;
    s.min = static_cast<uint8_t>(lo);
    s.max = static_cast<uint8_t>(hi);
    return 0;
}

// ---- Reading the settings --------------------------------------------------

namespace {
int reportRange(const SoftWareValue& setting, int* min, int* max, int* step) {
    if (min) *min = setting.min;
    if (max) *max = setting.max;
    if (step) *step = setting.step;
    return 0;
}
}  // namespace

int CamBayer::_gamma() {
    return gamma[0].value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step) {
    return reportRange(gamma[0], min, max, step);
}
int CamBayer::_gamma(int channel) {
    if (channel < 0 || channel > 2) return -2;
    return gamma[channels == 1 ? 0 : channel].value;
}
int CamBayer::_gamma_range(int* min, int* max, int* step, int channel) {
    if (channel < 0 || channel > 2) return -2;
    return reportRange(gamma[channels == 1 ? 0 : channel], min, max, step);
}
int CamBayer::_contrast() {
    return contrast.value;
}
int CamBayer::_contrast_range(int* min, int* max, int* step) {
    return reportRange(contrast, min, max, step);
}
int CamBayer::_saturation() {
    return saturation.supported ? saturation.value : -4;
}
int CamBayer::_saturation_range(int* min, int* max, int* step) {
    return saturation.supported ? reportRange(saturation, min, max, step) : -4;
}
int CamBayer::_digital_gain(int* gain0, int* gain1, int* gain2) {
    if (!digitalGain[0].supported) return -4;
    if (gain0) *gain0 = digitalGain[0].value;
    if (gain1) *gain1 = digitalGain[1].value;
    if (gain2) *gain2 = digitalGain[2].value;
    return 0;
}
int CamBayer::_digital_gain_range(int* min, int* max, int* step) {
    return digitalGain[0].supported ? reportRange(digitalGain[0], min, max, step) : -4;
}
int CamBayer::_stretch(int* low, int* high, bool* automatic) {
    return _stretch(low, high, automatic, 0);
}
int CamBayer::_stretch(int* low, int* high, bool* automatic, int channel) {
    if (channel < 0 || channel > 2) return -2;
    const SoftWareValue& setting = stretch[channels == 1 ? 0 : channel];
    if (low) *low = setting.min;
    if (high) *high = setting.max;
    if (automatic) *automatic = setting.value != 0;
    return 0;
}
int CamBayer::_stretch_range(int* min, int* max, int* step) {
    return _stretch_range(min, max, step, 0);
}
int CamBayer::_stretch_range(int* min, int* max, int* step, int channel) {
    if (channel < 0 || channel > 2) return -2;
    if (min) *min = 0;
    if (max) *max = 255;
    if (step) *step = 1;
    return 0;
}

// ---- Plain switches, read once per frame -----------------------------------------

void CamBayer::_set_flip(int code) {
    shared::store(flip, code);
}
int CamBayer::_flip() {
    return flip;
}
void CamBayer::_set_rotate(int code) {
    shared::store(rotate, code);
}
int CamBayer::_rotate() {
    return rotate;
}
// Grey view and colour enhancement exist on colour cameras only.
void CamBayer::_set_monochrome(bool on) {
    if (saturation.supported) shared::store(monochrome, on);
}
int CamBayer::_monochrome(bool* on) {
    if (!saturation.supported) return -4;
    if (on) *on = monochrome != 0;
    return 0;
}
void CamBayer::_set_color_enhancement(bool on) {
    if (saturation.supported) shared::store(colorEnhancement, on);
}
int CamBayer::_color_enhancement(bool* on) {
    if (!saturation.supported) return -4;
    if (on) *on = colorEnhancement != 0;
    return 0;
}
void CamBayer::_set_histogram(bool on) {
    shared::store(histogramOn, on);
}
int CamBayer::_histogram(bool* on) {
    if (on) *on = histogramOn != 0;
    return 0;
}

// ---- The pipeline -----------------------------------------------------------------

int CamBayer::_raw2image(unsigned char* rawBuffer, unsigned char* imageBuffer, bool crop) {
    if (shared::load(state) == 3) return -1;
    if (!rawBuffer || !imageBuffer || rawBuffer == imageBuffer) return -2;
    auto* raw = reinterpret_cast<_ezImage*>(rawBuffer);
    auto* image = reinterpret_cast<_ezImage*>(imageBuffer);
    {
        auto frame = lockFrame();
        takeOverTables();
        const int depth = raw->depth;
        if (depth != 8 && depth != 16) return -2;
        const int width = raw->width;
        const int height = raw->height;
        const int header = raw->header_size;
        const int outChannels = channels == 1 ? 1 : 3;
        // The image's pixels start where the raw frame's do: never inside the
        // record. Its rows must be describable by the 16-bit stride.
        if (header < static_cast<int>(sizeof(_ezImage)) ||
            width * outChannels * (depth / 8) > UINT16_MAX)
            return -2;
        ezInitImageHeader(raw, width, height, 1, depth, header, rawBuffer + header, raw->resolution,
                          raw->decoded);
        ezInitImageHeader(image, width, height, outChannels, depth, header, imageBuffer + header,
                          raw->resolution, raw->decoded);
        if (finishRule.decode == FinishRule::PatternMedian) {
            __pattern_filter(raw, image);
            __smooth(image, 1);
        } else if (shared::load(colorEnhancement)) {
            __decode_rawdata(raw, image, bayerPattern);
        } else {
            __decode_rawdatafast(raw, image, bayerPattern);
        }
        const bool cut = finishRule.border == FinishRule::Always ||
                         (finishRule.border == FinishRule::AsAsked && crop);
        if (cut) __roi(image, 4, 4, width - 8, height - 8);
        finishImage(image);
    }
    serveStill(raw, image);
    return 0;
}

void CamBayer::takeOverTables() {
    _swap_software(&gamma[0], kTableBytes);
    _swap_software(&contrast, kTableBytes);
    _swap_software(&stretch[0], kTableBytes);
    if (!saturation.supported) return;
    _swap_software(&saturation, kSaturationBytes);
    for (SoftWareValue& gain : digitalGain) _swap_software(&gain, kTableBytes);
    for (int c = 1; c < 3; ++c) {
        _swap_software(&stretch[c], kTableBytes);
        _swap_software(&gamma[c], kTableBytes);
    }
}

void CamBayer::finishImage(_ezImage* image) {
    if (shared::load(flatFieldOn)) _image_fladfield(image);
    __rotate(image, shared::load(rotate));
    if (finishRule.softwareFlip) __flip(image, shared::load(flip));
    tonePass(image);
    stretchStep(image);
}

void CamBayer::tonePass(_ezImage* image) {
    if (bayerPattern == 0)
        _gray_image_process(image);
    else if (shared::load(monochrome))
        _mono_image_process(image);
    else
        _colr_image_process(image);
}

// Histogram and stretch. Automatic channels take their bounds from this
// frame's histogram, which is measured whenever one of them is automatic.
void CamBayer::stretchStep(_ezImage* image) {
    bool automatic[3];
    for (int c = 0; c < 3; ++c) {
        automatic[c] = shared::load(stretch[c].value) != 0;
        stretch[c].live.value = automatic[c] ? 1 : 0;
    }
    const bool all = automatic[0] && automatic[1] && automatic[2];
    const bool any = automatic[0] || automatic[1] || automatic[2];
    const bool measured = (shared::load(histogramOn) || any) && __calc_histogram(image) == 0;
    const auto rebuild = [&](int c, int block) {
        const int low = std::clamp(histogramValue(image, block, kHistogramLow), 0, 255);
        const int high = std::clamp(histogramValue(image, block, kHistogramHigh), 0, 255);
        __matrix_stretch(low, high, stretch[c].lut, 256);
        stretch[c].live.low = static_cast<uint8_t>(low);
        stretch[c].live.high = static_cast<uint8_t>(high);
    };
    if (any && measured) {
        if (all) {
            for (int c = 0; c < 3; ++c) rebuild(c, 0);
        } else {
            const int count = std::min<int>(image->channels, 3);
            for (int c = 0; c < count; ++c)
                if (automatic[c]) rebuild(c, count == 3 ? c + 1 : 0);
        }
        _image_stretch(image);
        return;
    }
    for (const SoftWareValue& s : stretch)
        if (s.live.low != 0 || s.live.high != 255) {
            _image_stretch(image);
            return;
        }
}

void CamBayer::serveStill(_ezImage* raw, _ezImage* image) {
    if (!shared::load(snapRequest, std::memory_order_acquire)) return;
    auto settings = lockSettings();
    // The snap size counts the border the frame carries, where it has one.
    const int margin = finishRule.border == FinishRule::None ? 0 : 8;
    if (!snapRequest || raw->resolution != resolution.value || image->width != snapWidth - margin ||
        image->height != snapHeight - margin)
        return;
    writeStillFiles(raw, image, snapFormat, snapPath);
    setSnapRequest(false);
    if (snapResolution != resolution.value) _set_resolution(snapResolution, false);
}

// ---- Pipeline stages -------------------------------------------------------------

int CamBayer::_gray_image_process(_ezImage* image) {
    if (!pixels::usable(image) || image->channels != 1) return -2;
    const bool useGamma = gamma[0].live.value != kNeutralGamma;
    const bool useContrast = contrast.live.value != kNeutralContrast;
    if (!useGamma && !useContrast) return 0;
    const bool wide = image->depth == 16;
    withFlags(
        [&](auto wideFlag, auto gammaFlag, auto contrastFlag) {
            constexpr bool kWide = decltype(wideFlag)::value;
            const GreyTone<decltype(gammaFlag)::value, decltype(contrastFlag)::value> tone{
                gamma[0].lut, contrast.lut};
            eachRun(image, image->width, image->depth / 8, allButLastTwo(image),
                    [&](unsigned char* p, size_t n) { greySamples<kWide>(p, n, tone); });
        },
        wide, useGamma, useContrast);
    return 0;
}

int CamBayer::_mono_image_process(_ezImage* image) {
    if (!pixels::usable(image) || image->channels != 3) return -2;
    const bool useGamma = gamma[0].live.value != kNeutralGamma;
    const bool useContrast = contrast.live.value != kNeutralContrast;
    const bool wide = image->depth == 16;
    withFlags(
        [&](auto wideFlag, auto gammaFlag, auto contrastFlag) {
            constexpr bool kWide = decltype(wideFlag)::value;
            const GreyTone<decltype(gammaFlag)::value, decltype(contrastFlag)::value> tone{
                gamma[0].lut, contrast.lut};
            eachRun(image, image->width, 3 * (image->depth / 8), allButLastTwo(image),
                    [&](unsigned char* p, size_t n) { greyView<kWide>(p, n, tone); });
        },
        wide, useGamma, useContrast);
    return 0;
}

int CamBayer::_colr_image_process(_ezImage* image) {
    if (!pixels::usable(image) || image->channels != 3) return -2;
    const bool colour = saturation.supported && digitalGain[0].supported;
    const bool useGain = colour && (digitalGain[0].live.value != kNeutralGain ||
                                    digitalGain[1].live.value != kNeutralGain ||
                                    digitalGain[2].live.value != kNeutralGain);
    const bool useSaturation = colour && saturation.live.value != kNeutralSaturation;
    const bool useGamma = gamma[0].live.value != kNeutralGamma ||
                          gamma[1].live.value != kNeutralGamma ||
                          gamma[2].live.value != kNeutralGamma;
    const bool useContrast = contrast.live.value != kNeutralContrast;
    if (!useGain && !useSaturation && !useGamma && !useContrast) return 0;
    // Per frame: the composed tables (three channels x 256 entries each).
    unsigned char after[3][256], low[3][256];
    ColourTables tables{};
    tables.saturation = saturation.lut;
    for (int k = 0; k < 3; ++k) {
        const unsigned char* gain = useGain ? digitalGain[k].lut : nullptr;
        const unsigned char* con = useContrast ? contrast.lut : nullptr;
        tables.before[k] = gain;
        compose(after[k], {useSaturation ? nullptr : gain, useGamma ? gamma[k].lut : nullptr, con});
        compose(low[k], {gain, con});
        tables.after[k] = after[k];
        tables.low[k] = low[k];
    }
    withFlags(
        [&](auto wide, auto gain, auto sat, auto gam, auto con) {
            constexpr auto kLoop =
                &colourPixels<decltype(wide)::value, decltype(gain)::value, decltype(sat)::value,
                              decltype(gam)::value, decltype(con)::value>;
            eachRun(image, image->width, 3 * (image->depth / 8), allButLastTwo(image),
                    [&](unsigned char* p, size_t n) { kLoop(p, n, tables); });
        },
        image->depth == 16, useGain, useSaturation, useGamma, useContrast);
    return 0;
}

void CamBayer::_image_stretch(_ezImage* image) {
    if (!pixels::usable(image)) return;
    const size_t pixels = static_cast<size_t>(image->width) * image->height;
    const size_t bps = image->depth / 8;
    if (image->channels == 3) {
        const unsigned char* tables[3] = {stretch[0].lut, stretch[1].lut, stretch[2].lut};
        eachRun(image, image->width, 3 * bps, pixels, [&](unsigned char* p, size_t n) {
            bps == 1 ? stretchSamples<3, 1>(p, n, tables) : stretchSamples<3, 2>(p, n, tables);
        });
        return;
    }
    if (image->channels != 1) return;
    const unsigned char* table = stretch[0].lut;
    if (bps == 1 || stretch[0].live.value) {
        eachRun(image, image->width, bps, pixels, [&](unsigned char* p, size_t n) {
            bps == 1 ? stretchSamples<1, 1>(p, n, &table) : stretchSamples<1, 2>(p, n, &table);
        });
        return;
    }
    // Manual bounds on 16-bit samples: a 12-bit ramp between 16 x low and
    // 16 x high, so that the stretch keeps more than the high byte.
    const int low = 16 * stretch[0].live.low;
    const int high = 16 * stretch[0].live.high;
    uint16_t ramp[4096];
    for (int k = 0; k < 4096; ++k)
        ramp[k] = static_cast<uint16_t>(16 * (k < low     ? 0
                                              : k >= high ? 4095
                                                          : 4095 * (k - low) / (high - low)));
    eachRun(image, image->width, 2, pixels, [&](unsigned char* p, size_t n) {
        for (size_t i = 0; i < n; ++i, p += 2) pixels::store16(p, ramp[pixels::load16(p) >> 4]);
    });
}

void CamBayer::_init_save_image(_ezImage* image) {
    if (!image) return;
    image->bayer = static_cast<uint8_t>(bayerPattern);
    const PixelClockEntry* clock = clockEntry(pixelClock.value);
    image->pixel_clock = clock ? clock->mode : 0;
    image->analog_gain = analogGain.value;
    image->black_level = blackLevel.value;
    image->idproduct = idProduct;
    image->idvendor = idVendor;
    image->bcddevice = bcdDevice;
}
