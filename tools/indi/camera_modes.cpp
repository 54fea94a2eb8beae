#include "camera_modes.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "ezcam.h"

namespace ezindi {
namespace {

bool saysBin(const std::string& label) {
    std::string lower = label;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("bin") != std::string::npos;
}

bool near(int scaled, int full) { return std::abs(scaled - full) <= full * 5 / 100; }

}  // namespace

std::vector<ResolutionMode> resolutionModes(const std::string& camera) {
    std::vector<ResolutionMode> modes;
    const int count = GetResolutionCount(camera.c_str());
    for (int i = 0; i < count; ++i) {
        ResolutionMode mode;
        mode.index = i;
        mode.width = GetResWidth(i, camera.c_str());
        mode.height = GetResHeight(i, camera.c_str());
        const char* label = GetResItemName(i, camera.c_str());
        mode.label = label ? label : "";
        if (mode.width > 0 && mode.height > 0) modes.push_back(mode);
    }
    return modes;
}

std::vector<BinningMode> binningModes(const std::vector<ResolutionMode>& modes) {
    if (modes.empty()) return {};
    const ResolutionMode* largest = &modes.front();
    for (const ResolutionMode& mode : modes)
        if (static_cast<long>(mode.width) * mode.height >
            static_cast<long>(largest->width) * largest->height)
            largest = &mode;

    std::vector<BinningMode> result{{1, largest->index}};
    std::vector<bool> labelled{true};
    for (const ResolutionMode& mode : modes) {
        const int factor =
            static_cast<int>(std::lround(static_cast<double>(largest->width) / mode.width));
        if (factor < 2 || !near(mode.width * factor, largest->width) ||
            !near(mode.height * factor, largest->height))
            continue;
        const bool binned = saysBin(mode.label);
        auto same = std::find_if(result.begin(), result.end(),
                                 [&](const BinningMode& b) { return b.factor == factor; });
        if (same == result.end()) {
            result.push_back({factor, mode.index});
            labelled.push_back(binned);
        } else if (binned && !labelled[same - result.begin()]) {
            same->resolution = mode.index;
            labelled[same - result.begin()] = true;
        }
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
