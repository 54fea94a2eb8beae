// The INDI driver's binning factors: how it reads the modes, and on every
// watched product that each mode it offers as binning by f delivers frames
// binned by f (the SDK says so, or the frames are 1/f of the full one's
// size), and factor 1 is the largest mode, unbinned.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "../tools/indi/camera_modes.h"
#include "ezcam.h"
#include "models/products.h"
#include "sim_session.h"

namespace {

class IndiModesSim : public simsession::Session {};

bool readFrame(const std::string& name, EzFrameInfo& info) {
    std::vector<unsigned char> buffer(static_cast<size_t>(RecvMemSize(name.c_str())));
    for (int attempt = 0; attempt < 6; ++attempt) {
        const int result = GetRawDataInfo(buffer.data(), static_cast<int>(buffer.size()), &info, name.c_str());
        if (result == EZ_OK || result == EZ_CAPTURE) return true;
    }
    return false;
}

TEST_F(IndiModesSim, BinningFactorsAreTheFramesOwn) {
    int checked = 0;
    for (const ProductRow& row : productTable()) {
        if (!row.watched || !row.model) continue;
        const std::string name = plug(row.product);
        ASSERT_FALSE(name.empty()) << row.model;
        SCOPED_TRACE(name);
        const std::vector<ezindi::ResolutionMode> modes = ezindi::resolutionModes(name, true);
        const std::vector<ezindi::BinningMode> binning = ezindi::binningModes(modes);
        ASSERT_FALSE(binning.empty());
        EXPECT_EQ(binning.front().factor, 1);
        std::set<int> resolutions;
        int previous = 0;
        EzFrameInfo full{};
        for (const ezindi::BinningMode& mode : binning) {
            EXPECT_GT(mode.factor, previous);
            previous = mode.factor;
            EXPECT_TRUE(resolutions.insert(mode.resolution).second) << "resolution " << mode.resolution;
            ASSERT_EQ(SetResolution(mode.resolution, name.c_str()), EZ_OK);
            EzFrameInfo info{};
            ASSERT_TRUE(readFrame(name, info)) << "resolution " << mode.resolution;
            if (mode.factor == 1) {
                EXPECT_EQ(info.x_binning, 1);
                EXPECT_EQ(info.y_binning, 1);
                full = info;
            } else if (info.x_binning == 0) {
                EXPECT_NEAR(info.width * mode.factor, full.width, full.width * 0.05);
                EXPECT_NEAR(info.height * mode.factor, full.height, full.height * 0.05);
            } else {
                EXPECT_EQ(info.x_binning, mode.factor);
                EXPECT_EQ(info.y_binning, mode.factor);
            }
            ++checked;
        }
        unplug(lastId);
    }
    EXPECT_GT(checked, 36);
}

ezindi::ResolutionMode mode(int index, int width, int height, int x, int y) {
    return {index, width, height, "", x, y};
}

// The modes' own statements decide; sizes only for a binned mode of unstated factor.
TEST(IndiBinning, FactorsFromTheModes) {
    struct Case {
        const char* what;
        std::vector<ezindi::ResolutionMode> modes;
        std::vector<std::pair<int, int>> expected;  // factor, resolution
    };
    const std::vector<Case> cases = {
        {"stated factors", {mode(0, 1352, 1016, 1, 1), mode(1, 672, 504, 2, 2), mode(2, 332, 248, 4, 4)},
         {{1, 0}, {2, 1}, {4, 2}}},
        {"unstated factors by size, cropping modes left out",
         {mode(0, 2584, 1936, 1, 1), mode(1, 1272, 952, 1, 1), mode(2, 632, 472, 1, 1),
          mode(3, 1272, 952, 0, 0), mode(4, 632, 472, 0, 0)},
         {{1, 0}, {2, 3}, {4, 4}}},
        {"a binned mode a little wider than half", {mode(0, 1272, 1016, 1, 1), mode(1, 660, 504, 0, 0)},
         {{1, 0}, {2, 1}}},
        {"unlike across and down", {mode(0, 1272, 1016, 1, 1), mode(1, 632, 504, 2, 1)}, {{1, 0}}},
        {"unstated but not covering the field", {mode(0, 1272, 1016, 1, 1), mode(1, 648, 472, 0, 0)}, {{1, 0}}},
        {"three by three", {mode(0, 2040, 1528, 1, 1), mode(1, 676, 504, 3, 3)}, {{1, 0}, {3, 1}}},
        {"the largest first whatever its index", {mode(0, 672, 504, 2, 2), mode(1, 1352, 1016, 1, 1)},
         {{1, 1}, {2, 0}}},
        {"no frame in any mode", {mode(0, 1352, 1016, -1, -1)}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<int, int>> got;
        for (const ezindi::BinningMode& b : ezindi::binningModes(c.modes)) got.emplace_back(b.factor, b.resolution);
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

// The colour pattern the driver shows is the SDK's name for the code, and a
// monochrome sensor has none.
TEST(IndiPattern, FollowsTheSdksNames) {
    EXPECT_EQ(ezindi::filterPattern(0), "");
    EXPECT_EQ(ezindi::filterPattern(9), "");
    std::set<std::string> names;
    for (int code = 1; code <= 4; ++code) {
        EXPECT_EQ(ezindi::filterPattern(code), BayerPatternName(code));
        names.insert(ezindi::filterPattern(code));
    }
    EXPECT_EQ(names, (std::set<std::string>{"RGGB", "GRBG", "GBRG", "BGGR"}));
}

}  // namespace
