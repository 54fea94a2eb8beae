// ezcap's commands: listing, showing, the sensor settings and grabbing; the
// processing rows run the functions of processing_commands.cpp, the rows
// that keep stills, sets and memory those of keep.cpp.
#include "commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "ezcam.h"
#include "processing_commands.h"

namespace ezcap {
namespace {

// ---- Reporting ------------------------------------------------------------

std::string rangeText(int min, int max) {
    return std::to_string(min) + ".." + std::to_string(max);
}
}  // namespace

// Every refusal is the user's value, except a camera that has gone.
Status refused(int result, const std::string& what, const std::string& allowed) {
    switch (result) {
        case -1:
            complain("the camera is gone");
            return Status::Failed;
        case -2:
            complain(what + " out of range (allowed: " + allowed + ")");
            return Status::BadInput;
        case -4:
            complain(what + ": not supported by this camera");
            return Status::BadInput;
        case 4:
            complain(what + ": not allowed at 16-bit depth with this clock and resolution");
            return Status::BadInput;
        default:
            complain(what + ": failed (" + std::to_string(result) + ")");
            return Status::Failed;
    }
}

namespace {

// ---- list, show ---------------------------------------------------------------

Status list(const std::string&, const std::vector<std::string>&) {
    const int count = DeviceCount();
    for (int i = 0; i < count; ++i) {
        const char* name = DeviceName(i);
        std::printf("%-16s %04x:%04x  release %04x\n", name, DeviceVendor(name),
                    DeviceProduct(name), DeviceBcd(name));
    }
    if (count == 0) std::printf("no camera connected\n");
    return Status::Ok;
}

// "binned 2x2", "binned" or "not binned", from a mode's label ("1016X760
// 2x2 Bin", "1272X952 Bin", "1272X952"): the factor is the first number
// after the size.
std::string binningText(const char* label) {
    std::string rest = label ? label : "";
    for (char& ch : rest) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    rest = rest.substr(std::min(rest.find(' '), rest.size()));
    const size_t bin = rest.find("bin");
    if (bin == std::string::npos) return "not binned";
    const size_t digit = rest.find_first_of("0123456789");
    if (digit != std::string::npos) {
        const int factor = std::atoi(rest.c_str() + digit);
        return "binned " + std::to_string(factor) + "x" + std::to_string(factor);
    }
    return "binned";
}

// "8, 16": the depths the clocks allow; 16 named with the clocks that take it
// when not every one does.
std::string depthsOffered(const char* c) {
    std::string clocks;
    int allowed = 0;
    const int count = GetPixelclockCount(c);
    for (int i = 0; i < count; ++i) {
        const int state = GetRawDepthState(i, c);
        if (state != EZ_OK && state != EZ_EDEPTH16) continue;
        const char* label = GetPixclkItemName(i, c);
        clocks += (allowed++ ? ", " : "") + std::string(label ? label : std::to_string(i)) +
                  (state == EZ_EDEPTH16 ? " (not at this resolution)" : "");
    }
    if (allowed == 0) return "8";
    if (allowed == count && clocks.find('(') == std::string::npos) return "8, 16";
    return "8, 16 at clock " + clocks;
}

Status show(const std::string& camera, const std::vector<std::string>&) {
    const char* c = camera.c_str();
    std::printf("camera      %s (%04x:%04x, release %04x, firmware %04x)\n", c, DeviceVendor(c),
                DeviceProduct(c), DeviceBcd(c), DeviceVersion(c));
    std::printf("sensor      %s, Bayer code %d, frame buffer %d bytes\n",
                GetImageChannles(c) == 1 ? "monochrome" : "colour", GetRawBayernPattern(c),
                RecvMemSize(c));

    const int resolution = GetResolution(c);
    std::printf("resolution  %d:", resolution);
    const int modes = GetResolutionCount(c);
    for (int i = 0; i < modes; ++i) {
        std::printf("%s %d=%dx%d", i ? "," : "", i, GetResWidth(i, c), GetResHeight(i, c));
        // Modes of one size differ in how the sensor is read: say which bins.
        bool repeated = false;
        for (int j = 0; j < modes; ++j)
            repeated = repeated || (j != i && GetResWidth(j, c) == GetResWidth(i, c) &&
                                    GetResHeight(j, c) == GetResHeight(i, c));
        if (repeated) std::printf(" (%s)", binningText(GetResItemName(i, c)).c_str());
    }
    std::printf("\n");

    const int clock = GetPixelclock(c);
    std::printf("clock       %d:", clock);
    for (int i = 0; i < GetPixelclockCount(c); ++i) {
        const char* label = GetPixclkItemName(i, c);
        std::printf("%s %d=%s", i ? "," : "", i, label ? label : "?");
    }
    std::printf("\n");
    std::printf("depth       %d bits (offered: %s)\n", GetRawDepth(c), depthsOffered(c).c_str());

    float emin = 0, emax = 0, estep = 0;
    GetExposureRange(&emin, &emax, &estep, c);
    std::printf("exposure    %.3f ms (%.3f..%.3f, step %.4f)\n", GetExposure(c), emin, emax, estep);
    int min = 0, max = 0, step = 0;
    GetAnaloggainRange(&min, &max, &step, c);
    std::printf("gain        %d (%s)\n", GetAnaloggain(c), rangeText(min, max).c_str());
    if (GetBlacklevelRange(&min, &max, &step, c) == EZ_OK)
        std::printf("black level %d (%s)\n", GetBlacklevel(c), rangeText(min, max).c_str());
    else
        std::printf("black level not supported\n");

    bool on = false;
    GetRoiState(&on, c);
    int x = 0, y = 0, width = 0, height = 0;
    GetRoi(&x, &y, &width, &height, c);
    if (on)
        std::printf("region      %d,%d %dx%d\n", x, y, width, height);
    else
        std::printf("region      off\n");
    GetRawSize(&width, &height, c);
    std::printf("frames      %dx%d\n", width, height);
    std::printf("long exposure restart %s\n", ResetSupport(c) == EZ_OK ? "offered" : "not offered");
    return Status::Ok;
}

// ---- Sensor settings ---------------------------------------------------------------

Status resolution(const std::string& camera, const std::vector<std::string>& args) {
    const auto index = parseInt("resolution", args[0]);
    if (!index) return Status::BadInput;
    const int result = SetResolution(*index, camera.c_str());
    if (result != EZ_OK)
        return refused(result, "resolution " + args[0],
                       rangeText(0, GetResolutionCount(camera.c_str()) - 1));
    std::printf("resolution %d (%dx%d)\n", *index, GetResWidth(*index, camera.c_str()),
                GetResHeight(*index, camera.c_str()));
    return Status::Ok;
}

Status clock(const std::string& camera, const std::vector<std::string>& args) {
    const auto index = parseInt("clock", args[0]);
    if (!index) return Status::BadInput;
    const int result = SetPixelclock(*index, camera.c_str());
    if (result != EZ_OK)
        return refused(result, "clock " + args[0],
                       rangeText(0, GetPixelclockCount(camera.c_str()) - 1));
    const char* label = GetPixclkItemName(*index, camera.c_str());
    std::printf("clock %d (%s)\n", *index, label ? label : "?");
    return Status::Ok;
}

Status depth(const std::string& camera, const std::vector<std::string>& args) {
    const auto bits = parseInt("depth", args[0]);
    if (!bits) return Status::BadInput;
    const int result = SetRawDepth(*bits, camera.c_str());
    if (result != EZ_OK) return refused(result, "depth " + args[0], "8 or 16");
    std::printf("depth %d bits\n", *bits);
    return Status::Ok;
}

Status exposure(const std::string& camera, const std::vector<std::string>& args) {
    const auto milliseconds = parseFloat("exposure", args[0]);
    if (!milliseconds) return Status::BadInput;
    float min = 0, max = 0, step = 0;
    GetExposureRange(&min, &max, &step, camera.c_str());
    // The camera would clamp silently; a value it cannot take is an error here.
    if (*milliseconds < min || *milliseconds > max) {
        char allowed[64];
        std::snprintf(allowed, sizeof allowed, "%.3f..%.3f ms", min, max);
        return refused(-2, "exposure " + args[0], allowed);
    }
    const int result = SetExposure(*milliseconds, camera.c_str());
    if (result != EZ_OK) return refused(result, "exposure " + args[0], "");
    std::printf("exposure %.3f ms\n", GetExposure(camera.c_str()));
    return Status::Ok;
}

Status gain(const std::string& camera, const std::vector<std::string>& args) {
    const auto value = parseInt("gain", args[0]);
    if (!value) return Status::BadInput;
    int min = 0, max = 0, step = 0;
    GetAnaloggainRange(&min, &max, &step, camera.c_str());
    if (*value < min || *value > max) return refused(-2, "gain " + args[0], rangeText(min, max));
    const int result = SetAnaloggain(*value, camera.c_str());
    if (result != EZ_OK) return refused(result, "gain " + args[0], rangeText(min, max));
    std::printf("gain %d\n", GetAnaloggain(camera.c_str()));
    return Status::Ok;
}

Status black(const std::string& camera, const std::vector<std::string>& args) {
    const auto value = parseInt("black level", args[0]);
    if (!value) return Status::BadInput;
    int min = 0, max = 0, step = 0;
    GetBlacklevelRange(&min, &max, &step, camera.c_str());
    const int result = SetBlacklevel(*value, camera.c_str());
    if (result != EZ_OK) return refused(result, "black level " + args[0], rangeText(min, max));
    std::printf("black level %d\n", *value);
    return Status::Ok;
}

Status roi(const std::string& camera, const std::vector<std::string>& args) {
    int value[4];
    const char* names[4] = {"region x", "region y", "region width", "region height"};
    for (int i = 0; i < 4; ++i) {
        const auto parsed = parseInt(names[i], args[static_cast<size_t>(i)]);
        if (!parsed) return Status::BadInput;
        value[i] = *parsed;
    }
    if (value[2] <= 0 || value[3] <= 0) {
        complain("region width and height must be positive");
        return Status::BadInput;
    }
    const int result = SetRoi(value[0], value[1], value[2], value[3], camera.c_str());
    if (result != EZ_OK) return refused(result, "region", "");
    int x = 0, y = 0, width = 0, height = 0;
    GetRoi(&x, &y, &width, &height, camera.c_str());
    std::printf("region %d,%d %dx%d\n", x, y, width, height);
    return Status::Ok;
}

Status roiOff(const std::string& camera, const std::vector<std::string>&) {
    SetRoiState(false, camera.c_str());
    std::printf("region off\n");
    return Status::Ok;
}

Status roiOn(const std::string& camera, const std::vector<std::string>&) {
    const int result = SetRoiState(true, camera.c_str());
    if (result != EZ_OK) return refused(result, "region", "");
    int x = 0, y = 0, width = 0, height = 0;
    GetRoi(&x, &y, &width, &height, camera.c_str());
    std::printf("region %d,%d %dx%d\n", x, y, width, height);
    return Status::Ok;
}

// ---- Streaming and the simulated bus -------------------------------------------------

Status suspend(const std::string& camera, const std::vector<std::string>&) {
    const int result = SuspendDevice(camera.c_str());
    if (result != EZ_OK) return refused(result, "suspend", "");
    std::printf("suspended\n");
    return Status::Ok;
}

Status resume(const std::string& camera, const std::vector<std::string>&) {
    const int result = ResumeDevice(camera.c_str());
    if (result != EZ_OK) return refused(result, "resume", "");
    std::printf("streaming\n");
    return Status::Ok;
}

// Pulls a simulated camera out and plugs the same model in again: the
// registry saves its parameter set on removal and loads it on arrival, under
// a new name. The commands after it run on the camera that arrived.
Status replug(const std::string& camera, const std::vector<std::string>&) {
    const char* c = camera.c_str();
    const int id = SimCameraId(c);
    if (id < 0) {
        complain("replug works on simulated cameras only (set EZCAM_SIM)");
        return Status::BadInput;
    }
    const int vendor = DeviceVendor(c), product = DeviceProduct(c), release = DeviceBcd(c);
    const std::string old = camera;
    SimUnplugCamera(id);
    std::string arrived;
    const auto names = [] {
        std::vector<std::string> all;
        for (int i = 0; i < DeviceCount(); ++i) all.emplace_back(DeviceName(i));
        return all;
    };
    std::vector<std::string> before = names();
    SimPlugCamera(vendor, product, release);
    for (int i = 0; i < 50 && arrived.empty(); ++i) {
        PollDevice(100);
        for (const std::string& name : names())
            if (name != old && std::find(before.begin(), before.end(), name) == before.end())
                arrived = name;
    }
    if (arrived.empty()) {
        complain("the camera did not come back after replugging");
        return Status::Failed;
    }
    options().camera = arrived;
    ResumeDevice(arrived.c_str());
    std::printf("replugged: %s is now %s\n", old.c_str(), arrived.c_str());
    return Status::Ok;
}

// ---- Frames -------------------------------------------------------------------------

// Mean sample of a raw frame on its own scale (0..255 or 0..65535).
double meanLevel(const _ezImage& image) {
    const size_t samples = static_cast<size_t>(image.width) * image.height;
    if (samples == 0) return 0.0;
    uint64_t sum = 0;
    if (image.depth == 16) {
        for (size_t i = 0; i < samples; ++i)
            sum += image.data[2 * i] | (image.data[2 * i + 1] << 8);
    } else {
        for (size_t i = 0; i < samples; ++i) sum += image.data[i];
    }
    return static_cast<double>(sum) / static_cast<double>(samples);
}

Status grab(const std::string& camera, const std::vector<std::string>& args) {
    const auto frames = parseInt("frame count", args[0]);
    if (!frames) return Status::BadInput;
    if (*frames < 1 || *frames > 1000000) {
        complain("frame count " + args[0] + " out of range (allowed: 1..1000000)");
        return Status::BadInput;
    }
    const char* c = camera.c_str();
    std::vector<unsigned char> buffer(static_cast<size_t>(RecvMemSize(c)));
    std::map<int, int> misses;
    int good = 0;
    int captures = 0;
    int attempts = 0;
    const int maxAttempts = 4 * *frames + 20;
    Status status = Status::Ok;
    const auto start = std::chrono::steady_clock::now();
    while (good < *frames && attempts < maxAttempts) {
        ++attempts;
        const int result = GetRawData(buffer.data(), static_cast<int>(buffer.size()), c);
        if (result == EZ_OK || result == EZ_CAPTURE) {
            ++good;
            captures += result;
            const auto* image = reinterpret_cast<const _ezImage*>(buffer.data());
            std::printf("frame %d: %dx%d %d-bit mean %.1f%s\n", good, image->width, image->height,
                        image->depth, meanLevel(*image),
                        result == EZ_CAPTURE ? " capture requested" : "");
        } else if (result == EZ_ENOCAM || result == EZ_ERANGE) {
            complain(result == EZ_ENOCAM ? "the camera is gone" : "frame buffer too small");
            status = Status::Failed;
            break;
        } else {
            ++misses[result];
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d frame(s) in %.3f s: %.2f frames/s", good, seconds,
                seconds > 0 ? good / seconds : 0.0);
    for (const auto& [result, count] : misses) std::printf(", result %d: %d", result, count);
    if (captures) std::printf(", capture requests: %d", captures);
    std::printf("\n");
    if (status == Status::Ok && good < *frames) {
        complain("only " + std::to_string(good) + " of " + args[0] + " frames arrived");
        status = Status::Failed;
    }
    return status;
}

const std::vector<Command> kCommands = {
    {"list", 0, "list", "list the connected cameras", false, list},
    {"show", 0, "show", "show the camera's settings and their ranges", true, show},
    {"resolution", 1, "resolution INDEX", "select a resolution (see show)", true, resolution},
    {"clock", 1, "clock INDEX", "select a pixel clock (see show)", true, clock},
    {"depth", 1, "depth 8|16", "raw bit depth", true, depth},
    {"exposure", 1, "exposure MS", "exposure time in milliseconds", true, exposure},
    {"gain", 1, "gain VALUE", "analog gain", true, gain},
    {"black", 1, "black VALUE", "black level", true, black},
    {"roi", 4, "roi X Y WIDTH HEIGHT", "region of interest (clamped to the frame)", true, roi},
    {"roi-off", 0, "roi-off", "back to the full frame", true, roiOff},
    {"roi-on", 0, "roi-on", "the region last set, again", true, roiOn},
    {"suspend", 0, "suspend", "stop the sensor (frames stop until 'resume')", true, suspend},
    {"resume", 0, "resume", "start the sensor again", true, resume},
    {"replug", 0, "replug", "simulated cameras: pull the camera out and plug it in again", true,
     replug},
    {"grab", 1, "grab N", "read N raw frames; print sizes, levels and frame rate", true, grab},
    {"record", 1, "record OUT --frames N | --seconds S [--format F] [--type T]",
     "record every raw frame; F: ome-tiff (default), fits, fits-frames, ser; T: what the frames "
     "show, light (default), dark, flat, bias", true, record,
     {"--frames", "--seconds", "--format", "--type"}},
    {"repair", 1, "repair FILE",
     "make a recording whole again after a kill, a crash or a cut: the frames written whole, "
     "their times and table from its journal", false, repair},
    {"calibrate", 1, "calibrate dark|flat|bias|list|on|off [--frames N] [--label L] [--library DIR] [--yes]",
     "take a master of N raw frames into the calibration library, list it, or switch calibration "
     "on (recordings then name the masters); a dark or bias asks for the lens to be covered "
     "first (--yes: it is)", true, calibrate,
     {"--frames", "--label", "--library"}, {"--yes"}},
    {"measure-sensor", 0, "measure-sensor [--points N] [--average N] [--dark-ms MS] [--report PREFIX]",
     "photon-transfer measurement: gain, noise, full well, dark current, DSNU, PRNU; N exposures "
     "(50) evenly up to saturation; PREFIX.txt, .json, .html and figures as SVG and PNG", true,
     measureSensor, {"--points", "--average", "--dark-ms", "--report"}},
    {"colour-calibrate", 0, "colour-calibrate [--chart X,Y,W,H] [--label L] [--report PREFIX] [--frames N]",
     "measure the 24-patch colour chart in the rectangle (default the whole frame) and keep the "
     "fitted colour matrix as a profile of the camera model (named L, else default); the report "
     "as PREFIX.json and PREFIX.png", true, colourCalibrate, {"--chart", "--label", "--report", "--frames"}},
    {"colour-profile", 1, "colour-profile NAME|off",
     "decode with the measured colour profile NAME (colour enhancement on), or the fixed correction",
     true, colourProfile},
    {"gamma", 1, "gamma VALUE", "gamma of every channel (100 = none)", true, processing::gamma},
    {"contrast", 1, "contrast VALUE", "contrast (128 = none)", true, processing::contrast},
    {"saturation", 1, "saturation VALUE", "colour saturation (100 = none)", true,
     processing::saturation},
    {"gains", 3, "gains R G B", "digital channel gains (64 = unity)", true, processing::gains},
    {"mono", 1, "mono on|off", "grey view of a colour camera", true, processing::mono},
    {"enhance", 1, "enhance on|off", "colour-corrected decoding", true, processing::enhance},
    {"flip", 1, "flip 0..3", "0 none, 1 left-right, 2 upside down, 3 both", true, processing::flip},
    {"rotate", 1, "rotate 0..2", "0 none, 1 counter-clockwise, 2 clockwise", true,
     processing::rotate},
    {"stretch", 2, "stretch LOW HIGH", "histogram stretch of every channel (0 255 = none)", true,
     processing::stretch},
    {"stretch-auto", 0, "stretch-auto", "stretch from each frame's histogram", true,
     processing::stretchAuto},
    {"process", 1, "process N", "process N frames; print image sizes and channel means", true,
     processing::process},
    {"ae", 1, "ae TARGET", "run automatic exposure until the raw level settles", true,
     processing::autoExposure},
    {"wb", 0, "wb", "one-shot white balance; print the gains and means", true,
     processing::whiteBalance},
    {"flatfield", 0, "flatfield", "take a flat field; corner/centre level before and after", true,
     processing::flatField},
    {"still", 3, "still BASE FORMATS RES",
     "still at RES (index or current) as BASE.jpg etc.; FORMATS: raw,jpg,bmp,png,tif, all", true,
     still},
    {"save", 2, "save BASE FORMATS", "grab a frame; save it whole (raw) and decoded (the rest)",
     true, save},
    {"sets", 0, "sets", "list this model's parameter sets (needs --dir)", true, listSets},
    {"save-set", 1, "save-set INDEX", "save the settings as parameter set 0..25 (needs --dir)",
     true, saveSet},
    {"load-set", 1, "load-set INDEX", "load parameter set 0..25 (needs --dir)", true, loadSet},
    {"defaults", 0, "defaults", "reset processing settings, gain and clock to the defaults", true,
     defaults},
    {"inf-write", 1, "inf-write TEXT", "store TEXT (at most 510 bytes) in the camera's memory",
     true, writeMemory},
    {"inf-read", 0, "inf-read", "print the text stored in the camera's memory", true, readMemory},
    {"firmware", 0, "firmware", "print the camera's firmware version", true, firmware},
};
}  // namespace

Options& options() {
    static Options instance;
    return instance;
}

const std::vector<Command>& commands() {
    return kCommands;
}

const Command* findCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

void complain(const std::string& message) {
    std::fprintf(stderr, "ezcap: %s\n", message.c_str());
}

std::optional<int> parseInt(const std::string& what, const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        complain(what + ": '" + text + "' is not a whole number");
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::optional<float> parseFloat(const std::string& what, const std::string& text) {
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value)) {
        complain(what + ": '" + text + "' is not a number");
        return std::nullopt;
    }
    return value;
}

}  // namespace ezcap
