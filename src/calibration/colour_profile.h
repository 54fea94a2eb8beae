// Colour profiles: a 3 x 3 matrix measured on a colour chart that turns a
// camera model's decoded, white-balanced colours into linear sRGB, kept
// per model and name (the light and objective it was measured under) as a
// small text file in the user's data directory, beside the calibration
// library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace calib {

struct ColourProfile {
    std::string model;  // the camera model it was measured on
    std::string name;   // the light and objective, "default" without one
    // Row-major, image channel order (0 red, 1 green, 2 blue) on both sides:
    // linear sRGB = matrix x decoded colour. White balance is folded in;
    // grey of the decoded green level maps to that grey level.
    std::array<double, 9> matrix{};
};

// $EZCAM_COLOUR_DIR, else $XDG_DATA_HOME/ezcam/colour, else
// ~/.local/share/ezcam/colour.
std::string colourDirectory();
// The file of a model's profile: DIRECTORY/MODEL/NAME.profile.
std::string profilePath(const std::string& model, const std::string& name);
// Names usable as a file name: letters, digits, '.', '-', '_', '+', ' '; 1 to 64 long, not starting with '.'.
bool usableName(const std::string& name);

// The names of a model's profiles, sorted.
std::vector<std::string> profileNames(const std::string& model);

bool writeProfile(const ColourProfile& profile, std::string& path, std::string& error);
bool readProfile(const std::string& model, const std::string& name, ColourProfile& profile, std::string& error);

// The matrix in the decoder's integer form: Q12 coefficients.
struct ProfileMatrix {
    std::string name;  // the profile's
    std::array<int32_t, 9> q12{};
    static ProfileMatrix of(const ColourProfile& profile);
    // Corrects `count` interleaved pixels (channel 0 red) in place, each
    // sample clamped to 0..top.
    void apply8(unsigned char* pixels, size_t count) const;
    void apply16(uint16_t* pixels, size_t count) const;
};

}  // namespace calib
