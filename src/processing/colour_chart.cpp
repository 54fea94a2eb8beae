// The chart's reference values and the colour arithmetic.
#include "processing/colour_chart.h"

#include <cmath>
#include <numbers>

namespace chart {

// X-Rite's published values for charts made from November 2014 on
// (ColorChecker Classic, L*a*b* D50, 2 degree observer):
// https://www.xrite.com/service-support/new_color_specifications_for_colorchecker_sg_and_classic_charts
const Patch kPatchesD50[kPatches] = {
    {"dark skin", {37.54, 14.37, 14.92}},     {"light skin", {64.66, 19.27, 17.50}},
    {"blue sky", {49.32, -3.82, -22.54}},     {"foliage", {43.46, -12.74, 22.72}},
    {"blue flower", {54.94, 9.61, -24.79}},   {"bluish green", {70.48, -32.26, -0.37}},
    {"orange", {62.73, 35.83, 56.50}},        {"purplish blue", {39.43, 10.75, -45.17}},
    {"moderate red", {50.57, 48.64, 16.67}},  {"purple", {30.10, 22.54, -20.87}},
    {"yellow green", {71.77, -24.13, 58.19}}, {"orange yellow", {71.51, 18.24, 67.37}},
    {"blue", {28.37, 15.42, -49.80}},         {"green", {54.38, -39.72, 32.27}},
    {"red", {42.43, 51.05, 28.62}},           {"yellow", {81.80, 2.67, 80.41}},
    {"magenta", {50.63, 51.28, -14.12}},      {"cyan", {49.57, -29.71, -28.32}},
    {"white", {95.19, -1.03, 2.93}},          {"neutral 8", {81.29, -0.57, 0.44}},
    {"neutral 6.5", {66.89, -0.75, -0.06}},   {"neutral 5", {50.76, -0.13, 0.14}},
    {"neutral 3.5", {35.63, -0.46, -0.48}},   {"black", {20.64, 0.07, -0.46}},
};

namespace {

using M3 = double[3][3];
constexpr double kD50[3] = {0.96422, 1.0, 0.82521};
constexpr double kD65[3] = {0.95047, 1.0, 1.08883};
constexpr M3 kXyzToSrgb = {{3.2404542, -1.5371385, -0.4985314},
                           {-0.9692660, 1.8760108, 0.0415560},
                           {0.0556434, -0.2040259, 1.0572252}};
constexpr M3 kSrgbToXyz = {{0.4124564, 0.3575761, 0.1804375},
                           {0.2126729, 0.7151522, 0.0721750},
                           {0.0193339, 0.1191920, 0.9503041}};
constexpr M3 kBradford = {{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}};
constexpr M3 kBradfordInverse = {{0.9869929, -0.1470543, 0.1599627},
                                 {0.4323053, 0.5183603, 0.0492912},
                                 {-0.0085287, 0.0400428, 0.9684867}};

Rgb times(const M3& m, const Rgb& v) {
    Rgb out{};
    for (int i = 0; i < 3; ++i) out[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return out;
}

constexpr double kEpsilon = 216.0 / 24389.0, kKappa = 24389.0 / 27.0;

double labF(double t) {
    return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0;
}

double labFInverse(double f) {
    const double f3 = f * f * f;
    return f3 > kEpsilon ? f3 : (116.0 * f - 16.0) / kKappa;
}

}  // namespace

Rgb linearSrgbOfLabD50(const Lab& lab) {
    const double fy = (lab[0] + 16.0) / 116.0, fx = fy + lab[1] / 500.0, fz = fy - lab[2] / 200.0;
    const Rgb xyz50 = {kD50[0] * labFInverse(fx), kD50[1] * labFInverse(fy), kD50[2] * labFInverse(fz)};
    // Bradford: cone responses scaled from the D50 white to the D65 one.
    Rgb cone = times(kBradford, xyz50);
    const Rgb white50 = times(kBradford, {kD50[0], kD50[1], kD50[2]});
    const Rgb white65 = times(kBradford, {kD65[0], kD65[1], kD65[2]});
    for (int i = 0; i < 3; ++i) cone[i] *= white65[i] / white50[i];
    return times(kXyzToSrgb, times(kBradfordInverse, cone));
}

Lab labD65OfLinearSrgb(const Rgb& rgb) {
    const Rgb xyz = times(kSrgbToXyz, rgb);
    const double fx = labF(xyz[0] / kD65[0]), fy = labF(xyz[1] / kD65[1]), fz = labF(xyz[2] / kD65[2]);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

const std::array<Rgb, kPatches>& referenceRgb() {
    static const std::array<Rgb, kPatches> rgb = [] {
        std::array<Rgb, kPatches> out{};
        for (int i = 0; i < kPatches; ++i) {
            const Patch& p = kPatchesD50[i];
            out[i] = linearSrgbOfLabD50({p.lab[0], p.lab[1], p.lab[2]});
        }
        return out;
    }();
    return rgb;
}

const std::array<Lab, kPatches>& referenceLab() {
    static const std::array<Lab, kPatches> lab = [] {
        std::array<Lab, kPatches> out{};
        for (int i = 0; i < kPatches; ++i) out[i] = labD65OfLinearSrgb(referenceRgb()[i]);
        return out;
    }();
    return lab;
}

double srgbEncode(double v) {
    v = std::fmin(std::fmax(v, 0.0), 1.0);
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

double srgbDecode(double v) {
    v = std::fmin(std::fmax(v, 0.0), 1.0);
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// Sharma, Wu and Dalal, "The CIEDE2000 color-difference formula", 2005.
double deltaE2000(const Lab& a, const Lab& b) {
    constexpr double kPi = std::numbers::pi;
    const double c1 = std::hypot(a[1], a[2]), c2 = std::hypot(b[1], b[2]);
    const double cMean = (c1 + c2) / 2, cMean7 = std::pow(cMean, 7);
    const double g = 0.5 * (1 - std::sqrt(cMean7 / (cMean7 + std::pow(25.0, 7))));
    const double a1 = (1 + g) * a[1], a2 = (1 + g) * b[1];
    const double cp1 = std::hypot(a1, a[2]), cp2 = std::hypot(a2, b[2]);
    auto hue = [&](double x, double y) {
        if (x == 0 && y == 0) return 0.0;
        const double h = std::atan2(y, x) * 180 / kPi;
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(a1, a[2]), h2 = hue(a2, b[2]);
    const double dL = b[0] - a[0], dC = cp2 - cp1;
    double dh = 0;
    if (cp1 * cp2 != 0) {
        dh = h2 - h1;
        if (dh > 180) dh -= 360;
        if (dh < -180) dh += 360;
    }
    const double dH = 2 * std::sqrt(cp1 * cp2) * std::sin(dh / 2 * kPi / 180);
    const double lMean = (a[0] + b[0]) / 2, cpMean = (cp1 + cp2) / 2;
    double hMean = h1 + h2;
    if (cp1 * cp2 != 0) {
        if (std::fabs(h1 - h2) <= 180)
            hMean = (h1 + h2) / 2;
        else
            hMean = h1 + h2 < 360 ? (h1 + h2 + 360) / 2 : (h1 + h2 - 360) / 2;
    }
    const double rad = kPi / 180;
    const double t = 1 - 0.17 * std::cos((hMean - 30) * rad) + 0.24 * std::cos(2 * hMean * rad) +
                     0.32 * std::cos((3 * hMean + 6) * rad) - 0.20 * std::cos((4 * hMean - 63) * rad);
    const double dTheta = 30 * std::exp(-((hMean - 275) / 25) * ((hMean - 275) / 25));
    const double cpMean7 = std::pow(cpMean, 7);
    const double rc = 2 * std::sqrt(cpMean7 / (cpMean7 + std::pow(25.0, 7)));
    const double l50 = (lMean - 50) * (lMean - 50);
    const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    const double sc = 1 + 0.045 * cpMean, sh = 1 + 0.015 * cpMean * t;
    const double rt = -std::sin(2 * dTheta * rad) * rc;
    const double l = dL / sl, c = dC / sc, h = dH / sh;
    return std::sqrt(l * l + c * c + h * h + rt * c * h);
}

Box patchBox(int patch) {
    const int c = patch % kColumns, r = patch / kColumns;
    return {0.07 + 0.15 * c, 0.13 + 0.2 * r, 0.18 + 0.15 * c, 0.27 + 0.2 * r};
}

}  // namespace chart
