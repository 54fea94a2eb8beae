#include "camera_modes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ezcam.h"

namespace ezindi {
namespace {

bool near(int scaled, int full) { return std::abs(scaled - full) <= full * 5 / 100; }

// Reads frames until one arrives; its binning, or -1 each.
void probeBinning(const std::string& camera, ResolutionMode& mode) {
    const char* name = camera.c_str();
    if (SetResolution(mode.index, name) != EZ_OK) return;
    std::vector<unsigned char> buffer;
    EzFrameInfo info{};
    // A mode change may cost a frame or two.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int size = RecvMemSize(name);
        if (size <= 0) return;
        buffer.resize(static_cast<size_t>(size));
        const int result = GetRawDataInfo(buffer.data(), size, &info, name);
        if (result == EZ_OK || result == EZ_CAPTURE) {
            mode.xBinning = info.x_binning;
            mode.yBinning = info.y_binning;
            return;
        }
        if (result == EZ_ENOCAM) return;
    }
}

}  // namespace

std::vector<ResolutionMode> resolutionModes(const std::string& camera, bool probe) {
    std::vector<ResolutionMode> modes;
    const int count = GetResolutionCount(camera.c_str());
    for (int i = 0; i < count; ++i) {
        ResolutionMode mode;
        mode.index = i;
        mode.width = GetResWidth(i, camera.c_str());
        mode.height = GetResHeight(i, camera.c_str());
        const char* label = GetResItemName(i, camera.c_str());
        mode.label = label ? label : "";
        if (mode.width <= 0 || mode.height <= 0) continue;
        if (probe) probeBinning(camera, mode);
        modes.push_back(mode);
    }
    return modes;
}

std::vector<BinningMode> binningModes(const std::vector<ResolutionMode>& modes) {
    const ResolutionMode* largest = nullptr;
    for (const ResolutionMode& mode : modes)
        if (mode.xBinning == 1 && mode.yBinning == 1 &&
            (!largest || static_cast<long>(mode.width) * mode.height >
                             static_cast<long>(largest->width) * largest->height))
            largest = &mode;
    if (!largest) return {};

    std::vector<BinningMode> result{{1, largest->index}};
    for (const ResolutionMode& mode : modes) {
        int factor = 0;
        if (mode.xBinning >= 2 && mode.xBinning == mode.yBinning) {
            factor = mode.xBinning;
        } else if (mode.xBinning == 0 && mode.yBinning == 0) {
            factor = static_cast<int>(std::lround(static_cast<double>(largest->width) / mode.width));
            if (factor < 2 || !near(mode.width * factor, largest->width) ||
                !near(mode.height * factor, largest->height))
                continue;
        } else {
            continue;
        }
        if (std::none_of(result.begin(), result.end(), [&](const BinningMode& b) { return b.factor == factor; }))
            result.push_back({factor, mode.index});
    }
    std::sort(result.begin(), result.end(),
              [](const BinningMode& a, const BinningMode& b) { return a.factor < b.factor; });
    return result;
}

std::string filterPattern(int bayer) {
    // The SDK's pattern names are the ones its recordings carry for other
    // programs to debayer by, which is what an INDI client does.
    const char* name = BayerPatternName(bayer);
    return name ? name : "";
}

}  // namespace ezindi
