// Colour profiles on disk, and their matrix applied to decoded pixels.
#include "calibration/colour_profile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "processing/colour_matrix.h"
#include "processing/kernel_set.h"

namespace calib {
namespace {

constexpr const char* kHeading = "# ezcam colour profile 1";

}  // namespace

std::string colourDirectory() {
    if (const char* dir = std::getenv("EZCAM_COLOUR_DIR"); dir && *dir) return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/ezcam/colour";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/ezcam/colour";
}

bool usableName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == '+' ||
              c == ' '))
            return false;
    return true;
}

std::string profilePath(const std::string& model, const std::string& name) {
    return colourDirectory() + "/" + model + "/" + name + ".profile";
}

std::vector<std::string> profileNames(const std::string& model) {
    std::vector<std::string> names;
    if (!usableName(model)) return names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(colourDirectory() + "/" + model, ec)) {
        const std::filesystem::path& file = entry.path();
        if (file.extension() == ".profile" && usableName(file.stem().string())) names.push_back(file.stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool writeProfile(const ColourProfile& p, std::string& path, std::string& error) {
    if (!usableName(p.model) || !usableName(p.name)) {
        error = "a profile's model and name take letters, digits, '.', '-', '_', '+' and spaces";
        return false;
    }
    path = profilePath(p.model, p.name);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // Written aside and renamed, so that a reader never sees half a profile.
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::trunc);
        out << kHeading << "\nmodel " << p.model << "\nname " << p.name << "\nmatrix";
        out.precision(10);
        for (double v : p.matrix) out << ' ' << v;
        out << "\n";
        if (!out.flush()) {
            error = "cannot write " + part;
            std::filesystem::remove(part, ec);
            return false;
        }
    }
    std::filesystem::rename(part, path, ec);
    if (ec) {
        error = "cannot write " + path + ": " + ec.message();
        std::filesystem::remove(part, ec);
        return false;
    }
    return true;
}

bool readProfile(const std::string& model, const std::string& name, ColourProfile& profile,
                 std::string& error) {
    if (!usableName(model) || !usableName(name)) {
        error = "no colour profile '" + name + "'";
        return false;
    }
    const std::string path = profilePath(model, name);
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != kHeading) {
        error = in ? path + ": not a colour profile" : "no colour profile '" + name + "' for " + model;
        return false;
    }
    ColourProfile p;
    bool matrix = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "model") {
            std::getline(fields >> std::ws, p.model);
        } else if (key == "name") {
            std::getline(fields >> std::ws, p.name);
        } else if (key == "matrix") {
            matrix = true;
            for (double& v : p.matrix) {
                // Coefficients far from a colour sensor's would clip every pixel.
                if (!(fields >> v) || !std::isfinite(v) || std::fabs(v) > 16) matrix = false;
            }
        }
    }
    if (!matrix || p.model != model) {
        error = path + ": not a colour profile of " + model;
        return false;
    }
    profile = p;
    return true;
}

ProfileMatrix ProfileMatrix::of(const ColourProfile& profile) {
    ProfileMatrix m;
    m.name = profile.name;
    for (size_t i = 0; i < 9; ++i)
        m.q12[i] = static_cast<int32_t>(std::lround(profile.matrix[i] * (1 << colour::kMatrixShift)));
    return m;
}

void ProfileMatrix::apply8(unsigned char* pixels, size_t count) const {
    kernels::active().matrix8(pixels, count, q12.data());
}

void ProfileMatrix::apply16(uint16_t* pixels, size_t count) const {
    kernels::active().matrix16(pixels, count, q12.data());
}

}  // namespace calib
