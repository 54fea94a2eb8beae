// The photon-transfer analysis against series drawn from a known sensor, and
// the report's figures read back as XML and as images.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include <unistd.h>

#include "chart.h"
#include "sensor_report.h"

namespace {

// Qt's painter and font metrics need an application; offscreen, no display.
class OffscreenApp : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QGuiApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    static inline char name_[] = "test_sensor_report", option_[] = "-platform", platform_[] = "offscreen";
    static inline char* argv_[] = {name_, option_, platform_, nullptr};
    static inline int argc_ = 3;
    std::unique_ptr<QGuiApplication> app_;
};
[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new OffscreenApp);

// A sensor as the analysis assumes it: shot noise on the electrons, each
// pixel's own response, a full well, read noise, a converter of K DN/e.
struct Truth {
    double k, readE, wellE;
    int points;
    double prnu = 0.01, darkES = 20, black = 1024, electronsPerMs = 200;
};

class SyntheticSensor {
  public:
    explicit SyntheticSensor(const Truth& t) : t_(t), response_(kPixels) {
        std::normal_distribution<double> n;
        for (double& r : response_) r = 1 + t.prnu * n(random_);
    }
    std::vector<float> frame(double ms, bool light) {
        std::normal_distribution<double> n;
        std::vector<float> out(kPixels);
        for (size_t i = 0; i < out.size(); ++i) {
            const double mean = (light ? t_.electronsPerMs * ms * response_[i] : 0) + t_.darkES * ms / 1000;
            const double electrons = std::clamp(mean + std::sqrt(mean) * n(random_), 0.0, t_.wellE);
            out[i] = static_cast<float>(std::round((electrons + t_.readE * n(random_)) * t_.k + t_.black));
        }
        return out;
    }
    calib::PairStats pair(double ms, bool light) { return calib::pairStats(frame(ms, light), frame(ms, light)); }

    // Evenly spaced up to saturation and a tenth beyond, as measure-sensor takes them.
    calib::SensorMeasurements series(double toFraction = 1.1) {
        calib::SensorMeasurements m;
        const double saturationMs = t_.wellE / t_.electronsPerMs;
        const int n = t_.points;
        for (int i = 0; i < n; ++i) {
            calib::PtcPoint p;
            p.exposureMs = 0.05 + (saturationMs * toFraction - 0.05) * i / (n - 1);
            p.light = pair(p.exposureMs, true);
            p.dark = pair(p.exposureMs, false);
            m.points.push_back(p);
        }
        for (int i = 0; i <= 5; ++i) m.darks.push_back({200.0 * i, pair(200.0 * i, false).mean});
        return m;
    }

  private:
    static constexpr size_t kPixels = 10000;
    Truth t_;
    std::mt19937 random_{12345};
    std::vector<double> response_;
};

TEST(SensorAnalysis, RecoversTheSensorFromFineAndCoarseSeries) {
    // The coarse series put the noise peak well below the plateau; full
    // well comes from the plateau all the same.
    const Truth cases[] = {
        {8.0, 4.0, 6000, 55}, {8.0, 4.0, 6000, 12}, {0.5, 10.0, 20000, 24}, {2.0, 2.5, 10000, 8},
    };
    for (const Truth& truth : cases) {
        SCOPED_TRACE("K " + std::to_string(truth.k) + ", " + std::to_string(truth.points) + " points");
        SyntheticSensor sensor(truth);
        calib::SensorReport r;
        std::string error;
        ASSERT_TRUE(calib::analyseSensor(sensor.series(), r, error)) << error;
        EXPECT_NEAR(r.k / truth.k, 1, 0.02);
        EXPECT_NEAR(r.readNoiseE / truth.readE, 1, 0.08);
        EXPECT_NEAR(r.fullWellE / truth.wellE, 1, 0.01);
        EXPECT_TRUE(r.plateauReached);
        EXPECT_NEAR(r.darkCurrentES / truth.darkES, 1, 0.05);
        EXPECT_LT(r.linearityErrorPct, 0.5);
        // Saturated are the points after the noise peak, all at the shoulder or on the plateau.
        size_t saturated = 0;
        for (size_t i = 0; i < r.points.size(); ++i) {
            EXPECT_EQ(r.saturated(i), i > r.variancePeak);
            if (r.saturated(i)) {
                ++saturated;
                EXPECT_GT(r.signal(i), 0.9 * r.saturationDn);
                EXPECT_FALSE(r.fitsGain(i) || r.fitsLinearity(i));
            }
        }
        EXPECT_GE(saturated, 1u);
        EXPECT_LE(saturated, r.points.size() / 4 + 1);
    }
}

TEST(SensorAnalysis, SaysWhenTheSeriesStopsShortOfSaturation) {
    SyntheticSensor sensor({8.0, 4.0, 6000, 20});
    calib::SensorReport r;
    std::string error;
    ASSERT_TRUE(calib::analyseSensor(sensor.series(0.8), r, error)) << error;
    EXPECT_FALSE(r.plateauReached);
    EXPECT_LT(r.fullWellE, 0.85 * 6000);
    EXPECT_NE(calib::reportText(r, "").find("not reached"), std::string::npos);
    EXPECT_NE(calib::reportJson(r, "cam").find("\"saturation_reached\": false"), std::string::npos);
}

TEST(SensorAnalysis, RefusesSeriesWithoutLightOrPoints) {
    SyntheticSensor sensor({8.0, 4.0, 6000, 10});
    calib::SensorMeasurements m = sensor.series();
    for (calib::PtcPoint& p : m.points) p.light = p.dark;
    calib::SensorReport r;
    std::string error;
    EXPECT_FALSE(calib::analyseSensor(m, r, error));
    EXPECT_NE(error.find("no light"), std::string::npos);
    // A faint glow within the noise is no light either.
    for (calib::PtcPoint& p : m.points) p.light.mean += 5;
    error.clear();
    EXPECT_FALSE(calib::analyseSensor(m, r, error));
    EXPECT_NE(error.find("no light"), std::string::npos);
    m.points.resize(2);
    EXPECT_FALSE(calib::analyseSensor(m, r, error));
}

TEST(ChartNumbers, PrintAsAPaperWould) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},          {-0.0, "0"},           {0.25, "0.25"},     {-0.2, "\u22120.2"},
        {1000, "1000"},    {47993, "47\u2009993"}, {100000, "100\u2009000"}, {1.5, "1.5"},
        {-12000, "\u221212\u2009000"}, {0.03254, "0.03254"}, {0.5, "0.5"},  {123.456, "123.5"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(chart::formatNumber(value), text) << value;
}

// The SVG's elements as the tests need them: text by class, and whether
// each line of a data group is drawn under a clip path.
struct SvgRead {
    std::multimap<std::string, std::string> text;  // class -> content
    int dataLines = 0, unclippedDataLines = 0;
    std::string error;
};

SvgRead readSvg(const std::string& document) {
    SvgRead out;
    QXmlStreamReader xml(QString::fromStdString(document));
    std::vector<std::pair<std::string, bool>> stack;  // element id, clip path
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto a = xml.attributes();
            stack.emplace_back(a.value("id").toString().toStdString(), a.hasAttribute("clip-path"));
            const std::string name = xml.name().toString().toStdString();
            if (name == "text") {
                const std::string cls = a.value("class").toString().toStdString();
                out.text.emplace(cls, xml.readElementText().toStdString());
                stack.pop_back();
            } else if (name == "polyline") {
                bool data = false, clipped = false;
                for (const auto& [id, clip] : stack)
                    data |= id.size() >= 5 && id.ends_with("-data"), clipped |= clip;
                if (data) ++out.dataLines, out.unclippedDataLines += !clipped;
            }
        } else if (xml.isEndElement()) {
            stack.pop_back();
        }
    }
    if (xml.hasError()) out.error = xml.errorString().toStdString();
    return out;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ChartDrawing, FitLinesStayInTheFrameAndDoNotStretchTheAxes) {
    chart::Figure f;
    f.title = "Test";
    f.x = {"Time (s)"};
    chart::Panel p;
    p.y = {"Level (DN)"};
    p.series.push_back({"data", {1, 2, 3}, {10, 20, 30}});
    p.series.push_back({"fit", {0, 100}, {0, 1000}, 0xd55e00, chart::Marker::None, true, false, false});
    f.panels.push_back(p);
    const SvgRead svg = readSvg(chart::svg(f));
    ASSERT_EQ(svg.error, "");
    EXPECT_GT(svg.dataLines, 0);
    EXPECT_EQ(svg.unclippedDataLines, 0);
    double highest = 0;
    for (auto [it, end] = svg.text.equal_range("tick-label"); it != end; ++it)
        highest = std::max(highest, std::stod(it->second));
    EXPECT_GE(highest, 30);
    EXPECT_LT(highest, 40);  // from the data, not from the line's far end
}

TEST(ReportFigures, WriteLabelledSvgPngAndOnePage) {
    SyntheticSensor sensor({8.0, 4.0, 6000, 30});
    calib::SensorReport r;
    std::string error;
    ASSERT_TRUE(calib::analyseSensor(sensor.series(), r, error)) << error;
    const auto dir = std::filesystem::temp_directory_path() / ("sensor_report_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string prefix = (dir / "s").string();
    ASSERT_TRUE(calib::writeReportFigures(r, {"Cam.0", "16-bit samples, analog gain 30", "2026-01-02 03:04 UTC"},
                                          prefix, error))
        << error;

    const struct {
        const char* name;
        const char* x;
        const char* y;
    } figures[] = {
        {"ptc", "(DN)", "Temporal noise"}, {"linearity", "Exposure time (ms)", "Deviation (%)"},
        {"dark", "Exposure time (ms)", "Mean dark level (DN)"},
    };
    for (const auto& f : figures) {
        SCOPED_TRACE(f.name);
        const SvgRead svg = readSvg(slurp(prefix + "-" + f.name + ".svg"));
        ASSERT_EQ(svg.error, "");
        auto has = [&](const char* cls, const char* part) {
            for (auto [it, end] = svg.text.equal_range(cls); it != end; ++it)
                if (it->second.find(part) != std::string::npos) return true;
            return false;
        };
        EXPECT_EQ(svg.text.count("title"), 1u);
        EXPECT_TRUE(has("axis-label x", f.x));
        EXPECT_TRUE(has("axis-label y", f.y));
        EXPECT_GE(svg.text.count("tick-label"), 6u);
        EXPECT_GE(svg.text.count("legend"), 2u);
        EXPECT_TRUE(has("caption", "Cam.0"));
        EXPECT_EQ(svg.unclippedDataLines, 0);

        QImage png(QString::fromStdString(prefix + "-" + f.name + ".png"));
        ASSERT_FALSE(png.isNull());
        EXPECT_GE(png.width(), 2000);  // 300 pixels per inch
        EXPECT_NEAR(png.dotsPerMeterX() * 0.0254, 300, 1);
        // Black text, and the series' colours.
        int dark = 0, coloured = 0;
        for (int y = 0; y < png.height(); y += 2)
            for (int x = 0; x < png.width(); x += 2) {
                const QColor c = png.pixelColor(x, y);
                dark += c.value() < 60;
                coloured += c.saturation() > 80 && c.value() > 100;
            }
        EXPECT_GT(dark, 500);
        EXPECT_GT(coloured, 100);
    }
    const SvgRead ptc = readSvg(slurp(prefix + "-ptc.svg"));
    bool saturation = false;
    for (auto [it, end] = ptc.text.equal_range("legend"); it != end; ++it)
        saturation |= it->second.find("Saturation") != std::string::npos;
    EXPECT_TRUE(saturation);

    const std::string page = slurp(prefix + ".html");
    size_t svgs = 0;
    for (size_t at = page.find("<svg"); at != std::string::npos; at = page.find("<svg", at + 1)) ++svgs;
    EXPECT_EQ(svgs, 3u);
    // One page holds the three figures: their ids (clip paths among them) must not collide.
    std::map<std::string, int> ids;
    for (size_t at = page.find(" id=\""); at != std::string::npos; at = page.find(" id=\"", at + 1))
        ++ids[page.substr(at + 5, page.find('"', at + 5) - at - 5)];
    EXPECT_GT(ids.size(), 10u);
    for (const auto& [id, count] : ids) EXPECT_EQ(count, 1) << id;
    EXPECT_NE(page.find("System gain K"), std::string::npos);
    EXPECT_NE(page.find("Full-well capacity"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
