// The simulated sensor's picture: static radiance, drifting objects, levels
// and noise amplitudes, and the per-frame noisy output.
#include "sim/scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sim {
namespace {

constexpr float kRadianceUnit = 8192.0f;  // radiance 1.0 in the static plane
constexpr float kDriftPeriod = 900.0f;    // frames per back-and-forth of an object
constexpr float kVignette = 0.13f;        // corners at (1 - k)^2 of the centre
constexpr float kHotRadiance = 3.0f;      // hot pixels, far above the scene
constexpr float kReadNoise2 = 1600.0f;    // read noise squared, 16-bit units
constexpr float kShotNoise = 6.5f;        // noise variance per unit of signal
constexpr size_t kNoiseSpan = size_t{1} << 16;  // row starts in the noise tables
constexpr int kRowMax = 65536;

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

// The output kernels: level plus the noise of the sample's class; saturated
// samples stay at full scale. Blocks of fixed length let the compiler use
// vector instructions at the project's optimisation level.
struct Classes8 {
    const int8_t *n0, *n1, *n2, *n3;
    uint8_t t1, t2, t3;
};

inline uint8_t noisy8(uint8_t l, int i, const Classes8& k) {
    const int8_t a0 = k.n0[i], a1 = k.n1[i], a2 = k.n2[i], a3 = k.n3[i];
    int8_t v = l > k.t1 ? a1 : a0;
    v = l > k.t2 ? a2 : v;
    v = l > k.t3 ? a3 : v;
    v = l == 255 ? 0 : v;
    int16_t r = static_cast<int16_t>(l + v);
    r = r < 0 ? 0 : r;
    r = r > 255 ? 255 : r;
    return static_cast<uint8_t>(r);
}

[[gnu::noinline]] void emit8(uint8_t* __restrict out, const uint8_t* __restrict level, int n,
                             const Classes8 k) {
    int i = 0;
#if defined(__SSE2__)
    // noisy8 on 16 samples at once, exactly: unsigned compares through the
    // sign bit, and the signed noise added as a saturating rise or fall.
    const auto load = [](const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); };
    const auto pick = [](__m128i mask, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    };
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i t1 = _mm_set1_epi8(static_cast<char>(k.t1 ^ 0x80));
    const __m128i t2 = _mm_set1_epi8(static_cast<char>(k.t2 ^ 0x80));
    const __m128i t3 = _mm_set1_epi8(static_cast<char>(k.t3 ^ 0x80));
    const __m128i full = _mm_set1_epi8(static_cast<char>(0xff)), zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i l = load(level + i);
        const __m128i lx = _mm_xor_si128(l, bias);
        __m128i v = load(k.n0 + i);
        v = pick(_mm_cmpgt_epi8(lx, t1), load(k.n1 + i), v);
        v = pick(_mm_cmpgt_epi8(lx, t2), load(k.n2 + i), v);
        v = pick(_mm_cmpgt_epi8(lx, t3), load(k.n3 + i), v);
        v = _mm_andnot_si128(_mm_cmpeq_epi8(l, full), v);
        const __m128i negative = _mm_cmpgt_epi8(zero, v);
        const __m128i rise = _mm_andnot_si128(negative, v);
        const __m128i fall = _mm_and_si128(negative, _mm_sub_epi8(zero, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_subs_epu8(_mm_adds_epu8(l, rise), fall));
    }
#endif
    for (; i + 64 <= n; i += 64)
        for (int j = 0; j < 64; ++j) out[i + j] = noisy8(level[i + j], i + j, k);
    for (; i < n; ++i) out[i] = noisy8(level[i], i, k);
}

struct Classes12 {
    const int16_t *n0, *n1, *n2, *n3;
    int16_t t1, t2, t3;
};

// A 16-bit sample from a 12-bit level (the converter's resolution), aligned
// to the top bit.
inline uint16_t noisy12(int16_t l, int i, const Classes12& k) {
    const int16_t a0 = k.n0[i], a1 = k.n1[i], a2 = k.n2[i], a3 = k.n3[i];
    int16_t v = l > k.t1 ? a1 : a0;
    v = l > k.t2 ? a2 : v;
    v = l > k.t3 ? a3 : v;
    v = l == 4095 ? 0 : v;
    int16_t r = static_cast<int16_t>(l + v);
    r = r < 0 ? 0 : r;
    r = r > 4095 ? 4095 : r;
    return static_cast<uint16_t>(r << 4);
}

template <SampleOrder Order>
inline void store16(uint8_t* out, int v) {
    if constexpr (Order == SampleOrder::MsbFirst) {
        out[0] = static_cast<uint8_t>(v >> 8);
        out[1] = static_cast<uint8_t>(v);
    } else if constexpr (Order == SampleOrder::Host) {
        out[0] = static_cast<uint8_t>(v);
        out[1] = static_cast<uint8_t>(v >> 8);
    } else {
        out[0] = static_cast<uint8_t>(v >> 8);
        out[1] = static_cast<uint8_t>((v >> 4) & 0x0f);
    }
}

template <SampleOrder Order>
[[gnu::noinline]] void emit16(uint8_t* __restrict out, const int16_t* __restrict level, int n,
                              const Classes12 k) {
    int i = 0;
    for (; i + 32 <= n; i += 32)
        for (int j = 0; j < 32; ++j) store16<Order>(out + 2 * (i + j), noisy12(level[i + j], i + j, k));
    for (; i < n; ++i) store16<Order>(out + 2 * i, noisy12(level[i], i, k));
}

// Row helpers of the renderer, in blocks of fixed length for vector code.
[[gnu::noinline]] void widenRow(float* __restrict out, const uint16_t* __restrict in, int n) {
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int j = 0; j < 16; ++j) out[i + j] = static_cast<float>(in[i + j]);
    for (; i < n; ++i) out[i] = static_cast<float>(in[i]);
}

[[gnu::noinline]] void addRow(float* __restrict acc, const float* __restrict weight, float w, int n) {
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int j = 0; j < 16; ++j) acc[i + j] += weight[i + j] * w;
    for (; i < n; ++i) acc[i] += weight[i] * w;
}

// Levels: (black + radiance x scale) in sample units, rounded, at most top.
template <typename T>
[[gnu::noinline]] void levelRow(T* __restrict out, const float* __restrict acc, float black,
                                float scale, float top, int n) {
    auto one = [=](float a) { return static_cast<T>(std::min(top, black + a * scale) + 0.5f); };
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int j = 0; j < 16; ++j) out[i + j] = one(acc[i + j]);
    for (; i < n; ++i) out[i] = one(acc[i]);
}

// Compact smooth profile of an object along one axis (t in units of its radius).
inline float profile(float t) {
    const float q = 1.0f - t * t;
    return q > 0.0f ? q * q * q : 0.0f;
}

}  // namespace

Scene::Scene(int bayer, uint32_t seed) : bayer_(bayer), seed_(seed) {
    // A few cells of different sizes and brightness, each on its own slow path.
    static constexpr Blob kBlobs[] = {
        {0.30f, 0.35f, 0.06f, 0.04f, 0.080f, 0.070f, 0.55f, 0.0f},
        {0.68f, 0.30f, 0.05f, 0.06f, 0.060f, 0.060f, 0.45f, 1.3f},
        {0.55f, 0.68f, 0.07f, 0.03f, 0.070f, 0.100f, 0.50f, 2.6f},
        {0.20f, 0.75f, 0.04f, 0.05f, 0.050f, 0.050f, 0.60f, 3.9f},
        {0.82f, 0.72f, 0.05f, 0.05f, 0.070f, 0.055f, 0.40f, 5.2f},
    };
    blobs_.assign(std::begin(kBlobs), std::end(kBlobs));
    for (size_t k = 0; k < blobs_.size(); ++k)
        blobs_[k].phase += 0.7f * static_cast<float>(seed % 9 + k);

    // Channel responses: red and blue weaker than green, so white looks greenish.
    static constexpr float kRed = 0.80f, kGreen = 1.0f, kBlue = 0.62f;
    // Tile colours of the Bayer codes 1 to 4: (0,0), (0,1), (1,0), (1,1).
    static constexpr float kTiles[5][4] = {
        {1, 1, 1, 1},
        {kRed, kGreen, kGreen, kBlue},
        {kGreen, kRed, kBlue, kGreen},
        {kBlue, kGreen, kGreen, kRed},
        {kGreen, kBlue, kRed, kGreen},
    };
    const int code = bayer_ >= 1 && bayer_ <= 4 ? bayer_ : 0;
    for (int i = 0; i < 4; ++i) response_[i / 2][i % 2] = kTiles[code][i];
}

void Scene::setFlat(bool flat) {
    if (flat == flat_) return;
    flat_ = flat;
    fieldReady_ = false;
}

void Scene::placeBlob(Blob& blob, uint64_t frame) const {
    const float t = 2.0f * std::numbers::pi_v<float> *
                    static_cast<float>(frame % static_cast<uint64_t>(kDriftPeriod)) / kDriftPeriod;
    const float u = blob.u + blob.du * std::sin(t + blob.phase);
    const float v = blob.v + blob.dv * std::cos(0.5f * t + blob.phase);
    blob.cx = static_cast<int>(std::lround(u * static_cast<float>(geometry_.fieldWidth)));
    blob.cy = static_cast<int>(std::lround(v * static_cast<float>(geometry_.fieldHeight)));
}

Scene::Box Scene::boxOf(const Blob& blob) const {
    const float fw = static_cast<float>(geometry_.fieldWidth);
    const int rx = static_cast<int>(std::ceil(blob.radiusX * fw));
    const int ry = static_cast<int>(std::ceil(blob.radiusY * fw));
    Box b;
    b.x0 = std::max(0, blob.cx - rx - geometry_.originX);
    b.x1 = std::min(geometry_.width, blob.cx + rx + 1 - geometry_.originX);
    b.y0 = std::max(0, blob.cy - ry - geometry_.originY);
    b.y1 = std::min(geometry_.height, blob.cy + ry + 1 - geometry_.originY);
    return b;
}

void Scene::buildField() {
    const Geometry& g = geometry_;
    const size_t n = static_cast<size_t>(g.width) * g.height;
    radiance_.assign(n, 0);
    vignetteX_.resize(g.width);
    vignetteY_.resize(g.height);
    const float fw = static_cast<float>(g.fieldWidth), fh = static_cast<float>(g.fieldHeight);
    std::vector<float> bx1(g.width), bx2(g.width), by1(g.height), by2(g.height);
    const float tau = 2.0f * std::numbers::pi_v<float>;
    for (int x = 0; x < g.width; ++x) {
        const float u = (static_cast<float>(g.originX + x) + 0.5f) / fw;
        const float d = 2.0f * u - 1.0f;
        vignetteX_[x] = 1.0f - kVignette * d * d;
        bx1[x] = std::sin(tau * (1.3f * u + 0.2f));
        bx2[x] = std::cos(tau * 2.2f * u);
    }
    for (int y = 0; y < g.height; ++y) {
        const float v = (static_cast<float>(g.originY + y) + 0.5f) / fh;
        const float d = 2.0f * v - 1.0f;
        vignetteY_[y] = 1.0f - kVignette * d * d;
        by1[y] = std::sin(tau * (0.9f * v + 0.5f));
        by2[y] = std::cos(tau * (1.7f * v + 0.3f));
    }
    for (int y = 0; y < g.height; ++y) {
        const float* resp = response_[(g.originY + y) & 1];
        uint16_t* row = radiance_.data() + static_cast<size_t>(y) * g.width;
        for (int x = 0; x < g.width; ++x) {
            const float background =
                flat_ ? 0.25f : 0.25f + 0.04f * bx1[x] * by1[y] + 0.03f * bx2[x] * by2[y];
            const float r = background * vignetteX_[x] * vignetteY_[y] * resp[(g.originX + x) & 1];
            row[x] = static_cast<uint16_t>(r * kRadianceUnit + 0.5f);
        }
    }
    // Hot pixels sit at fixed places of the field, a few per megapixel.
    const int hot = 3 + static_cast<int>(3ll * g.fieldWidth * g.fieldHeight / 1000000);
    uint64_t s = 0x51ed2701u + seed_;
    for (int i = 0; i < hot; ++i) {
        s = mix(s);
        const int fx = static_cast<int>(s % static_cast<uint64_t>(g.fieldWidth));
        const int fy = static_cast<int>((s >> 32) % static_cast<uint64_t>(g.fieldHeight));
        const int x = fx - g.originX, y = fy - g.originY;
        if (x >= 0 && x < g.width && y >= 0 && y < g.height)
            radiance_[static_cast<size_t>(y) * g.width + x] =
                static_cast<uint16_t>(kHotRadiance * kRadianceUnit);
    }
}

// The noise classes of the current exposure. The noise of a sample has the
// standard deviation sqrt(shot x gain x signal + read^2) (16-bit units) at a
// signal typical of its class.
void Scene::buildNoise() {
    const bool deep = exposure_.depth == 16;
    const int unit = deep ? 16 : 256;  // 16-bit units per sample unit
    const int top = deep ? 4095 : 255;
    const float k = kShotNoise * exposure_.noiseGain;
    // Class boundaries and typical signals, as fractions of full scale.
    static constexpr float kBounds[NoiseClasses::kClasses - 1] = {1.0f / 32, 1.0f / 8, 3.0f / 8};
    static constexpr float kTypical[NoiseClasses::kClasses] = {1.0f / 85, 1.0f / 16, 0.22f, 0.63f};
    NoiseClasses& n = noise_;
    n.black = static_cast<int16_t>(std::min(exposure_.black / unit, top));
    for (int c = 0; c < NoiseClasses::kClasses - 1; ++c)
        n.threshold[c] = static_cast<int16_t>(
            std::min(top, n.black + static_cast<int>(kBounds[c] * static_cast<float>(top)) - 1));
    const std::vector<int8_t>& unitNoise = noiseTable();
    for (int c = 0; c < NoiseClasses::kClasses; ++c) {
        const float sigma = std::sqrt(k * kTypical[c] * kFullScale + kReadNoise2) / static_cast<float>(unit);
        const float f = sigma / 32.0f;
        if (deep) {
            n.table8[c] = {};
            n.table12[c].resize(unitNoise.size());
            for (size_t i = 0; i < unitNoise.size(); ++i)
                n.table12[c][i] = static_cast<int16_t>(std::lround(unitNoise[i] * f));
        } else {
            n.table12[c] = {};
            n.table8[c].resize(unitNoise.size());
            for (size_t i = 0; i < unitNoise.size(); ++i)
                n.table8[c][i] = static_cast<int8_t>(std::clamp(std::lround(unitNoise[i] * f), -127l, 127l));
        }
    }
}

// Levels of a region, objects included.
void Scene::render(Box box) {
    if (box.empty()) return;
    const Geometry& g = geometry_;
    const float fw = static_cast<float>(g.fieldWidth);
    const float scale = exposure_.scale / kRadianceUnit;
    const float black = static_cast<float>(exposure_.black);
    const bool deep = exposure_.depth == 16;
    const float toSample = deep ? 1.0f / 16.0f : 1.0f / 256.0f;
    const float top = deep ? 4095.0f : 255.0f;
    const int w = box.x1 - box.x0;
    std::vector<float> acc(w);
    // Per object and row parity: the object's column profile with vignetting
    // and channel response.
    struct Columns {
        Box box;
        std::vector<float> weight[2];
    };
    std::vector<Columns> cols(blobs_.size());
    for (size_t k = 0; k < blobs_.size(); ++k) {
        if (flat_) break;  // no objects: every box stays empty
        const Blob& b = blobs_[k];
        Columns& c = cols[k];
        c.box = boxOf(b);
        c.box.x0 = std::max(c.box.x0, box.x0);
        c.box.x1 = std::min(c.box.x1, box.x1);
        if (c.box.empty()) continue;
        const float inv = 1.0f / (b.radiusX * fw);
        for (int p = 0; p < 2; ++p) {
            c.weight[p].resize(c.box.x1 - c.box.x0);
            for (int x = c.box.x0; x < c.box.x1; ++x) {
                const float t = static_cast<float>(g.originX + x - b.cx) * inv;
                c.weight[p][x - c.box.x0] = b.amplitude * profile(t) * vignetteX_[x] *
                                            response_[p][(g.originX + x) & 1];
            }
        }
    }
    for (int y = box.y0; y < box.y1; ++y) {
        const size_t row = static_cast<size_t>(y) * g.width + box.x0;
        const uint16_t* rad = radiance_.data() + row;
        float* a = acc.data();
        widenRow(a, rad, w);
        const int parity = (g.originY + y) & 1;
        for (size_t k = 0; k < blobs_.size(); ++k) {
            const Columns& c = cols[k];
            if (c.box.empty() || y < c.box.y0 || y >= c.box.y1) continue;
            const Blob& b = blobs_[k];
            const float t = static_cast<float>(g.originY + y - b.cy) / (b.radiusY * fw);
            const float wy = profile(t) * vignetteY_[y] * kRadianceUnit;
            const float* weight = c.weight[parity].data();
            addRow(a + (c.box.x0 - box.x0), weight, wy, c.box.x1 - c.box.x0);
        }
        if (deep) {
            levelRow(level12_.data() + row, a, black * toSample, scale * toSample, top, w);
        } else {
            levelRow(level8_.data() + row, a, black * toSample, scale * toSample, top, w);
        }
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
        const size_t n = static_cast<size_t>(geometry_.width) * geometry_.height;
        if (e.depth == 16) {
            level12_.resize(n);
            level8_ = {};
        } else {
            level8_.resize(n);
            level12_ = {};
        }
        buildNoise();
        for (Blob& b : blobs_) placeBlob(b, frame);
        render({0, 0, geometry_.width, geometry_.height});
        levelsReady_ = true;
        return;
    }
    // One object moves per frame; only the ground it left and reached changes.
    Blob& b = blobs_[frame % blobs_.size()];
    const Box before = boxOf(b);
    const int cx = b.cx, cy = b.cy;
    placeBlob(b, frame);
    if (b.cx == cx && b.cy == cy) return;
    const Box after = boxOf(b);
    if (before.empty() || after.empty()) {
        render(before);
        render(after);
        return;
    }
    render({std::min(before.x0, after.x0), std::min(before.y0, after.y0),
            std::max(before.x1, after.x1), std::max(before.y1, after.y1)});
}

int Scene::level(int x, int y) const {
    const size_t i = static_cast<size_t>(y) * geometry_.width + x;
    return exposure_.depth == 16 ? level12_[i] * 16 : level8_[i] * 256;
}

template <int Bytes>
void Scene::emitSamples(unsigned char* out, size_t first, size_t count, SampleOrder order,
                        uint64_t noiseSeed) const {
    const NoiseClasses& k = noise_;
    const size_t w = static_cast<size_t>(geometry_.width);
    const size_t image = w * geometry_.height;
    const size_t end = first + count;
    // Each row takes its noise from its own place in the table.
    for (size_t s = first; s < std::min(end, image);) {
        const size_t row = s / w, col = s % w;
        const int n = static_cast<int>(std::min(w - col, std::min(end, image) - s));
        const size_t at = mix(noiseSeed ^ (row * 0x9e3779b97f4a7c15ull)) % kNoiseSpan + col;
        unsigned char* dst = out + (s - first) * Bytes;
        if constexpr (Bytes == 1) {
            const Classes8 c{k.table8[0].data() + at, k.table8[1].data() + at, k.table8[2].data() + at,
                             k.table8[3].data() + at, static_cast<uint8_t>(k.threshold[0]),
                             static_cast<uint8_t>(k.threshold[1]), static_cast<uint8_t>(k.threshold[2])};
            emit8(dst, level8_.data() + s, n, c);
        } else {
            const Classes12 c{k.table12[0].data() + at, k.table12[1].data() + at,
                              k.table12[2].data() + at, k.table12[3].data() + at,
                              k.threshold[0], k.threshold[1], k.threshold[2]};
            if (order == SampleOrder::MsbFirst)
                emit16<SampleOrder::MsbFirst>(dst, level12_.data() + s, n, c);
            else if (order == SampleOrder::Host)
                emit16<SampleOrder::Host>(dst, level12_.data() + s, n, c);
            else
                emit16<SampleOrder::Packed12>(dst, level12_.data() + s, n, c);
        }
        s += static_cast<size_t>(n);
    }
    // Samples past the image are dark: the black level.
    if (end > image) {
        const size_t from = std::max(first, image);
        unsigned char* dst = out + (from - first) * Bytes;
        const size_t rest = end - from;
        if constexpr (Bytes == 1) {
            std::fill(dst, dst + rest, static_cast<unsigned char>(k.black));
        } else {
            uint8_t pair[2];
            const int v = k.black << 4;
            if (order == SampleOrder::MsbFirst)
                store16<SampleOrder::MsbFirst>(pair, v);
            else if (order == SampleOrder::Host)
                store16<SampleOrder::Host>(pair, v);
            else
                store16<SampleOrder::Packed12>(pair, v);
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
