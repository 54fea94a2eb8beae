// Light in frames that should have none. A covered sensor's frame is its
// offset plus dark current: the same in every colour channel (the colour
// filters do not change dark current), flat on a large scale, never near
// the top of the range at sensible exposures, and no brighter than a
// covered frame of the same settings taken for a longer time. Light breaks
// each of these: the channels follow its colour, the optics shade it
// towards the corners, it scales with exposure. Each test allows for
//  - chance: five standard errors of the means compared;
//  - what a covered sensor itself may show: a quarter of the noise width
//    (offsets of real sensors differ between channels and regions by well
//    under that), and a share of the dark signal above the bias where the
//    library knows the bias (dark current that differs slightly between
//    regions, or rises with a sensor a little warmer).
// Large-scale glow of a covered sensor (amplifier glow, a warm readout)
// brightens its edges, never its centre, so the shading test is one-sided.
#include "calibration/light_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace calib {
namespace {

constexpr double kChanceErrors = 5.0;    // standard errors
constexpr double kNoiseShare = 0.25;     // of the noise width
constexpr double kColourSignal = 0.05;   // of the dark signal above the bias
constexpr double kShadeSignal = 0.05;    // of the dark signal above the bias
constexpr double kCeilingSignal = 1.0;   // the dark signal may double (a warmer sensor)
constexpr double kTopShare = 0.01;       // of the samples
constexpr double kOutlierWidths = 5.0;   // hot pixels are left out beyond this
// The least conversion gain of any sensor of this kind, in DN per electron
// of 16-bit frames: a full scale of 655,000 electrons. A signal of S DN
// above the bias carries at least this gain times S of variance.
constexpr double kLeastGain16 = 0.1;

double topOf(int depth) {
    return depth == 16 ? 0xffc0 : 255;
}

struct Box {
    int x0, y0, x1, y1;
};

// Per-site sums of one box, in two passes: a first mean and spread, then
// the mean and spread of the samples within kOutlierWidths of it.
template <typename Get>
void boxLevels(const Get& get, int width, int sites, const Box& b, Level out[4], double* atTop,
               double top) {
    double sum[4] = {}, sum2[4] = {}, n[4] = {};
    const auto siteOf = [&](int x, int y) { return sites == 4 ? (y & 1) * 2 + (x & 1) : 0; };
    size_t high = 0;
    for (int y = b.y0; y < b.y1; ++y)
        for (int x = b.x0; x < b.x1; ++x) {
            const double v = get(static_cast<size_t>(y) * static_cast<size_t>(width) + x);
            const int s = siteOf(x, y);
            sum[s] += v, sum2[s] += v * v, n[s] += 1;
            high += v >= top;
        }
    if (atTop) {
        const double all = static_cast<double>(b.x1 - b.x0) * (b.y1 - b.y0);
        *atTop = all > 0 ? static_cast<double>(high) / all : 0;
    }
    double low[4], limit[4];
    for (int s = 0; s < sites; ++s) {
        const double mean = n[s] ? sum[s] / n[s] : 0;
        const double spread = n[s] ? std::sqrt(std::max(sum2[s] / n[s] - mean * mean, 0.0)) : 0;
        // At least one sample step either side, so quantised samples stay in.
        low[s] = mean - std::max(kOutlierWidths * spread, 1.0);
        limit[s] = mean + std::max(kOutlierWidths * spread, 1.0);
        sum[s] = sum2[s] = n[s] = 0;
    }
    for (int y = b.y0; y < b.y1; ++y)
        for (int x = b.x0; x < b.x1; ++x) {
            const double v = get(static_cast<size_t>(y) * static_cast<size_t>(width) + x);
            const int s = siteOf(x, y);
            if (v < low[s] || v > limit[s]) continue;
            sum[s] += v, sum2[s] += v * v, n[s] += 1;
        }
    for (int s = 0; s < sites; ++s) {
        const double mean = n[s] ? sum[s] / n[s] : 0;
        const double var = n[s] > 1 ? std::max(sum2[s] - n[s] * mean * mean, 0.0) / (n[s] - 1) : 0;
        out[s] = {mean, n[s] ? std::sqrt(var / n[s]) : 0};
    }
}

// The mean over the sites; sites are independent samples.
Level siteMean(const Level* site, int sites) {
    Level l;
    double var = 0;
    for (int s = 0; s < sites; ++s) {
        l.mean += site[s].mean / sites;
        var += site[s].error * site[s].error;
    }
    l.error = std::sqrt(var) / sites;
    return l;
}

// The noise width of one sample from the differences of neighbours of the
// same site on every fourth row: a robust first width, then the spread of
// the differences within kOutlierWidths of it.
template <typename Get>
double neighbourNoise(const Get& get, int width, int height, int step) {
    std::vector<double> d;
    const int rowStep = height >= 64 ? 4 : 1;
    for (int y = 0; y < height; y += rowStep)
        for (int x = 0; x + step < width; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + x;
            d.push_back(get(i + step) - get(i));
        }
    if (d.empty()) return 0;
    std::vector<double> magnitude(d.size());
    for (size_t i = 0; i < d.size(); ++i) magnitude[i] = std::fabs(d[i]);
    const size_t mid = magnitude.size() / 2;
    std::nth_element(magnitude.begin(), magnitude.begin() + mid, magnitude.end());
    const double robust = 1.4826 * magnitude[mid];
    const double limit = std::max(kOutlierWidths * robust, 1.0);
    double sum2 = 0, n = 0;
    for (double v : d)
        if (std::fabs(v) <= limit) sum2 += v * v, n += 1;
    // A difference of two samples has twice a sample's variance.
    return n ? std::sqrt(sum2 / n / 2) : 0;
}

template <typename Get>
FrameLevels measure(const Get& get, int width, int height, int depth, int bayer) {
    FrameLevels f;
    f.sites = bayer ? 4 : 1;
    const double top = topOf(depth);
    boxLevels(get, width, f.sites, {0, 0, width, height}, f.site, &f.topShare, top);
    f.whole = siteMean(f.site, f.sites);
    if (width >= 16 && height >= 16) {
        f.shaded = true;
        Level centre[4];
        boxLevels(get, width, f.sites, {width / 4 & ~1, height / 4 & ~1, 3 * width / 4 & ~1, 3 * height / 4 & ~1},
                  centre, nullptr, top);
        f.centre = siteMean(centre, f.sites);
        const int cw = std::max(width / 8 & ~1, 2), ch = std::max(height / 8 & ~1, 2);
        const int right = (width - cw) & ~1, bottom = (height - ch) & ~1;
        double var = 0;
        for (const Box& b : {Box{0, 0, cw, ch}, Box{right, 0, right + cw, ch}, Box{0, bottom, cw, bottom + ch},
                             Box{right, bottom, right + cw, bottom + ch}}) {
            Level corner[4];
            boxLevels(get, width, f.sites, b, corner, nullptr, top);
            const Level c = siteMean(corner, f.sites);
            f.corners.mean += c.mean / 4;
            var += c.error * c.error;
        }
        f.corners.error = std::sqrt(var) / 4;
    }
    f.noise = neighbourNoise(get, width, height, bayer ? 2 : 1);
    return f;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, std::fabs(v) >= 100 ? "%.0f" : "%.1f", v);
    return text;
}

double together(const Level& a, const Level& b) {
    return std::hypot(a.error, b.error);
}

}  // namespace

FrameLevels measureLevels(const unsigned char* samples, int width, int height, int depth, int bayer) {
    if (depth == 16)
        return measure(
            [samples](size_t i) {
                uint16_t v;
                std::memcpy(&v, samples + 2 * i, 2);
                return static_cast<double>(v);
            },
            width, height, depth, bayer);
    return measure([samples](size_t i) { return static_cast<double>(samples[i]); }, width, height, depth,
                   bayer);
}

FrameLevels measureLevels(const std::vector<float>& samples, int width, int height, int depth, int bayer) {
    const float* p = samples.data();
    return measure([p](size_t i) { return static_cast<double>(p[i]); }, width, height, depth, bayer);
}

CappedReference cappedReference(const Library& library, const Conditions& at, const MatchOptions& options) {
    CappedReference ref;
    double biasGap = 0;
    for (const Entry& e : library.entries()) {
        const Master& m = e.master;
        if (!e.isMaster || m.kind == Kind::Flat || !Library::refusal(m, at, options).empty()) continue;
        const bool longer = m.at.exposureMs >= at.exposureMs * (1 - 5e-3);
        const double gap = m.at.hasTemperature && at.hasTemperature ? std::fabs(m.at.temperature - at.temperature) : 0;
        const bool nearerBias = m.kind == Kind::Bias && (!ref.bias || gap < biasGap);
        if (!longer && !nearerBias) continue;
        Master pixels;
        std::string error;
        if (!readMaster(library.path(e), pixels, true, error)) continue;
        if (pixels.pixels.size() != static_cast<size_t>(at.width) * static_cast<size_t>(at.height)) continue;
        const FrameLevels levels = measureLevels(pixels.pixels, at.width, at.height, at.depth, at.bayer);
        const CappedReference::Master seen{m.kind, m.at.exposureMs, e.file, levels.whole};
        if (nearerBias) {
            ref.bias = seen;
            biasGap = gap;
        }
        if (longer) ref.ceilings.push_back(seen);
    }
    return ref;
}

std::string lightShown(const FrameLevels& f, double noise, bool temporal, int depth,
                       const CappedReference& ref) {
    // One sample step at least: quantised samples of a quiet sensor may
    // show no noise at all.
    const double width = std::max(noise, 1.0);
    const double floorShare = kNoiseShare * width;
    const double signal = ref.bias ? std::max(f.whole.mean - ref.bias->level.mean, 0.0) : 0.0;

    if (f.topShare > kTopShare)
        return number(100 * f.topShare) + " % of the samples are at the top of the range";

    if (temporal && ref.bias) {
        const double least = kLeastGain16 * std::ldexp(1.0, depth - 16) * signal;
        if (noise * noise < least)
            return "the frames lie " + number(signal) + " DN above the bias (" + ref.bias->file +
                   ") yet vary by only " + number(noise) +
                   " DN from frame to frame, which only saturated pixels do";
    }

    if (f.sites == 4) {
        int lo = 0, hi = 0;
        for (int s = 1; s < 4; ++s) {
            if (f.site[s].mean < f.site[lo].mean) lo = s;
            if (f.site[s].mean > f.site[hi].mean) hi = s;
        }
        const double spread = f.site[hi].mean - f.site[lo].mean;
        const double allowed = kChanceErrors * together(f.site[hi], f.site[lo]) + floorShare + kColourSignal * signal;
        if (spread > allowed)
            return "the colour channels differ by " + number(spread) + " DN (" + number(f.site[hi].mean) +
                   " against " + number(f.site[lo].mean) + "; a covered sensor allows " + number(allowed) + ")";
    }

    if (f.shaded) {
        const double excess = f.centre.mean - f.corners.mean;
        const double allowed = kChanceErrors * together(f.centre, f.corners) + floorShare + kShadeSignal * signal;
        if (excess > allowed)
            return "the centre is " + number(excess) + " DN brighter than the corners (a covered sensor allows " +
                   number(allowed) + ")";
    }

    for (const CappedReference::Master& c : ref.ceilings) {
        // Without the bias a dark's own dark signal is unknown, and a sensor
        // a degree warmer raises it by more than any fixed margin.
        if (c.kind == Kind::Dark && !ref.bias) continue;
        const double darkSignal = ref.bias ? std::max(c.level.mean - ref.bias->level.mean, 0.0) : 0.0;
        const double allowed = kChanceErrors * together(f.whole, c.level) + floorShare + kCeilingSignal * darkSignal;
        if (f.whole.mean - c.level.mean > allowed) {
            const std::string what = c.kind == Kind::Bias ? std::string("the bias")
                                                          : "the dark of " + milliseconds(c.exposureMs) + " ms";
            return "the level, " + number(f.whole.mean) + " DN, is above the " + number(c.level.mean) + " DN of " +
                   what + " at these settings (" + c.file + ") by more than the " + number(allowed) +
                   " DN a covered sensor allows";
        }
    }
    return "";
}

}  // namespace calib
