// ezcap's processing commands: tone and colour settings, geometry, stretch,
// finished frames with their channel means, and the closed loops (automatic
// exposure, white balance, flat field) with the numbers they reach.
#include "processing_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ezcam.h"

namespace ezcap {
namespace {

constexpr int kAttempts = 20;  // reads tried for one frame

std::string range(int min, int max) {
    return std::to_string(min) + ".." + std::to_string(max);
}

// A value of a setting with a range: parsed, checked against the camera's
// range (-4 from the range getter: not offered), then set.
Status setRanged(const std::string& camera, const std::string& what, const std::string& text,
                 int (*getRange)(int*, int*, int*, const char*), void (*set)(int, const char*)) {
    const auto value = parseInt(what, text);
    if (!value) return Status::BadInput;
    int min = 0, max = 0, step = 0;
    if (getRange(&min, &max, &step, camera.c_str()) == EZ_ENOTSUP) {
        complain(what + ": not supported by this camera");
        return Status::BadInput;
    }
    if (*value < min || *value > max) {
        complain(what + " " + text + " out of range (allowed: " + range(min, max) + ")");
        return Status::BadInput;
    }
    set(*value, camera.c_str());
    std::printf("%s %d\n", what.c_str(), *value);
    return Status::Ok;
}

std::optional<bool> parseSwitch(const std::string& what, const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    complain(what + ": '" + text + "' is neither on nor off");
    return std::nullopt;
}

std::optional<int> parseCode(const std::string& what, const std::string& text, int max) {
    const auto code = parseInt(what, text);
    if (!code) return std::nullopt;
    if (*code < 0 || *code > max) {
        complain(what + " " + text + " out of range (allowed: " + range(0, max) + ")");
        return std::nullopt;
    }
    return code;
}

// Raw frames and finished images of one camera.
class Frames {
  public:
    explicit Frames(const std::string& camera) : name_(camera) {
        const size_t body = static_cast<size_t>(std::max(RecvMemSize(name_.c_str()), 0));
        raw_.resize(body);
        image_.resize(3 * body + 8192);  // three channels and the statistics area
    }
    // The next raw frame; false (with a complaint) when none arrives.
    bool grab() {
        for (int i = 0; i < kAttempts; ++i) {
            const int result =
                GetRawData(raw_.data(), static_cast<int>(raw_.size()), name_.c_str());
            if (result == EZ_OK || result == EZ_CAPTURE) return true;
            if (result == EZ_ENOCAM || result == EZ_ERANGE) break;
        }
        complain("no frame arrived");
        return false;
    }
    bool finish() {
        if (!grab()) return false;
        const int result = DecodeRaw2Image(raw_.data(), image_.data(), name_.c_str());
        if (result != EZ_OK)
            complain("the frame could not be processed (" + std::to_string(result) + ")");
        return result == EZ_OK;
    }
    unsigned char* raw() { return raw_.data(); }
    const _ezImage& rawRecord() const { return *reinterpret_cast<const _ezImage*>(raw_.data()); }
    const _ezImage& image() const { return *reinterpret_cast<const _ezImage*>(image_.data()); }

    // Raw level on the 8-bit scale, as automatic exposure measures it.
    int rawMean() const {
        const _ezImage& r = rawRecord();
        const size_t n = static_cast<size_t>(r.width) * r.height, step = r.depth / 8;
        if (n == 0) return 0;
        uint64_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum += r.data[i * step + step - 1];
        return static_cast<int>(sum / n);
    }
    // Mean of channel k of the finished image (8-bit scale) over a square.
    double mean(int k, int x0, int y0, int side) const {
        const _ezImage& r = image();
        const size_t step = r.depth / 8;
        double sum = 0;
        for (int y = y0; y < y0 + side; ++y)
            for (int x = x0; x < x0 + side; ++x)
                sum += r.data[((static_cast<size_t>(y) * r.width + x) * r.channels + k) * step +
                              step - 1];
        return side > 0 ? sum / (static_cast<double>(side) * side) : 0.0;
    }
    double wholeMean(int k) const {
        const _ezImage& r = image();
        double sum = 0;
        for (int y = 0; y + 64 <= r.height; y += 64)
            for (int x = 0; x + 64 <= r.width; x += 64) sum += mean(k, x, y, 64);
        const int blocks = (r.width / 64) * (r.height / 64);
        return blocks ? sum / blocks : mean(k, 0, 0, std::min<int>(r.width, r.height));
    }
    // The four corners' level against the centre's.
    double cornerToCentre(int k) const {
        const _ezImage& r = image();
        const int s = std::min<int>({64, r.width / 4, r.height / 4}), w = r.width, h = r.height;
        const double centre = mean(k, (w - s) / 2, (h - s) / 2, s);
        const double corners = mean(k, 0, 0, s) + mean(k, w - s, 0, s) + mean(k, 0, h - s, s) +
                               mean(k, w - s, h - s, s);
        return centre > 0 ? corners / 4 / centre : 0.0;
    }
    int channels() const { return image().channels; }

  private:
    std::string name_;
    std::vector<unsigned char> raw_, image_;
};

// "R 1.00 G 0.98 B 1.01" (or one grey value) of a per-channel measure.
template <typename F>
void printChannels(const Frames& frames, F measure, const char* format) {
    static const char* kNames[3] = {"R", "G", "B"};
    const int n = frames.channels();
    for (int k = 0; k < n; ++k) {
        if (n == 3) std::printf(" %s", kNames[k]);
        std::printf(format, measure(k));
    }
    std::printf("\n");
}

}  // namespace

namespace processing {

// ---- Settings --------------------------------------------------------------

Status gamma(const std::string& camera, const std::vector<std::string>& args) {
    return setRanged(camera, "gamma", args[0], GetGammaRange, SetGamma);
}

Status contrast(const std::string& camera, const std::vector<std::string>& args) {
    return setRanged(camera, "contrast", args[0], GetContrastRange, SetContrast);
}

Status saturation(const std::string& camera, const std::vector<std::string>& args) {
    return setRanged(camera, "saturation", args[0], GetSaturationRange, SetSaturation);
}

Status gains(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    int min = 0, max = 0, step = 0;
    if (GetChannelGainRange(&min, &max, &step, c) == EZ_ENOTSUP) {
        complain("channel gains: not supported by this camera");
        return Status::BadInput;
    }
    int value[3];
    const char* names[3] = {"red gain", "green gain", "blue gain"};
    for (int k = 0; k < 3; ++k) {
        const auto parsed = parseInt(names[k], args[static_cast<size_t>(k)]);
        if (!parsed) return Status::BadInput;
        if (*parsed < min || *parsed > max) {
            complain(std::string(names[k]) + " " + args[static_cast<size_t>(k)] +
                     " out of range (allowed: " + range(min, max) + ", 64 = unity)");
            return Status::BadInput;
        }
        value[k] = *parsed;
    }
    SetChannelGain(value[0], value[1], value[2], c);
    GetChannelGain(&value[0], &value[1], &value[2], c);
    std::printf("channel gains R %d G %d B %d\n", value[0], value[1], value[2]);
    return Status::Ok;
}

// A colour-camera switch: the getter answers -4 where it is not offered.
static Status colourSwitch(const std::string& camera, const std::string& text,
                           const std::string& what, int (*get)(bool*, const char*),
                           void (*set)(bool, const char*)) {
    const auto on = parseSwitch(what, text);
    if (!on) return Status::BadInput;
    bool state = false;
    if (get(&state, camera.c_str()) == EZ_ENOTSUP) {
        complain(what + ": only on colour cameras");
        return Status::BadInput;
    }
    set(*on, camera.c_str());
    std::printf("%s %s\n", what.c_str(), *on ? "on" : "off");
    return Status::Ok;
}

Status mono(const std::string& camera, const std::vector<std::string>& args) {
    return colourSwitch(camera, args[0], "monochrome", GetMonochrome, SetMonochrome);
}

Status enhance(const std::string& camera, const std::vector<std::string>& args) {
    return colourSwitch(camera, args[0], "colour enhancement", GetColorEnhancement,
                        SetColorEnhancement);
}

Status flip(const std::string& camera, const std::vector<std::string>& args) {
    const auto code = parseCode("flip", args[0], 3);
    if (!code) return Status::BadInput;
    SetFlip(*code, camera.c_str());
    static const char* kNames[] = {"none", "left-right", "upside down", "both"};
    std::printf("flip %d (%s)\n", *code, kNames[*code]);
    return Status::Ok;
}

Status rotate(const std::string& camera, const std::vector<std::string>& args) {
    const auto code = parseCode("rotation", args[0], 2);
    if (!code) return Status::BadInput;
    SetRotate(*code, camera.c_str());
    static const char* kNames[] = {"none", "quarter turn counter-clockwise",
                                   "quarter turn clockwise"};
    std::printf("rotation %d (%s)\n", *code, kNames[*code]);
    return Status::Ok;
}

Status stretch(const std::string& camera, const std::vector<std::string>& args) {
    const auto low = parseInt("stretch low", args[0]);
    const auto high = low ? parseInt("stretch high", args[1]) : std::nullopt;
    if (!low || !high) return Status::BadInput;
    if (*low < 0 || *high > 255 || *low >= *high) {
        complain("stretch " + args[0] + " " + args[1] +
                 " refused (allowed: 0 <= low < high <= 255)");
        return Status::BadInput;
    }
    if (SetStretch(*low, *high, false, camera.c_str()) != EZ_OK) {
        complain("stretch refused by the camera");
        return Status::Failed;
    }
    std::printf("stretch %d..%d\n", *low, *high);
    return Status::Ok;
}

Status stretchAuto(const std::string& camera, const std::vector<std::string>&) {
    SetStretch(0, 255, true, camera.c_str());
    std::printf("stretch automatic (each frame's histogram)\n");
    return Status::Ok;
}

// ---- Finished frames and the loops --------------------------------------------

Status process(const std::string& camera, const std::vector<std::string>& args) {
    const auto count = parseInt("frame count", args[0]);
    if (!count) return Status::BadInput;
    if (*count < 1 || *count > 100000) {
        complain("frame count " + args[0] + " out of range (allowed: 1..100000)");
        return Status::BadInput;
    }
    Frames frames(camera);
    for (int i = 1; i <= *count; ++i) {
        if (!frames.finish()) return Status::Failed;
        const _ezImage& r = frames.image();
        std::printf("image %d: %dx%d %d-bit, means", i, r.width, r.height, r.depth);
        printChannels(
            frames, [&](int k) { return frames.wholeMean(k); }, " %.1f");
    }
    return Status::Ok;
}

Status autoExposure(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const auto target = parseInt("target", args[0]);
    if (!target) return Status::BadInput;
    int min = 0, max = 0, step = 0;
    GetAETargetRange(&min, &max, &step, c);
    if (*target < min || *target > max) {
        complain("target " + args[0] + " out of range (allowed: " + range(min, max) + ")");
        return Status::BadInput;
    }
    SetAETarget(*target, c);
    SetAutoExposure(true, c);
    Frames frames(camera);
    // Settled: the raw level within the dead band on three frames in a row.
    constexpr int kDeadBand = 16, kMaxFrames = 90;
    int inBand = 0, frame = 0;
    std::printf("automatic exposure, target %d (dead band +-%d):\n", *target, kDeadBand);
    while (inBand < 3 && frame < kMaxFrames) {
        if (!frames.grab()) {
            SetAutoExposure(false, c);
            return Status::Failed;
        }
        ++frame;
        const int level = frames.rawMean();
        inBand = std::abs(level - *target) <= kDeadBand ? inBand + 1 : 0;
        std::printf("  frame %2d: exposure %8.3f ms, raw level %3d\n", frame, GetExposure(c),
                    level);
    }
    SetAutoExposure(false, c);
    if (inBand < 3) {
        complain("automatic exposure did not settle within " + std::to_string(kMaxFrames) +
                 " frames");
        return Status::Failed;
    }
    std::printf("settled at %.3f ms, raw level %d, after %d frames (automatic exposure now off)\n",
                GetExposure(c), frames.rawMean(), frame);
    return Status::Ok;
}

Status whiteBalance(const std::string& camera, const std::vector<std::string>&) {
    const char* c = camera.c_str();
    bool grey = false;
    if (GetMonochrome(&grey, c) == EZ_ENOTSUP) {
        complain("white balance: only on colour cameras");
        return Status::BadInput;
    }
    Frames frames(camera);
    if (!frames.finish()) return Status::Failed;
    std::printf("means before:");
    printChannels(
        frames, [&](int k) { return frames.wholeMean(k); }, " %.1f");
    if (!frames.grab()) return Status::Failed;
    if (CalcWhiteBalance(frames.raw(), nullptr, c) != EZ_OK) {
        complain("white balance failed: too few usable pixels (scene too dark or saturated)");
        return Status::Failed;
    }
    int g[3] = {};
    GetChannelGain(&g[0], &g[1], &g[2], c);
    std::printf("channel gains R %d G %d B %d (64 = unity)\n", g[0], g[1], g[2]);
    if (!frames.finish()) return Status::Failed;
    std::printf("means after: ");
    printChannels(
        frames, [&](int k) { return frames.wholeMean(k); }, " %.1f");
    return Status::Ok;
}

Status flatField(const std::string& camera, const std::vector<std::string>&) {
    const char* c = camera.c_str();
    Frames frames(camera);
    SetFlatfieldState(false, c);
    if (!frames.finish()) return Status::Failed;
    std::printf("corner/centre before:");
    printChannels(
        frames, [&](int k) { return frames.cornerToCentre(k); }, " %.3f");
    if (!frames.grab()) return Status::Failed;
    const int result = CalcFlatfield(frames.raw(), false, c);
    if (result != EZ_OK) {
        complain("flat field failed (" + std::to_string(result) + ")");
        return Status::Failed;
    }
    SetFlatfieldState(true, c);
    if (!frames.finish()) return Status::Failed;
    std::printf("corner/centre after: ");
    printChannels(
        frames, [&](int k) { return frames.cornerToCentre(k); }, " %.3f");
    std::printf("flat-field correction on\n");
    return Status::Ok;
}

}  // namespace processing
}  // namespace ezcap
