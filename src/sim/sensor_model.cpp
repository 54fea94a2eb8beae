// The physical sensor's properties, its fixed patterns and its per-frame noise.
#include "sim/sensor_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "sim/scene_rows.h"

namespace sim {
namespace {

constexpr int kTop12 = 4095, kTop8 = 255;

uint64_t mix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

// The standard normal's quantile (Acklam's rational approximation, then
// one Newton step on the exact distribution).
double normalQuantile(double p) {
    static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,
                                   -2.759285104469687e+02, 1.383577518672690e+02,
                                   -3.066479806614716e+01, 2.506628277459239e+00};
    static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02,
                                   -1.556989798598866e+02, 6.680131188771972e+01,
                                   -1.328068155288572e+01};
    static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01,
                                   -2.400758277161838e+00, -2.549732539343734e+00,
                                   4.374664141464968e+00,  2.938163982698783e+00};
    static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01,
                                   2.445134137142996e+00, 3.754408661907416e+00};
    double x;
    if (p < 0.02425) {
        const double q = std::sqrt(-2 * std::log(p));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else if (p > 1 - 0.02425) {
        const double q = std::sqrt(-2 * std::log(1 - p));
        x = -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else {
        const double q = p - 0.5, r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
            (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
    }
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - p;
    const double u = e * std::sqrt(2 * 3.14159265358979323846) * std::exp(x * x / 2);
    return x - u / (1 + x * u / 2);
}

// 2^16 equally likely values of a standard normal variable (scaled to a
// variance of exactly 1), picked by 16 bits of a hash.
const std::array<float, 65536>& normals() {
    static const std::array<float, 65536> table = [] {
        std::array<double, 65536> q;
        double sum2 = 0;
        for (size_t i = 0; i < q.size(); ++i) {
            q[i] = normalQuantile((static_cast<double>(i) + 0.5) / 65536.0);
            sum2 += q[i] * q[i];
        }
        const double scale = 1.0 / std::sqrt(sum2 / 65536.0);
        std::array<float, 65536> t;
        for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<float>(q[i] * scale);
        return t;
    }();
    return table;
}

struct Key {
    const char* name;
    double SensorProperties::*field;
    double min, max;
};
constexpr Key kKeys[] = {
    {"k", &SensorProperties::k, 1e-3, 100},
    {"read", &SensorProperties::readNoise, 0, 1e4},
    {"dark", &SensorProperties::darkCurrent, 0, 1e7},
    {"doubling", &SensorProperties::doublingCelsius, 0.1, 100},
    {"tref", &SensorProperties::referenceCelsius, -100, 100},
    {"dsnu", &SensorProperties::dsnu, 0, 1e4},
    {"prnu", &SensorProperties::prnu, 0, 0.5},
    {"well", &SensorProperties::fullWell, 1, 1e7},
    {"hot", &SensorProperties::hotFraction, 0, 1},
    {"hotfactor", &SensorProperties::hotFactor, 1, 1e6},
    {"light", &SensorProperties::light, 0, 100},
};

template <int Bytes>
void store(unsigned char* out, const int32_t* levels, int count, SampleOrder order) {
    if constexpr (Bytes == 1) {
        for (int i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(levels[i]);
    } else if (order == SampleOrder::MsbFirst) {
        for (int i = 0; i < count; ++i) rows::store16<SampleOrder::MsbFirst>(out + 2 * i, levels[i]);
    } else if (order == SampleOrder::Host) {
        for (int i = 0; i < count; ++i) rows::store16<SampleOrder::Host>(out + 2 * i, levels[i]);
    } else {
        for (int i = 0; i < count; ++i) rows::store16<SampleOrder::Packed12>(out + 2 * i, levels[i]);
    }
}

}  // namespace

bool SensorProperties::merge(std::string_view text, std::string& error) {
    SensorProperties next = *this;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find(',', at), text.size());
        const std::string_view item = text.substr(at, end - at);
        at = end + 1;
        if (item.empty() || item == "on") continue;
        const size_t eq = item.find('=');
        const std::string key(item.substr(0, eq));
        const Key* found = nullptr;
        for (const Key& k : kKeys)
            if (key == k.name) found = &k;
        if (!found || eq == std::string_view::npos) {
            error = "unknown sensor setting '" + std::string(item) + "'";
            return false;
        }
        const std::string value(item.substr(eq + 1));
        char* stop = nullptr;
        const double v = std::strtod(value.c_str(), &stop);
        if (value.empty() || *stop != '\0' || !(v >= found->min && v <= found->max)) {
            error = "sensor setting " + key + " takes a number from " +
                    std::to_string(found->min) + " to " + std::to_string(found->max);
            return false;
        }
        next.*(found->field) = v;
    }
    *this = next;
    return true;
}

double SensorProperties::conversion(int depth, double gain) const {
    return k * gain * (depth == 16 ? 16.0 : 1.0 / 16.0);
}

double SensorProperties::darkAt(double celsius) const {
    return darkCurrent * std::exp2((celsius - referenceCelsius) / doublingCelsius);
}

PhysicalSensor::PhysicalSensor(uint32_t seed) : seed_(seed) {
    normals();
}

void PhysicalSensor::prepare(Scene& scene, const Geometry& geometry, const Exposure& exposure,
                             const SensorFrame& settings, uint64_t frame) {
    const SensorProperties& s = settings.properties;
    const double gain = std::max(static_cast<double>(exposure.noiseGain), 1e-3);
    // The scene gives the light in 12-bit converter units at unity gain.
    Exposure light = exposure;
    light.depth = 16;
    light.black = 0;
    light.noiseGain = 1;
    light.scale = static_cast<float>(exposure.scale / gain * s.light);
    scene.prepare(geometry, light, frame);
    scene_ = &scene;
    depth_ = exposure.depth;
    const double unit = depth_ == 16 ? 1.0 : 1.0 / 16.0;  // output DN per 12-bit DN
    electronsPerUnit_ = static_cast<float>(1.0 / s.k);
    dark_ = static_cast<float>(s.darkAt(settings.celsius) * settings.exposureSeconds);
    hotDark_ = static_cast<float>(dark_ * s.hotFactor);
    dnPerElectron_ = static_cast<float>(s.k * gain * unit);
    black_ = static_cast<float>(exposure.black / 16.0 * unit);
    readNoise_ = static_cast<float>(s.readNoise);
    dsnu_ = static_cast<float>(s.dsnu);
    prnu_ = static_cast<float>(s.prnu);
    fullWell_ = static_cast<float>(s.fullWell);
    hotBelow_ = static_cast<uint32_t>(std::min(s.hotFraction * 4294967296.0, 4294967295.0));
}

// Per sample: the pixel's own response, offset and dark current from a hash
// of its place on the sensor; shot noise on light and dark electrons (a
// normal variable with the Poisson variance), clipped at the full well;
// read noise; the converter's gain, black level and range.
void PhysicalSensor::rowSamples(int y, int x0, int x1, uint64_t noiseSeed, int32_t* levels) const {
    const Geometry& g = scene_->geometry();
    const float* n = normals().data();
    scene_->rowLevels(y, x0, x1, levels);
    const uint64_t fy = static_cast<uint64_t>(g.originY + y) << 32;
    const uint64_t row = static_cast<uint64_t>(y) * static_cast<uint64_t>(g.width);
    const float top = depth_ == 16 ? kTop12 : kTop8;
    for (int x = x0; x < x1; ++x) {
        const uint64_t fixed = mix(seed_ ^ fy ^ static_cast<uint64_t>(g.originX + x));
        const uint64_t noise = mix(noiseSeed ^ ((row + static_cast<uint64_t>(x)) * 0xd1b54a32d192ed03ull));
        const float response = 1.0f + prnu_ * n[fixed & 0xffff];
        const float offset = dsnu_ * n[(fixed >> 16) & 0xffff];
        const float dark = static_cast<uint32_t>(fixed >> 32) < hotBelow_ ? hotDark_ : dark_;
        const float mean = static_cast<float>(levels[x - x0]) * electronsPerUnit_ * response + dark;
        float electrons = mean + std::sqrt(mean) * n[noise & 0xffff];
        electrons = std::clamp(electrons, 0.0f, fullWell_) + readNoise_ * n[(noise >> 16) & 0xffff] + offset;
        const float dn = std::clamp(electrons * dnPerElectron_ + black_ + 0.5f, 0.0f, top);
        levels[x - x0] = static_cast<int32_t>(dn);
    }
}

template <int Bytes>
void PhysicalSensor::emitSamples(unsigned char* out, size_t first, size_t count, SampleOrder order,
                                 uint64_t noiseSeed) const {
    const Geometry& g = scene_->geometry();
    const size_t w = static_cast<size_t>(g.width);
    const size_t image = w * static_cast<size_t>(g.height);
    const size_t end = first + count, imageEnd = std::min(end, image);
    row_.resize(std::max<size_t>(w, 1024));
    for (size_t s = first; s < imageEnd;) {
        const size_t y = s / w, x = s % w;
        const size_t n = std::min(w - x, imageEnd - s);
        rowSamples(static_cast<int>(y), static_cast<int>(x), static_cast<int>(x + n), noiseSeed, row_.data());
        store<Bytes>(out + (s - first) * Bytes, row_.data(), static_cast<int>(n), order);
        s += n;
    }
    if (end > image) {  // past the image: the black level
        const size_t from = std::max(first, image);
        const int32_t black = static_cast<int32_t>(black_ + 0.5f);
        std::fill(row_.begin(), row_.end(), black);
        for (size_t s = from; s < end;) {
            const size_t n = std::min(row_.size(), end - s);
            store<Bytes>(out + (s - first) * Bytes, row_.data(), static_cast<int>(n), order);
            s += n;
        }
    }
}

void PhysicalSensor::emit(unsigned char* out, size_t first, size_t count, SampleOrder order,
                          uint64_t noiseSeed) const {
    if (!scene_) return;
    if (depth_ == 16)
        emitSamples<2>(out, first, count, order, noiseSeed);
    else
        emitSamples<1>(out, first, count, order, noiseSeed);
}

}  // namespace sim
