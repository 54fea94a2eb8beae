// The simulated sensor's picture: background and object profiles, levels and
// noise tables, and the per-frame noisy output.
#include "sim/scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "processing/bayer.h"
#include "processing/colour_chart.h"
#include "sim/scene_rows.h"

namespace sim {
namespace {

constexpr float kDriftPeriod = 900.0f;  // frames per back-and-forth of an object
constexpr float kVignette = 0.12f;      // radial fall-off: corners at 1 - 2k of the centre
constexpr float kHotRadiance = 3.0f;    // hot pixels, far above the scene
constexpr float kReadNoise2 = 1600.0f;  // read noise squared, 16-bit units
constexpr float kShotNoise = 6.5f;      // noise variance per unit of signal
constexpr size_t kNoiseSpan = size_t{1} << 14;  // row starts in the noise tables
constexpr int kRowMax = 65536;
constexpr int kObjectsMax = 8;
constexpr float kGrainPeriod = 6.0f;    // pixels per period of the objects' texture
constexpr float kGrainContrast = 0.5f;  // its modulation when in focus

// Unit noise, standard deviation 32, shared by every camera. A row takes a
// slice at a pseudo-random start, so frames do not repeat a pattern.
const std::vector<int8_t>& noiseTable() {
    static const std::vector<int8_t> table = [] {
        std::vector<int8_t> t(kNoiseSpan + kRowMax);
        uint64_t s = 0x9e3779b97f4a7c15ull;
        auto uniform = [&s] {
            s ^= s << 13;
            s ^= s >> 7;
            s ^= s << 17;
            return (static_cast<double>(s >> 11) + 0.5) / 9007199254740992.0;
        };
        for (size_t i = 0; i < t.size(); i += 2) {
            const double r = std::sqrt(-2.0 * std::log(uniform())) * 32.0;
            const double a = 2.0 * std::numbers::pi * uniform();
            const double pair[2] = {r * std::cos(a), r * std::sin(a)};
            for (size_t j = 0; j < 2 && i + j < t.size(); ++j)
                t[i + j] = static_cast<int8_t>(std::clamp(std::lround(pair[j]), -127l, 127l));
        }
        return t;
    }();
    return table;
}

uint64_t mix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

size_t noiseStart(uint64_t noiseSeed, int row) {
    return mix(noiseSeed ^ (static_cast<uint64_t>(row) * 0x9e3779b97f4a7c15ull)) % kNoiseSpan;
}

// Compact smooth profile of an object along one axis (t in units of its radius).
inline float profile(float t) {
    const float q = 1.0f - t * t;
    return q > 0.0f ? q * q * q : 0.0f;
}

// The background is a column term plus a row term: each half the mean
// radiance, less its share of the radial fall-off, plus a gentle texture
// unless the scene is flat.
float columnTerm(float u, bool flat) {
    const float tau = 2.0f * std::numbers::pi_v<float>, d = 2.0f * u - 1.0f;
    const float texture = 0.02f * std::sin(tau * (1.3f * u + 0.25f)) + 0.015f * std::cos(tau * (2.2f * u + 0.125f));
    return 0.125f * (1.0f - 2.0f * kVignette * d * d) + (flat ? 0.0f : texture);
}

float rowTerm(float v, bool flat) {
    const float tau = 2.0f * std::numbers::pi_v<float>, d = 2.0f * v - 1.0f;
    const float texture = 0.02f * std::sin(tau * (0.9f * v + 0.75f)) + 0.015f * std::cos(tau * (1.7f * v + 0.125f));
    return 0.125f * (1.0f - 2.0f * kVignette * d * d) + (flat ? 0.0f : texture);
}

// The texture's modulation at a blur radius: a Gaussian blur of radius s
// scales a cosine of period P by exp(-2 pi^2 s^2 / P^2).
float grainContrast(float defocus) {
    const float k = std::numbers::pi_v<float> * defocus / kGrainPeriod;
    return kGrainContrast * std::exp(-2.0f * k * k);
}

// The texture at pixel i of an object's profile, mean 1.
float grain(int i, float contrast) {
    return 1.0f + contrast * std::cos(2.0f * std::numbers::pi_v<float> * static_cast<float>(i) / kGrainPeriod);
}

int16_t rounded(float v, int cap) {
    return static_cast<int16_t>(std::lround(std::clamp(v, 0.0f, static_cast<float>(cap))));
}

template <int Bytes>
void storeSample(unsigned char* out, int level, SampleOrder order) {
    if constexpr (Bytes == 1) {
        out[0] = static_cast<unsigned char>(level);
    } else if (order == SampleOrder::MsbFirst) {
        rows::store16<SampleOrder::MsbFirst>(out, level);
    } else if (order == SampleOrder::Host) {
        rows::store16<SampleOrder::Host>(out, level);
    } else {
        rows::store16<SampleOrder::Packed12>(out, level);
    }
}

}  // namespace

Scene::Scene(int bayer, uint32_t seed) : bayer_(bayer), seed_(seed), kernels_(&rows::bestKernels()) {
    // A few cells of different sizes and brightness, each on its own slow path.
    static constexpr Path kPaths[] = {
        {0.30f, 0.35f, 0.06f, 0.04f, 0.080f, 0.070f, 0.55f, 0.0f},
        {0.68f, 0.30f, 0.05f, 0.06f, 0.060f, 0.060f, 0.45f, 1.3f},
        {0.55f, 0.68f, 0.07f, 0.03f, 0.070f, 0.100f, 0.50f, 2.6f},
        {0.20f, 0.75f, 0.04f, 0.05f, 0.050f, 0.050f, 0.60f, 3.9f},
        {0.82f, 0.72f, 0.05f, 0.05f, 0.070f, 0.055f, 0.40f, 5.2f},
    };
    static_assert(std::size(kPaths) <= kObjectsMax);
    for (size_t k = 0; k < std::size(kPaths); ++k) {
        objects_.emplace_back().path = kPaths[k];
        objects_.back().path.phase += 0.7f * static_cast<float>(seed % 9 + k);
    }

    const int code = bayer_ >= 1 && bayer_ <= 4 ? bayer_ : 0;
    for (int i = 0; i < 4; ++i) filter_[i / 2][i % 2] = bayer::filterAt(code, i % 2, i / 2);
    buildResponse();
}

// Crosstalk of a colour sensor: each filter passes some of its neighbours'
// light, every row summing to 1 so that grey light stays grey before the
// filters' own strengths.
const Scene::ColourMatrix Scene::kDefaultColour = {0.78f, 0.27f, -0.05f,  //
                                                   0.10f, 0.80f, 0.10f,   //
                                                   0.02f, 0.23f, 0.75f};

namespace {
// Each site sees the light of its own filter, the filter that Bayer names
// for the outside world: red and blue respond weaker than green, so white
// looks greenish.
constexpr float kFilterStrength[3] = {0.80f, 1.0f, 0.62f};  // red, green, blue
constexpr float kSurround = 0.03f;  // the chart's dark grey surround, linear radiance
}  // namespace

void Scene::buildResponse() {
    for (int i = 0; i < 4; ++i) {
        const int f = filter_[i / 2][i % 2];
        const float* row = &colour_[static_cast<size_t>(3 * f)];
        response_[i / 2][i % 2] = bayer_ ? kFilterStrength[f] * (row[0] + row[1] + row[2]) : 1.0f;
    }
}

void Scene::setColour(const ColourMatrix& m) {
    if (m == colour_) return;
    colour_ = m;
    buildResponse();
    fieldReady_ = false;
}

void Scene::setChart(bool chart) {
    if (chart == chart_) return;
    chart_ = chart;
    fieldReady_ = false;
}

void Scene::setFlat(bool flat) {
    if (flat == flat_) return;
    flat_ = flat;
    fieldReady_ = false;
}

void Scene::setDefocus(float pixels) {
    pixels = std::clamp(pixels, 0.0f, 1000.0f);
    if (pixels == defocus_) return;
    defocus_ = pixels;
    fieldReady_ = false;
}

void Scene::buildField() {
    const Geometry& g = geometry_;
    const float fw = static_cast<float>(g.fieldWidth), fh = static_cast<float>(g.fieldHeight);
    columnRadiance_.resize(g.width);
    rowRadiance_.resize(g.height);
    for (int x = 0; x < g.width; ++x)
        columnRadiance_[x] = columnTerm((static_cast<float>(g.originX + x) + 0.5f) / fw, flat_);
    for (int y = 0; y < g.height; ++y)
        rowRadiance_[y] = rowTerm((static_cast<float>(g.originY + y) + 0.5f) / fh, flat_);
    // The chart lies in the field, so a region shows its part of it; a row
    // uses the table of its band of patches and its parity.
    rowTable_.resize(g.height);
    for (int y = 0; y < g.height; ++y) {
        const int fy = g.originY + y;
        int band = 0;
        for (int r = 0; chart_ && r < chart::kRows; ++r) {
            const chart::Box b = chart::patchBox(r * chart::kColumns);
            if (fy >= std::lround(b.y0 * fh) && fy < std::lround(b.y1 * fh)) band = r + 1;
        }
        rowTable_[y] = static_cast<uint8_t>(2 * band + (fy & 1));
    }

    // Objects sit on even pixels, so their column profiles, which carry the
    // channel response, hold wherever they drift. A block of zeros on either
    // side lets whole blocks be read across an object's edge. The texture
    // keeps the column profiles within their range.
    const float contrast = grainContrast(defocus_);
    for (Object& o : objects_) {
        o.rx = static_cast<int>(std::ceil(o.path.radiusX * fw));
        o.ry = static_cast<int>(std::ceil(o.path.radiusY * fw));
        const float inv = 1.0f / (o.path.radiusX * fw);
        for (int p = 0; p < 2; ++p) {
            o.columns[p].assign(2 * o.rx + 1 + 2 * kBlock, 0);
            for (int i = 0; i <= 2 * o.rx; ++i)
                o.columns[p][kBlock + i] = static_cast<int16_t>(std::lround(
                    32767.0f * profile(static_cast<float>(i - o.rx) * inv) * response_[p][(i - o.rx) & 1] *
                    grain(i, contrast) / (1.0f + kGrainContrast)));
        }
    }

    // Hot pixels sit at fixed places of the field, a few per megapixel.
    hot_.clear();
    const int hot = 3 + static_cast<int>(3ll * g.fieldWidth * g.fieldHeight / 1000000);
    uint64_t s = 0x51ed2701u + seed_;
    for (int i = 0; i < hot; ++i) {
        s = mix(s);
        const int fx = static_cast<int>(s % static_cast<uint64_t>(g.fieldWidth));
        const int fy = static_cast<int>((s >> 32) % static_cast<uint64_t>(g.fieldHeight));
        const int x = fx - g.originX, y = fy - g.originY;
        if (x >= 0 && x < g.width && y >= 0 && y < g.height)
            hot_.push_back(static_cast<size_t>(y) * g.width + x);
    }
    std::sort(hot_.begin(), hot_.end());
    hot_.erase(std::unique(hot_.begin(), hot_.end()), hot_.end());
}

// Everything the exposure sets, in sample units.
void Scene::buildLevels() {
    const Geometry& g = geometry_;
    const bool deep = exposure_.depth == 16;
    const float unit = deep ? 16.0f : 256.0f;  // 16-bit units per sample unit
    top_ = deep ? 4095 : 255;
    // Levels past full scale are kept up to a margin wider than any noise
    // (at most 127 units of unit noise, times 8 at 16 bits).
    const int cap = top_ + (deep ? 2048 : 256);
    const float scale = exposure_.scale / unit, black = static_cast<float>(exposure_.black) / unit;
    black_ = std::min(top_, static_cast<int>(std::lround(black)));
    hotLevel_ = rounded(black + scale * kHotRadiance, cap);

    rowLevel_.resize(2 * static_cast<size_t>(g.height));
    if (chart_) {
        buildChartLevels(scale, cap);
        for (int y = 0; y < g.height; ++y)
            for (int q = 0; q < 2; ++q) rowLevel_[2 * y + q] = static_cast<int16_t>(black_);
    } else {
        columnLevel_.resize(2);
        for (int p = 0; p < 2; ++p) {
            columnLevel_[p].resize(g.width);
            for (int x = 0; x < g.width; ++x)
                columnLevel_[p][x] = rounded(scale * response_[p][(g.originX + x) & 1] * columnRadiance_[x], cap);
        }
        for (int y = 0; y < g.height; ++y) {
            const float* resp = response_[(g.originY + y) & 1];
            for (int q = 0; q < 2; ++q)
                rowLevel_[2 * y + q] = rounded(black + scale * resp[q] * rowRadiance_[y], cap);
        }
    }

    const float fw = static_cast<float>(g.fieldWidth);
    const float contrast = grainContrast(defocus_);
    for (Object& o : objects_) {
        const Path& path = o.path;
        const float du = 2.0f * path.u - 1.0f, dv = 2.0f * path.v - 1.0f;
        const float peak = scale * path.amplitude * (1.0f - kVignette * (du * du + dv * dv));
        const float inv = 1.0f / (path.radiusY * fw);
        o.rowWeight.resize(2 * o.ry + 1);
        for (int j = 0; j <= 2 * o.ry; ++j)
            o.rowWeight[j] = rounded(2.0f * std::min(peak * profile(static_cast<float>(j - o.ry) * inv) *
                                                         grain(j, contrast),
                                                     static_cast<float>(cap)),
                                     2 * cap);
    }

    // Noise classes: the noise of a sample has the standard deviation
    // sqrt(shot x gain x signal + read^2) (16-bit units) at a signal typical
    // of its class.
    static constexpr float kBounds[kNoiseClasses - 1] = {1.0f / 32, 1.0f / 8, 3.0f / 8};
    static constexpr float kTypical[kNoiseClasses] = {1.0f / 85, 1.0f / 16, 0.22f, 0.63f};
    for (int c = 0; c < kNoiseClasses - 1; ++c)
        threshold_[c] = std::min(top_, black_ + static_cast<int>(kBounds[c] * static_cast<float>(top_)) - 1);
    const float k = kShotNoise * exposure_.noiseGain;
    const float shift = deep ? 1 << rows::kNoiseShift16 : 1 << rows::kNoiseShift8;
    for (int c = 0; c < kNoiseClasses; ++c) {
        const float sigma = std::sqrt(k * kTypical[c] * kFullScale + kReadNoise2) / unit;  // sample units
        noiseGain_[c] = static_cast<int16_t>(std::min(32767l, std::lround(sigma / 32.0f * 32768.0f / shift)));
    }

    // The class of each block of each row, for rows without objects.
    blocks_ = (g.width + kBlock - 1) / kBlock;
    blockClass_.resize(static_cast<size_t>(blocks_) * g.height);
    for (int y = 0; y < g.height; ++y) {
        const int16_t* columns = columnsOf(y);
        uint8_t* classes = blockClass_.data() + static_cast<size_t>(y) * blocks_;
        for (int b = 0; b < blocks_; ++b) {
            const int mid = std::min(b * kBlock + kBlock / 2, g.width - 1);
            classes[b] = static_cast<uint8_t>(noiseClass(columns[mid] + rowLevel_[2 * y + ((g.originX + mid) & 1)]));
        }
    }
    row_.resize(g.width);
    rowClass_.resize(blocks_);
}

// The chart's column tables: the surround, then each band of patches, each
// per row parity. A site sees M x (the patch's linear sRGB) through its
// filter.
void Scene::buildChartLevels(float scale, int cap) {
    const Geometry& g = geometry_;
    const float fw = static_cast<float>(g.fieldWidth);
    const auto& reference = chart::referenceRgb();
    columnLevel_.assign(2 * (chart::kRows + 1), std::vector<int16_t>(g.width));
    for (int band = 0; band <= chart::kRows; ++band) {
        for (int p = 0; p < 2; ++p) {
            std::vector<int16_t>& table = columnLevel_[2 * band + p];
            for (int x = 0; x < g.width; ++x) {
                const int fx = g.originX + x, f = filter_[p][fx & 1];
                chart::Rgb light = {kSurround, kSurround, kSurround};
                for (int c = 0; band > 0 && c < chart::kColumns; ++c) {
                    const chart::Box b = chart::patchBox((band - 1) * chart::kColumns + c);
                    if (fx >= std::lround(b.x0 * fw) && fx < std::lround(b.x1 * fw))
                        light = reference[static_cast<size_t>((band - 1) * chart::kColumns + c)];
                }
                float seen = 0;
                if (bayer_) {
                    const float* row = &colour_[static_cast<size_t>(3 * f)];
                    seen = kFilterStrength[f] * static_cast<float>(row[0] * light[0] + row[1] * light[1] +
                                                                   row[2] * light[2]);
                } else {
                    seen = static_cast<float>(0.2126 * light[0] + 0.7152 * light[1] + 0.0722 * light[2]);
                }
                table[x] = rounded(scale * seen, cap);
            }
        }
    }
}

// Objects take turns to move, one a frame.
void Scene::placeObjects(uint64_t frame) {
    const float half[2] = {0.5f * static_cast<float>(geometry_.fieldWidth),
                           0.5f * static_cast<float>(geometry_.fieldHeight)};
    const uint64_t turns = objects_.size();
    for (uint64_t k = 0; k < turns; ++k) {
        const uint64_t back = (frame + turns - k) % turns;
        const uint64_t moved = frame >= back ? frame - back : 0;  // its last turn
        const float t = 2.0f * std::numbers::pi_v<float> *
                        static_cast<float>(moved % static_cast<uint64_t>(kDriftPeriod)) / kDriftPeriod;
        Object& o = objects_[k];
        const Path& p = o.path;
        const float u = p.u + p.du * std::sin(t + p.phase);
        const float v = p.v + p.dv * std::cos(0.5f * t + p.phase);
        o.cx = 2 * static_cast<int>(std::lround(u * half[0]));
        o.cy = 2 * static_cast<int>(std::lround(v * half[1]));
    }
}

void Scene::prepare(const Geometry& geometry, const Exposure& exposure, uint64_t frame) {
    Exposure e = exposure;
    e.noiseGain = std::clamp(e.noiseGain, 0.25f, 16.0f);
    e.black = std::clamp(e.black, 0, kFullScale);
    if (!fieldReady_ || !(geometry == geometry_)) {
        geometry_ = geometry;
        buildField();
        fieldReady_ = true;
        levelsReady_ = false;
    }
    if (!levelsReady_ || !(e == exposure_)) {
        exposure_ = e;
        buildLevels();
        levelsReady_ = true;
    }
    placeObjects(frame);
}

int Scene::spansOf(int y, Span* spans) const {
    if (flat_ || chart_) return 0;
    const Geometry& g = geometry_;
    const int fy = g.originY + y;
    int n = 0;
    for (const Object& o : objects_) {
        const int j = fy - (o.cy - o.ry);
        if (j < 0 || j > 2 * o.ry || o.rowWeight[j] == 0) continue;
        const int left = o.cx - o.rx - g.originX;
        const int x0 = std::max(0, left), x1 = std::min(g.width, left + 2 * o.rx + 1);
        if (x0 < x1) spans[n++] = {x0, x1, o.columns[fy & 1].data() + kBlock + (x0 - left), o.rowWeight[j]};
    }
    return n;
}

int Scene::levelAt(int y, int x, const Span* spans, int n) const {
    int16_t level = columnsOf(y)[x];
    for (int k = 0; k < n; ++k)
        if (x >= spans[k].x0 && x < spans[k].x1)
            level = rows::objectSample(level, spans[k].weight, spans[k].profile[x - spans[k].x0]);
    return level + rowLevel_[2 * y + ((geometry_.originX + x) & 1)];
}

int Scene::noiseAt(int c, int x, int y, uint64_t noiseSeed) const {
    const int8_t unit = noiseTable()[noiseStart(noiseSeed, y) + static_cast<size_t>(x)];
    return exposure_.depth == 16 ? rows::noiseValue<rows::kNoiseShift16>(unit, noiseGain_[c])
                                 : rows::noiseValue<rows::kNoiseShift8>(unit, noiseGain_[c]);
}

int Scene::level(int x, int y) const {
    const size_t i = static_cast<size_t>(y) * geometry_.width + x;
    const bool hot = std::binary_search(hot_.begin(), hot_.end(), i);
    Span spans[kObjectsMax];
    const int l = std::min(top_, hot ? hotLevel_ : levelAt(y, x, spans, spansOf(y, spans)));
    return exposure_.depth == 16 ? l * 16 : l * 256;
}

void Scene::rowLevels(int y, int x0, int x1, int32_t* out) const {
    Span spans[kObjectsMax];
    const int n = spansOf(y, spans);
    for (int x = x0; x < x1; ++x) *out++ = levelAt(y, x, spans, n);
}

// Samples [x0, x1) of row y: whole blocks together, a piece of one at the
// start on its own.
void Scene::emitRow(unsigned char* out, int y, int x0, int x1, const RowKernels& kernels) const {
    const Geometry& g = geometry_;
    const int16_t* even = rowLevel_.data() + 2 * y;
    const int q = g.originX & 1;  // blocks start on even columns of the window
    rows::Blocks k{columnsOf(y),
                   row_.data(),
                   0,
                   blockClass_.data() + static_cast<size_t>(y) * blocks_,
                   noiseTable().data() + noiseStart(kernels.noiseSeed, y),
                   {noiseGain_[0], noiseGain_[1], noiseGain_[2], noiseGain_[3]},
                   {even[q], even[q ^ 1]}};

    Span spans[kObjectsMax];
    if (const int n = spansOf(y, spans)) {
        const int first = x0 / kBlock, last = (x1 - 1) / kBlock;
        std::copy(k.classes + first, k.classes + last + 1, rowClass_.data() + first);
        k.classes = rowClass_.data();
        // Objects sharing a block form a cluster. Over its whole blocks the
        // levels come from the scratch row, and each block takes the class
        // of the level at its middle.
        for (int i = 1; i < n; ++i)  // a few: insertion
            for (int j = i; j > 0 && spans[j].x0 < spans[j - 1].x0; --j) std::swap(spans[j], spans[j - 1]);
        for (int i = 0, j = 0; i < n; i = j) {
            const int b0 = spans[i].x0 / kBlock;
            int b1 = (spans[i].x1 + kBlock - 1) / kBlock;
            for (j = i + 1; j < n && spans[j].x0 / kBlock < b1; ++j)
                b1 = std::max(b1, (spans[j].x1 + kBlock - 1) / kBlock);
            const int h0 = std::max(x0, b0 * kBlock), h1 = std::min(x1, b1 * kBlock);
            if (h0 >= h1) continue;
            // Whole vectors on the blocks' grid, as the noise kernels read
            // them: one pass where one object lies, else each object added
            // onto the background over its blocks.
            int16_t* row = row_.data();
            auto add = [&](const Span& o, const int16_t* from) {
                const int a = std::max(h0, o.x0 / kBlock * kBlock);
                const int b = std::min(h1, (o.x1 + kBlock - 1) / kBlock * kBlock);
                if (a < b) kernels_->addObject(row + a, from + a, o.profile + (a - o.x0), o.weight, b - a);
            };
            if (j == i + 1) {
                add(spans[i], k.columns);
            } else {
                std::copy(k.columns + h0, k.columns + h1, row + h0);
                for (int s = i; s < j; ++s) add(spans[s], row);
            }
            for (int b = std::max(first, b0); b < std::min(last + 1, b1); ++b) {
                const int mid = std::min(b * kBlock + kBlock / 2, g.width - 1);
                const int level = mid >= h0 && mid < h1 ? row_[mid] + even[(g.originX + mid) & 1]
                                                        : levelAt(y, mid, spans, n);
                rowClass_[b] = static_cast<uint8_t>(noiseClass(level) | rows::kFromObjects);
            }
        }
    }

    int x = x0;
    if (x % kBlock) {
        const int block = x / kBlock, next = std::min(x1, (block + 1) * kBlock);
        const int c = k.classes[block], p = (g.originX + x) & 1;
        kernels.run(out, {k.levels(x, c), {even[p], even[p ^ 1]}, k.noise + x, k.gains[c & 3], next - x});
        x = next;
    }
    if (x < x1) kernels.blocks(out + static_cast<size_t>(x - x0) * kernels.bytes, k, x, x1);
}

template <int Bytes>
void Scene::emitSamples(unsigned char* out, size_t first, size_t count, SampleOrder order,
                        uint64_t noiseSeed) const {
    const size_t w = static_cast<size_t>(geometry_.width);
    const size_t image = w * geometry_.height;
    const size_t end = first + count, imageEnd = std::min(end, image);
    const rows::Kernels& best = rows::bestKernels();
    const int o = static_cast<int>(order);
    const RowKernels kernels = Bytes == 1 ? RowKernels{best.noisy8, best.blocks8, 1, noiseSeed}
                                          : RowKernels{best.noisy16[o], best.blocks16[o], 2, noiseSeed};
    for (size_t s = first; s < imageEnd;) {
        const size_t row = s / w, col = s % w;
        const size_t n = std::min(w - col, imageEnd - s);
        emitRow(out + (s - first) * Bytes, static_cast<int>(row), static_cast<int>(col), static_cast<int>(col + n),
                kernels);
        s += n;
    }
    // Hot pixels: far above the scene whatever lies there.
    const int hotClass = noiseClass(hotLevel_);
    for (auto it = std::lower_bound(hot_.begin(), hot_.end(), first); it != hot_.end() && *it < imageEnd; ++it) {
        const int y = static_cast<int>(*it / w), x = static_cast<int>(*it % w);
        const int v = std::clamp(hotLevel_ + noiseAt(hotClass, x, y, noiseSeed), 0, top_);
        storeSample<Bytes>(out + (*it - first) * Bytes, v, order);
    }
    // Samples past the image are dark: the black level.
    if (end > image) {
        const size_t from = std::max(first, image);
        unsigned char* dst = out + (from - first) * Bytes;
        const size_t rest = end - from;
        if constexpr (Bytes == 1) {
            std::fill(dst, dst + rest, static_cast<unsigned char>(black_));
        } else {
            uint8_t pair[2];
            storeSample<2>(pair, black_, order);
            for (size_t i = 0; i < rest; ++i) {
                dst[2 * i] = pair[0];
                dst[2 * i + 1] = pair[1];
            }
        }
    }
}

void Scene::emit(unsigned char* out, size_t first, size_t count, SampleOrder order,
                 uint64_t noiseSeed) const {
    if (exposure_.depth == 16)
        emitSamples<2>(out, first, count, order, noiseSeed);
    else
        emitSamples<1>(out, first, count, order, noiseSeed);
}

}  // namespace sim
