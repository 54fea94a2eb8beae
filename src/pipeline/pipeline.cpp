// Frame pipeline: the order of the steps, the tone and colour passes, the
// stretch, the settings' setters and their tables.
#include "pipeline/pipeline.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <type_traits>

#include "processing/decode.h"
#include "processing/geometry.h"
#include "processing/kernel_set.h"
#include "processing/pixels.h"
#include "processing/tone.h"
#include "processing/tone_kernels.h"
#include "processing/bayer.h"

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

// Gain, saturation (around the green after gain), gamma, contrast and a
// manual stretch folded in, each only when enabled: Before, the gain ahead
// of saturation; After, the composed steps behind it; Low, the 16-bit low
// bytes' table. 16-bit samples: the high byte takes every step, the low byte
// gain and contrast only.
template <bool Wide, bool Before, bool Saturation, bool After, bool Low>
void colourPixels(unsigned char* __restrict p, size_t pixels, const ColourTables& t) {
    const unsigned char *b0 = t.before[0], *b1 = t.before[1], *b2 = t.before[2];
    const unsigned char *a0 = t.after[0], *a1 = t.after[1], *a2 = t.after[2];
    const unsigned char *w0 = t.low[0], *w1 = t.low[1], *w2 = t.low[2];
    const unsigned char* sat = t.saturation;
    constexpr size_t kHigh = Wide ? 1 : 0;
    constexpr size_t kStep = Wide ? 2 : 1;
    for (size_t i = 0; i < pixels; ++i, p += 3 * kStep) {
        unsigned c0 = p[kHigh], c1 = p[kStep + kHigh], c2 = p[2 * kStep + kHigh];
        if constexpr (Before) c0 = b0[c0], c1 = b1[c1], c2 = b2[c2];
        if constexpr (Saturation) {
            const unsigned char* row = sat + (size_t{c1} << 8);
            c0 = row[c0], c2 = row[c2], c1 = row[c1];
        }
        if constexpr (After) c0 = a0[c0], c1 = a1[c1], c2 = a2[c2];
        p[kHigh] = static_cast<unsigned char>(c0);
        p[kStep + kHigh] = static_cast<unsigned char>(c1);
        p[2 * kStep + kHigh] = static_cast<unsigned char>(c2);
        if constexpr (Low) p[0] = w0[p[0]], p[2] = w1[p[2]], p[4] = w2[p[4]];
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
// high byte of 16-bit ones). 8-bit samples, and 16-bit ones of three
// channels, go through the vector kernel in whole blocks where the
// processor has one.
template <size_t Channels, size_t Bps>
void stretchSamples(unsigned char* __restrict p, size_t pixels,
                    const unsigned char* const* tables) {
    if constexpr (Bps == 1 || Channels == 3) {
        if (const tone::TableBlocks vector =
                Bps == 1 ? tone::tableBlocks() : tone::tableWideBlocks()) {
            const size_t blocks = pixels / tone::kBlockPixels;
            vector(p, blocks, static_cast<int>(Channels), tables);
            p += blocks * tone::kBlockPixels * Channels * Bps;
            pixels -= blocks * tone::kBlockPixels;
        }
    }
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

using bayer::kRowPatterns;
using bayer::RowPattern;

// row[j] = from[width - 1 - j], pixels of `bytes` bytes.
void mirrorRow(unsigned char* row, const unsigned char* from, int width, size_t bytes) {
    const unsigned char* p = from + (static_cast<size_t>(width) - 1) * bytes;
    for (int j = 0; j < width; ++j, row += bytes, p -= bytes) std::memcpy(row, p, bytes);
}

int32_t histogramValue(const _ezImage* image, int block, int index) {
    int32_t v = 0;
    std::memcpy(&v, image->extra + (static_cast<size_t>(block) * kHistogramBlock + index) * 4, 4);
    return v;
}

}  // namespace

// ---- Records and their hand-over -------------------------------------------

void SoftWareValue::allocate(size_t count) {
    block = std::make_unique<unsigned char[]>(2 * count);
    lut = block.get();
    lut2 = block.get() + count;
    entries = count;
}

bool SoftWareValue::takeOver(size_t bytes) {
    if (!shared::claimCopy(changed)) return false;
    if (lut && lut2) std::memcpy(lut, lut2, std::min(bytes, entries));
    live = staged;
    shared::finishCopy(changed);
    return true;
}

namespace {
// A record whose two tables both hold build(value).
void defineTable(SoftWareValue& s, uint8_t value, uint8_t min, uint8_t max, bool supported,
                 size_t entries, void (*build)(int, unsigned char*, int), int buildValue) {
    s.define(value, min, max, 1, supported);
    s.allocate(entries);
    build(buildValue, s.lut, 256);
    build(buildValue, s.lut2, 256);
}
void buildStretch(int, unsigned char* t, int n) {
    __matrix_stretch(0, 255, t, n);
}
}  // namespace

FramePipeline::FramePipeline() {
    defineTable(contrast, kNeutralContrast, 0, 255, true, kTableBytes, __matrix_contrast,
                kNeutralContrast);
    for (int c = 0; c < 3; ++c) {
        defineTable(stretch[c], 0, 0, 255, true, kTableBytes, buildStretch, 0);
        defineTable(gamma[c], kNeutralGamma, 20, 150, true, kTableBytes, __matrix_gamma,
                    kNeutralGamma);
    }
}

void FramePipeline::enableColour(int saturationValue, int saturationTable) {
    defineTable(saturation, static_cast<uint8_t>(saturationValue), 0, 255, true, kSaturationBytes,
                __matrix_saturation, saturationTable);
    for (SoftWareValue& gain : digitalGain)
        defineTable(gain, kNeutralGain, 16, 240, true, kTableBytes, __matrix_channel, kNeutralGain);
}

// ---- Settings whose setters rebuild a staged table ----------------------

void FramePipeline::setGamma(int value, int channels) {
    // Any value the record can hold; gamma 0 would have no exponent.
    const int v = std::clamp(value, 1, 255);
    const int count = channels == 1 ? 1 : 3;
    for (int c = 0; c < count; ++c) {
        gamma[c].stage({static_cast<uint8_t>(v)},
                       [v](unsigned char* t) { __matrix_gamma(v, t, 256); });
        gamma[c].value = static_cast<uint8_t>(v);
    }
}

int FramePipeline::setGamma(int value, int channel, int channels) {
    if (channel < 0 || channel > 2) return EZ_ERANGE;
    SoftWareValue& setting = gammaOf(channel, channels);
    if (value < setting.min || value > setting.max || value == setting.value) return EZ_OK;
    setting.stage({static_cast<uint8_t>(value)},
                  [value](unsigned char* t) { __matrix_gamma(value, t, 256); });
    setting.value = static_cast<uint8_t>(value);
    return EZ_OK;
}

void FramePipeline::setContrast(int value) {
    const int v = std::clamp(value, 0, 255);  // what the record can hold
    contrast.stage({static_cast<uint8_t>(v)},
                   [v](unsigned char* t) { __matrix_contrast(v, t, 256); });
    contrast.value = static_cast<uint8_t>(v);
}

void FramePipeline::setSaturation(int value) {
    SoftWareValue& s = saturation;
    if (!s.supported || value < s.min || value > s.max || value == s.value) return;
    s.stage({static_cast<uint8_t>(value)},
            [value](unsigned char* t) { __matrix_saturation(value, t, 256); });
    s.value = static_cast<uint8_t>(value);
}

void FramePipeline::setDigitalGain(int gain0, int gain1, int gain2) {
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

int FramePipeline::setStretch(int low, int high, bool automatic, int channels) {
    int result = 0;
    const int count = channels == 1 ? 1 : 3;
    for (int c = 0; c < count; ++c)
        if (setStretch(low, high, automatic, c, channels) != 0) result = -2;
    return result;
}

int FramePipeline::setStretch(int low, int high, bool automatic, int channel, int channels) {
    if (channel < 0 || channel > 2) return EZ_ERANGE;
    SoftWareValue& s = stretchOf(channel, channels);
    if (automatic) {
        shared::store(s.value, 1);
        return EZ_OK;
    }
    shared::store(s.value, 0);
    // Refused bounds re-issue the stored ones, so the automatic table the
    // frame may hold is replaced either way.
    const bool refused = low < 0 || high > 255 || low >= high;
    const int lo = refused ? s.min : low;
    const int hi = refused ? s.max : high;
    s.stage({0, static_cast<uint8_t>(lo), static_cast<uint8_t>(hi)},
            [lo, hi](unsigned char* t) { __matrix_stretch(lo, hi, t, 256); });
    if (refused) return EZ_ERANGE;
    s.min = static_cast<uint8_t>(lo);
    s.max = static_cast<uint8_t>(hi);
    return EZ_OK;
}

// The tone pass a frame runs: one specialised loop over runs of units
// (samples or pixels), chosen once, and the tables it reads.
//
// With counters, the loop also counts the units it toned into the frame's
// histogram while they are in the cache.
struct FramePipeline::TonePlan {
    void (*loop)(unsigned char* p, size_t units, const TonePlan& plan,
                 HistogramCounters* counts) = nullptr;  // null: none
    size_t unitBytes = 0;
    const unsigned char* gamma = nullptr;
    const unsigned char* contrast = nullptr;
    ColourTables tables{};
    unsigned char after[3][256], low[3][256];
    // Colour: the vector kernel for whole blocks (8- or 16-bit), and its steps.
    tone::ColourBlocks colourBlocks = nullptr;
    tone::ColourSteps steps{};
    // The colour pass applies the manual stretch too (its tables follow the
    // other steps of `after`).
    bool stretched = false;

    // The first `units` units of the image in memory order.
    void apply(_ezImage* image, size_t units) const {
        if (!loop) return;
        eachRun(image, image->width, unitBytes, units,
                [&](unsigned char* p, size_t n) { loop(p, n, *this, nullptr); });
    }
};

namespace {
template <bool Wide, bool Gamma, bool Contrast, bool View, typename Plan>
void greyLoop(unsigned char* p, size_t units, const Plan& plan, HistogramCounters* counts) {
    const GreyTone<Gamma, Contrast> tone{plan.gamma, plan.contrast};
    if constexpr (View)
        greyView<Wide>(p, units, tone);
    else
        greySamples<Wide>(p, units, tone);
    if (counts) countPixels(p, units, View ? 3 : 1, Wide ? 16 : 8, *counts);
}
template <bool Wide, bool Before, bool Saturation, bool After, bool Low, typename Plan>
void colourLoop(unsigned char* p, size_t units, const Plan& plan, HistogramCounters* counts) {
    constexpr int kDepth = Wide ? 16 : 8;
    if (plan.colourBlocks) {
        const size_t done = units / tone::kBlockPixels * tone::kBlockPixels;
        plan.colourBlocks(p, done / tone::kBlockPixels, plan.steps);
        // Counted while the blocks are in the cache. (Counting inside the
        // kernel, from the finished vectors, measured slower: the counters'
        // increments crowd out the kernel's stores.)
        if (counts) countPixels(p, done, 3, kDepth, *counts);
        p += done * 3 * (kDepth / 8);
        units -= done;
    }
    colourPixels<Wide, Before, Saturation, After, Low>(p, units, plan.tables);
    if (counts) countPixels(p, units, 3, kDepth, *counts);
}
}  // namespace

// ---- The frame ---------------------------------------------------------------

int FramePipeline::run(unsigned char* rawBuffer, unsigned char* imageBuffer, bool crop,
                       const Sensor& sensor) {
    if (!rawBuffer || !imageBuffer || rawBuffer == imageBuffer) return EZ_ERANGE;
    auto* raw = reinterpret_cast<_ezImage*>(rawBuffer);
    auto* image = reinterpret_cast<_ezImage*>(imageBuffer);
    std::lock_guard<std::mutex> frame(frameMutex);
    takeOverTables();
    const int depth = raw->depth;
    if (depth != 8 && depth != 16) return EZ_ERANGE;
    const int width = raw->width;
    const int height = raw->height;
    const int header = raw->header_size;
    const int outChannels = sensor.channels == 1 ? 1 : 3;
    // The image's pixels start where the raw frame's do: never inside the
    // record. Its rows must be describable by the 16-bit stride.
    if (header < static_cast<int>(sizeof(_ezImage)) ||
        width * outChannels * (depth / 8) > UINT16_MAX)
        return EZ_ERANGE;
    ezInitImageHeader(raw, width, height, 1, depth, header, rawBuffer + header, raw->resolution,
                      raw->decoded);
    ezInitImageHeader(image, width, height, outChannels, depth, header, imageBuffer + header,
                      raw->resolution, raw->decoded);
    _ezImage calibrated;
    if (const auto tables = rawCalibration.load(); tables && tables->fits(raw)) {
        const size_t stride = static_cast<size_t>(width) * (depth / 8);
        calibratedRaw.resize(stride * static_cast<size_t>(height));
        tables->rows(raw, calibratedRaw.data(), 0, height);
        tables->repair(calibratedRaw.data());
        calibrated = *raw;
        calibrated.data = calibratedRaw.data();
        calibrated.stride = static_cast<uint16_t>(stride);
        raw = &calibrated;
    }
    const bool cut = modelSteps.border == ModelSteps::Border::Always ||
                     (crop && modelSteps.border == ModelSteps::Border::AsAsked);
    if (fusable(raw, image, cut, sensor)) {
        runFused(raw, image, cut, sensor);
        return EZ_OK;
    }
    if (modelSteps.decode)
        modelSteps.decode(raw, image);
    else
        decode(raw, image, sensor.bayer);
    if (cut) __roi(image, 4, 4, width - 8, height - 8);
    finish(image, sensor);
    return EZ_OK;
}

void FramePipeline::setThreads(int count) {
    shared::store(threads, std::clamp(count, 1, kMaxThreads));
}

int FramePipeline::defaultThreads() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxThreads);
}

// ---- One pass over the rows ----------------------------------------------------
//
// Decoding, the border cut, flip, the tone pass, the histogram and a manual
// stretch run row by row while the row is in the cache, in stripes of rows
// over the worker threads; an automatic stretch, which needs the whole
// frame's histogram, follows as a second pass. Rotation, flat field, model
// decoders and the monochrome copy take the step-by-step path.

bool FramePipeline::fusable(const _ezImage* raw, const _ezImage* image, bool cut,
                            const Sensor& sensor) const {
    const int r = shared::load(rotate);
    const int f = modelSteps.flip ? shared::load(flip) : 0;
    if (modelSteps.decode || sensor.bayer < 1 || sensor.bayer > 4 || image->channels != 3 ||
        r == 1 || r == 2 || shared::load(flatFieldOn))
        return false;
    // Without the cut, the rows the decoder leaves unwritten keep their
    // place in the buffer; turning the frame upside down would move them.
    if (cut ? (raw->width < 10 || raw->height < 10)
            : ((f & 2) || raw->height < 4 || raw->width < 3))
        return false;
    const auto address = reinterpret_cast<uintptr_t>(raw->data) |
                         reinterpret_cast<uintptr_t>(image->data) | raw->stride | image->stride;
    return raw->depth == 8 || (address & 1) == 0;
}

void FramePipeline::runFused(_ezImage* raw, _ezImage* image, bool cut, const Sensor& sensor) {
    const int width = raw->width, height = raw->height, depth = raw->depth;
    const int margin = cut ? 4 : 0;
    const int outWidth = width - 2 * margin, outHeight = height - 2 * margin;
    ezInitImageHeader(image, outWidth, outHeight, 3, depth, image->header_size, image->data,
                      image->resolution, 1);
    const int f = modelSteps.flip ? shared::load(flip) : 0;
    // A colour profile replaces the fixed correction: the decoder puts every
    // pixel through its matrix.
    const std::shared_ptr<const calib::ProfileMatrix> profile = profileInForce();
    const bool corrected = shared::load(colorEnhancement) != 0 && !profile;
    const int32_t* const matrix = profile ? profile->q12.data() : nullptr;

    bool automatic[3];
    const bool measure = planStretch(automatic);
    const bool anyAutomatic = automatic[0] || automatic[1] || automatic[2];
    const bool manualStretch = !anyAutomatic && stretchChanges();
    // A manual stretch rides in the colour pass's tables unless the
    // histogram must count the values before it.
    TonePlan tone;
    planTone(tone, image, shared::load(monochrome) ? Tone::View : Tone::Colour,
             manualStretch && !measure);
    const unsigned char* stretchTables[3] = {stretch[0].lut, stretch[1].lut, stretch[2].lut};

    const int workers = shared::load(threads);
    const int stripes = std::min(workers, outHeight);
    const size_t pixelBytes = 3 * static_cast<size_t>(depth / 8);
    const size_t rowBytes = static_cast<size_t>(outWidth) * pixelBytes;
    if (scratch.size() < static_cast<size_t>(stripes) * rowBytes)
        scratch.resize(static_cast<size_t>(stripes) * rowBytes);
    if (bins.size() < static_cast<size_t>(stripes)) bins.resize(static_cast<size_t>(stripes));
    const size_t toned = allButLastTwo(image);
    const kernels::Set& set = kernels::active();

    const auto stripe = [&](int index) {
        const int from = outHeight * index / stripes, to = outHeight * (index + 1) / stripes;
        unsigned char* mirror = scratch.data() + static_cast<size_t>(index) * rowBytes;
        HistogramCounters& counts = bins[static_cast<size_t>(index)];
        if (measure) std::memset(&counts, 0, sizeof counts);
        for (int i = from; i < to; ++i) {
            const int y = margin + ((f & 2) ? outHeight - 1 - i : i);  // the decoded row
            unsigned char* row = pixels::row(image, static_cast<size_t>(i));
            unsigned char* target = (f & 1) ? mirror : row;
            // Without the cut, what the decoder leaves unwritten keeps the
            // buffer's content, mirrored with the rest.
            if ((f & 1) && !cut) std::memcpy(mirror, row, rowBytes);
            if (y >= 1 && y <= height - 3) {
                const int first = cut ? margin : 1, last = cut ? width - 1 - margin : width - 2;
                const size_t before = cut ? 0 : 3;  // samples ahead of column `first`
                const RowPattern& p = kRowPatterns[sensor.bayer][y & 1];
                if (depth == 8) {
                    const unsigned char* cur = raw->data + static_cast<size_t>(y) * raw->stride;
                    set.decode8(cur - raw->stride, cur, cur + raw->stride, target + before, width,
                                first, last, p.red, p.greenFirst, corrected, matrix);
                } else {
                    const auto* cur = reinterpret_cast<const uint16_t*>(
                        raw->data + static_cast<size_t>(y) * raw->stride);
                    const size_t step = raw->stride / 2;
                    set.decode16(cur - step, cur, cur + step,
                                 reinterpret_cast<uint16_t*>(target) + before, width, first, last,
                                 p.red, p.greenFirst, corrected, matrix);
                }
            }
            if (f & 1) mirrorRow(row, mirror, outWidth, pixelBytes);
            // The tone pass counts what it tones; the rest of the row (all of
            // it without a tone pass, the last two pixels of the frame) is
            // counted as it stands.
            const size_t done = static_cast<size_t>(i) * outWidth;
            size_t tonedHere = 0;
            if (tone.loop && done < toned) {
                tonedHere = std::min<size_t>(outWidth, toned - done);
                tone.loop(row, tonedHere, tone, measure ? &counts : nullptr);
            }
            if (measure && tonedHere < static_cast<size_t>(outWidth))
                countPixels(row + tonedHere * pixelBytes, outWidth - tonedHere, 3, depth, counts);
            if (manualStretch && !tone.stretched) {
                stretchRows(image, i, 1);
            } else if (manualStretch && tonedHere < static_cast<size_t>(outWidth)) {
                unsigned char* rest = row + tonedHere * pixelBytes;
                const size_t n = outWidth - tonedHere;
                depth == 8 ? stretchSamples<3, 1>(rest, n, stretchTables)
                           : stretchSamples<3, 2>(rest, n, stretchTables);
            }
        }
    };
    pool.run(workers, stripes, stripe);

    bool measured = false;
    if (measure) {
        Counts total[3] = {};
        for (int k = 0; k < stripes; ++k) addCounters(image, bins[static_cast<size_t>(k)], total);
        measured = storeHistogram(image, total) == 0;
    }
    if (anyAutomatic && (automaticTables(image, automatic, measured) || stretchChanges()))
        pool.run(workers, stripes, [&](int index) {
            const int from = outHeight * index / stripes, to = outHeight * (index + 1) / stripes;
            stretchRows(image, from, to - from);
        });
}

void FramePipeline::decode(_ezImage* raw, _ezImage* image, int bayer) {
    const std::shared_ptr<const calib::ProfileMatrix> profile = profileInForce();
    if (profile)
        decodeThroughMatrix(raw, image, bayer, profile->q12.data());
    else if (shared::load(colorEnhancement))
        __decode_rawdata(raw, image, bayer);
    else
        __decode_rawdatafast(raw, image, bayer);
}

void FramePipeline::takeOverTables() {
    gamma[0].takeOver(kTableBytes);
    contrast.takeOver(kTableBytes);
    stretch[0].takeOver(kTableBytes);
    if (!colour()) return;
    saturation.takeOver(kSaturationBytes);
    for (SoftWareValue& gain : digitalGain) gain.takeOver(kTableBytes);
    for (int c = 1; c < 3; ++c) {
        stretch[c].takeOver(kTableBytes);
        gamma[c].takeOver(kTableBytes);
    }
}

void FramePipeline::finish(_ezImage* image, const Sensor& sensor) {
    if (shared::load(flatFieldOn)) flatField(image);
    __rotate(image, shared::load(rotate));
    if (modelSteps.flip) __flip(image, shared::load(flip));
    TonePlan tone;
    planTone(tone, image,
             sensor.bayer == 0          ? Tone::Grey
             : shared::load(monochrome) ? Tone::View
                                        : Tone::Colour);
    tone.apply(image, allButLastTwo(image));
    bool automatic[3];
    const bool measure = planStretch(automatic);
    const bool measured = measure && __calc_histogram(image) == 0;
    if (automaticTables(image, automatic, measured) || stretchChanges()) stretchImage(image);
}

// Histogram and stretch. Automatic channels take their bounds from this
// frame's histogram, which is measured whenever one of them is automatic.
// Reads the automatic flags; true when the frame measures its histogram.
bool FramePipeline::planStretch(bool (&automatic)[3]) {
    for (int c = 0; c < 3; ++c) {
        automatic[c] = shared::load(stretch[c].value) != 0;
        stretch[c].live.value = automatic[c] ? 1 : 0;
    }
    return shared::load(histogramOn) || automatic[0] || automatic[1] || automatic[2];
}

// With a measured histogram, rebuilds the automatic channels' live tables
// from its bounds: all three from the overall block when all are
// automatic, else each from its own block. True when it did.
bool FramePipeline::automaticTables(_ezImage* image, const bool (&automatic)[3], bool measured) {
    const bool all = automatic[0] && automatic[1] && automatic[2];
    const bool any = automatic[0] || automatic[1] || automatic[2];
    if (!any || !measured) return false;
    const auto rebuild = [&](int c, int block) {
        const int low = std::clamp(histogramValue(image, block, kHistogramLow), 0, 255);
        const int high = std::clamp(histogramValue(image, block, kHistogramHigh), 0, 255);
        __matrix_stretch(low, high, stretch[c].lut, 256);
        stretch[c].live.low = static_cast<uint8_t>(low);
        stretch[c].live.high = static_cast<uint8_t>(high);
    };
    if (all) {
        for (int c = 0; c < 3; ++c) rebuild(c, 0);
    } else {
        const int count = std::min<int>(image->channels, 3);
        for (int c = 0; c < count; ++c)
            if (automatic[c]) rebuild(c, count == 3 ? c + 1 : 0);
    }
    return true;
}

// Whether the live stretch tables differ from the full range.
bool FramePipeline::stretchChanges() const {
    for (const SoftWareValue& s : stretch)
        if (s.live.low != 0 || s.live.high != 255) return true;
    return false;
}

// ---- Tone, colour and stretch passes ----------------------------------------

// Monochrome sensor (one channel), grey view or colour pass, per the
// frame's live tables; no loop when every step is neutral.
void FramePipeline::planTone(TonePlan& plan, const _ezImage* image, Tone kind, bool withStretch) {
    plan.loop = nullptr;
    plan.stretched = false;
    const bool wide = image->depth == 16;
    const size_t bps = image->depth / 8;
    if (kind != Tone::Colour) {
        const bool view = kind == Tone::View;
        if (image->channels != (view ? 3 : 1)) return;
        const bool useGamma = gamma[0].live.value != kNeutralGamma;
        const bool useContrast = contrast.live.value != kNeutralContrast;
        // The grey view copies green into the others even when neutral.
        if (!view && !useGamma && !useContrast) return;
        plan.gamma = gamma[0].lut;
        plan.contrast = contrast.lut;
        plan.unitBytes = (view ? 3 : 1) * bps;
        withFlags(
            [&](auto w, auto g, auto c, auto v) {
                plan.loop = &greyLoop<decltype(w)::value, decltype(g)::value, decltype(c)::value,
                                      decltype(v)::value, TonePlan>;
            },
            wide, useGamma, useContrast, view);
        return;
    }
    if (image->channels != 3) return;
    const bool colour = this->colour() && digitalGain[0].supported;
    const bool useGain = colour && (digitalGain[0].live.value != kNeutralGain ||
                                    digitalGain[1].live.value != kNeutralGain ||
                                    digitalGain[2].live.value != kNeutralGain);
    const bool useSaturation = colour && saturation.live.value != kNeutralSaturation;
    const bool useGamma = gamma[0].live.value != kNeutralGamma ||
                          gamma[1].live.value != kNeutralGamma ||
                          gamma[2].live.value != kNeutralGamma;
    const bool useContrast = contrast.live.value != kNeutralContrast;
    if (!useGain && !useSaturation && !useGamma && !useContrast && !withStretch) return;
    // The composed tables (three channels x 256 entries each).
    ColourTables& tables = plan.tables;
    tables.saturation = saturation.lut;
    for (int k = 0; k < 3; ++k) {
        const unsigned char* gain = useGain ? digitalGain[k].lut : nullptr;
        const unsigned char* con = useContrast ? contrast.lut : nullptr;
        tables.before[k] = gain;
        compose(plan.after[k], {useSaturation ? nullptr : gain, useGamma ? gamma[k].lut : nullptr,
                                con, withStretch ? stretch[k].lut : nullptr});
        compose(plan.low[k], {gain, con});
        tables.after[k] = plan.after[k];
        tables.low[k] = plan.low[k];
    }
    plan.unitBytes = 3 * bps;
    plan.colourBlocks = wide ? tone::colourWideBlocks() : tone::colourBlocks();
    const bool before = useSaturation && useGain;
    const bool after = useGamma || useContrast || (useGain && !useSaturation) || withStretch;
    const bool low = wide && (useGain || useContrast);
    plan.stretched = withStretch;
    for (int k = 0; k < 3; ++k) {
        plan.steps.before[k] = useSaturation ? tables.before[k] : nullptr;
        plan.steps.after[k] = after ? tables.after[k] : nullptr;
        plan.steps.low[k] = low ? tables.low[k] : nullptr;
    }
    plan.steps.saturation = useSaturation ? saturation.live.value : -1;
    withFlags(
        [&](auto w, auto b, auto sat, auto a, auto l) {
            plan.loop = &colourLoop<decltype(w)::value, decltype(b)::value, decltype(sat)::value,
                                    decltype(a)::value, decltype(l)::value, TonePlan>;
        },
        wide, before, useSaturation, after, low);
}

int FramePipeline::greyTone(_ezImage* image) {
    if (!pixels::usable(image) || image->channels != 1) return EZ_ERANGE;
    TonePlan plan;
    planTone(plan, image, Tone::Grey);
    plan.apply(image, allButLastTwo(image));
    return EZ_OK;
}

int FramePipeline::monoTone(_ezImage* image) {
    if (!pixels::usable(image) || image->channels != 3) return EZ_ERANGE;
    TonePlan plan;
    planTone(plan, image, Tone::View);
    plan.apply(image, allButLastTwo(image));
    return EZ_OK;
}

int FramePipeline::colourTone(_ezImage* image) {
    if (!pixels::usable(image) || image->channels != 3) return EZ_ERANGE;
    TonePlan plan;
    planTone(plan, image, Tone::Colour);
    plan.apply(image, allButLastTwo(image));
    return EZ_OK;
}

void FramePipeline::stretchImage(_ezImage* image) {
    if (pixels::usable(image)) stretchRows(image, 0, image->height);
}

// The stretch of rows first .. first + rows - 1.
void FramePipeline::stretchRows(_ezImage* image, int first, int rows) {
    _ezImage part = *image;
    part.data = pixels::row(image, static_cast<size_t>(first));
    part.height = static_cast<uint16_t>(rows);
    image = &part;
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
