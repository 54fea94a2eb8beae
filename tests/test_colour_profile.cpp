// Colour profiles through the call surface: stored per model and name,
// refused when the matrix or the name cannot be used or the file is not a
// profile, and applied by the integer matrix with rounding and clipping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

#include "calibration/colour_profile.h"
#include "sim_session.h"

namespace {

class ColourProfiles : public simsession::Session {
  protected:
    std::string dir;
    void SetUp() override {
        Session::SetUp();
        dir = std::filesystem::temp_directory_path() / "ezcam-colour-XXXXXX";
        ASSERT_TRUE(mkdtemp(dir.data()));
        setenv("EZCAM_COLOUR_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("EZCAM_COLOUR_DIR");
        std::filesystem::remove_all(dir);
        Session::TearDown();
    }
};

TEST_F(ColourProfiles, StoredPerModelChosenByNameAndRefusedWhenUnusable) {
    const std::string name = plug(0xc005);
    const char* c = name.c_str();
    const double matrix[9] = {1.5, -0.3, -0.2, -0.1, 1.2, -0.1, 0.0, -0.4, 1.4};
    char path[512] = {};
    ASSERT_EQ(SaveColorProfile("LED 10x", matrix, path, sizeof path, c), EZ_OK);
    EXPECT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(std::filesystem::path(path).filename(), "LED 10x.profile");
    ASSERT_EQ(SaveColorProfile(nullptr, matrix, path, sizeof path, c), EZ_OK);
    EXPECT_EQ(std::filesystem::path(path).filename(), "default.profile");

    char inUse[64] = "x";
    ASSERT_EQ(GetColorProfile(inUse, sizeof inUse, c), EZ_OK);
    EXPECT_STREQ(inUse, "");
    EXPECT_EQ(SetColorProfile("LED 10x", c), EZ_OK);
    ASSERT_EQ(GetColorProfile(inUse, sizeof inUse, c), EZ_OK);
    EXPECT_STREQ(inUse, "LED 10x");
    char tiny[4];
    EXPECT_EQ(GetColorProfile(tiny, sizeof tiny, c), EZ_ERANGE);
    // An unknown profile leaves the one in use.
    EXPECT_EQ(SetColorProfile("halogen", c), EZ_ERANGE);
    ASSERT_EQ(GetColorProfile(inUse, sizeof inUse, c), EZ_OK);
    EXPECT_STREQ(inUse, "LED 10x");
    for (const char* off : {"off", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(SetColorProfile("default", c), EZ_OK);
        EXPECT_EQ(SetColorProfile(off, c), EZ_OK);
        ASSERT_EQ(GetColorProfile(inUse, sizeof inUse, c), EZ_OK);
        EXPECT_STREQ(inUse, "");
    }

    // Matrices and names that cannot be used.
    double bad[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (double v : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 17.0}) {
        bad[4] = v;
        EXPECT_EQ(SaveColorProfile("x", bad, path, sizeof path, c), EZ_ERANGE) << v;
    }
    EXPECT_EQ(SaveColorProfile("x", nullptr, path, sizeof path, c), EZ_ERANGE);
    for (const char* label : {"off", "../up", "a/b", ".hidden", "tab\there"})
        EXPECT_EQ(SaveColorProfile(label, matrix, path, sizeof path, c), EZ_ERANGE) << label;
    EXPECT_EQ(SetColorProfile("../up", c), EZ_ERANGE);
    EXPECT_EQ(SetColorProfile("default", "no such camera"), EZ_ENOCAM);

    // Another model has its own profiles.
    const std::string other = plug(0xc004);
    EXPECT_EQ(SetColorProfile("LED 10x", other.c_str()), EZ_ERANGE);

    // Files that are not profiles of this model.
    const std::string file = std::filesystem::path(path).parent_path() / "broken.profile";
    const char* broken[] = {
        "# ezcam colour profile 1\nmodel M\nname broken\nmatrix 1 0 0 0 1 0 0 0\n",
        "something else\n",
        "# ezcam colour profile 1\nname broken\nmatrix 1 0 0 0 1 0 0 0 nan\n",
    };
    for (const char* text : broken) {
        std::ofstream(file) << text;
        EXPECT_EQ(SetColorProfile("broken", c), EZ_ERANGE) << text;
    }
}

TEST(ColourProfileMatrix, RoundsAndClipsLikeTheRealNumbers) {
    calib::ColourProfile p;
    p.matrix = {1.6, -0.4, -0.2, -0.25, 1.5, -0.25, 0.05, -0.5, 1.45};
    const calib::ProfileMatrix m = calib::ProfileMatrix::of(p);
    unsigned char eight[] = {200, 100, 50, 10, 250, 10, 255, 255, 255, 0, 0, 0};
    uint16_t sixteen[] = {51200, 25600, 12800, 2560, 64000, 2560, 65535, 65535, 65535, 0, 0, 0};
    unsigned char want8[12];
    uint16_t want16[12];
    for (int px = 0; px < 4; ++px)
        for (int k = 0; k < 3; ++k) {
            double v8 = 0, v16 = 0;
            for (int j = 0; j < 3; ++j) {
                v8 += p.matrix[3 * k + j] * eight[3 * px + j];
                v16 += p.matrix[3 * k + j] * sixteen[3 * px + j];
            }
            want8[3 * px + k] = static_cast<unsigned char>(std::clamp(std::lround(v8), 0l, 255l));
            want16[3 * px + k] = static_cast<uint16_t>(std::clamp(std::lround(v16), 0l, 65535l));
        }
    m.apply8(eight, 4);
    m.apply16(sixteen, 4);
    for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(eight[i], want8[i], 1) << i;
        EXPECT_NEAR(sixteen[i], want16[i], 40) << i;  // Q12 coefficients: 2^-13 of 65535 x 3
    }
    EXPECT_EQ(eight[3], 0);    // clipped below
    EXPECT_EQ(eight[4], 255);  // clipped above
}

}  // namespace
