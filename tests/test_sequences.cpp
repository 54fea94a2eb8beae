// Random but reproducible sequences of what a user does with a camera, on
// every product and release of the product table: settings, regions changed
// while one is in force, suspend and resume, parameter sets (also corrupt
// ones), calibration, stills, unplugging, interleaved with frame reads.
// After every step the camera must settle within a few reads: frames arrive
// of the size GetRawSize and GetRoi announce, no call blocks beyond its
// bound, and the device understood every request on the wire. A failing
// sequence is shrunk to the shortest one that still fails and printed as an
// ezcap command line that repeats it.
//
// Budget: EZCAM_SEQ_COUNT sequences (default 2) of EZCAM_SEQ_STEPS steps
// (default 16) per product and release, from seed EZCAM_SEQ_SEED (default 1);
// EZCAM_SEQ_SECONDS runs fresh seeds instead for that long per product;
// EZCAM_SEQ_ONLY=vvvv:pppp@rrrr keeps one product and release.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ezcam.h"
#include "models/products.h"
#include "sim/sim_bus.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// How long a call may take: setters send a request or two; a frame read waits
// at most for its exposure and the read time-out behind it; replugging waits
// for the bus to report the camera.
constexpr double kSetterBoundMs = 2000;
constexpr double kReadBoundMs = 4000;
constexpr double kReplugBoundMs = 8000;
constexpr int kSettleReads = 6;  // reads a camera gets to deliver its frames after a step
constexpr int kStillFrames = 8;  // frames a still may take (a mode switch there and back)

enum class Act {
    Resolution, Clock, Depth, Exposure, Gain, Black, Roi, RoiOff, RoiOn, Flip, Rotate,
    Suspend, Resume, SaveSet, LoadSet, CorruptSet, Calibration, Still, Replug, Grab, Process
};

struct Step {
    Act act = Act::Grab;
    int a = 0, b = 0, c = 0, d = 0;
    double ms = 0;
    std::vector<unsigned char> bytes;  // a corrupt parameter set
};

Step step(Act act, int a = 0, int b = 0, int c = 0, int d = 0) {
    Step s;
    s.act = act;
    s.a = a;
    s.b = b;
    s.c = c;
    s.d = d;
    return s;
}

// The product and release a sequence runs on, and what it offers.
struct Target {
    uint16_t vendor = 0, product = 0, release = 0;
    int resolutions = 1, clocks = 1;
    int widest = 16, tallest = 16;
    float exposureMin = 1, exposureMax = 100;
    int gainMin = 0, gainMax = 0;
    bool blackLevel = false;
    int blackMin = 0, blackMax = 0;
};

// Which invariant broke: shrinking keeps a sequence only while it breaks the
// same one.
enum class Broke { Nothing, NoFrames, Geometry, Refused, Blocked, BufferSize, Still, Returned };

struct Failure {
    Broke kind = Broke::Nothing;
    size_t step = 0;
    std::string what;
};

std::string hex16(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

std::string simPair(const Target& t) {
    return hex16(t.vendor) + ":" + hex16(t.product) + "@" + hex16(t.release);
}

// ---- Making sequences ------------------------------------------------------------

int uniform(std::mt19937& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, std::max(low, high))(rng);
}

std::vector<Step> makeSequence(std::mt19937& rng, const Target& t, int length) {
    // Weights: regions and reads most, where the frame's size changes.
    struct Weighted {
        Act act;
        int weight;
    };
    static const Weighted kActs[] = {
        {Act::Resolution, 6}, {Act::Clock, 3}, {Act::Depth, 4}, {Act::Exposure, 3},
        {Act::Gain, 2}, {Act::Black, 1}, {Act::Roi, 10}, {Act::RoiOff, 3}, {Act::RoiOn, 2},
        {Act::Flip, 1}, {Act::Rotate, 2}, {Act::Suspend, 2}, {Act::Resume, 2},
        {Act::SaveSet, 2}, {Act::LoadSet, 2}, {Act::CorruptSet, 2}, {Act::Calibration, 1},
        {Act::Still, 3}, {Act::Replug, 1}, {Act::Grab, 3}, {Act::Process, 4}};
    int total = 0;
    for (const Weighted& w : kActs) total += w.weight;
    std::vector<Step> steps;
    int corrupt = 0;
    bool suspended = false;
    for (int i = 0; i < length; ++i) {
        int pick = uniform(rng, 0, total - 1);
        Act act = kActs[0].act;
        for (const Weighted& w : kActs) {
            if (pick < w.weight) {
                act = w.act;
                break;
            }
            pick -= w.weight;
        }
        // A user resumes soon after suspending: settings made meanwhile
        // must reach the camera then.
        if (suspended && uniform(rng, 0, 9) < 4) act = Act::Resume;
        if (act == Act::Suspend) suspended = true;
        if (act == Act::Resume || act == Act::Replug) suspended = false;
        Step s = step(act);
        switch (act) {
            case Act::Resolution:  // now and then one the camera does not have
                s.a = uniform(rng, 0, 9) == 0 ? t.resolutions : uniform(rng, 0, t.resolutions - 1);
                break;
            case Act::Clock:
                s.a = uniform(rng, 0, t.clocks - 1);
                break;
            case Act::Depth:
                s.a = uniform(rng, 0, 1) ? 16 : 8;
                break;
            case Act::Exposure: {
                // Log-uniform over the range, in the thousandths ezcap prints.
                const double low = std::max(0.001, double(t.exposureMin));
                const double high = std::max(low, std::min(double(t.exposureMax), 500.0));
                const double ms = low * std::pow(high / low, std::uniform_real_distribution<>(0, 1)(rng));
                s.ms = std::clamp(std::ceil(ms * 1000) / 1000, std::ceil(low * 1000) / 1000,
                                  std::floor(high * 1000) / 1000);
                break;
            }
            case Act::Gain:
                s.a = uniform(rng, t.gainMin, t.gainMax);
                break;
            case Act::Black:
                s.a = t.blackLevel ? uniform(rng, t.blackMin, t.blackMax) : uniform(rng, 0, 10);
                break;
            case Act::Roi:
                switch (uniform(rng, 0, 4)) {
                    case 0:  // below a bulk packet
                        s = step(act, uniform(rng, 0, 64), uniform(rng, 0, 64), uniform(rng, 1, 16),
                             uniform(rng, 1, 16));
                        break;
                    case 1:  // at the far edges
                        s = step(act, t.widest - uniform(rng, 1, 40), t.tallest - uniform(rng, 1, 40),
                             uniform(rng, 1, 400), uniform(rng, 1, 400));
                        break;
                    case 2:  // everything, from outside the frame
                        s = step(act, -uniform(rng, 0, 50), -uniform(rng, 0, 50), 100000, 100000);
                        break;
                    default:
                        s = step(act, uniform(rng, 0, t.widest / 2), uniform(rng, 0, t.tallest / 2),
                             uniform(rng, 1, t.widest), uniform(rng, 1, t.tallest));
                        break;
                }
                break;
            case Act::Flip:
                s.a = uniform(rng, 0, 3);
                break;
            case Act::Rotate:
                s.a = uniform(rng, 0, 2);
                break;
            case Act::SaveSet:
                s.a = uniform(rng, 0, 2);
                break;
            case Act::LoadSet:
                s.a = uniform(rng, 0, 3);  // 3 is never saved
                break;
            case Act::CorruptSet: {
                // Its own set, never saved over: a set of the right size with
                // random values, or a file of the wrong size.
                s.a = 7 + corrupt++;
                const bool wholeSize = uniform(rng, 0, 2) > 0;
                s.bytes.resize(wholeSize ? 38 : static_cast<size_t>(uniform(rng, 0, 60)));
                for (unsigned char& byte : s.bytes) byte = static_cast<unsigned char>(uniform(rng, 0, 255));
                break;
            }
            case Act::Calibration:
                s.a = uniform(rng, 0, 1);
                break;
            case Act::Still:
                s.a = uniform(rng, 0, t.resolutions - 1);
                s.b = i;  // names its file
                break;
            case Act::Grab:
            case Act::Process:
                s.a = uniform(rng, 1, 3);
                break;
            case Act::RoiOff:
            case Act::RoiOn:
            case Act::Suspend:
            case Act::Resume:
            case Act::Replug:
                break;
        }
        if (corrupt > 18) s = step(Act::Grab, 1);
        steps.push_back(std::move(s));
    }
    return steps;
}

// ---- Printing a sequence as ezcap commands -------------------------------------------

std::string ezcapWords(const Step& s) {
    std::ostringstream out;
    switch (s.act) {
        case Act::Resolution: out << "resolution " << s.a; break;
        case Act::Clock: out << "clock " << s.a; break;
        case Act::Depth: out << "depth " << s.a; break;
        case Act::Exposure: {
            char ms[32];
            std::snprintf(ms, sizeof ms, "%.3f", s.ms);
            out << "exposure " << ms;
            break;
        }
        case Act::Gain: out << "gain " << s.a; break;
        case Act::Black: out << "black " << s.a; break;
        case Act::Roi: out << "roi " << s.a << ' ' << s.b << ' ' << s.c << ' ' << s.d; break;
        case Act::RoiOff: out << "roi-off"; break;
        case Act::RoiOn: out << "roi-on"; break;
        case Act::Flip: out << "flip " << s.a; break;
        case Act::Rotate: out << "rotate " << s.a; break;
        case Act::Suspend: out << "suspend"; break;
        case Act::Resume: out << "resume"; break;
        case Act::SaveSet: out << "save-set " << s.a; break;
        case Act::LoadSet: out << "load-set " << s.a; break;
        case Act::CorruptSet: out << "load-set " << s.a; break;
        case Act::Calibration: out << "calibrate " << (s.a ? "on" : "off"); break;
        case Act::Still: out << "still \"$d/still" << s.b << "\" raw " << s.a; break;
        case Act::Replug: out << "replug"; break;
        case Act::Grab: out << "grab " << s.a; break;
        case Act::Process: out << "process " << s.a; break;
    }
    return out.str();
}

// A shell line a person can paste: the corrupt sets written first (each
// has an index of its own that nothing saves over), then one ezcap run that
// reads frames after every setting, as the test does.
std::string ezcapLine(const Target& t, const std::string& model, const std::vector<Step>& steps) {
    std::ostringstream out;
    out << "d=$(mktemp -d); ";
    for (const Step& s : steps) {
        if (s.act != Act::CorruptSet) continue;
        out << "printf '";
        for (unsigned char byte : s.bytes) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
            out << escaped;
        }
        out << "' > \"$d/" << model << char('a' + s.a) << ".txt\"; ";
    }
    out << "EZCAM_SIM=" << simPair(t) << " EZCAM_SIM_PACE=0 EZCAM_CALIBRATION_DIR=\"$d\" ezcap -k -d \"$d\"";
    bool suspended = false;
    for (const Step& s : steps) {
        out << ' ' << ezcapWords(s);
        if (s.act == Act::Suspend) suspended = true;
        if (s.act == Act::Resume || s.act == Act::Replug) suspended = false;
        const bool reads = s.act == Act::Grab || s.act == Act::Process || s.act == Act::Still;
        if (!reads && !suspended) out << " grab 2";
    }
    return out.str();
}

// ---- Playing a sequence ----------------------------------------------------------------

class Player {
  public:
    explicit Player(const Target& target) : t_(target) {}

    // Plays the steps on a freshly plugged camera with an empty directory;
    // the first invariant broken, or Broke::Nothing.
    Failure play(const std::vector<Step>& steps) {
        freshDirectory();
        stillPath_.clear();
        armedPath_.clear();
        suspended_ = false;
        InitDevice(nullptr, nullptr, (dir_ + "/").c_str());
        Failure failure;
        if (!plug()) {
            failure = {Broke::NoFrames, 0, "the camera did not arrive"};
        } else {
            ResumeDevice(name_.c_str());
            suspended_ = false;
            const bool verbose = std::getenv("EZCAM_SEQ_VERBOSE") != nullptr;
            for (size_t i = 0; i < steps.size() && failure.kind == Broke::Nothing; ++i) {
                if (verbose) std::fprintf(stderr, "%s: %s\n", name_.c_str(), ezcapWords(steps[i]).c_str());
                failure = perform(steps[i]);
                if (failure.kind == Broke::Nothing) failure = settle(steps[i]);
                failure.step = i;
            }
        }
        if (id_ > 0) SimUnplugCamera(id_);
        id_ = -1;
        PollDevice(0);
        ExitDevice();
        return failure;
    }

    const std::string& model() const { return model_; }

    // What the product offers, read from a camera of it.
    static Target describe(Target t) {
        Player p(t);
        p.freshDirectory();
        InitDevice(nullptr, nullptr, "");
        if (p.plug()) {
            const char* n = p.name_.c_str();
            t.resolutions = std::max(1, GetResolutionCount(n));
            t.clocks = std::max(1, GetPixelclockCount(n));
            t.widest = std::max(16, GetResWidth(0, n));
            t.tallest = std::max(16, GetResHeight(0, n));
            float step = 0;
            GetExposureRange(&t.exposureMin, &t.exposureMax, &step, n);
            int gainStep = 0;
            GetAnaloggainRange(&t.gainMin, &t.gainMax, &gainStep, n);
            int blackStep = 0;
            t.blackLevel = GetBlacklevelRange(&t.blackMin, &t.blackMax, &blackStep, n) == EZ_OK;
            SimUnplugCamera(p.id_);
            PollDevice(0);
        }
        ExitDevice();
        return t;
    }

    ~Player() {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

  private:
    void freshDirectory() {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
        char pattern[] = "/tmp/ezcam-sequence-XXXXXX";
        dir_ = mkdtemp(pattern) ? pattern : "/tmp";
        setenv("EZCAM_CALIBRATION_DIR", dir_.c_str(), 1);
    }

    // Plugs a camera of the target and waits for its arrival.
    bool plug() {
        std::set<std::string> before;
        for (int i = 0; i < DeviceCount(); ++i) before.insert(DeviceName(i));
        id_ = SimPlugCamera(t_.vendor, t_.product, t_.release);
        for (int i = 0; i < 50; ++i) {
            PollDevice(100);
            for (int k = 0; k < DeviceCount(); ++k) {
                const std::string name = DeviceName(k);
                if (!before.count(name) && SimCameraId(name.c_str()) == id_) {
                    name_ = name;
                    model_ = name.substr(0, name.size() - 1);
                    return true;
                }
            }
        }
        return false;
    }

    sim::SimCamera* device() const {
        auto camera = sim::simBus().camera(id_);
        return camera.get();
    }

    // Runs a call and notes when it took longer than its bound.
    template <typename Call>
    auto timed(const char* what, double boundMs, Call&& call) {
        const auto start = Clock::now();
        auto result = call();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (ms > boundMs && blocked_.empty())
            blocked_ = std::string(what) + " took " + std::to_string(static_cast<int>(ms)) + " ms";
        return result;
    }

    Failure perform(const Step& s) {
        const char* n = name_.c_str();
        blocked_.clear();
        // A still waits for a frame of the size it was asked at: a change of
        // geometry before that frame came leaves it waiting, as designed.
        static const Act kGeometry[] = {Act::Resolution, Act::Roi, Act::RoiOff, Act::RoiOn,
                                        Act::Rotate, Act::LoadSet, Act::CorruptSet};
        if (std::find(std::begin(kGeometry), std::end(kGeometry), s.act) != std::end(kGeometry))
            stillPath_.clear();
        const auto set = [&](const char* what, auto&& call) { timed(what, kSetterBoundMs, call); };
        switch (s.act) {
            case Act::Resolution: set("SetResolution", [&] { return SetResolution(s.a, n); }); break;
            case Act::Clock: set("SetPixelclock", [&] { return SetPixelclock(s.a, n); }); break;
            case Act::Depth: set("SetRawDepth", [&] { return SetRawDepth(s.a, n); }); break;
            case Act::Exposure: set("SetExposure", [&] { return SetExposure(float(s.ms), n); }); break;
            case Act::Gain: set("SetAnaloggain", [&] { return SetAnaloggain(s.a, n); }); break;
            case Act::Black: set("SetBlacklevel", [&] { return SetBlacklevel(s.a, n); }); break;
            case Act::Roi: set("SetRoi", [&] { return SetRoi(s.a, s.b, s.c, s.d, n); }); break;
            case Act::RoiOff: set("SetRoiState", [&] { return SetRoiState(false, n); }); break;
            case Act::RoiOn: set("SetRoiState", [&] { return SetRoiState(true, n); }); break;
            case Act::Flip: set("SetFlip", [&] { SetFlip(s.a, n); return 0; }); break;
            case Act::Rotate: set("SetRotate", [&] { SetRotate(s.a, n); return 0; }); break;
            case Act::Suspend:
                set("SuspendDevice", [&] { return SuspendDevice(n); });
                suspended_ = true;
                break;
            case Act::Resume:
                set("ResumeDevice", [&] { return ResumeDevice(n); });
                suspended_ = false;
                break;
            case Act::SaveSet: set("SaveConfiguration", [&] { return SaveConfiguration(s.a, n); }); break;
            case Act::LoadSet: set("LoadConfiguration", [&] { return LoadConfiguration(s.a, n); }); break;
            case Act::CorruptSet: {
                std::ofstream(dir_ + "/" + model_ + char('a' + s.a) + ".txt", std::ios::binary)
                    .write(reinterpret_cast<const char*>(s.bytes.data()),
                           static_cast<std::streamsize>(s.bytes.size()));
                set("LoadConfiguration", [&] { return LoadConfiguration(s.a, n); });
                break;
            }
            case Act::Calibration:
                set("SetCalibrationState", [&] { return SetCalibrationState(s.a != 0, n); });
                break;
            case Act::Still: {
                // A still asked for while one waits replaces it; the stream
                // returns to the resolution it had before the first.
                if (armedPath_.empty()) {
                    GetImageFormat(&previousFormat_, n);
                    stillReturnsTo_ = GetResolution(n);
                }
                SetImageFormat(1, n);
                const std::string path = dir_ + "/still" + std::to_string(s.b);
                const int armed = timed("SaveImage", kSetterBoundMs,
                                        [&] { return SaveImage(path.c_str(), s.a, n); });
                if (armed == EZ_OK) stillPath_ = armedPath_ = path;
                if (armedPath_.empty()) SetImageFormat(previousFormat_, n);
                break;
            }
            case Act::Replug: {
                const int vendor = DeviceVendor(n), product = DeviceProduct(n), release = DeviceBcd(n);
                const bool back = timed("replugging", kReplugBoundMs, [&] {
                    SimUnplugCamera(id_);
                    id_ = -1;
                    PollDevice(100);
                    t_.vendor = static_cast<uint16_t>(vendor);
                    t_.product = static_cast<uint16_t>(product);
                    t_.release = static_cast<uint16_t>(release);
                    return plug();
                });
                if (!back) return {Broke::NoFrames, 0, "the camera did not come back after replugging"};
                stillPath_.clear();  // the still went with the camera
                armedPath_.clear();
                ResumeDevice(name_.c_str());
                suspended_ = false;
                break;
            }
            case Act::Grab:
            case Act::Process:
                break;
        }
        if (!blocked_.empty()) return {Broke::Blocked, 0, blocked_};
        return {};
    }

    // One frame read; its result, with the frame in raw_.
    int read(EzFrameInfo& info) {
        const char* n = name_.c_str();
        const int size = RecvMemSize(n);
        raw_.resize(static_cast<size_t>(std::max(size, 0)));
        return timed("GetRawData", kReadBoundMs + 3 * GetExposure(n), [&] {
            return GetRawDataInfo(raw_.data(), size, &info, n);
        });
    }

    int decode() {
        const char* n = name_.c_str();
        const auto* record = reinterpret_cast<const _ezImage*>(raw_.data());
        image_.resize(std::max(image_.size(), record->header_size + size_t{record->width} * record->height *
                                                                          3 * (record->depth / 8) + 4128));
        return timed("DecodeRaw2Image", kReadBoundMs,
                     [&] { return DecodeRaw2Image(raw_.data(), image_.data(), n); });
    }

    // After a step: the frames the camera announces arrive within a few reads.
    Failure settle(const Step& s) {
        blocked_.clear();
        Failure failure = settleFrames(s);
        if (failure.kind == Broke::Nothing && !blocked_.empty()) failure = {Broke::Blocked, 0, blocked_};
        if (failure.kind == Broke::Nothing && device() && device()->refusedRequests() > 0)
            failure = {Broke::Refused, 0, "the camera refused the request \"" + device()->lastRefused() + "\""};
        return failure;
    }

    Failure settleFrames(const Step& s) {
        const char* n = name_.c_str();
        EzFrameInfo info{};
        if (suspended_) {
            const int result = read(info);
            if (result != EZ_EIO)
                return {Broke::NoFrames, 0, "a suspended camera's read gave " + std::to_string(result)};
            return {};
        }
        const bool decodes = s.act == Act::Process || !armedPath_.empty();
        const int reads = std::max(kSettleReads, stillPath_.empty() ? 0 : kStillFrames) +
                          (s.act == Act::Grab || s.act == Act::Process ? s.a : 0);
        int good = 0;
        std::string results;
        std::string geometry;
        for (int i = 0; i < reads && (good < 2 || !stillPath_.empty()); ++i) {
            const int result = read(info);
            results += (results.empty() ? "" : " ") + std::to_string(result);
            if (result == EZ_ERANGE)
                return {Broke::BufferSize, 0, "a buffer of RecvMemSize was too small (-2)"};
            if (result != EZ_OK && result != EZ_CAPTURE) continue;
            const auto* record = reinterpret_cast<const _ezImage*>(raw_.data());
            int width = 0, height = 0;
            GetRawSize(&width, &height, n);
            if (GetRotate(n) == 1 || GetRotate(n) == 2) std::swap(width, height);
            bool roiOn = false;
            GetRoiState(&roiOn, n);
            int x = 0, y = 0, w = 0, h = 0;
            GetRoi(&x, &y, &w, &h, n);
            const bool sized = record->width == width && record->height == height &&
                               info.width == width && info.height == height;
            const bool placed = !roiOn || (info.roi_x == x && info.roi_y == y);
            if (!sized || !placed) {
                std::ostringstream text;
                text << "a frame of " << record->width << "x" << record->height << " at " << info.roi_x
                     << "," << info.roi_y << " where GetRawSize says " << width << "x" << height;
                if (roiOn) text << " and GetRoi " << x << "," << y << " " << w << "x" << h;
                geometry = text.str();
                if (good > 0) return {Broke::Geometry, 0, geometry + ", after a frame of the right size"};
                continue;
            }
            ++good;
            if (decodes && decode() != EZ_OK) return {Broke::NoFrames, 0, "DecodeRaw2Image refused a frame"};
            if (!armedPath_.empty() && fs::exists(armedPath_ + ".raw")) {
                const bool expected = !stillPath_.empty();
                stillPath_.clear();
                armedPath_.clear();
                SetImageFormat(previousFormat_, n);
                if (expected && GetResolution(n) != stillReturnsTo_)
                    return {Broke::Returned, 0, "after the still the resolution is " +
                                                    std::to_string(GetResolution(n)) + ", not " +
                                                    std::to_string(stillReturnsTo_)};
            }
        }
        if (!stillPath_.empty())
            return {Broke::Still, 0, "the still was not written within " + std::to_string(reads) +
                                         " frames (results " + results + ")"};
        if (good < 2) {
            if (!geometry.empty()) return {Broke::Geometry, 0, geometry + " (results " + results + ")"};
            return {Broke::NoFrames, 0, "no frames in " + std::to_string(reads) + " reads (results " + results + ")"};
        }
        return {};
    }

    Target t_;
    std::string dir_;
    std::string name_, model_;
    int id_ = -1;
    bool suspended_ = false;
    std::string blocked_;
    std::string stillPath_;  // the still expected within the next frames
    std::string armedPath_;  // the still the camera waits to write (also when not expected)
    int stillReturnsTo_ = 0;
    int previousFormat_ = 8;
    std::vector<unsigned char> raw_, image_;
};

// The shortest sequence found that still breaks the same invariant: whole
// chunks dropped first, then single steps (delta debugging), within a bound
// of trials.
std::vector<Step> shrink(Player& player, std::vector<Step> steps, Failure& failure) {
    const Broke kind = failure.kind;
    steps.resize(failure.step + 1);
    int trials = 0;
    size_t chunks = 2;
    while (steps.size() > 1 && trials < 300) {
        const size_t size = (steps.size() + chunks - 1) / chunks;
        bool dropped = false;
        for (size_t from = 0; from < steps.size() && trials < 300; from += size) {
            std::vector<Step> candidate(steps.begin(), steps.begin() + static_cast<long>(from));
            candidate.insert(candidate.end(), steps.begin() + static_cast<long>(std::min(from + size, steps.size())),
                             steps.end());
            if (candidate.empty()) continue;
            ++trials;
            const Failure again = player.play(candidate);
            if (again.kind == kind) {
                candidate.resize(again.step + 1);
                steps = std::move(candidate);
                failure = again;
                chunks = std::max<size_t>(chunks - 1, 2);
                dropped = true;
                break;
            }
        }
        if (!dropped) {
            if (size == 1) break;
            chunks = std::min(steps.size(), chunks * 2);
        }
    }
    return steps;
}

// ---- The products ------------------------------------------------------------------------

std::vector<uint16_t> releasesOf(const ProductRow& row) {
    std::set<uint16_t> releases{0xa000};
    const auto add = [&](const ReleaseList& list) {
        for (uint16_t r : list.releases)
            if (r) releases.insert(r);
    };
    for (const FrameLayout& layout : row.reader.layouts) add(layout.releases);
    for (const ClaimRow& claim : row.claim) add(claim.releases);
    return {releases.begin(), releases.end()};
}

std::string extraIds() {
    std::string list;
    for (const ProductRow& row : productTable()) {
        if (!row.create) continue;
        for (uint16_t vendor : vendorIds(row.vendors)) {
            if (row.watched && vendor == 0x0547) continue;
            list += (list.empty() ? "" : ",") + hex16(vendor) + ":" + hex16(row.product);
        }
    }
    return list;
}

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

class Sequences : public testing::TestWithParam<const ProductRow*> {
  protected:
    static void SetUpTestSuite() {
        setenv("EZCAM_SIM", "", 1);
        setenv("EZCAM_SIM_PACE", "0", 1);
        setenv("EZCAM_EXTRA_IDS", extraIds().c_str(), 1);
    }
};

TEST_P(Sequences, EveryStepSettlesIntoTheFramesTheCameraAnnounces) {
    const ProductRow& row = *GetParam();
    const long count = envNumber("EZCAM_SEQ_COUNT", 2);
    const long length = envNumber("EZCAM_SEQ_STEPS", 16);
    const long seconds = envNumber("EZCAM_SEQ_SECONDS", 0);
    const unsigned long seed = static_cast<unsigned long>(envNumber("EZCAM_SEQ_SEED", 1));
    const char* only = std::getenv("EZCAM_SEQ_ONLY");
    const std::vector<uint16_t> releases = releasesOf(row);
    const uint16_t vendor = vendorIds(row.vendors)[0];
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);

    const bool offered = !only || !*only || std::any_of(releases.begin(), releases.end(), [&](uint16_t r) {
        return simPair(Target{vendor, row.product, r}) == only;
    });
    if (!offered) GTEST_SKIP() << "EZCAM_SEQ_ONLY names another product";

    int played = 0;
    for (long round = 0; seconds > 0 ? Clock::now() < deadline : round < count; ++round) {
        for (const uint16_t release : releases) {
            Target target{vendor, row.product, release};
            if (only && *only && simPair(target) != only) continue;
            target = Player::describe(target);
            // One generator per product, release and round: a failure names
            // the seed that repeats it.
            const unsigned long sequenceSeed = seed * 1000003ul + row.product * 131ul + release * 7ul +
                                               static_cast<unsigned long>(round);
            std::mt19937 rng(static_cast<std::mt19937::result_type>(sequenceSeed));
            const std::vector<Step> steps = makeSequence(rng, target, static_cast<int>(length));
            Player player(target);
            Failure failure = player.play(steps);
            ++played;
            if (failure.kind == Broke::Nothing) continue;
            const std::vector<Step> shortest = shrink(player, steps, failure);
            ADD_FAILURE() << row.model << " " << simPair(target) << " (EZCAM_SEQ_SEED=" << seed
                          << ", round " << round << "): after step " << failure.step + 1 << " of "
                          << shortest.size() << ", " << failure.what << ".\nTo repeat it:\n  "
                          << ezcapLine(target, player.model(), shortest);
            return;
        }
    }
    RecordProperty("sequences", played);
    if (seconds > 0)
        std::fprintf(stderr, "%s %04x: %d sequences of %ld steps, none failed\n", row.model, row.product,
                     played, length);
}

// The two sequences that once killed the stream on every model that programs
// its region: a region changed while one is in force, and one smaller than
// a bulk packet. Each reaches the camera and its frames arrive, at the cost
// of at most one frame.
TEST_P(Sequences, RegionsChangedWhileOneIsInForceReachTheCamera) {
    const ProductRow& row = *GetParam();
    const uint16_t vendor = vendorIds(row.vendors)[0];
    for (const uint16_t release : releasesOf(row)) {
        const Target target{vendor, row.product, release};
        SCOPED_TRACE(simPair(target));
        InitDevice(nullptr, nullptr, "");
        const int id = SimPlugCamera(vendor, row.product, release);
        PollDevice(100);
        std::string name;
        for (int i = 0; i < DeviceCount(); ++i)
            if (SimCameraId(DeviceName(i)) == id) name = DeviceName(i);
        ASSERT_FALSE(name.empty());
        const char* n = name.c_str();
        ResumeDevice(n);
        std::vector<unsigned char> raw(static_cast<size_t>(RecvMemSize(n)));
        // Reads until a frame of the announced size: the reads it took.
        const auto settles = [&] {
            int width = 0, height = 0;
            GetRawSize(&width, &height, n);
            for (int i = 1; i <= 3; ++i) {
                const int result = GetRawData(raw.data(), static_cast<int>(raw.size()), n);
                const auto* r = reinterpret_cast<const _ezImage*>(raw.data());
                if ((result == EZ_OK || result == EZ_CAPTURE) && r->width == width && r->height == height)
                    return i;
            }
            return 0;
        };
        for (const auto& region : {std::vector<int>{0, 0, 640, 480}, {100, 100, 200, 200},
                                   {300, 40, 128, 64}, {0, 0, 8, 8}, {1000, 900, 8, 8}}) {
            SCOPED_TRACE(testing::Message() << "region " << region[0] << "," << region[1] << " "
                                            << region[2] << "x" << region[3]);
            ASSERT_EQ(SetRoi(region[0], region[1], region[2], region[3], n), 0);
            const int reads = settles();
            EXPECT_GE(reads, 1) << "no frame of the region's size";
            EXPECT_LE(reads, 2) << "more than one frame lost";
            EXPECT_EQ(settles(), 1) << "the region's frames did not go on";
        }
        SimUnplugCamera(id);
        PollDevice(0);
        ExitDevice();
    }
}

INSTANTIATE_TEST_SUITE_P(Products, Sequences, testing::ValuesIn([] {
                             std::vector<const ProductRow*> rows;
                             for (const ProductRow& row : productTable())
                                 if (row.create) rows.push_back(&row);
                             return rows;
                         }()),
                         [](const testing::TestParamInfo<const ProductRow*>& info) {
                             return std::string(info.param->model) + "_" + hex16(info.param->product);
                         });

}  // namespace
