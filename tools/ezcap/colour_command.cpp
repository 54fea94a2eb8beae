// ezcap colour-calibrate and colour-profile: the library's calibration on a
// colour chart (CalcColorProfile), which stores the 3 x 3 matrix that brings
// the camera's colours to linear sRGB as a profile of the camera model; its
// report as JSON and a PNG of the chart with the reference and the
// reproduced colour side by side.
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "ezcam.h"
#include "processing/colour_chart.h"

namespace ezcap {
namespace {

std::optional<std::string> option(const std::vector<std::string>& args, const std::string& name) {
    std::optional<std::string> value;
    for (size_t i = 0; i + 1 < args.size(); i += 2)
        if (args[i] == name) value = args[i + 1];
    return value;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}
std::string triple(const double* v) {
    return "[" + number(v[0]) + ", " + number(v[1]) + ", " + number(v[2]) + "]";
}

bool writePng(const std::string& path, const EzColorFit& fit) {
    constexpr int kW = 600, kH = 400, kCell = 100, kPad = 8;
    std::vector<unsigned char> px(static_cast<size_t>(kW) * kH * 3, 40);
    auto encode = [](double v) { return static_cast<unsigned char>(std::lround(255 * chart::srgbEncode(v))); };
    for (int p = 0; p < chart::kPatches; ++p) {
        const int cx = (p % chart::kColumns) * kCell, cy = (p / chart::kColumns) * kCell;
        for (int y = cy + kPad; y < cy + kCell - kPad; ++y)
            for (int x = cx + kPad; x < cx + kCell - kPad; ++x) {
                // Reference on the left half, the reproduced colour on the right.
                const EzColorPatch& patch = fit.patches[p];
                const double* v = x < cx + kCell / 2 ? patch.reference_rgb : patch.after_rgb;
                unsigned char* d = px.data() + (static_cast<size_t>(y) * kW + x) * 3;
                for (int k = 0; k < 3; ++k) d[k] = encode(v[k]);
            }
    }
    return QImage(px.data(), kW, kH, kW * 3, QImage::Format_RGB888).save(QString::fromStdString(path), "PNG");
}

}  // namespace

Status colourCalibrate(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const std::string label = option(args, "--label").value_or("");
    const std::string prefix = option(args, "--report").value_or("");
    int frames = 4;
    if (const auto text = option(args, "--frames")) {
        const auto n = parseInt("--frames", *text);
        if (!n || *n < 1 || *n > 1000) {
            if (n) complain("--frames takes 1 to 1000");
            return Status::BadInput;
        }
        frames = *n;
    }
    std::optional<__IMG_RECT> rect;
    if (const auto text = option(args, "--chart")) {
        int r[4] = {};
        char tail = 0;
        if (std::sscanf(text->c_str(), "%d,%d,%d,%d%c", &r[0], &r[1], &r[2], &r[3], &tail) != 4 || r[2] < 0 ||
            r[3] < 0 || r[0] > INT32_MAX - r[2] || r[1] > INT32_MAX - r[3]) {
            complain("--chart takes X,Y,WIDTH,HEIGHT");
            return Status::BadInput;
        }
        rect = __IMG_RECT{r[0], r[1], r[0] + r[2], r[1] + r[3]};
    }
    EzColorFit fit;
    const int result = CalcColorProfile(rect ? &*rect : nullptr, label.c_str(), frames, nullptr, nullptr, &fit, c);
    if (result != EZ_OK) {
        complain(fit.why);
        return result == EZ_ERANGE || result == EZ_ENOTSUP ? Status::BadInput : Status::Failed;
    }
    std::printf("colour before: mean dE2000 %.2f, max %.2f; after: mean %.2f, max %.2f\n", fit.delta_e_mean_before,
                fit.delta_e_max_before, fit.delta_e_mean_after, fit.delta_e_max_after);
    std::printf("profile '%s' stored in %s\n", fit.profile, fit.path);

    if (!prefix.empty()) {
        const double* m = fit.matrix;
        std::ostringstream json;
        json << "{\n  \"camera\": \"" << camera << "\",\n  \"profile\": \"" << fit.profile << "\",\n  \"chart\": ["
             << fit.chart.left << ", " << fit.chart.top << ", " << fit.chart.right - fit.chart.left << ", "
             << fit.chart.bottom - fit.chart.top << "],\n"
             << "  \"delta_e2000_mean_before\": " << number(fit.delta_e_mean_before) << ",\n"
             << "  \"delta_e2000_max_before\": " << number(fit.delta_e_max_before) << ",\n"
             << "  \"delta_e2000_mean_after\": " << number(fit.delta_e_mean_after) << ",\n"
             << "  \"delta_e2000_max_after\": " << number(fit.delta_e_max_after) << ",\n"
             << "  \"matrix\": [" << triple(m) << ", " << triple(m + 3) << ", " << triple(m + 6)
             << "],\n  \"white_gains\": " << triple(fit.white_gains) << ",\n  \"patches\": [\n";
        for (int p = 0; p < chart::kPatches; ++p) {
            const chart::Patch& ref = chart::kPatchesD50[p];
            const EzColorPatch& patch = fit.patches[p];
            json << "    {\"name\": \"" << ref.name << "\", \"reference_lab_d50\": " << triple(ref.lab)
                 << ", \"reference_rgb\": " << triple(patch.reference_rgb) << ", \"camera_rgb\": "
                 << triple(patch.camera_rgb) << ", \"before_rgb\": " << triple(patch.before_rgb)
                 << ", \"after_rgb\": " << triple(patch.after_rgb)
                 << ", \"delta_e2000_before\": " << number(patch.delta_e_before)
                 << ", \"delta_e2000_after\": " << number(patch.delta_e_after) << "}"
                 << (p + 1 < chart::kPatches ? ",\n" : "\n");
        }
        json << "  ]\n}\n";
        std::ofstream out(prefix + ".json", std::ios::trunc);
        out << json.str();
        if (!out.flush() || !writePng(prefix + ".png", fit)) {
            complain("cannot write the report " + prefix + ".json / .png");
            return Status::Failed;
        }
        std::printf("report: %s.json, %s.png\n", prefix.c_str(), prefix.c_str());
    }
    return Status::Ok;
}

Status colourProfile(const std::string& camera, const std::vector<std::string>& args) {
    const char* c = camera.c_str();
    const std::string& name = args[0];
    if (name == "off") {
        SetColorProfile(nullptr, c);
        std::printf("colour profile off\n");
        return Status::Ok;
    }
    if (SetColorProfile(name.c_str(), c) != EZ_OK) {
        complain("this camera model has no colour profile '" + name + "' (colour-calibrate makes one)");
        return Status::BadInput;
    }
    SetColorEnhancement(true, c);
    std::printf("colour profile %s (colour enhancement on)\n", name.c_str());
    return Status::Ok;
}

}  // namespace ezcap
