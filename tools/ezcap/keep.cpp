// ezcap's commands that keep something: stills, frames saved to files,
// parameter sets, the camera's information memory, and its firmware version.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "ezcam.h"

namespace ezcap {
namespace {

// ---- Still formats ------------------------------------------------------------

struct Format {
    int bit;
    const char* word;
    const char* alias;
    const char* extension;
};
// In the order the camera writes them.
constexpr Format kFormats[] = {{1, "raw", "raw", ".raw"},
                               {8, "jpg", "jpeg", ".jpg"},
                               {16, "bmp", "bmp", ".bmp"},
                               {4, "png", "png", ".png"},
                               {2, "tif", "tiff", ".tif"}};

// "raw,jpg,tif" or "all" to format bits; nothing (and a complaint) otherwise.
std::optional<int> parseFormats(const std::string& text) {
    if (text == "all") return 31;
    int bits = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string word = text.substr(start, end - start);
        const Format* found = nullptr;
        for (const Format& format : kFormats)
            if (word == format.word || word == format.alias) found = &format;
        if (!found) {
            complain("unknown format '" + word + "' (formats: raw, jpg, bmp, png, tif, all)");
            return std::nullopt;
        }
        bits |= found->bit;
        start = end + 1;
    }
    return bits;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Device and inode: which file a path names at the moment.
std::optional<std::pair<dev_t, ino_t>> fileId(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return std::make_pair(info.st_dev, info.st_ino);
}

long long fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// The files a capture is to write must not exist yet (a file that is already
// there would look written) and their directory must.
bool targetsFree(const std::string& base, int bits) {
    const size_t slash = base.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : base.substr(0, slash + 1);
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        complain("no directory " + directory + " for " + base);
        return false;
    }
    for (const Format& format : kFormats) {
        if (!(bits & format.bit) || !exists(base + format.extension)) continue;
        complain(base + format.extension + " already exists (remove it or choose another name)");
        return false;
    }
    return true;
}

// Prints the files written; complains about the ones missing.
Status reportFiles(const std::string& base, int bits) {
    Status status = Status::Ok;
    for (const Format& format : kFormats) {
        if (!(bits & format.bit)) continue;
        const std::string path = base + format.extension;
        const long long size = fileSize(path);
        if (size < 0) {
            complain("could not write " + path);
            status = Status::Failed;
        } else {
            std::printf("wrote %s (%lld bytes)\n", path.c_str(), size);
        }
    }
    return status;
}

// Room for the finished image of a raw frame: the header, the samples of
// every channel and the statistics area.
size_t imageBytes(const _ezImage& raw, int channels) {
    return raw.header_size +
           size_t{raw.width} * raw.height * static_cast<size_t>(channels) * (raw.depth / 8) + 4128;
}

// Reads frames until one arrives; its result (0 or 1), or the failure.
int readFrame(const char* camera, std::vector<unsigned char>& raw) {
    int result = -3;
    for (int attempt = 0; attempt < 20 && result != EZ_OK && result != EZ_CAPTURE; ++attempt) {
        result = GetRawData(raw.data(), static_cast<int>(raw.size()), camera);
        if (result == EZ_ENOCAM || result == EZ_ERANGE) break;
    }
    return result;
}

Status frameFailure(int result) {
    if (result == EZ_ENOCAM) {
        complain("the camera is gone");
    } else if (result == EZ_ERANGE) {
        complain("frame buffer too small");
    } else {
        complain("no frame arrived (" + std::to_string(result) + ")");
    }
    return Status::Failed;
}

// ---- Parameter sets ---------------------------------------------------------------

// The sets belong to the model: the camera name without its unit number.
std::string setPath(const std::string& camera, int index) {
    return options().directory + camera.substr(0, camera.size() - 1) +
           static_cast<char>('a' + index) + ".txt";
}

std::optional<int> parseSet(const std::string& text) {
    const auto index = parseInt("parameter set", text);
    if (!index) return std::nullopt;
    if (*index < 0 || *index > 25) {
        complain("parameter set " + text + " out of range (allowed: 0..25)");
        return std::nullopt;
    }
    return index;
}

bool haveDirectory() {
    const std::string& directory = options().directory;
    if (directory.empty()) {
        complain("parameter sets need --dir DIRECTORY");
        return false;
    }
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        complain("no directory " + directory);
        return false;
    }
    return true;
}

}  // namespace

// ---- Still capture ------------------------------------------------------------------

// Arms the camera's own deferred capture and keeps the stream going, as a
// viewer does, until the frame of the requested size has been processed.
Status still(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const auto bits = parseFormats(args[1]);
    if (!bits) return Status::BadInput;
    int resolution = GetResolution(c);
    if (args[2] != "current") {
        const auto index = parseInt("resolution", args[2]);
        if (!index) return Status::BadInput;
        resolution = *index;
    }
    if (resolution < 0 || resolution >= GetResolutionCount(c))
        return refused(-2, "resolution " + args[2],
                       "0.." + std::to_string(GetResolutionCount(c) - 1));
    const std::string& base = args[0];
    if (!targetsFree(base, *bits)) return Status::BadInput;

    double seconds = options().timeoutSeconds;
    if (seconds <= 0) seconds = 10.0 + 3.0 * GetExposure(c) / 1000.0;
    int previous = 8;
    GetImageFormat(&previous, c);
    SetImageFormat(*bits, c);
    const int armed = SaveImage(base.c_str(), resolution, c);
    if (armed != 0) {
        SetImageFormat(previous, c);
        return refused(armed, "still at resolution " + args[2], "");
    }

    std::vector<unsigned char> raw(static_cast<size_t>(RecvMemSize(c)));
    std::vector<unsigned char> image;
    const int channels = GetImageChannles(c);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int frames = 0;
    std::optional<Status> outcome;
    while (!outcome && std::chrono::steady_clock::now() < deadline) {
        const int result = GetRawData(raw.data(), static_cast<int>(raw.size()), c);
        if (result == EZ_ENOCAM || result == EZ_ERANGE) {
            outcome = frameFailure(result);
            break;
        }
        if (result != EZ_OK && result != EZ_CAPTURE) continue;
        ++frames;
        const auto* record = reinterpret_cast<const _ezImage*>(raw.data());
        image.resize(std::max(image.size(), imageBytes(*record, channels)));
        const int decoded = DecodeRaw2Image(raw.data(), image.data(), c);
        if (decoded != 0) {
            complain("decoding a frame failed (" + std::to_string(decoded) + ")");
            outcome = Status::Failed;
            break;
        }
        // The camera writes all the still's files while it processes the frame.
        const bool served = std::any_of(
            std::begin(kFormats), std::end(kFormats),
            [&](const Format& f) { return (*bits & f.bit) && exists(base + f.extension); });
        if (served) outcome = reportFiles(base, *bits);
    }
    SetImageFormat(previous, c);
    if (outcome) return *outcome;
    char text[200];
    std::snprintf(text, sizeof text,
                  "no still within %.1f s: %d frame(s) processed, none of %dx%d; nothing was "
                  "written (try --timeout)",
                  seconds, frames, GetResWidth(resolution, c), GetResHeight(resolution, c));
    complain(text);
    return Status::Failed;
}

// A frame as it came from the camera, handed to SaveFile: the RAW file keeps
// the whole frame, the other formats get it decoded with its border cut.
Status save(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const auto bits = parseFormats(args[1]);
    if (!bits) return Status::BadInput;
    const std::string& base = args[0];
    if (!targetsFree(base, *bits)) return Status::BadInput;
    std::vector<unsigned char> raw(static_cast<size_t>(RecvMemSize(c)));
    const int result = readFrame(c, raw);
    if (result != EZ_OK && result != EZ_CAPTURE) return frameFailure(result);
    const int saved = SaveFile(raw.data(), base.c_str(), *bits, c);
    if (saved != EZ_OK && saved != EZ_EIO) return refused(saved, "saving the frame", "");
    return reportFiles(base, *bits);
}

// ---- Parameter sets ------------------------------------------------------------------

Status saveSet(const std::string& camera, const std::vector<std::string>& args) {
    const auto index = parseSet(args[0]);
    if (!index) return Status::BadInput;
    if (!haveDirectory()) return Status::BadInput;
    const std::string path = setPath(camera, *index);
    // The camera reports no file errors. A save puts a new file in place of
    // the old one, so a file that is still the old one was not written.
    const auto before = fileId(path);
    SaveConfiguration(*index, camera.c_str());
    const auto after = fileId(path);
    if (!after || after == before || fileSize(path) != 38) {
        complain("could not write parameter set " + args[0] + " to " + path);
        return Status::Failed;
    }
    std::printf("saved parameter set %d (%s)\n", *index, path.c_str());
    return Status::Ok;
}

Status loadSet(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const auto index = parseSet(args[0]);
    if (!index) return Status::BadInput;
    if (!haveDirectory()) return Status::BadInput;
    const std::string path = setPath(camera, *index);
    if (fileSize(path) != 38) {
        complain("no parameter set " + args[0] + " (" + path +
                 (exists(path) ? " is damaged)" : " does not exist)"));
        return Status::BadInput;
    }
    LoadConfiguration(*index, c);
    const int resolution = GetResolution(c);
    std::printf("loaded parameter set %d: resolution %d (%dx%d), exposure %.3f ms, gain %d\n",
                *index, resolution, GetResWidth(resolution, c), GetResHeight(resolution, c),
                GetExposure(c), GetAnaloggain(c));
    return Status::Ok;
}

Status listSets(const std::string& camera, const std::vector<std::string>&) {
    if (!haveDirectory()) return Status::BadInput;
    const int current = GetCurrentConfiguration(camera.c_str());
    int found = 0;
    for (int index = 0; index <= 25; ++index) {
        const std::string path = setPath(camera, index);
        const long long size = fileSize(path);
        if (size < 0) continue;
        ++found;
        std::printf("%c %2d  %s%s\n", index == current ? '*' : ' ', index, path.c_str(),
                    size == 38 ? "" : "  (damaged)");
    }
    if (found == 0) std::printf("no parameter sets in %s\n", options().directory.c_str());
    std::printf("current set: %d\n", current);
    return Status::Ok;
}

Status defaults(const std::string& camera, const std::vector<std::string>&) {
    const int result = SetDefaultConfiguration(camera.c_str());
    if (result != EZ_OK) return refused(result, "defaults", "");
    std::printf("defaults restored\n");
    return Status::Ok;
}

// ---- Information memory and firmware -----------------------------------------------

// The text goes with its terminator. A write of a multiple of 64 bytes keeps
// only all but its last byte, so such a length gets one more zero.
Status writeMemory(const std::string& camera, const std::vector<std::string>& args) {
    const std::string& text = args[0];
    if (text.size() > 510) {
        complain("text too long (" + std::to_string(text.size()) + " bytes; at most 510)");
        return Status::BadInput;
    }
    size_t length = text.size() + 1;
    if (length % 64 == 0) ++length;
    std::vector<char> buffer(length, '\0');
    std::memcpy(buffer.data(), text.data(), text.size());
    const int result = WriteInf(buffer.data(), static_cast<int>(length), camera.c_str());
    if (result != EZ_OK) return refused(result, "writing the information memory", "");
    std::printf("stored %zu bytes\n", text.size());
    return Status::Ok;
}

Status readMemory(const std::string& camera, const std::vector<std::string>&) {
    char buffer[512];
    const int result = ReadInf(buffer, sizeof buffer, camera.c_str());
    if (result != EZ_OK) return refused(result, "reading the information memory", "");
    std::string shown;
    for (const char* p = buffer; *p; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte >= 0x20 && byte < 0x7f) {
            shown += *p;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        }
    }
    std::printf("%s\n", shown.c_str());
    return Status::Ok;
}

Status firmware(const std::string& camera, const std::vector<std::string>&) {
    const int version = DeviceVersion(camera.c_str());
    std::printf("firmware version 0x%04x (%d)\n", version, version);
    return Status::Ok;
}

}  // namespace ezcap
