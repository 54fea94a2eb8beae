// ezcap calibrate and measure-sensor: masters for the calibration library
// from raw frames, the library's listing, and the photon-transfer
// measurement of the sensor.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "ezcam.h"
#include "sensor_report.h"

namespace ezcap {
namespace {

// The --name value pairs that follow a command's arguments.
std::optional<std::string> option(const std::vector<std::string>& args, size_t from,
                                  const std::string& name) {
    std::optional<std::string> value;
    for (size_t i = from; i + 1 < args.size(); i += 2)
        if (args[i] == name) value = args[i + 1];
    return value;
}

std::optional<int> countOption(const std::vector<std::string>& args, size_t from,
                               const std::string& name, int fallback, int low, int high) {
    const auto text = option(args, from, name);
    if (!text) return fallback;
    const auto n = parseInt(name, *text);
    if (!n) return std::nullopt;
    if (*n < low || *n > high) {
        complain(name + " " + *text + " out of range (allowed: " + std::to_string(low) + ".." +
                 std::to_string(high) + ")");
        return std::nullopt;
    }
    return n;
}

// Raw frames with their descriptions; lost frames are read again.
class Reader {
  public:
    explicit Reader(const std::string& camera)
        : camera_(camera), buffer_(static_cast<size_t>(std::max(RecvMemSize(camera.c_str()), 0))) {}

    // False (with a complaint) when the camera fails or keeps losing frames.
    bool next(EzFrameInfo& info) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int result =
                GetRawDataInfo(buffer_.data(), static_cast<int>(buffer_.size()), &info, camera_.c_str());
            if (result == 0 || result == 1) return true;
            if (result == EZ_ENOCAM || result == EZ_ERANGE) {
                complain(result == EZ_ENOCAM ? "the camera is gone" : "frame buffer too small");
                return false;
            }
        }
        complain("the camera keeps losing frames");
        return false;
    }
    const unsigned char* frame() const { return buffer_.data(); }
    const _ezImage& record() const { return *reinterpret_cast<const _ezImage*>(buffer_.data()); }

  private:
    std::string camera_;
    std::vector<unsigned char> buffer_;
};

// On a terminal every frame, elsewhere the end only.
void progress(const char* what, int done, int total) {
    if (done != total && !isatty(STDERR_FILENO)) return;
    std::fprintf(stderr, "\r%s: frame %d of %d", what, done, total);
    if (done == total) std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

// ---- calibrate ---------------------------------------------------------------------

Status listLibrary(const std::string& camera) {
    // The report matches the library against the latest frame's settings.
    Reader reader(camera);
    EzFrameInfo info{};
    if (!reader.next(info)) return Status::Failed;
    std::vector<char> text(1 << 20);
    const int result = GetCalibrationReport(text.data(), static_cast<int>(text.size()), camera.c_str());
    std::fputs(text.data(), stdout);
    if (result != EZ_OK) complain("the library's listing was cut short");
    return Status::Ok;
}

// A dark or bias needs the lens covered. On a terminal ezcap asks and waits
// for Enter; elsewhere (a script, a pipe) nobody could answer, so it goes on
// and says so: the library refuses frames that show light either way.
bool askToCover(const char* kindName, bool yes) {
    if (yes) return true;
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr,
                     "calibrate %s: standard input is not a terminal, so nobody is asked to cover the "
                     "lens; frames that show light are refused (--yes: the lens is covered)\n",
                     kindName);
        return true;
    }
    std::fprintf(stderr, "calibrate %s: cover the lens so that no light reaches the sensor, then press Enter ",
                 kindName);
    std::fflush(stderr);
    char line[256];
    if (!std::fgets(line, sizeof line, stdin)) {
        std::fprintf(stderr, "\n");
        complain(std::string("no answer: no ") + kindName + " taken");
        return false;
    }
    return true;
}

Status takeMaster(const std::string& camera, int kind, const char* kindName, int frames,
                  const std::string& label, bool yes) {
    const char* c = camera.c_str();
    const bool covered = kind == EZ_MASTER_DARK || kind == EZ_MASTER_BIAS;
    if (covered && !askToCover(kindName, yes)) return Status::Failed;
    // A bias is the shortest exposure the camera has.
    const float exposure = GetExposure(c);
    if (kind == EZ_MASTER_BIAS) {
        float low = 0, high = 0, step = 0;
        if (GetExposureRange(&low, &high, &step, c) == 0) SetExposure(low, c);
    }
    Reader reader(camera);
    EzFrameInfo info{};
    // The frames already under way may predate the settings.
    bool ok = reader.next(info) && reader.next(info);
    int result = ok ? BeginMaster(kind, label.c_str(), c) : EZ_EIO;
    int taken = 0;
    while (ok && result == EZ_OK && taken < frames) {
        ok = reader.next(info);
        if (ok) result = AddMasterFrame(reader.frame(), &info, c);
        if (ok && result == EZ_OK) progress(kindName, ++taken, frames);
    }
    if (kind == EZ_MASTER_BIAS) SetExposure(exposure, c);
    if (!ok) return Status::Failed;
    if (result != EZ_OK && result != EZ_ELIT) {
        complain(std::string("frame refused for the ") + kindName +
                 " master: the settings changed while it was taken");
        return Status::Failed;
    }
    // After a lit frame the master is refused: finishing it says why.
    std::vector<char> path(4096);
    result = FinishMaster(path.data(), static_cast<int>(path.size()), c);
    if (result != EZ_OK) {
        if (taken > 0 && taken < frames && isatty(STDERR_FILENO)) std::fprintf(stderr, "\n");  // ends the progress line
        complain(path.data());
        return result == EZ_ELIT ? Status::Lit : Status::Failed;
    }
    std::printf("%s master: %s\n", kindName, path.data());
    return Status::Ok;
}

// ---- measure-sensor ------------------------------------------------------------------

// The central half of a raw frame as floats (away from the shaded corners).
struct Crop {
    int x0 = 0, y0 = 0, width = 0, height = 0;
};

std::vector<float> samples(const _ezImage& image, const unsigned char* frame, const Crop& crop) {
    std::vector<float> out(static_cast<size_t>(crop.width) * crop.height);
    const unsigned char* data = frame + image.header_size;
    for (int y = 0; y < crop.height; ++y) {
        const unsigned char* row = data + static_cast<size_t>(crop.y0 + y) * image.stride;
        float* to = out.data() + static_cast<size_t>(y) * crop.width;
        for (int x = 0; x < crop.width; ++x) {
            if (image.depth == 16) {
                uint16_t v;
                std::memcpy(&v, row + 2 * static_cast<size_t>(crop.x0 + x), 2);
                to[x] = v;
            } else {
                to[x] = row[crop.x0 + x];
            }
        }
    }
    return out;
}

double meanOf(const std::vector<float>& v) {
    double sum = 0;
    for (float x : v) sum += x;
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

// Takes the light away: simulated cameras are capped by ezcap itself, a
// real camera by the user.
bool capLens(bool capped) {
    if (std::getenv("EZCAM_SIM")) {
        for (int id = 0; id < 64; ++id) SimSetSensor(id, capped ? "light=0" : "light=1");
        return true;
    }
    if (!capped) {
        std::fprintf(stderr, "measure-sensor: done; the lens may be uncovered again\n");
        return true;
    }
    std::fprintf(stderr, "measure-sensor: cover the lens (no light at all), then press Enter\n");
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) {
        complain("no answer on standard input: the dark frames need a covered lens");
        return false;
    }
    return true;
}

class Measurement {
  public:
    Measurement(const std::string& camera) : camera_(camera), reader_(camera) {}

    // Sets the exposure and waits for frames taken with it; `actual` is the
    // exposure the camera could give (whole sensor lines).
    bool at(double ms, double* actual = nullptr) {
        if (SetExposure(static_cast<float>(ms), camera_.c_str()) != 0) {
            complain("exposure " + std::to_string(ms) + " ms refused");
            return false;
        }
        EzFrameInfo info{};
        if (!reader_.next(info) || !reader_.next(info)) return false;  // frames under way predate it
        if (actual) *actual = info.exposure_ms > 0 ? info.exposure_ms : GetExposure(camera_.c_str());
        return true;
    }
    bool grab(std::vector<float>& out) {
        EzFrameInfo& info = info_;
        if (!reader_.next(info)) return false;
        const _ezImage& image = reader_.record();
        if (crop_.width == 0) {
            crop_ = {image.width / 4 & ~1, image.height / 4 & ~1, image.width / 2 & ~1, image.height / 2 & ~1};
            bayer_ = info.bayer;
            depth_ = image.depth;
        }
        if (image.width < crop_.x0 + crop_.width || image.height < crop_.y0 + crop_.height ||
            image.depth != depth_) {
            complain("the frame size or depth changed during the measurement");
            return false;
        }
        out = samples(image, reader_.frame(), crop_);
        return true;
    }
    bool pair(calib::PairStats& stats) {
        std::vector<float> a, b;
        if (!grab(a) || !grab(b)) return false;
        stats = calib::pairStats(a, b);
        return true;
    }
    bool average(int frames, std::vector<float>& sum) {
        std::vector<float> one;
        for (int i = 0; i < frames; ++i) {
            if (!grab(one)) return false;
            if (sum.empty()) sum.assign(one.size(), 0.0f);
            for (size_t k = 0; k < one.size(); ++k) sum[k] += one[k] / static_cast<float>(frames);
        }
        return true;
    }
    int step() const { return bayer_ ? 2 : 1; }
    int depth() const { return depth_; }
    const Crop& crop() const { return crop_; }
    const EzFrameInfo& info() const { return info_; }  // of the latest frame grabbed

  private:
    std::string camera_;
    Reader reader_;
    EzFrameInfo info_{};
    Crop crop_;
    int bayer_ = 0, depth_ = 8;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> mastersInForce(const std::string& camera) {
    std::vector<std::pair<std::string, std::string>> masters;
    const char* c = camera.c_str();
    bool on = false;
    if (GetCalibrationState(&on, c) != EZ_OK || !on) return masters;
    Reader reader(camera);
    EzFrameInfo info{};
    if (!reader.next(info)) return masters;  // the masters follow the latest frame's settings
    const std::pair<int, const char*> kinds[] = {
        {EZ_MASTER_DARK, "dark"}, {EZ_MASTER_FLAT, "flat"}, {EZ_MASTER_BIAS, "bias"}};
    for (const auto& [kind, name] : kinds) {
        std::vector<char> path(4096);
        if (GetCalibrationMaster(kind, path.data(), static_cast<int>(path.size()), c) != EZ_OK ||
            !path[0])
            continue;
        const std::string file = path.data();
        masters.emplace_back(name, file.substr(file.rfind('/') + 1));
    }
    return masters;
}

Status calibrate(const std::string& camera, const std::vector<std::string>& args) {
    const std::string& what = args[0];
    const char* c = camera.c_str();
    if (const auto library = option(args, 1, "--library"); library) SetCalibrationLibrary(library->c_str(), c);
    const std::string label = option(args, 1, "--label").value_or("");
    if (!label.empty()) SetCalibrationMatch(label.c_str(), 2.0f, c);
    if (what == "list") return listLibrary(camera);
    if (what == "on" || what == "off") {
        SetCalibrationState(what == "on", c);
        std::printf("calibration %s\n", what.c_str());
        return Status::Ok;
    }
    const int kind = what == "dark" ? EZ_MASTER_DARK : what == "flat" ? EZ_MASTER_FLAT : what == "bias" ? EZ_MASTER_BIAS : -1;
    if (kind < 0) {
        complain("calibrate takes dark, flat, bias, list, on or off, not '" + what + "'");
        return Status::BadInput;
    }
    const auto frames = countOption(args, 1, "--frames", 16, 2, 100000);
    if (!frames) return Status::BadInput;
    return takeMaster(camera, kind, what.c_str(), *frames, label, option(args, 1, "--yes").has_value());
}

namespace {

// The exposure where the mean level reaches its plateau, and the plateau.
struct Saturation {
    double exposureMs = 0, plateau = 0;
};

// Doubles the exposure from the shortest until the level stops rising, then
// places saturation where the straight response meets the plateau: from the
// shortest exposure and the brightest one well below the plateau, checked
// once more closer to it. Nothing when the camera fails (it has said why) or
// the search does (with `why`).
std::optional<Saturation> findSaturation(Measurement& m, double low, double high, double maxSample,
                                         std::string& why) {
    struct Level {
        double ms, level;
    };
    std::vector<Level> seen;
    std::vector<float> frame;
    double previous = -1;
    bool plateau = false;
    for (double t = low; !plateau; t = std::min(t * 2, high)) {
        double actual = 0;
        if (!m.at(t, &actual) || !m.grab(frame)) return std::nullopt;
        if (actual <= previous) {  // exposures below the camera's step come out the same
            if (t >= high) break;
            continue;
        }
        previous = actual;
        const double level = meanOf(frame);
        // Doubling the exposure doubles the signal above the first level
        // until the pixels fill up. Only a signal well clear of the noise
        // can stop rising: without light the level wanders about the first.
        if (seen.size() >= 2) {
            const double rise = level - seen.back().level, before = seen.back().level - seen.front().level;
            const bool lit = before > 0.02 * (maxSample - seen.front().level);
            // A longer exposure that comes out darker is not a plateau: the
            // camera does not give that exposure, so the range ends before it.
            if (lit && rise < -0.05 * before) {
                char text[256];
                std::snprintf(text, sizeof text,
                              "the level falls from %.1f at %.3f ms to %.1f at %.3f ms: the camera does not give "
                              "exposures past %.3f ms, and the sensor does not saturate before",
                              seen.back().level, seen.back().ms, level, actual, seen.back().ms);
                why = text;
                return std::nullopt;
            }
            plateau = level >= 0.98 * maxSample || (lit && rise < 0.05 * before);
        }
        seen.push_back({actual, level});
        if (t >= high) break;
    }
    if (!plateau) {
        why = "the sensor does not saturate within the exposure range: more light is needed";
        return std::nullopt;
    }
    Saturation s;
    s.plateau = seen.back().level;
    // A little further, in case the doubling stopped on the shoulder.
    if (const double further = std::min(seen.back().ms * 1.5, high); further > seen.back().ms) {
        double actual = 0;
        if (!m.at(further, &actual) || !m.grab(frame)) return std::nullopt;
        s.plateau = std::max(s.plateau, meanOf(frame));
    }
    const Level& first = seen.front();
    const double full = s.plateau - first.level;
    if (!(full > 0)) {
        why = "no light: longer exposures give no higher level";
        return std::nullopt;
    }
    Level bright = first;
    for (const Level& l : seen)
        if (l.level - first.level <= 0.75 * full && l.ms > bright.ms) bright = l;
    auto meet = [&](const Level& b) {
        const double slope = (b.level - first.level) / (b.ms - first.ms);
        return slope > 0 ? b.ms + (s.plateau - b.level) / slope : seen.back().ms;
    };
    s.exposureMs = bright.ms > first.ms ? meet(bright) : seen.back().ms;
    // The straight part may have ended before `bright`'s neighbour: measure
    // at 80 % of the estimate, and take the line from there when it is
    // still well below the plateau.
    Level check{0, 0};
    if (!m.at(std::clamp(0.8 * s.exposureMs, low, high), &check.ms) || !m.grab(frame)) return std::nullopt;
    check.level = meanOf(frame);
    if (check.ms > first.ms && check.level - first.level < 0.9 * full) s.exposureMs = meet(check);
    s.exposureMs = std::clamp(s.exposureMs, low, high);
    return s;
}

}  // namespace

Status measureSensor(const std::string& camera, const std::vector<std::string>& args) {
    const auto points = countOption(args, 0, "--points", 50, 6, 1000);
    const auto averaged = countOption(args, 0, "--average", 16, 2, 1000);
    if (!points || !averaged) return Status::BadInput;
    double darkMs = 1000;
    if (const auto text = option(args, 0, "--dark-ms"); text) {
        const auto v = parseFloat("--dark-ms", *text);
        if (!v || *v <= 0) {
            if (v) complain("--dark-ms must be positive");
            return Status::BadInput;
        }
        darkMs = *v;
    }
    const std::string prefix = option(args, 0, "--report").value_or("sensor");
    const char* c = camera.c_str();
    float low = 0, high = 0, step = 0;
    if (GetExposureRange(&low, &high, &step, c) != 0) {
        complain("the camera gives no exposure range");
        return Status::Failed;
    }
    const float restore = GetExposure(c);
    Measurement m(camera);
    calib::SensorMeasurements data;
    const double maxSample = GetRawDepth(c) == 16 ? 65535 : 255;
    data.maxSample = maxSample;
    if (maxSample < 1000)
        std::fprintf(stderr, "measure-sensor: 8-bit samples quantise the noise; 'depth 16' first gives better numbers\n");

    std::fprintf(stderr, "measure-sensor: finding saturation\n");
    std::string why;
    const auto saturation = findSaturation(m, low, high, maxSample, why);
    if (!saturation) {
        if (!why.empty()) complain(why);
        SetExposure(restore, c);
        return Status::Failed;
    }
    // Evenly spaced from the shortest exposure to saturation, and a few
    // steps past it to show the plateau and where the noise collapses.
    const int n = *points, beyond = std::max(3, n / 10);
    const double spacing = (saturation->exposureMs - low) / (n - 1);
    std::vector<double> exposures;
    for (int i = 0; i < n + beyond; ++i) {
        const double t = low + spacing * i;
        if (t > high) break;
        exposures.push_back(t);
    }
    data.points.resize(exposures.size());
    for (size_t i = 0; i < exposures.size(); ++i) {
        calib::PtcPoint& p = data.points[i];
        if (!m.at(exposures[i], &p.exposureMs) || !m.pair(p.light)) return Status::Failed;
        progress("measure-sensor: flat pairs", static_cast<int>(i) + 1, static_cast<int>(exposures.size()));
    }
    // An averaged flat near half saturation for the PRNU.
    const double halfLevel = (data.points.front().light.mean + saturation->plateau) / 2;
    size_t half = 0;
    for (size_t i = 0; i < data.points.size(); ++i)
        if (std::fabs(data.points[i].light.mean - halfLevel) < std::fabs(data.points[half].light.mean - halfLevel))
            half = i;
    std::vector<float> avg;
    if (!m.at(data.points[half].exposureMs) || !m.average(*averaged, avg)) return Status::Failed;
    data.averaged = *averaged;
    data.lightSpatial = calib::spatialVariance(avg, m.crop().width, m.crop().height, m.step());
    data.lightSpatialMean = meanOf(avg);
    const EzFrameInfo lit = m.info();

    if (!capLens(true)) return Status::Failed;
    bool ok = true;
    for (size_t i = 0; ok && i < exposures.size(); ++i) {
        calib::PtcPoint& p = data.points[i];
        ok = m.at(exposures[i]) && m.pair(p.dark);
        if (ok) progress("measure-sensor: dark pairs", static_cast<int>(i) + 1, static_cast<int>(exposures.size()));
    }
    // The dark level over exposure, for the dark current.
    const double darkEnd = std::min(darkMs, static_cast<double>(high));
    for (int i = 0; ok && i < 6; ++i) {
        calib::DarkPoint d;
        calib::PairStats s;
        ok = m.at(std::max(darkEnd * i / 5, static_cast<double>(low)), &d.exposureMs) && m.pair(s);
        d.mean = s.mean;
        data.darks.push_back(d);
    }
    avg.clear();
    ok = ok && m.at(data.points[half].exposureMs) && m.average(*averaged, avg);
    if (ok) {
        data.darkSpatial = calib::spatialVariance(avg, m.crop().width, m.crop().height, m.step());
        data.darkSpatialMean = meanOf(avg);
    }
    capLens(false);
    SetExposure(restore, c);
    if (!ok) return Status::Failed;

    calib::SensorReport report;
    std::string error;
    if (!calib::analyseSensor(data, report, error)) {
        complain(error);
        return Status::Failed;
    }
    const std::string header = "sensor of " + camera + ": " + std::to_string(m.depth()) + "-bit, gain " +
                               std::to_string(GetAnaloggain(c)) + ", black level " +
                               std::to_string(GetBlacklevel(c)) + ", central " + std::to_string(m.crop().width) +
                               "x" + std::to_string(m.crop().height) + " pixels, " +
                               std::to_string(report.points.size()) + " exposures to " +
                               std::to_string(report.points.back().exposureMs) + " ms\n\n";
    const std::string text = calib::reportText(report, header);
    std::fputs(text.c_str(), stdout);
    std::ofstream(prefix + ".txt") << text;
    std::ofstream json(prefix + ".json");
    json << calib::reportJson(report, camera);
    json.close();
    if (!json) {
        complain("cannot write " + prefix + ".json");
        return Status::Failed;
    }

    calib::ReportContext context;
    context.camera = camera;
    const char* clock = GetPixclkItemName(lit.pixel_clock, c);
    char settings[512];
    std::snprintf(settings, sizeof settings,
                  "%d-bit samples, analog gain %d, black level %d, pixel clock %s, %d \u00d7 %d pixels, "
                  "statistics over the central %d \u00d7 %d",
                  lit.depth, lit.analog_gain, lit.black_level, clock && *clock ? clock : std::to_string(lit.pixel_clock).c_str(),
                  lit.width, lit.height, m.crop().width, m.crop().height);
    context.settings = settings;
    if (lit.has_temperature) {
        char t[64];
        std::snprintf(t, sizeof t, ", sensor at %.1f \u00b0C", static_cast<double>(lit.temperature));
        context.settings += t;
    }
    char date[32];
    const time_t seconds = static_cast<time_t>(lit.utc_ns / 1000000000);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", &utc);
    context.date = date;
    if (!calib::writeReportFigures(report, context, prefix, error)) {
        complain(error);
        return Status::Failed;
    }
    std::printf("\nreport: %s.txt, %s.json, %s.html; figures %s-ptc, %s-linearity, %s-dark (.svg, .png)\n",
                prefix.c_str(), prefix.c_str(), prefix.c_str(), prefix.c_str(), prefix.c_str(), prefix.c_str());
    return Status::Ok;
}

}  // namespace ezcap
