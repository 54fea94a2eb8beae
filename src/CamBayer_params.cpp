// Parameter sets: per model, the index of the set in use and up to 26 sets
// of 38 bytes, as small binary files in the directory given to InitDevice.
// Every file is written beside its final name, flushed to the disk and then
// renamed over it, so an interrupted save leaves the previous file whole.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>

#include "CamBayer.h"
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

// Replaces the file at path with exactly these bytes, or leaves it as it was.
bool replaceFile(const std::string& path, const unsigned char* bytes, size_t count) {
    static std::atomic<unsigned> serial{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary =
            path + "." + std::to_string(::getpid()) + "." + std::to_string(serial++) + ".tmp";
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

// Reads up to count bytes; how many arrived, or -1 when the file cannot be opened.
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
uint16_t get16(const SetBytes& bytes, int at) {
    return static_cast<uint16_t>(bytes[static_cast<size_t>(at)] | bytes[static_cast<size_t>(at) + 1]
                                                                      << 8);
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
    unsigned char bytes[4];
    if (readFile(currentPath(directory, modelName), bytes, 4) != 4) return 0;
    const auto index =
        static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t{bytes[3]} << 24);
    return index >= 0 && index <= kLastSet ? index : 0;
}

// The set file first, then the index, so the index never names a set that a
// failed save did not write.
int CamBayer::_save_params(int index, std::string directory) {
    if (index < 0 || index > kLastSet) return EZ_ERANGE;
    if (directory.empty()) return EZ_EIO;
    SetBytes bytes{};
    bytes[0] = pipeline.monochrome;
    bytes[1] = autoExposure;
    bytes[2] = pipeline.colorEnhancement;
    bytes[3] = roiRequested || roiActive ? 1 : 0;
    bytes[4] = pipeline.gamma[0].value;
    bytes[5] = pipeline.contrast.value;
    bytes[6] = aeTarget.value;
    bytes[7] = pipeline.saturation.value;
    bytes[8] = pipeline.digitalGain[0].value;
    bytes[9] = pipeline.digitalGain[1].value;
    bytes[10] = pipeline.digitalGain[2].value;
    bytes[11] = pipeline.flip;
    put16(bytes, 12, resolution.value);
    put16(bytes, 14, pixelClock.value);
    put16(bytes, 16, rawDepth.value);
    put16(bytes, 18, blackLevel.value);
    put16(bytes, 20, exposure.value);
    put16(bytes, 22, longExposure.value);
    put16(bytes, 24, urbRoiOrigin.value);
    put16(bytes, 26, urbRoiOrigin.index);
    put16(bytes, 28, urbRoiSize.value);
    put16(bytes, 30, urbRoiSize.index);
    put16(bytes, 32, static_cast<uint16_t>(snapFormat));
    put16(bytes, 34, analogGain.value);
    bytes[36] = pipeline.gamma[1].value;
    bytes[37] = pipeline.gamma[2].value;
    if (!replaceFile(setPath(directory, modelName, index), bytes.data(), bytes.size())) return EZ_EIO;
    return writeIndex(currentPath(directory, modelName), index) ? EZ_OK : EZ_EIO;
}

// A set file that is missing or shorter than a set leaves the camera as it
// is: applying the absent fields as zeros would drop the gain and exposure
// to their minimum. The index is recorded as current either way.
int CamBayer::_load_params(int index, std::string directory) {
    if (index < 0 || index > kLastSet) return EZ_ERANGE;
    if (directory.empty()) return EZ_EIO;
    SetBytes bytes{};
    const bool whole =
        readFile(setPath(directory, modelName, index), bytes.data(), kSetBytes) == kSetBytes;
    if (whole) {
        // The frame pipeline reads these switches without the settings lock.
        shared::store(pipeline.monochrome, bytes[0]);
        autoExposure = bytes[1];
        shared::store(pipeline.colorEnhancement, bytes[2]);
        roiRequested = bytes[3];
        pipeline.gamma[0].value = bytes[4];
        pipeline.contrast.value = bytes[5];
        aeTarget.value = bytes[6];
        pipeline.saturation.value = bytes[7];
        pipeline.digitalGain[0].value = bytes[8];
        pipeline.digitalGain[1].value = bytes[9];
        pipeline.digitalGain[2].value = bytes[10];
        shared::store(pipeline.flip, bytes[11]);
        const int resolutionIndex = get16(bytes, 12);
        const int clock = get16(bytes, 14);
        const int depth = get16(bytes, 16);
        const int level = get16(bytes, 18);
        const int lines = get16(bytes, 20);
        const int frames = get16(bytes, 22);
        urbRoiOrigin.value = get16(bytes, 24);
        urbRoiOrigin.index = get16(bytes, 26);
        urbRoiSize.value = get16(bytes, 28);
        urbRoiSize.index = get16(bytes, 30);
        snapFormat = static_cast<int16_t>(get16(bytes, 32));
        const int gain = static_cast<int16_t>(get16(bytes, 34));
        pipeline.gamma[1].value = bytes[36];
        pipeline.gamma[2].value = bytes[37];

        for (SoftWareValue& channel : pipeline.gamma) stage(channel, __matrix_gamma);
        stage(pipeline.contrast, __matrix_contrast);
        if (pipeline.saturation.supported) {
            stage(pipeline.saturation, __matrix_saturation);
            for (SoftWareValue& channel : pipeline.digitalGain) stage(channel, __matrix_channel);
        }

        if (gain != analogGain.value) _set_analog_gain(gain);
        if (blackLevel.supported && level != blackLevel.value) _set_blacklevel(level);
        _set_raw_depth(8);
        if (clock != pixelClock.value) _set_pixsclock(clock);
        if (resolutionIndex != resolution.value) _set_resolution(resolutionIndex, true);
        if (rawDepth.supported && depth != rawDepth.value) _set_raw_depth(depth);
        // A resolution change ends any region; the set's region is asked for
        // again, fitted to the frames now delivered.
        if (bytes[3]) _set_roi_state(true);
        // The set's line counts go through _set_exposure rather than straight
        // into the fields: stored first, they would look unchanged and the
        // sensor would keep its old exposure.
        if (pixelRate > 0) {
            const double milliseconds =
                lineLength * (static_cast<double>(exposure.max) * frames + lines) / pixelRate +
                0.005;
            _set_exposure(static_cast<float>(milliseconds));
        }
        if (!roiRequested && roiActive) {
            roiActive = 0;
            _set_resolution(0, false);
        }
    }
    const bool recorded = writeIndex(currentPath(directory, modelName), index);
    return whole && recorded ? EZ_OK : EZ_EIO;
}
