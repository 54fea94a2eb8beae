// Photon-transfer analysis, its text and JSON report, and its plots.
#include "sensor_report.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace calib {
namespace {

// Least squares y = a + b x over the points (a fixed at 0 with `origin`).
struct Line {
    double a = 0, b = 0;
};
Line fit(const std::vector<double>& x, const std::vector<double>& y, bool origin) {
    const size_t n = x.size();
    Line l;
    if (n == 0) return l;
    if (origin) {
        double xy = 0, xx = 0;
        for (size_t i = 0; i < n; ++i) xy += x[i] * y[i], xx += x[i] * x[i];
        l.b = xx > 0 ? xy / xx : 0;
        return l;
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < n; ++i) sx += x[i], sy += y[i], sxx += x[i] * x[i], sxy += x[i] * y[i];
    const double d = static_cast<double>(n) * sxx - sx * sx;
    l.b = d != 0 ? (static_cast<double>(n) * sxy - sx * sy) / d : 0;
    l.a = (sy - l.b * sx) / static_cast<double>(n);
    return l;
}

// Output quantisation noise, DN squared.
constexpr double kQuantisation = 1.0 / 12.0;

std::string number(double v, const char* format = "%.6g") {
    char text[64];
    std::snprintf(text, sizeof text, format, std::isfinite(v) ? v : 0.0);
    return text;
}

}  // namespace

PairStats pairStats(const std::vector<float>& a, const std::vector<float>& b) {
    PairStats s;
    const size_t n = std::min(a.size(), b.size());
    if (n < 2) return s;
    double sum = 0, dsum = 0, dsq = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += static_cast<double>(a[i]) + b[i];
        const double d = static_cast<double>(a[i]) - b[i];
        dsum += d;
        dsq += d * d;
    }
    const double count = static_cast<double>(n);
    s.mean = sum / (2 * count);
    const double dmean = dsum / count;
    s.variance = (dsq / count - dmean * dmean) / 2;
    return s;
}

double spatialVariance(const std::vector<float>& f, int width, int height, int step) {
    double sum = 0, sq = 0;
    size_t n = 0;
    for (int y = step; y + step < height; ++y)
        for (int x = step; x + step < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double around =
                (f[i - step] + f[i + step] + f[i - static_cast<size_t>(step) * width] +
                 f[i + static_cast<size_t>(step) * width]) / 4.0;
            const double r = f[i] - around;
            sum += r;
            sq += r * r;
            ++n;
        }
    if (n < 2) return 0;
    const double mean = sum / static_cast<double>(n);
    // r = p - mean of 4 independent others: var(r) = var(p) (1 + 1/4).
    return (sq / static_cast<double>(n) - mean * mean) / 1.25;
}

bool analyseSensor(const SensorMeasurements& m, SensorReport& r, std::string& error) {
    r = SensorReport{};
    r.points = m.points;
    r.darks = m.darks;
    if (m.points.size() < 3) {
        error = "too few exposures in the series";
        return false;
    }
    // Saturation: where the temporal variance peaks (it collapses as
    // pixels fill up), or the last point when it never does.
    size_t sat = 0;
    for (size_t i = 0; i < m.points.size(); ++i)
        if (m.points[i].light.variance - m.points[i].dark.variance >
            m.points[sat].light.variance - m.points[sat].dark.variance)
            sat = i;
    r.saturationDn = m.points[sat].light.mean - m.points[sat].dark.mean;
    if (!(r.saturationDn > 0)) {
        error = "no light: the flat frames are no brighter than the dark ones";
        return false;
    }
    // K from the points up to 70 % of saturation: variance over signal.
    std::vector<double> signal, variance;
    for (size_t i = 0; i <= sat; ++i) {
        const double mu = m.points[i].light.mean - m.points[i].dark.mean;
        if (mu <= 0 || mu > 0.7 * r.saturationDn) continue;
        signal.push_back(mu);
        variance.push_back(m.points[i].light.variance - m.points[i].dark.variance);
    }
    r.fitPoints = static_cast<int>(signal.size());
    if (signal.size() < 2) {
        error = "fewer than 2 exposures below 70 % of saturation: take a longer series";
        return false;
    }
    r.k = fit(signal, variance, true).b;
    if (!(r.k > 0)) {
        error = "the temporal noise does not grow with the signal";
        return false;
    }
    // Read noise: the dark temporal noise extrapolated to no exposure.
    std::vector<double> t, dv;
    for (const PtcPoint& p : m.points) t.push_back(p.exposureMs), dv.push_back(p.dark.variance);
    const double darkVariance = std::max(fit(t, dv, false).a - kQuantisation, 0.0);
    r.readNoiseDn = std::sqrt(darkVariance);
    r.readNoiseE = r.readNoiseDn / r.k;
    r.fullWellE = r.saturationDn / r.k;

    // Linearity between 5 % and 95 % of saturation, against exposure.
    std::vector<double> lx, ly;
    for (size_t i = 0; i <= sat; ++i) {
        const double mu = m.points[i].light.mean - m.points[i].dark.mean;
        if (mu < 0.05 * r.saturationDn || mu > 0.95 * r.saturationDn) continue;
        lx.push_back(m.points[i].exposureMs);
        ly.push_back(mu);
    }
    if (lx.size() >= 2) {
        const Line l = fit(lx, ly, false);
        double low = 0, high = 0;
        for (size_t i = 0; i < lx.size(); ++i) {
            const double expected = l.a + l.b * lx[i];
            const double dev = expected > 0 ? (ly[i] - expected) / expected : 0;
            low = std::min(low, dev);
            high = std::max(high, dev);
        }
        r.linearityErrorPct = 100.0 * (high - low) / 2;
    }

    // Dark current: the slope of the dark level over exposure.
    std::vector<double> dt, dm;
    for (const DarkPoint& d : m.darks) dt.push_back(d.exposureMs / 1000.0), dm.push_back(d.mean);
    if (dt.size() >= 2) {
        r.darkCurrentDnS = fit(dt, dm, false).b;
        r.darkCurrentES = r.darkCurrentDnS / r.k;
    }
    // DSNU and PRNU from averaged frames, the temporal noise left in the
    // average taken off.
    const double frames = std::max(m.averaged, 1);
    const double darkTemporal = m.points.front().dark.variance / frames;
    r.dsnuE = std::sqrt(std::max(m.darkSpatial - darkTemporal, 0.0)) / r.k;
    const double lightSignal = m.lightSpatialMean - m.darkSpatialMean;
    if (lightSignal > 0) {
        // The light's temporal variance in the average: K x signal / frames.
        const double lightTemporal = (r.k * lightSignal) / frames + darkTemporal;
        const double prnuVar = m.lightSpatial - lightTemporal - (m.darkSpatial - darkTemporal);
        r.prnuPct = 100.0 * std::sqrt(std::max(prnuVar, 0.0)) / lightSignal;
    }
    return true;
}

std::string reportText(const SensorReport& r, const std::string& header) {
    std::string s = header;
    s += "system gain K          " + number(r.k, "%.4f") + " DN/e-  (" + number(1 / r.k, "%.4f") +
         " e-/DN, " + std::to_string(r.fitPoints) + " points below 70 % of saturation)\n";
    s += "read noise             " + number(r.readNoiseE, "%.3f") + " e-  (" +
         number(r.readNoiseDn, "%.3f") + " DN)\n";
    s += "saturation             " + number(r.saturationDn, "%.1f") + " DN above dark\n";
    s += "full-well capacity     " + number(r.fullWellE, "%.0f") + " e-\n";
    s += "dynamic range          " +
         number(r.readNoiseE > 0 ? 20 * std::log10(r.fullWellE / r.readNoiseE) : 0, "%.1f") + " dB\n";
    s += "linearity error        " + number(r.linearityErrorPct, "%.3f") + " %\n";
    s += "dark current           " + number(r.darkCurrentES, "%.3f") + " e-/s  (" +
         number(r.darkCurrentDnS, "%.3f") + " DN/s)\n";
    s += "DSNU                   " + number(r.dsnuE, "%.3f") + " e-\n";
    s += "PRNU                   " + number(r.prnuPct, "%.3f") + " %\n";
    s += "\nexposure_ms  flat_mean  flat_var  dark_mean  dark_var\n";
    for (const PtcPoint& p : r.points) {
        char line[160];
        std::snprintf(line, sizeof line, "%11.4f %10.2f %9.2f %10.2f %9.2f\n", p.exposureMs,
                      p.light.mean, p.light.variance, p.dark.mean, p.dark.variance);
        s += line;
    }
    s += "\ndark series: exposure_ms  dark_mean\n";
    for (const DarkPoint& d : r.darks) {
        char line[96];
        std::snprintf(line, sizeof line, "%11.3f %10.3f\n", d.exposureMs, d.mean);
        s += line;
    }
    return s;
}

std::string reportJson(const SensorReport& r, const std::string& camera) {
    std::string cam;
    for (char c : camera)
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) cam += c;
    std::string s = "{\n  \"camera\": \"" + cam + "\",\n";
    s += "  \"k_dn_per_e\": " + number(r.k) + ",\n";
    s += "  \"read_noise_e\": " + number(r.readNoiseE) + ",\n";
    s += "  \"read_noise_dn\": " + number(r.readNoiseDn) + ",\n";
    s += "  \"saturation_dn\": " + number(r.saturationDn) + ",\n";
    s += "  \"full_well_e\": " + number(r.fullWellE) + ",\n";
    s += "  \"linearity_error_pct\": " + number(r.linearityErrorPct) + ",\n";
    s += "  \"dark_current_e_per_s\": " + number(r.darkCurrentES) + ",\n";
    s += "  \"dark_current_dn_per_s\": " + number(r.darkCurrentDnS) + ",\n";
    s += "  \"dsnu_e\": " + number(r.dsnuE) + ",\n";
    s += "  \"prnu_pct\": " + number(r.prnuPct) + ",\n";
    s += "  \"points\": [";
    for (size_t i = 0; i < r.points.size(); ++i) {
        const PtcPoint& p = r.points[i];
        s += std::string(i ? ",\n" : "\n") + "    {\"exposure_ms\": " + number(p.exposureMs) +
             ", \"flat_mean\": " + number(p.light.mean) + ", \"flat_variance\": " +
             number(p.light.variance) + ", \"dark_mean\": " + number(p.dark.mean) +
             ", \"dark_variance\": " + number(p.dark.variance) + "}";
    }
    s += "\n  ],\n  \"dark_series\": [";
    for (size_t i = 0; i < r.darks.size(); ++i)
        s += std::string(i ? ", " : "") + "{\"exposure_ms\": " + number(r.darks[i].exposureMs) +
             ", \"mean\": " + number(r.darks[i].mean) + "}";
    return s + "]\n}\n";
}

// ---- Plots ---------------------------------------------------------------------------

namespace {

// A small RGB canvas with a plot area mapped from data coordinates.
class Plot {
  public:
    static constexpr int kW = 640, kH = 480, kMargin = 50;
    Plot(double x0, double x1, double y0, double y1)
        : x0_(x0), x1_(x1 > x0 ? x1 : x0 + 1), y0_(y0), y1_(y1 > y0 ? y1 : y0 + 1),
          px_(static_cast<size_t>(kW) * kH * 3, 255) {
        for (int i = 0; i <= 4; ++i) {  // grid, quarters
            const int gx = kMargin + i * (kW - 2 * kMargin) / 4;
            const int gy = kMargin + i * (kH - 2 * kMargin) / 4;
            line(gx, kMargin, gx, kH - kMargin, i == 0 ? 0 : 220);
            line(kMargin, gy, kW - kMargin, gy, i == 4 ? 0 : 220);
        }
    }
    int sx(double x) const { return kMargin + static_cast<int>((x - x0_) / (x1_ - x0_) * (kW - 2 * kMargin)); }
    int sy(double y) const { return kH - kMargin - static_cast<int>((y - y0_) / (y1_ - y0_) * (kH - 2 * kMargin)); }
    void dot(double x, double y, unsigned rgb) {
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx) set(sx(x) + dx, sy(y) + dy, rgb);
    }
    void curve(const std::function<double(double)>& f, unsigned rgb) {
        int lastX = -1, lastY = 0;
        for (int X = kMargin; X <= kW - kMargin; ++X) {
            const double x = x0_ + (X - kMargin) * (x1_ - x0_) / (kW - 2 * kMargin);
            const int Y = sy(f(x));
            if (lastX >= 0) line(lastX, lastY, X, Y, rgb);
            lastX = X;
            lastY = Y;
        }
    }
    bool write(const std::string& path, std::string& error) const {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) {
            error = "cannot write " + path;
            return false;
        }
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        bool ok = png && info && !setjmp(png_jmpbuf(png));
        if (ok) {
            png_init_io(png, file);
            png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            for (int y = 0; y < kH; ++y)
                png_write_row(png, const_cast<png_bytep>(px_.data() + static_cast<size_t>(y) * kW * 3));
            png_write_end(png, nullptr);
        }
        png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
        ok = std::fclose(file) == 0 && ok;
        if (!ok) error = "cannot write " + path;
        return ok;
    }

  private:
    void set(int x, int y, unsigned rgb) {
        if (x < 0 || y < 0 || x >= kW || y >= kH) return;
        unsigned char* p = px_.data() + (static_cast<size_t>(y) * kW + x) * 3;
        p[0] = static_cast<unsigned char>(rgb >> 16);
        p[1] = static_cast<unsigned char>(rgb >> 8);
        p[2] = static_cast<unsigned char>(rgb);
    }
    void line(int xa, int ya, int xb, int yb, unsigned grey_or_rgb) {
        const unsigned rgb = grey_or_rgb <= 255 ? grey_or_rgb * 0x010101u : grey_or_rgb;
        const int n = std::max({std::abs(xb - xa), std::abs(yb - ya), 1});
        for (int i = 0; i <= n; ++i) set(xa + (xb - xa) * i / n, ya + (yb - ya) * i / n, rgb);
    }
    double x0_, x1_, y0_, y1_;
    std::vector<unsigned char> px_;
};

constexpr unsigned kBlue = 0x1f5fbf, kRed = 0xcf2f2f, kGreen = 0x2f9f3f;

}  // namespace

bool writeReportPlots(const SensorReport& r, const std::string& prefix, std::string& error) {
    if (r.points.empty()) {
        error = "nothing to plot";
        return false;
    }
    double maxMu = 0, maxVar = 0, maxT = 0;
    for (const PtcPoint& p : r.points) {
        maxMu = std::max(maxMu, p.light.mean - p.dark.mean);
        maxVar = std::max(maxVar, p.light.variance - p.dark.variance);
        maxT = std::max(maxT, p.exposureMs);
    }
    // Photon transfer: temporal variance over mean signal, with the fit.
    Plot ptc(0, maxMu * 1.05, 0, maxVar * 1.1);
    ptc.curve([&](double x) { return r.k * x; }, kRed);
    for (const PtcPoint& p : r.points) ptc.dot(p.light.mean - p.dark.mean, p.light.variance - p.dark.variance, kBlue);
    // Linearity: mean signal over exposure, with the line through the origin's neighbours.
    Plot lin(0, maxT * 1.05, 0, maxMu * 1.1);
    const double slope = r.points.front().exposureMs > 0
                             ? (r.points.front().light.mean - r.points.front().dark.mean) / r.points.front().exposureMs
                             : 0;
    lin.curve([&](double x) { return slope * x; }, kRed);
    for (const PtcPoint& p : r.points) lin.dot(p.exposureMs, p.light.mean - p.dark.mean, kGreen);
    // Dark level over exposure.
    double dMin = 1e300, dMax = -1e300, dT = 0;
    for (const DarkPoint& d : r.darks) dMin = std::min(dMin, d.mean), dMax = std::max(dMax, d.mean), dT = std::max(dT, d.exposureMs);
    if (r.darks.empty()) dMin = 0, dMax = 1, dT = 1;
    const double pad = std::max((dMax - dMin) * 0.1, 0.5);
    Plot dark(0, dT * 1.05, dMin - pad, dMax + pad);
    const double base = r.darks.empty() ? 0 : r.darks.front().mean - r.darkCurrentDnS * r.darks.front().exposureMs / 1000;
    dark.curve([&](double x) { return base + r.darkCurrentDnS * x / 1000; }, kRed);
    for (const DarkPoint& d : r.darks) dark.dot(d.exposureMs, d.mean, kBlue);
    return ptc.write(prefix + "-ptc.png", error) && lin.write(prefix + "-linearity.png", error) &&
           dark.write(prefix + "-dark.png", error);
}

}  // namespace calib
