// Parameter sets: per model, the index of the set in use and up to 26 sets
// of 38 bytes, as small binary files in the directory given to InitDevice.
// Every file is written beside its final name, flushed to the disk and then
// renamed over it, so an interrupted save leaves the previous file whole;
// the temporary files such a save leaves behind are removed when the
// directory is next used.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "camera/cam_bayer.h"
#include "processing/tone.h"

namespace {
constexpr int kSetBytes = 38;
constexpr int kLastSet = 25;  // sets are lettered a to z
using SetBytes = std::array<unsigned char, kSetBytes>;

std::string currentPath(const std::string& directory, const std::string& model) {
    return directory + model;
}
std::string setPath(const std::string& directory, const std::string& model, int index) {
    return directory + model + static_cast<char>('a' + index) + ".txt";
}

bool writeAll(int fd, const unsigned char* bytes, size_t count) {
    while (count > 0) {
        const ssize_t done = ::write(fd, bytes, count);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

// A save writes beside the final name: <name>.<process id>.<serial>.tmp.
std::string temporaryPath(const std::string& path, unsigned serial) {
    return path + "." + std::to_string(::getpid()) + "." + std::to_string(serial) + ".tmp";
}

// Digits up to the next '.', as a number; false when there are none.
bool takeNumber(std::string_view& text, long& number) {
    const size_t dot = text.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > 10) return false;
    number = 0;
    for (char c : text.substr(0, dot)) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    text.remove_prefix(dot + 1);
    return true;
}

// The process that wrote a temporary file named after a set file of this
// model (the current-set file or a lettered set), or 0 when the name is not
// such a file.
long temporaryWriter(std::string_view name, std::string_view model) {
    if (!name.starts_with(model)) return 0;
    name.remove_prefix(model.size());
    // The current-set file is the model name itself; a set adds "x.txt".
    if (name.size() > 5 && name[0] >= 'a' && name[0] <= 'z' && name.substr(1, 4) == ".txt")
        name.remove_prefix(5);
    if (!name.starts_with('.')) return 0;
    name.remove_prefix(1);
    long pid = 0, serial = 0;
    if (!takeNumber(name, pid) || !takeNumber(name, serial) || name != "tmp") return 0;
    return pid;
}

// Removes the temporary files of this model's sets whose writer is gone: a
// save cut short by a crash or kill -9. A file whose writer still runs (this
// process included: another unit of the model may be saving) is left alone.
void sweepTemporaries(const std::string& directory, const std::string& model) {
    // The files are named directory + model: the directory text need not end
    // with a separator, so the folder is what precedes the last '/'.
    const std::string prefix = directory + model;
    const size_t slash = prefix.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : prefix.substr(0, slash + 1);
    const std::string stem = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return;
    const long self = ::getpid();
    while (const dirent* entry = ::readdir(listing)) {
        const long writer = temporaryWriter(entry->d_name, stem);
        if (writer <= 0 || writer == self) continue;
        if (::kill(static_cast<pid_t>(writer), 0) == 0 || errno == EPERM) continue;
        ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::closedir(listing);
}

// Replaces the file at path with exactly these bytes, or leaves it as it was.
bool replaceFile(const std::string& path, const unsigned char* bytes, size_t count) {
    static std::atomic<unsigned> serial{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryPath(path, serial++);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes, count) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

// Reads up to count bytes; how many arrived, or -1 when the file cannot be
// opened. Ask for one byte more than a file should hold to tell a longer one.
int readFile(const std::string& path, unsigned char* bytes, int count) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    int total = 0;
    while (total < count) {
        const ssize_t done = ::read(fd, bytes + total, static_cast<size_t>(count - total));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) break;
        total += static_cast<int>(done);
    }
    ::close(fd);
    return total;
}

bool writeIndex(const std::string& path, int index) {
    const auto value = static_cast<uint32_t>(index);
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return replaceFile(path, bytes, sizeof bytes);
}

void put16(SetBytes& bytes, int at, uint16_t value) {
    bytes[static_cast<size_t>(at)] = static_cast<unsigned char>(value);
    bytes[static_cast<size_t>(at) + 1] = static_cast<unsigned char>(value >> 8);
}

// Rebuilds a setting's staged table for its value; the pipeline takes it
// over at the next frame.
void stage(SoftWareValue& setting, void (*build)(int, unsigned char*, int)) {
    const int value = setting.value;
    setting.stage({setting.value}, [&](unsigned char* table) { build(value, table, 256); });
}
}  // namespace

// An empty directory keeps no parameter sets: nothing is read or written.
int CamBayer::_current_params(std::string directory) {
    if (directory.empty()) return 0;
    sweepTemporaries(directory, modelName_);
    unsigned char bytes[5];
    if (readFile(currentPath(directory, modelName_), bytes, 5) != 4) return 0;
    const auto index =
        static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t{bytes[3]} << 24);
    return index >= 0 && index <= kLastSet ? index : 0;
}

// The set file first, then the index, so the index never names a set that a
// failed save did not write.
int CamBayer::_save_params(int index, std::string directory) {
    if (index < 0 || index > kLastSet) return EZ_ERANGE;
    if (directory.empty()) return EZ_EIO;
    sweepTemporaries(directory, modelName_);
    SetBytes bytes{};
    bytes[0] = pipeline_.monochrome;
    bytes[1] = exposure_.on ? 1 : 0;
    bytes[2] = pipeline_.colorEnhancement;
    bytes[3] = sensor_.regionOn() ? 1 : 0;
    bytes[4] = pipeline_.gamma[0].value;
    bytes[5] = pipeline_.contrast.value;
    bytes[6] = exposure_.target.value;
    bytes[7] = pipeline_.saturation.value;
    bytes[8] = pipeline_.digitalGain[0].value;
    bytes[9] = pipeline_.digitalGain[1].value;
    bytes[10] = pipeline_.digitalGain[2].value;
    bytes[11] = pipeline_.flip;
    put16(bytes, 12, sensor_.resolution.value);
    put16(bytes, 14, sensor_.pixelClock.value);
    put16(bytes, 16, sensor_.rawDepth.value);
    put16(bytes, 18, sensor_.blackLevel.value);
    put16(bytes, 20, sensor_.exposure.value);
    put16(bytes, 22, sensor_.longExposure.value);
    put16(bytes, 24, sensor_.urbRoiOrigin.value);
    put16(bytes, 26, sensor_.urbRoiOrigin.index);
    put16(bytes, 28, sensor_.urbRoiSize.value);
    put16(bytes, 30, sensor_.urbRoiSize.index);
    put16(bytes, 32, static_cast<uint16_t>(stills_.format));
    put16(bytes, 34, sensor_.analogGain.value);
    bytes[36] = pipeline_.gamma[1].value;
    bytes[37] = pipeline_.gamma[2].value;
    if (!replaceFile(setPath(directory, modelName_, index), bytes.data(), bytes.size())) return EZ_EIO;
    return writeIndex(currentPath(directory, modelName_), index) ? EZ_OK : EZ_EIO;
}

// A set file that is missing or not exactly one set long leaves the camera
// as it is (-3): applying absent fields as zeros would drop the gain and
// exposure to their minimum, and a file of another length is not a set.
// The index is recorded as current either way.
int CamBayer::_load_params(int index, std::string directory) {
    if (index < 0 || index > kLastSet) return EZ_ERANGE;
    if (directory.empty()) return EZ_EIO;
    sweepTemporaries(directory, modelName_);
    unsigned char bytes[kSetBytes + 1];
    const int got = readFile(setPath(directory, modelName_, index), bytes, kSetBytes + 1);
    const int applied = got == kSetBytes ? applyParameterSet(bytes, kSetBytes) : EZ_EIO;
    const bool recorded = writeIndex(currentPath(directory, modelName_), index);
    return applied == EZ_OK && !recorded ? EZ_EIO : applied;
}

// Values outside this camera's ranges are brought into them rather than
// refusing the set: a set is shared by every unit of a model, and a value
// one unit cannot take (a resolution index of a longer table, a gamma the
// all-channel setter allowed) should not cost the other settings. Each value
// becomes what the camera's own setter makes of it, so the camera never
// holds a state its setters could not produce: flags 0 or 1, processing
// values clamped to their setters' limits, the flip to its two bits, the
// still formats to the five known ones, the exposure to the range
// GetExposureRange reports, the region fitted to the resolution in force;
// indexes, depth and black level the setters refuse keep the current ones.
int CamBayer::applyParameterSet(const unsigned char* bytes, size_t size) {
    if (!bytes || size != kSetBytes) return EZ_EIO;
    const auto word = [bytes](int at) { return static_cast<int>(bytes[at] | bytes[at + 1] << 8); };
    const auto flag = [](unsigned char byte) -> uint8_t { return byte ? 1 : 0; };
    const auto within = [](const SoftWareValue& setting, int value) {
        return static_cast<uint8_t>(std::clamp<int>(value, setting.min, setting.max));
    };
    // The frame pipeline reads these switches without the settings lock.
    shared::store(pipeline_.monochrome, flag(bytes[0]));
    exposure_.on = flag(bytes[1]) != 0;
    shared::store(pipeline_.colorEnhancement, flag(bytes[2]));
    sensor_.roiRequested = flag(bytes[3]);
    // The all-channel gamma setter takes any non-zero byte.
    pipeline_.gamma[0].value = std::max<uint8_t>(bytes[4], 1);
    pipeline_.gamma[1].value = std::max<uint8_t>(bytes[36], 1);
    pipeline_.gamma[2].value = std::max<uint8_t>(bytes[37], 1);
    pipeline_.contrast.value = bytes[5];
    exposure_.target.value = within(exposure_.target, bytes[6]);
    // Colour settings of a camera without colour are stored, never applied.
    const bool colour = pipeline_.saturation.supported;
    pipeline_.saturation.value = colour ? within(pipeline_.saturation, bytes[7]) : bytes[7];
    for (int c = 0; c < 3; ++c)
        pipeline_.digitalGain[c].value = colour ? within(pipeline_.digitalGain[c], bytes[8 + c]) : bytes[8 + c];
    shared::store(pipeline_.flip, bytes[11] & 3);
    const int resolutionIndex = word(12);
    const int clock = word(14);
    const int depth = word(16);
    const int level = word(18);
    const int lines = word(20);
    const int frames = word(22);
    sensor_.urbRoiOrigin.value = static_cast<uint16_t>(word(24));
    sensor_.urbRoiOrigin.index = static_cast<uint16_t>(word(26));
    sensor_.urbRoiSize.value = static_cast<uint16_t>(word(28));
    sensor_.urbRoiSize.index = static_cast<uint16_t>(word(30));
    stills_.format = static_cast<int16_t>(word(32) & 31);
    const int gain = static_cast<int16_t>(word(34));

    for (SoftWareValue& channel : pipeline_.gamma) stage(channel, __matrix_gamma);
    stage(pipeline_.contrast, __matrix_contrast);
    if (colour) {
        stage(pipeline_.saturation, __matrix_saturation);
        for (SoftWareValue& channel : pipeline_.digitalGain) stage(channel, __matrix_channel);
    }

    if (gain != sensor_.analogGain.value) _set_analog_gain(gain);
    if (sensor_.blackLevel.supported && level != sensor_.blackLevel.value) _set_blacklevel(level);
    _set_raw_depth(8);
    if (clock != sensor_.pixelClock.value) _set_pixsclock(clock);
    if (resolutionIndex != sensor_.resolution.value) _set_resolution(resolutionIndex, true);
    if (sensor_.rawDepth.supported && depth != sensor_.rawDepth.value) _set_raw_depth(depth);
    // The region as its setter would fit it to the resolution now in force.
    // A resolution change ends any region; the set's region is asked for
    // again.
    sensor_.clampRegion(sensor_.urbRoiOrigin.value, sensor_.urbRoiOrigin.index, sensor_.urbRoiSize.value - 8,
                sensor_.urbRoiSize.index - 8);
    if (bytes[3]) _set_roi_state(true);
    // The set's line counts go through _set_exposure rather than straight
    // into the fields: stored first, they would look unchanged and the
    // sensor would keep its old exposure. The total is kept to the range the
    // camera reports for the mode now in force.
    if (sensor_.pixelRate > 0) {
        const double shortest = sensor_.exposure.min;
        const double longest =
            std::max((sensor_.longExposure.max + 1.0) * sensor_.exposure.max - 1.0, shortest);
        const double total =
            std::clamp(static_cast<double>(sensor_.exposure.max) * frames + lines, shortest, longest);
        _set_exposure(static_cast<float>(sensor_.lineLength * total / sensor_.pixelRate + 0.005));
    }
    if (!sensor_.roiRequested) sensor_.endRegion();
    return EZ_OK;
}
