// The sensor report's figures (photon transfer, linearity, dark level) as
// SVG and PNG, and the HTML page that holds them with the numbers.
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

#include "chart.h"
#include "sensor_report.h"

namespace calib {
namespace {

// Colours that stay apart for readers with a colour-vision deficiency.
constexpr uint32_t kBlue = 0x0072b2, kVermillion = 0xd55e00, kGreen = 0x009e73, kGrey = 0x555555,
                   kPurple = 0xcc79a7;

std::string fixed(double v, int decimals) {
    char s[64];
    std::snprintf(s, sizeof s, "%.*f", decimals, std::isfinite(v) ? v : 0.0);
    return s;
}

// Thin-space groups, as the figures print their numbers.
std::string grouped(double v, int decimals) {
    std::string t = fixed(v, decimals);
    const bool negative = !t.empty() && t[0] == '-';
    if (negative) t.erase(0, 1);
    const size_t point = std::min(t.find('.'), t.size());
    if (point > 4)
        for (size_t at = point; at > 3; at -= 3) t.insert(at - 3, "\u2009");
    return (negative ? "\u2212" : "") + t;
}

// `digits` significant digits, trailing zeros kept: they state the precision.
std::string significant(double v, int digits) {
    const int whole = v == 0 || !std::isfinite(v) ? 1 : static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
    return fixed(v, std::max(digits - whole, 0));
}

std::string exposureSpan(const SensorReport& r) {
    return std::to_string(r.points.size()) + " exposures from " + chart::formatNumber(r.points.front().exposureMs, 3) +
           " to " + chart::formatNumber(r.points.back().exposureMs, 4) + " ms";
}

std::string saturationText(const SensorReport& r) {
    return (r.plateauReached ? "" : "not reached; above ") + grouped(r.saturationDn, 0) + " DN";
}

chart::Figure photonTransfer(const SensorReport& r, const ReportContext& context) {
    chart::Figure f;
    f.id = "ptc";
    f.title = "Photon transfer curve";
    f.x = {"Mean signal above dark, \u03bc\u2212\u03bc\u2080 (DN)", true};
    chart::Panel p;
    p.y = {"Temporal noise \u03c3 (DN)", true};
    chart::Series fitted{"Measured, used for K (up to 70 % of saturation)", {}, {}, kBlue, chart::Marker::Disc};
    chart::Series unfitted{"Measured, above 70 % of saturation", {}, {}, kBlue, chart::Marker::Ring};
    chart::Series saturated{"Saturated (after the noise peak)", {}, {}, kVermillion, chart::Marker::Cross};
    double lo = r.saturationDn;
    for (size_t i = 0; i < r.points.size(); ++i) {
        const double mu = r.signal(i), sigma = std::sqrt(std::max(r.points[i].light.variance, 0.0));
        if (mu <= 0) continue;  // no signal: nothing to place on a logarithmic axis
        lo = std::min(lo, mu);
        chart::Series& s = r.saturated(i) ? saturated : r.fitsGain(i) ? fitted : unfitted;
        s.x.push_back(mu);
        s.y.push_back(sigma);
    }
    // The model the numbers describe: read noise and quantisation in
    // quadrature with shot noise, sigma^2 = sigma0^2 + K mu, up to saturation.
    const double q = r.readNoiseDn * r.readNoiseDn + 1.0 / 12;
    chart::Series model{"Model \u03c3\u00b2 = \u03c3\u2080\u00b2 + K\u00b7\u03bc, K = " + significant(r.k, 4) +
                            " DN/e\u207b, \u03c3\u2080 = " + significant(std::sqrt(q), 3) + " DN",
                        {}, {}, kGrey, chart::Marker::None, true, false, false};
    for (int i = 0; i <= 200; ++i) {
        const double mu = lo * std::pow(r.saturationDn / lo, i / 200.0);
        model.x.push_back(mu);
        model.y.push_back(std::sqrt(q + r.k * mu));
    }
    for (chart::Series* s : {&model, &fitted, &unfitted, &saturated})
        if (!s->x.empty() || s == &model) p.series.push_back(*s);
    p.marks.push_back({"Saturation " + saturationText(r) + ", full well " + (r.plateauReached ? "" : "above ") +
                           grouped(r.fullWellE, 0) + " e\u207b",
                       r.saturationDn, kVermillion});
    f.panels.push_back(p);
    f.caption = "Photon transfer of " + context.camera + ": temporal noise of pairs of flat frames (half the variance "
                "of their difference) against their mean above the dark frames of the same exposure; " +
                exposureSpan(r) + ". " + context.settings + ". Measured " + context.date + ".";
    return f;
}

chart::Figure linearity(const SensorReport& r, const ReportContext& context) {
    chart::Figure f;
    f.id = "linearity";
    f.title = "Linearity";
    f.height = 560;
    f.x = {"Exposure time (ms)", false};
    f.x.includeZero = true;
    chart::Panel top;
    top.y = {"Mean signal above dark (DN)", false};
    top.y.includeZero = true;
    top.height = 0.66;
    chart::Series used{"Measured, fitted (5 % to 95 % of saturation)", {}, {}, kGreen, chart::Marker::Disc};
    chart::Series outside{"Measured, outside the fitted range", {}, {}, kGreen, chart::Marker::Ring};
    chart::Series saturated{"Saturated", {}, {}, kVermillion, chart::Marker::Cross};
    chart::Panel bottom;
    bottom.y = {"Deviation (%)", false};
    bottom.height = 0.34;
    bottom.zeroLine = true;
    bottom.legend = chart::Corner::BottomLeft;
    chart::Series deviation{"Deviation from the line; linearity error \u00b1" + fixed(r.linearityErrorPct, 3) + " %",
                            {}, {}, kGreen, chart::Marker::Disc};
    double tMax = 0;
    for (size_t i = 0; i < r.points.size(); ++i) {
        const double t = r.points[i].exposureMs, mu = r.signal(i);
        tMax = std::max(tMax, t);
        chart::Series& s = r.saturated(i) ? saturated : r.fitsLinearity(i) ? used : outside;
        s.x.push_back(t);
        s.y.push_back(mu);
        const double expected = r.linearityOffsetDn + r.linearitySlope * t;
        if (r.fitsLinearity(i) && expected > 0) {
            deviation.x.push_back(t);
            deviation.y.push_back(100 * (mu - expected) / expected);
        }
    }
    // The line across the whole frame; the frame clips it.
    chart::Series line{"Least-squares line, " + fixed(r.linearitySlope, 1) + " DN/ms", {0, tMax * 1.5},
                       {r.linearityOffsetDn, r.linearityOffsetDn + r.linearitySlope * tMax * 1.5}, kGrey,
                       chart::Marker::None, true, false, false};
    top.series.push_back(line);
    for (chart::Series* s : {&used, &outside, &saturated})
        if (!s->x.empty()) top.series.push_back(*s);
    // Symmetric about zero, at least +-0.5 % so that noise does not look
    // like a large error.
    double worst = 0.5;
    for (double d : deviation.y) worst = std::max(worst, std::fabs(d) * 1.15);
    bottom.y.min = -worst;
    bottom.y.max = worst;
    bottom.series.push_back(deviation);
    f.panels = {top, bottom};
    f.caption = "Linearity of " + context.camera + ": mean signal above dark against exposure time, the line fitted "
                "from 5 % to 95 % of saturation (" + saturationText(r) + "), and below the points' relative " +
                "deviation from it; " + exposureSpan(r) + ". " + context.settings + ". Measured " + context.date + ".";
    return f;
}

chart::Figure darkLevel(const SensorReport& r, const ReportContext& context) {
    chart::Figure f;
    f.id = "dark";
    f.title = "Dark current";
    f.x = {"Exposure time (ms)", false};
    f.x.includeZero = true;
    chart::Panel p;
    p.y = {"Mean dark level (DN)", false};
    chart::Series measured{"Dark frames (lens covered)", {}, {}, kPurple, chart::Marker::Square};
    double tMax = 0;
    for (const DarkPoint& d : r.darks) {
        measured.x.push_back(d.exposureMs);
        measured.y.push_back(d.mean);
        tMax = std::max(tMax, d.exposureMs);
    }
    chart::Series line{"Fitted line: " + fixed(r.darkCurrentES, 2) + " e\u207b/s (" + fixed(r.darkCurrentDnS, 1) + " DN/s)",
                       {0, tMax * 1.5}, {r.darkOffsetDn, r.darkOffsetDn + r.darkCurrentDnS * tMax * 1.5 / 1000},
                       kGrey, chart::Marker::None, true, false, false};
    p.series = {line, measured};
    f.panels.push_back(p);
    f.caption = "Dark level of " + context.camera + " against exposure time, the mean of pairs of dark frames with "
                "the lens covered; the slope of the fitted line is the dark current, here in electrons through K = " +
                significant(r.k, 4) + " DN/e\u207b. " + context.settings + ". Measured " + context.date + ".";
    return f;
}

std::string html(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::string page(const SensorReport& r, const ReportContext& context, const std::vector<chart::Figure>& figures) {
    const double dynamicRange = r.readNoiseE > 0 ? 20 * std::log10(r.fullWellE / r.readNoiseE) : 0;
    const struct {
        const char* name;
        std::string value;
        const char* unit;
    } rows[] = {
        {"System gain K", fixed(r.k, 4), "DN/e\u207b"},
        {"Inverse gain 1/K", fixed(1 / r.k, 4), "e\u207b/DN"},
        {"Read noise", fixed(r.readNoiseE, 3) + " (" + fixed(r.readNoiseDn, 2) + " DN)", "e\u207b"},
        {"Saturation, mean above dark", (r.plateauReached ? "" : "> ") + grouped(r.saturationDn, 1), "DN"},
        {"Full-well capacity", (r.plateauReached ? "" : "> ") + grouped(r.fullWellE, 0), "e\u207b"},
        {"Dynamic range", fixed(dynamicRange, 1), "dB"},
        {"Linearity error", "\u00b1" + fixed(r.linearityErrorPct, 3), "%"},
        {"Dark current", fixed(r.darkCurrentES, 3) + " (" + fixed(r.darkCurrentDnS, 2) + " DN/s)", "e\u207b/s"},
        {"DSNU", fixed(r.dsnuE, 3), "e\u207b"},
        {"PRNU", fixed(r.prnuPct, 3), "%"},
        {"Points used for K", std::to_string(r.fitPoints) + " of " + std::to_string(r.points.size()), ""},
    };
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Sensor of " +
                    html(context.camera) + "</title>\n<style>\n"
                    "body { font-family: 'DejaVu Sans', Verdana, sans-serif; max-width: 720px; margin: 2em auto; "
                    "color: #111; }\n"
                    "table { border-collapse: collapse; margin: 1em 0; }\n"
                    "th, td { padding: 0.2em 0.8em; border-bottom: 1px solid #ddd; text-align: right; }\n"
                    "th:first-child, td:first-child { text-align: left; }\n"
                    "td.unit { text-align: left; }\n"
                    "figure { margin: 2em 0; }\n"
                    "figure svg { max-width: 100%; height: auto; }\n"
                    "table.points { font-size: 0.85em; }\n"
                    "</style>\n</head>\n<body>\n<h1>Sensor of " + html(context.camera) + "</h1>\n<p>" +
                    html(context.settings) + ". Measured " + html(context.date) +
                    " by the photon-transfer method: pairs of flat frames and pairs of dark frames at " +
                    html(exposureSpan(r)) + ".</p>\n<table class=\"results\">\n"
                    "<tr><th>Quantity</th><th>Value</th><th>Unit</th></tr>\n";
    for (const auto& row : rows)
        s += std::string("<tr><td>") + row.name + "</td><td>" + html(row.value) + "</td><td class=\"unit\">" +
             row.unit + "</td></tr>\n";
    s += "</table>\n";
    for (const chart::Figure& f : figures) s += "<figure>\n" + chart::svg(f, false) + "</figure>\n";
    s += "<h2>Measured points</h2>\n<table class=\"points\">\n<tr><th>Exposure (ms)</th><th>Flat mean (DN)</th>"
         "<th>Flat variance (DN\u00b2)</th><th>Dark mean (DN)</th><th>Dark variance (DN\u00b2)</th>"
         "<th>Signal above dark (DN)</th><th></th></tr>\n";
    for (size_t i = 0; i < r.points.size(); ++i) {
        const PtcPoint& p = r.points[i];
        s += "<tr><td>" + fixed(p.exposureMs, 4) + "</td><td>" + fixed(p.light.mean, 2) + "</td><td>" +
             fixed(p.light.variance, 2) + "</td><td>" + fixed(p.dark.mean, 2) + "</td><td>" +
             fixed(p.dark.variance, 2) + "</td><td>" + fixed(r.signal(i), 2) + "</td><td>" +
             (r.saturated(i) ? "saturated" : r.fitsGain(i) ? "K fit" : "") + "</td></tr>\n";
    }
    s += "</table>\n<h2>Dark series</h2>\n<table class=\"points\">\n<tr><th>Exposure (ms)</th>"
         "<th>Dark mean (DN)</th></tr>\n";
    for (const DarkPoint& d : r.darks)
        s += "<tr><td>" + fixed(d.exposureMs, 3) + "</td><td>" + fixed(d.mean, 3) + "</td></tr>\n";
    return s + "</table>\n</body>\n</html>\n";
}

// Qt's painter needs an application object; a command-line run has none,
// and no display either.
class OffscreenQt {
  public:
    OffscreenQt() {
        if (QGuiApplication::instance()) return;
        // Qt's notes on its environment (no runtime directory and the like)
        // are not the report's business; its errors still are.
        previous_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "ezcap: %s\n", text.toLocal8Bit().constData());
        });
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }
    ~OffscreenQt() {
        if (!app_) return;
        app_.reset();
        qInstallMessageHandler(previous_);
    }
    OffscreenQt(const OffscreenQt&) = delete;
    OffscreenQt& operator=(const OffscreenQt&) = delete;

  private:
    static inline char name_[] = "ezcap", option_[] = "-platform", platform_[] = "offscreen";
    static inline char* argv_[] = {name_, option_, platform_, nullptr};
    static inline int argc_ = 3;
    QtMessageHandler previous_ = nullptr;
    std::unique_ptr<QGuiApplication> app_;
};

}  // namespace

bool writeReportFigures(const SensorReport& r, const ReportContext& context, const std::string& prefix,
                        std::string& error) {
    if (r.points.empty()) {
        error = "nothing to plot";
        return false;
    }
    OffscreenQt qt;
    const std::vector<chart::Figure> figures = {photonTransfer(r, context), linearity(r, context),
                                                darkLevel(r, context)};
    const char* names[] = {"-ptc", "-linearity", "-dark"};
    for (size_t i = 0; i < figures.size(); ++i) {
        const std::string path = prefix + names[i];
        std::ofstream svg(path + ".svg");
        svg << chart::svg(figures[i]);
        svg.close();
        if (!svg) {
            error = "cannot write " + path + ".svg";
            return false;
        }
        // 300 pixels per inch: print resolution at the figure's size.
        if (!chart::png(figures[i], path + ".png", 300.0 / 96, error)) return false;
    }
    std::ofstream out(prefix + ".html");
    out << page(r, context, figures);
    out.close();
    if (!out) {
        error = "cannot write " + prefix + ".html";
        return false;
    }
    return true;
}

}  // namespace calib
