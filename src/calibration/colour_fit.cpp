// Colour calibration on the 24-patch chart.
#include "calibration/colour_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "calibration/colour_profile.h"

namespace colourfit {

namespace {

using chart::Rgb;

constexpr int kNeutrals[] = {19, 20, 21, 22};  // neutral 8 .. 3.5: below the white's clipping, above the noise
constexpr int kWhite = 18, kBlack = 23;
// The white patch's light below this share of the range leaves the dark
// patches a few steps of the converter: too little to measure them.
constexpr double kDarkWhite = 0.12;
// A fit this far from the reference did not see the chart's colours.
constexpr double kNoChartDeltaE = 12;

Rgb times(const Matrix& m, const Rgb& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

double luminance(const Rgb& v) {
    return 0.2126729 * v[0] + 0.7151522 * v[1] + 0.0721750 * v[2];
}

unsigned sampleAt(const _ezImage& r, int x, int y, int channel) {
    const unsigned char* row = r.data + static_cast<size_t>(y) * r.stride;
    const size_t i = static_cast<size_t>(x) * r.channels + static_cast<size_t>(channel);
    if (r.depth == 8) return row[i];
    uint16_t v;
    std::memcpy(&v, row + 2 * i, 2);
    return v;
}

// Channel gains that make the neutral patches grey: each colour scaled to
// green over them.
Rgb whiteGains(const Patches& c) {
    Rgb sums{};
    for (int p : kNeutrals)
        for (int k = 0; k < 3; ++k) sums[k] += c[static_cast<size_t>(p)][k];
    return {sums[1] / sums[0], 1.0, sums[1] / sums[2]};
}

Patches balanced(Patches c, const Rgb& gains) {
    for (Rgb& v : c)
        for (int k = 0; k < 3; ++k) v[k] *= gains[k];
    return c;
}

// Least squares of each row of M over the patches: M c = reference, by the
// normal equations (3 x 3, solved by Cramer's rule).
std::optional<Matrix> leastSquares(const Patches& c) {
    double a[3][3] = {}, b[3][3] = {};
    for (int p = 0; p < chart::kPatches; ++p) {
        const Rgb& x = c[static_cast<size_t>(p)];
        const Rgb& r = chart::referenceRgb()[static_cast<size_t>(p)];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                a[i][j] += x[i] * x[j];
                b[i][j] += r[i] * x[j];  // row i of the output, column j of the input
            }
    }
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    if (!(std::fabs(det) > 1e-300)) return std::nullopt;
    double inv[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
            inv[i][j] = (a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1]) / det;
        }
    Matrix m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) m[static_cast<size_t>(3 * i + j)] += b[i][k] * inv[k][j];
    return m;
}

// From the least-squares start, a pattern search on the mean CIEDE2000: the
// colour difference, not the linear error, is what the eye judges.
Matrix refine(Matrix m, const Patches& c) {
    auto cost = [&](const Matrix& t) {
        Patches out{};
        for (size_t p = 0; p < out.size(); ++p) out[p] = times(t, c[p]);
        return score(out).mean;
    };
    double best = cost(m);
    for (double step = 0.02; step > 1e-5; step /= 2) {
        for (bool better = true; better;) {
            better = false;
            for (size_t i = 0; i < 9; ++i)
                for (double sign : {1.0, -1.0}) {
                    Matrix t = m;
                    t[i] += sign * step * std::max(0.05, std::fabs(m[i]));
                    const double v = cost(t);
                    if (v < best - 1e-9) best = v, m = t, better = true;
                }
        }
    }
    return m;
}

// One calibration per camera at a time: the second would read the first's
// frames and restore its settings under it.
class Claim {
  public:
    explicit Claim(std::string camera) : camera_(std::move(camera)) {
        std::lock_guard guard(lock());
        held_ = running().insert(camera_).second;
    }
    ~Claim() {
        std::lock_guard guard(lock());
        if (held_) running().erase(camera_);
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    bool held() const { return held_; }

  private:
    static std::mutex& lock() {
        static std::mutex m;
        return m;
    }
    static std::set<std::string>& running() {
        static std::set<std::string> s;
        return s;
    }
    std::string camera_;
    bool held_ = false;
};

// Restores what the calibration changes while it measures.
class Restore {
  public:
    explicit Restore(const char* c) : c_(c), exposure_(GetExposure(c)) {
        GetColorEnhancement(&enhanced_, c);
        GetColorProfile(profile_, sizeof profile_, c);
        GetAutoExposure(&automatic_, c);
    }
    ~Restore() {
        SetExposure(exposure_, c_);
        SetAutoExposure(automatic_, c_);
        SetColorEnhancement(enhanced_, c_);
        SetColorProfile(profile_, c_);
    }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;

  private:
    const char* c_;
    float exposure_;
    bool enhanced_ = false, automatic_ = false;
    char profile_[128] = {};
};

// Frames of the camera, raw and finished, each read counted for progress.
class Frames {
  public:
    Frames(const char* camera, int total, EzColorProgress progress, void* user)
        : camera_(camera),
          raw_(static_cast<size_t>(std::max(RecvMemSize(camera), 0))),
          total_(total),
          progress_(progress),
          user_(user) {}
    // Frames a read loses (a mode change, a transfer fault) are read again.
    bool next() {
        if (raw_.empty()) return false;
        for (int attempt = 0; attempt < 40; ++attempt) {
            const int result = GetRawDataInfo(raw_.data(), static_cast<int>(raw_.size()), &info_, camera_);
            if (result == EZ_OK || result == EZ_CAPTURE) {
                if (progress_) progress_(++done_, total_, user_);
                return true;
            }
            if (result == EZ_ENOCAM || result == EZ_ERANGE) break;
        }
        return false;
    }
    bool finish() {
        const size_t need = record().header_size + size_t{record().width} * record().height * 3 * (record().depth / 8) + 4128;
        image_.resize(std::max(image_.size(), need));
        return DecodeRaw2Image(raw_.data(), image_.data(), camera_) == EZ_OK;
    }
    const _ezImage& record() const { return *reinterpret_cast<const _ezImage*>(raw_.data()); }
    const _ezImage& image() const { return *reinterpret_cast<const _ezImage*>(image_.data()); }
    const EzFrameInfo& info() const { return info_; }

  private:
    const char* camera_;
    std::vector<unsigned char> raw_, image_;
    EzFrameInfo info_{};
    int done_ = 0, total_;
    EzColorProgress progress_;
    void* user_;
};

// The chart's patches averaged over `frames` frames, raw and decoded.
bool measure(Frames& f, int frames, const char* pattern, const std::array<Area, chart::kPatches>& areas,
             Patches& raw, Patches& decoded) {
    PatchSums r, d;
    for (int i = 0; i < frames; ++i) {
        if (!f.next() || !f.finish()) return false;
        addRaw(f.record(), pattern, areas, r);
        addImage(f.image(), f.record(), areas, d);
    }
    raw = r.means();
    decoded = d.means();
    return true;
}

}  // namespace

Patches PatchSums::means() const {
    Patches m{};
    for (size_t p = 0; p < m.size(); ++p)
        for (int k = 0; k < 3; ++k) m[p][k] = count[p][k] > 0 ? sum[p][k] / count[p][k] : 0;
    return m;
}

std::array<Area, chart::kPatches> patchAreas(const std::array<int, 4>& rect) {
    std::array<Area, chart::kPatches> areas{};
    for (int p = 0; p < chart::kPatches; ++p) {
        const chart::Box b = chart::patchBox(p);
        const double mx = (b.x1 - b.x0) / 4, my = (b.y1 - b.y0) / 4;
        areas[static_cast<size_t>(p)] = {rect[0] + static_cast<int>(std::lround((b.x0 + mx) * rect[2])),
                                         rect[1] + static_cast<int>(std::lround((b.y0 + my) * rect[3])),
                                         rect[0] + static_cast<int>(std::lround((b.x1 - mx) * rect[2])),
                                         rect[1] + static_cast<int>(std::lround((b.y1 - my) * rect[3]))};
    }
    return areas;
}

void addRaw(const _ezImage& r, const char* pattern, const std::array<Area, chart::kPatches>& areas, PatchSums& s) {
    for (size_t p = 0; p < areas.size(); ++p) {
        const Area& a = areas[p];
        for (int y = std::max(a.y0, 0); y < std::min(a.y1, int{r.height}); ++y)
            for (int x = std::max(a.x0, 0); x < std::min(a.x1, int{r.width}); ++x) {
                const char f = pattern[(y & 1) * 2 + (x & 1)];
                const int k = f == 'R' ? 0 : f == 'G' ? 1 : 2;
                s.sum[p][k] += sampleAt(r, x, y, 0);
                s.count[p][k] += 1;
            }
    }
}

void addImage(const _ezImage& image, const _ezImage& raw, const std::array<Area, chart::kPatches>& areas,
              PatchSums& s) {
    const int dx = (raw.width - image.width) / 2, dy = (raw.height - image.height) / 2;
    for (size_t p = 0; p < areas.size(); ++p) {
        const Area& a = areas[p];
        for (int y = std::max(a.y0 - dy, 0); y < std::min(a.y1 - dy, int{image.height}); ++y)
            for (int x = std::max(a.x0 - dx, 0); x < std::min(a.x1 - dx, int{image.width}); ++x)
                for (int k = 0; k < 3; ++k) {
                    s.sum[p][k] += sampleAt(image, x, y, k);
                    s.count[p][k] += 1;
                }
    }
}

Scores score(const Patches& rgb) {
    Scores s;
    for (size_t p = 0; p < rgb.size(); ++p) {
        s.de[p] = chart::deltaE2000(chart::referenceLab()[p], chart::labD65OfLinearSrgb(rgb[p]));
        s.mean += s.de[p] / chart::kPatches;
        s.max = std::max(s.max, s.de[p]);
    }
    return s;
}

bool looksLikeChart(const Patches& raw) {
    for (int p = kWhite; p < kBlack; ++p)
        for (int k = 0; k < 3; ++k)
            if (!(raw[static_cast<size_t>(p)][k] > raw[static_cast<size_t>(p) + 1][k])) return false;
    return true;
}

bool fit(const Patches& raw, const Patches& decoded, Fit& out) {
    // Before: today's decoding, white-balanced on the neutrals and scaled
    // to their luminance.
    auto scaledToNeutrals = [](Patches v) {
        double want = 0, have = 0;
        for (int p : kNeutrals) {
            want += luminance(chart::referenceRgb()[static_cast<size_t>(p)]);
            have += luminance(v[static_cast<size_t>(p)]);
        }
        for (Rgb& x : v)
            for (double& e : x) e *= have > 0 ? want / have : 0;
        return v;
    };
    out.before = scaledToNeutrals(balanced(decoded, whiteGains(decoded)));
    out.beforeScores = score(out.before);

    // After: white balance on the neutrals, then the fitted matrix.
    out.gains = whiteGains(raw);
    for (double g : out.gains)
        if (!std::isfinite(g) || g <= 0) return false;
    const Patches camera = balanced(raw, out.gains);
    const std::optional<Matrix> start = leastSquares(camera);
    if (!start) return false;
    const Matrix fitted = refine(*start, camera);
    for (size_t p = 0; p < out.after.size(); ++p) out.after[p] = times(fitted, camera[p]);
    out.afterScores = score(out.after);

    // The profile acts on decoded colours, whatever the exposure: white
    // balance folded in, the neutrals' luminance kept at their green level.
    double y = 0, g = 0;
    for (int p : kNeutrals) {
        y += luminance(out.after[static_cast<size_t>(p)]);
        g += camera[static_cast<size_t>(p)][1];
    }
    if (!(y > 0)) return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out.profile[static_cast<size_t>(3 * i + j)] =
                fitted[static_cast<size_t>(3 * i + j)] * out.gains[static_cast<size_t>(j)] * g / y;
    return true;
}

int calibrate(const char* c, const __IMG_RECT* chartRect, const std::string& profile, int frames,
              EzColorProgress progress, void* user, EzColorFit& result, std::string& why) {
    if (frames == 0) frames = kDefaultFrames;
    if (frames < 1 || frames > 1000) {
        why = "The frames per exposure must be 1 to 1000.";
        return EZ_ERANGE;
    }
    const int bayer = GetRawBayernPattern(c);
    if (bayer == EZ_ENOCAM) {
        why = "No camera is called '" + std::string(c ? c : "") + "'.";
        return EZ_ENOCAM;
    }
    if (bayer <= 0) {
        why = "Colour calibration needs a colour camera.";
        return EZ_ENOTSUP;
    }
    const std::string name = profile.empty() ? "default" : profile;
    if (name == "off" || !calib::usableName(name)) {
        why = "The profile name '" + name + "' cannot be used: letters, digits, spaces and . - _ + only.";
        return EZ_ERANGE;
    }
    const Claim claim(c);
    if (!claim.held()) {
        why = "The camera is busy: a colour calibration is running on it already.";
        return EZ_EBUSY;
    }
    const Restore restore(c);
    SetAutoExposure(false, c);  // the two exposures are the ones measured
    // 2 to settle, 1 after the colour settings and the chart; 2 after the
    // exposure's change and the chart again.
    Frames f(c, 5 + 2 * frames, progress, user);
    auto noFrame = [&why] {
        why = "The camera sends no frames (is it streaming?).";
        return EZ_EIO;
    };
    // The frames under way may predate the settings.
    if (!f.next() || !f.next()) return noFrame();
    const int width = f.record().width, height = f.record().height;
    std::array<int, 4> rect = {0, 0, width, height};
    if (chartRect) {
        const __IMG_RECT& r = *chartRect;
        if (r.left < 0 || r.top < 0 || r.right > width || r.bottom > height ||
            int64_t{r.right} - r.left < kMinWidth || int64_t{r.bottom} - r.top < kMinHeight) {
            why = "The chart's rectangle must lie inside the " + std::to_string(width) + " x " +
                  std::to_string(height) + " frame and be at least " + std::to_string(kMinWidth) + " x " +
                  std::to_string(kMinHeight) + " pixels.";
            return EZ_ERANGE;
        }
        rect = {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    const auto areas = patchAreas(rect);
    const char* pattern = BayerPatternName(f.info().bayer);
    const double top = f.record().depth == 16 ? 65535.0 : 255.0;

    // The chart, raw and through today's colour-enhanced decoding.
    SetColorProfile("off", c);
    SetColorEnhancement(true, c);
    Patches seen{}, decoded{};
    if (!f.next() || !measure(f, frames, pattern, areas, seen, decoded)) return noFrame();
    for (int k = 0; k < 3; ++k)
        if (seen[kWhite][k] > 0.97 * top) {
            why = "The chart's white patch is at the top of the range: shorten the exposure or lower the gain.";
            return EZ_ECLIPPED;
        }

    // The black level: frames at the shortest exposure show the offset and
    // that exposure's share of the light. The light scales with the
    // exposure time and the offset does not, so the two exposures give the
    // light alone, patch by patch.
    const float exposure = GetExposure(c);
    float low = 0, high = 0, step = 0;
    GetExposureRange(&low, &high, &step, c);
    SetExposure(low, c);
    const float shortest = GetExposure(c);
    if (!(shortest < 0.5f * exposure)) {
        why = "The exposure is too short to tell the chart's light from the black level: lengthen it.";
        return EZ_EDARK;
    }
    Patches blackRaw{}, blackDecoded{};
    if (!f.next() || !f.next() || !measure(f, frames, pattern, areas, blackRaw, blackDecoded)) return noFrame();
    const double light = exposure / (exposure - shortest);
    for (size_t p = 0; p < seen.size(); ++p)
        for (int k = 0; k < 3; ++k) {
            seen[p][k] = (seen[p][k] - blackRaw[p][k]) * light;
            decoded[p][k] = (decoded[p][k] - blackDecoded[p][k]) * light;
        }
    if (!looksLikeChart(seen)) {
        // A dark chart hides the neutral row's steps in the noise, but its
        // patches still differ; a plain surface's do not.
        double lo = top, hi = 0;
        for (const Rgb& v : seen) lo = std::min(lo, v[1]), hi = std::max(hi, v[1]);
        if (hi <= 0 || (hi < kDarkWhite * top && hi - lo > 0.25 * hi)) {
            why = "The chart is too dark to measure: lengthen the exposure or add light.";
            return EZ_EDARK;
        }
        why = "No colour chart in the rectangle: its neutral row (white to black) was not found.";
        return EZ_ECHART;
    }
    if (*std::min_element(seen[kWhite].begin(), seen[kWhite].end()) < kDarkWhite * top) {
        why = "The chart is too dark to measure: lengthen the exposure or add light.";
        return EZ_EDARK;
    }

    Fit fitted;
    if (!fit(seen, decoded, fitted) || !(fitted.afterScores.mean < kNoChartDeltaE)) {
        why = "No colour chart in the rectangle: its patches' colours do not fit the chart's.";
        return EZ_ECHART;
    }
    const int saved = SaveColorProfile(name.c_str(), fitted.profile.data(), result.path, sizeof result.path, c);
    if (saved != EZ_OK) {
        why = saved == EZ_ERANGE ? "The fitted matrix cannot be stored as a profile (its values are out of range)."
                                 : "The profile could not be stored (see the log).";
        return saved == EZ_ERANGE ? EZ_ECHART : EZ_EIO;
    }
    std::snprintf(result.profile, sizeof result.profile, "%s", name.c_str());
    std::copy(fitted.profile.begin(), fitted.profile.end(), result.matrix);
    std::copy(fitted.gains.begin(), fitted.gains.end(), result.white_gains);
    result.chart = {rect[0], rect[1], rect[0] + rect[2], rect[1] + rect[3]};
    result.delta_e_mean_before = fitted.beforeScores.mean;
    result.delta_e_max_before = fitted.beforeScores.max;
    result.delta_e_mean_after = fitted.afterScores.mean;
    result.delta_e_max_after = fitted.afterScores.max;
    for (size_t p = 0; p < chart::kPatches; ++p) {
        EzColorPatch& out = result.patches[p];
        for (size_t k = 0; k < 3; ++k) {
            out.reference_rgb[k] = chart::referenceRgb()[p][k];
            out.camera_rgb[k] = seen[p][k];
            out.before_rgb[k] = fitted.before[p][k];
            out.after_rgb[k] = fitted.after[p][k];
        }
        out.delta_e_before = fitted.beforeScores.de[p];
        out.delta_e_after = fitted.afterScores.de[p];
    }
    return EZ_OK;
}

}  // namespace colourfit
