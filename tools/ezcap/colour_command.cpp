// ezcap colour-calibrate and colour-profile: a colour chart measured on the
// raw mosaic, the 3 x 3 matrix that brings the camera's colours to linear
// sRGB, kept as a profile of the camera model; its report as JSON and a PNG
// of the chart with the reference and the reproduced colour side by side.
#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "ezcam.h"
#include "processing/colour_chart.h"

namespace ezcap {
namespace {

using chart::Lab;
using chart::Rgb;
using Matrix = std::array<double, 9>;

constexpr int kNeutrals[] = {19, 20, 21, 22};  // neutral 8 .. 3.5: below the white's clipping, above the noise
constexpr int kWhite = 18;

std::optional<std::string> option(const std::vector<std::string>& args, const std::string& name) {
    std::optional<std::string> value;
    for (size_t i = 0; i + 1 < args.size(); i += 2)
        if (args[i] == name) value = args[i + 1];
    return value;
}

Rgb times(const Matrix& m, const Rgb& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

double luminance(const Rgb& v) {
    return 0.2126729 * v[0] + 0.7151522 * v[1] + 0.0721750 * v[2];
}

// The central half of each patch of the chart's rectangle, in frame pixels.
struct Area {
    int x0, y0, x1, y1;
};
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

unsigned sampleAt(const _ezImage& r, int x, int y, int channel) {
    const unsigned char* row = r.data + static_cast<size_t>(y) * r.stride;
    const size_t i = static_cast<size_t>(x) * r.channels + static_cast<size_t>(channel);
    if (r.depth == 8) return row[i];
    uint16_t v;
    std::memcpy(&v, row + 2 * i, 2);
    return v;
}

// Per patch and colour, the sums and counts of what one or more frames show.
struct PatchSums {
    std::array<std::array<double, 3>, chart::kPatches> sum{}, count{};
    std::array<Rgb, chart::kPatches> means() const {
        std::array<Rgb, chart::kPatches> m{};
        for (size_t p = 0; p < m.size(); ++p)
            for (int k = 0; k < 3; ++k) m[p][k] = count[p][k] > 0 ? sum[p][k] / count[p][k] : 0;
        return m;
    }
};

// The raw mosaic: every sample to its own filter's colour.
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

// A finished image, whose border cut moves it by half the difference of sizes.
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

// Frames of the camera, raw and finished.
class Frames {
  public:
    explicit Frames(const std::string& camera)
        : camera_(camera), raw_(static_cast<size_t>(std::max(RecvMemSize(camera.c_str()), 0))) {}
    bool next() {
        for (int attempt = 0; attempt < 40; ++attempt) {
            const int result = GetRawDataInfo(raw_.data(), static_cast<int>(raw_.size()), &info_, camera_.c_str());
            if (result == 0 || result == 1) return true;
            if (result == EZ_ENOCAM || result == EZ_ERANGE) break;
        }
        complain("no frame from the camera");
        return false;
    }
    bool finish() {
        image_.resize(std::max(image_.size(), record().header_size + size_t{record().width} * record().height *
                                                                     3 * (record().depth / 8) + 4128));
        if (DecodeRaw2Image(raw_.data(), image_.data(), camera_.c_str()) != 0) {
            complain("decoding a frame failed");
            return false;
        }
        return true;
    }
    const _ezImage& record() const { return *reinterpret_cast<const _ezImage*>(raw_.data()); }
    const _ezImage& image() const { return *reinterpret_cast<const _ezImage*>(image_.data()); }
    const EzFrameInfo& info() const { return info_; }

  private:
    std::string camera_;
    std::vector<unsigned char> raw_, image_;
    EzFrameInfo info_{};
};

// Channel gains that make the neutral patches grey: each colour scaled to
// green over them.
Rgb whiteGains(const std::array<Rgb, chart::kPatches>& c) {
    Rgb sums{};
    for (int p : kNeutrals)
        for (int k = 0; k < 3; ++k) sums[k] += c[static_cast<size_t>(p)][k];
    return {sums[1] / sums[0], 1.0, sums[1] / sums[2]};
}

std::array<Rgb, chart::kPatches> balanced(std::array<Rgb, chart::kPatches> c, const Rgb& gains) {
    for (Rgb& v : c)
        for (int k = 0; k < 3; ++k) v[k] *= gains[k];
    return c;
}

struct Scores {
    std::array<double, chart::kPatches> de{};
    double mean = 0, max = 0;
};
Scores score(const std::array<Rgb, chart::kPatches>& rgb) {
    Scores s;
    for (int p = 0; p < chart::kPatches; ++p) {
        s.de[static_cast<size_t>(p)] = chart::deltaE2000(chart::referenceLab()[static_cast<size_t>(p)],
                                                         chart::labD65OfLinearSrgb(rgb[static_cast<size_t>(p)]));
        s.mean += s.de[static_cast<size_t>(p)] / chart::kPatches;
        s.max = std::max(s.max, s.de[static_cast<size_t>(p)]);
    }
    return s;
}

// Least squares of each row of M over the patches: M c = reference, by the
// normal equations (3 x 3, solved by Cramer's rule).
std::optional<Matrix> leastSquares(const std::array<Rgb, chart::kPatches>& c) {
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
Matrix refine(Matrix m, const std::array<Rgb, chart::kPatches>& c) {
    auto cost = [&](const Matrix& t) {
        std::array<Rgb, chart::kPatches> out{};
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

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}
std::string triple(const std::array<double, 3>& v) {
    return "[" + number(v[0]) + ", " + number(v[1]) + ", " + number(v[2]) + "]";
}

bool writePng(const std::string& path, const std::array<Rgb, chart::kPatches>& after) {
    constexpr int kW = 600, kH = 400, kCell = 100, kPad = 8;
    std::vector<unsigned char> px(static_cast<size_t>(kW) * kH * 3, 40);
    auto encode = [](double v) { return static_cast<unsigned char>(std::lround(255 * chart::srgbEncode(v))); };
    for (int p = 0; p < chart::kPatches; ++p) {
        const int cx = (p % chart::kColumns) * kCell, cy = (p / chart::kColumns) * kCell;
        for (int y = cy + kPad; y < cy + kCell - kPad; ++y)
            for (int x = cx + kPad; x < cx + kCell - kPad; ++x) {
                // Reference on the left half, the reproduced colour on the right.
                const Rgb& v = x < cx + kCell / 2 ? chart::referenceRgb()[static_cast<size_t>(p)]
                                                  : after[static_cast<size_t>(p)];
                unsigned char* d = px.data() + (static_cast<size_t>(y) * kW + x) * 3;
                for (int k = 0; k < 3; ++k) d[k] = encode(v[k]);
            }
    }
    return QImage(px.data(), kW, kH, kW * 3, QImage::Format_RGB888).save(QString::fromStdString(path), "PNG");
}

// Restores what colour-calibrate changes while it measures.
class Restore {
  public:
    explicit Restore(const char* c) : c_(c), exposure_(GetExposure(c)) {
        GetColorEnhancement(&enhanced_, c);
        GetColorProfile(profile_, sizeof profile_, c);
    }
    ~Restore() {
        SetExposure(exposure_, c_);
        SetColorEnhancement(enhanced_, c_);
        SetColorProfile(profile_, c_);
    }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;

  private:
    const char* c_;
    float exposure_;
    bool enhanced_ = false;
    char profile_[128] = {};
};

}  // namespace

Status colourCalibrate(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const std::string label = option(args, "--label").value_or("");
    const std::string prefix = option(args, "--report").value_or("");
    int frames = 4;
    if (const auto text = option(args, "--frames")) {
        const auto n = parseInt("--frames", *text);
        if (!n || *n < 1 || *n > 1000) {
            if (n) complain("--frames takes 1 to 1000");
            return Status::BadInput;
        }
        frames = *n;
    }
    if (GetRawBayernPattern(c) <= 0) {
        complain("colour-calibrate needs a colour camera");
        return Status::BadInput;
    }
    Restore restore(c);
    Frames f(camera);
    // The frames under way may predate the settings.
    if (!f.next() || !f.next()) return Status::Failed;
    const int width = f.record().width, height = f.record().height;
    std::array<int, 4> rect = {0, 0, width, height};
    if (const auto text = option(args, "--chart")) {
        std::array<int, 4> r{};
        char tail = 0;
        if (std::sscanf(text->c_str(), "%d,%d,%d,%d%c", &r[0], &r[1], &r[2], &r[3], &tail) != 4 || r[0] < 0 ||
            r[1] < 0 || r[2] < 24 || r[3] < 16 || r[0] + r[2] > width || r[1] + r[3] > height) {
            complain("--chart takes X,Y,WIDTH,HEIGHT inside the " + std::to_string(width) + "x" +
                     std::to_string(height) + " frame");
            return Status::BadInput;
        }
        rect = r;
    }
    const auto areas = patchAreas(rect);
    const char* pattern = BayerPatternName(f.info().bayer);
    const double top = f.record().depth == 16 ? 65535.0 : 255.0;

    // The chart, raw and through today's colour-enhanced decoding.
    SetColorProfile("off", c);
    SetColorEnhancement(true, c);
    if (!f.next()) return Status::Failed;
    PatchSums raw, before;
    for (int i = 0; i < frames; ++i) {
        if (!f.next() || !f.finish()) return Status::Failed;
        addRaw(f.record(), pattern, areas, raw);
        addImage(f.image(), f.record(), areas, before);
    }
    std::array<Rgb, chart::kPatches> seen = raw.means(), decoded = before.means();
    for (int k = 0; k < 3; ++k)
        if (seen[kWhite][k] > 0.97 * top) {
            complain("the white patch is at the top of the range: shorten the exposure");
            return Status::Failed;
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
        complain("the exposure is too short to tell the light from the black level");
        return Status::Failed;
    }
    PatchSums rawBlack, decodedBlack;
    if (!f.next() || !f.next()) return Status::Failed;
    for (int i = 0; i < frames; ++i) {
        if (!f.next() || !f.finish()) return Status::Failed;
        addRaw(f.record(), pattern, areas, rawBlack);
        addImage(f.image(), f.record(), areas, decodedBlack);
    }
    const auto blackRaw = rawBlack.means(), blackDecoded = decodedBlack.means();
    const double light = exposure / (exposure - shortest);
    for (size_t p = 0; p < seen.size(); ++p)
        for (int k = 0; k < 3; ++k) {
            seen[p][k] = (seen[p][k] - blackRaw[p][k]) * light;
            decoded[p][k] = (decoded[p][k] - blackDecoded[p][k]) * light;
        }

    // Before: today's decoding, white-balanced on the neutrals and scaled
    // to their luminance.
    auto scaledToNeutrals = [](std::array<Rgb, chart::kPatches> v) {
        double want = 0, have = 0;
        for (int p : kNeutrals) {
            want += luminance(chart::referenceRgb()[static_cast<size_t>(p)]);
            have += luminance(v[static_cast<size_t>(p)]);
        }
        for (Rgb& x : v)
            for (double& e : x) e *= have > 0 ? want / have : 0;
        return v;
    };
    const std::array<Rgb, chart::kPatches> beforeRgb = scaledToNeutrals(balanced(decoded, whiteGains(decoded)));
    const Scores beforeScores = score(beforeRgb);

    // After: white balance on the neutrals, then the fitted matrix.
    const Rgb gains = whiteGains(seen);
    const std::array<Rgb, chart::kPatches> balancedCamera = balanced(seen, gains);
    const std::optional<Matrix> start = leastSquares(balancedCamera);
    if (!start) {
        complain("the patches' colours do not determine a matrix (is the chart in the rectangle?)");
        return Status::Failed;
    }
    const Matrix fitted = refine(*start, balancedCamera);
    std::array<Rgb, chart::kPatches> afterRgb{};
    for (size_t p = 0; p < afterRgb.size(); ++p) afterRgb[p] = times(fitted, balancedCamera[p]);
    const Scores afterScores = score(afterRgb);

    // The profile acts on decoded colours, whatever the exposure: white
    // balance folded in, the neutrals' luminance kept at their green level.
    double y = 0, g = 0;
    for (int p : kNeutrals) {
        y += luminance(afterRgb[static_cast<size_t>(p)]);
        g += balancedCamera[static_cast<size_t>(p)][1];
    }
    Matrix profile{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            profile[static_cast<size_t>(3 * i + j)] = fitted[static_cast<size_t>(3 * i + j)] * gains[j] * g / y;
    char path[4096] = {};
    const int saved = SaveColorProfile(label.c_str(), profile.data(), path, sizeof path, c);
    if (saved != EZ_OK) {
        complain(saved == EZ_ERANGE ? "the profile name '" + label + "' cannot be used" : "the profile could not be stored");
        return saved == EZ_ERANGE ? Status::BadInput : Status::Failed;
    }
    std::printf("colour before: mean dE2000 %.2f, max %.2f; after: mean %.2f, max %.2f\n", beforeScores.mean,
                beforeScores.max, afterScores.mean, afterScores.max);
    std::printf("profile '%s' stored in %s\n", label.empty() ? "default" : label.c_str(), path);

    if (!prefix.empty()) {
        std::ostringstream json;
        json << "{\n  \"camera\": \"" << camera << "\",\n  \"profile\": \"" << (label.empty() ? "default" : label)
             << "\",\n  \"chart\": [" << rect[0] << ", " << rect[1] << ", " << rect[2] << ", " << rect[3] << "],\n"
             << "  \"delta_e2000_mean_before\": " << number(beforeScores.mean) << ",\n"
             << "  \"delta_e2000_max_before\": " << number(beforeScores.max) << ",\n"
             << "  \"delta_e2000_mean_after\": " << number(afterScores.mean) << ",\n"
             << "  \"delta_e2000_max_after\": " << number(afterScores.max) << ",\n"
             << "  \"matrix\": [" << triple({profile[0], profile[1], profile[2]}) << ", "
             << triple({profile[3], profile[4], profile[5]}) << ", " << triple({profile[6], profile[7], profile[8]})
             << "],\n  \"white_gains\": " << triple(gains) << ",\n  \"patches\": [\n";
        for (int p = 0; p < chart::kPatches; ++p) {
            const size_t i = static_cast<size_t>(p);
            const chart::Patch& ref = chart::kPatchesD50[p];
            json << "    {\"name\": \"" << ref.name << "\", \"reference_lab_d50\": "
                 << triple({ref.lab[0], ref.lab[1], ref.lab[2]}) << ", \"reference_rgb\": "
                 << triple(chart::referenceRgb()[i]) << ", \"camera_rgb\": " << triple(seen[i])
                 << ", \"before_rgb\": " << triple(beforeRgb[i]) << ", \"after_rgb\": " << triple(afterRgb[i])
                 << ", \"delta_e2000_before\": " << number(beforeScores.de[i])
                 << ", \"delta_e2000_after\": " << number(afterScores.de[i]) << "}"
                 << (p + 1 < chart::kPatches ? ",\n" : "\n");
        }
        json << "  ]\n}\n";
        std::ofstream out(prefix + ".json", std::ios::trunc);
        out << json.str();
        if (!out.flush() || !writePng(prefix + ".png", afterRgb)) {
            complain("cannot write the report " + prefix + ".json / .png");
            return Status::Failed;
        }
        std::printf("report: %s.json, %s.png\n", prefix.c_str(), prefix.c_str());
    }
    return Status::Ok;
}

Status colourProfile(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const std::string& name = args[0];
    if (name == "off") {
        SetColorProfile(nullptr, c);
        std::printf("colour profile off\n");
        return Status::Ok;
    }
    if (SetColorProfile(name.c_str(), c) != EZ_OK) {
        complain("this camera model has no colour profile '" + name + "' (colour-calibrate makes one)");
        return Status::BadInput;
    }
    SetColorEnhancement(true, c);
    std::printf("colour profile %s (colour enhancement on)\n", name.c_str());
    return Status::Ok;
}

}  // namespace ezcap
