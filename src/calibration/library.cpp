// The library's index and its matching rules.
#include "calibration/library.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace calib {
namespace fs = std::filesystem;
namespace {

constexpr const char* kIndex = "index.tsv";
constexpr const char* kNotMaster = "-";  // index kind of a FITS file that is no master
constexpr const char* kColumns =
    "file\tkind\tmodel\trelease\twidth\theight\troi_x\troi_y\tbin_x\tbin_y\tdepth\tbayer\tclock"
    "\tgain\tblack\texposure_ms\ttemperature\tframes\tdate\tlabel\toffset_file\thot_pixels"
    "\tclip_sigma\tcamera";
constexpr size_t kColumnCount = 24;

// Exposures this close are the same.
bool sameExposure(double a, double b) {
    return std::fabs(a - b) <= std::max(1e-3, 5e-3 * std::max(a, b));
}

std::string cell(std::string s) {
    for (char& ch : s)
        if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
    return s;
}

// A file-name part: letters, digits, '.', '-'; anything else '-'.
std::string namePart(const std::string& s) {
    std::string out;
    for (char ch : s)
        out += std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '-' ? ch : '-';
    return out;
}

std::string format(const char* fmt, double v) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    std::string cellText;
    std::istringstream in(line);
    while (std::getline(in, cellText, '\t')) out.push_back(cellText);
    if (!line.empty() && line.back() == '\t') out.emplace_back();
    return out;
}

bool parse(const std::string& text, double& v) {
    char* end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(v);
}
bool parse(const std::string& text, int& v) {
    double d = 0;
    if (!parse(text, d) || std::fabs(d) > 1e9) return false;
    v = static_cast<int>(std::lround(d));
    return true;
}

}  // namespace

const std::optional<Entry>& Selection::of(Kind kind) const {
    return kind == Kind::Dark ? dark : kind == Kind::Flat ? flat : bias;
}

Library::Library(std::string directory) : directory_(std::move(directory)) {
    while (directory_.size() > 1 && directory_.back() == '/') directory_.pop_back();
}

std::string Library::defaultDirectory() {
    if (const char* dir = std::getenv("EZCAM_CALIBRATION_DIR"); dir && *dir) return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/ezcam/calibration";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/ezcam/calibration";
}

bool Library::readIndex(std::vector<Entry>& entries) const {
    std::ifstream in(directory_ + "/" + kIndex);
    std::string line;
    if (!in || !std::getline(in, line) || line != kColumns) return false;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = split(line);
        if (f.size() != kColumnCount) return false;
        Entry e;
        e.file = f[0];
        Master& m = e.master;
        Conditions& c = m.at;
        const std::optional<Kind> kind = kindNamed(f[1]);
        if (!kind && f[1] != kNotMaster) return false;
        c.model = f[2];
        c.camera = f[23];
        c.clock = f[12];
        m.date = f[18];
        m.label = f[19];
        m.offsetFile = f[20];
        double sigma = 0;
        if (!parse(f[3], c.release) || !parse(f[4], c.width) || !parse(f[5], c.height) ||
            !parse(f[6], c.roiX) || !parse(f[7], c.roiY) || !parse(f[8], c.binX) ||
            !parse(f[9], c.binY) || !parse(f[10], c.depth) || !parse(f[11], c.bayer) ||
            !parse(f[13], c.gain) || !parse(f[14], c.black) || !parse(f[15], c.exposureMs) ||
            !parse(f[17], m.frames) || !parse(f[21], m.hotPixels) || !parse(f[22], sigma))
            return false;
        m.clipSigma = static_cast<float>(sigma);
        c.hasTemperature = f[16] != "-";
        if (c.hasTemperature && !parse(f[16], c.temperature)) return false;
        e.isMaster = kind.has_value();  // others are listed, never matched
        m.kind = kind.value_or(Kind::Dark);
        entries.push_back(std::move(e));
    }
    return true;
}

bool Library::writeIndex(std::string& error) const {
    const std::string path = directory_ + "/" + kIndex, staged = path + ".new";
    {
        std::ofstream out(staged, std::ios::trunc);
        out << kColumns << '\n';
        for (const Entry& e : entries_) {
            const Master& m = e.master;
            const Conditions& c = m.at;
            out << cell(e.file) << '\t' << (e.isMaster ? kindName(m.kind) : kNotMaster) << '\t' << cell(c.model) << '\t'
                << c.release << '\t' << c.width << '\t' << c.height << '\t' << c.roiX << '\t'
                << c.roiY << '\t' << c.binX << '\t' << c.binY << '\t' << c.depth << '\t'
                << c.bayer << '\t' << cell(c.clock) << '\t' << c.gain << '\t' << c.black << '\t'
                << format("%.6g", c.exposureMs) << '\t'
                << (c.hasTemperature ? format("%.2f", c.temperature) : "-") << '\t' << m.frames
                << '\t' << cell(m.date) << '\t' << cell(m.label) << '\t' << cell(m.offsetFile)
                << '\t' << m.hotPixels << '\t' << format("%.2f", m.clipSigma) << '\t'
                << cell(c.camera) << '\n';
        }
        out.flush();
        if (!out) {
            error = "cannot write " + staged;
            return false;
        }
    }
    std::error_code ec;
    fs::rename(staged, path, ec);
    if (ec) error = "cannot replace " + path + ": " + ec.message();
    return !ec;
}

bool Library::refresh(std::string& error) {
    std::error_code ec;
    std::set<std::string> files;
    if (fs::is_directory(directory_, ec))
        for (const fs::directory_entry& f : fs::directory_iterator(directory_, ec))
            if (f.is_regular_file(ec) && f.path().extension() == ".fits")
                files.insert(f.path().filename().string());
    std::vector<Entry> listed;
    std::set<std::string> names;
    const bool read = readIndex(listed);
    for (const Entry& e : listed) names.insert(e.file);
    if (read && names == files) {
        entries_ = std::move(listed);
        return true;
    }
    // Out of step with the files: every file's header again.
    entries_.clear();
    for (const std::string& name : files) {
        Entry e;
        e.file = name;
        std::string why;
        e.isMaster = readMaster(directory_ + "/" + name, e.master, false, why);
        entries_.push_back(std::move(e));
    }
    if (files.empty() && !fs::exists(directory_ + "/" + kIndex, ec)) return true;
    return writeIndex(error);
}

bool Library::add(const Master& master, std::string& file, std::string& error) {
    std::error_code ec;
    fs::create_directories(directory_, ec);
    if (ec) {
        error = "cannot create the library " + directory_ + ": " + ec.message();
        return false;
    }
    if (!refresh(error)) return false;
    const Conditions& c = master.at;
    std::string stamp;
    for (char ch : master.date)
        if (std::isdigit(static_cast<unsigned char>(ch))) stamp += ch;
    // The camera's name keeps its index: "dark_QC500.0_...".
    std::string name = std::string(kindName(master.kind)) + "_" +
                       namePart(c.camera.empty() ? c.model : c.camera) + "_" +
                       std::to_string(c.width) + "x" + std::to_string(c.height) + "_" +
                       std::to_string(c.depth) + "bit_g" + std::to_string(c.gain) + "_b" +
                       std::to_string(c.black);
    if (master.kind != Kind::Flat) name += "_" + milliseconds(c.exposureMs) + "ms";
    if (master.kind != Kind::Flat && c.hasTemperature) name += "_" + format("%.1f", c.temperature) + "C";
    if (master.kind == Kind::Flat && !master.label.empty()) name += "_" + namePart(master.label);
    name += "_" + stamp.substr(0, 14);
    std::string chosen = name + ".fits";
    for (int n = 2; fs::exists(directory_ + "/" + chosen, ec); ++n)
        chosen = name + "-" + std::to_string(n) + ".fits";
    file = directory_ + "/" + chosen;
    if (!writeMaster(file, master, error)) return false;
    Entry e{chosen, master};
    e.master.pixels.clear();
    e.master.pixels.shrink_to_fit();
    entries_.push_back(std::move(e));
    return writeIndex(error);
}

std::string Library::refusal(const Master& m, const Conditions& now, const MatchOptions& options) {
    const Conditions& c = m.at;
    if (c.model != now.model || c.release != now.release)
        return "another camera (" + c.model + " release " + format("%04x", c.release) + ")";
    if (c.width != now.width || c.height != now.height)
        return std::to_string(c.width) + "x" + std::to_string(c.height) + " frames, not " +
               std::to_string(now.width) + "x" + std::to_string(now.height);
    if (c.roiX != now.roiX || c.roiY != now.roiY) return "another region of the sensor";
    if (c.binX != now.binX || c.binY != now.binY) return "another binning";
    if (c.depth != now.depth)
        return std::to_string(c.depth) + "-bit, not " + std::to_string(now.depth) + "-bit";
    if (c.bayer != now.bayer) return "another colour filter layout";
    if (m.kind == Kind::Flat) {
        if (m.label != options.label)
            return "for '" + m.label + "', not '" + options.label + "'";
        return "";
    }
    if (c.gain != now.gain)
        return "gain " + std::to_string(c.gain) + ", not " + std::to_string(now.gain);
    if (c.black != now.black)
        return "black level " + std::to_string(c.black) + ", not " + std::to_string(now.black);
    if (c.hasTemperature && now.hasTemperature &&
        std::fabs(c.temperature - now.temperature) > options.temperatureTolerance)
        return "taken at " + format("%.1f", c.temperature) + " C, the sensor is at " +
               format("%.1f", now.temperature) + " C";
    return "";
}

Selection Library::select(const Conditions& now, const MatchOptions& options) const {
    Selection s;
    std::vector<const Entry*> usable[3];
    int refused[3] = {};
    for (const Entry& e : entries_) {
        if (!e.isMaster) continue;
        const int k = static_cast<int>(e.master.kind);
        if (refusal(e.master, now, options).empty())
            usable[k].push_back(&e);
        else if (e.master.at.model == now.model)
            ++refused[k];
    }
    // Nearest temperature first, then the newest.
    const auto closer = [&](const Entry* a, const Entry* b) {
        const auto gap = [&](const Entry* e) {
            const Conditions& c = e->master.at;
            return c.hasTemperature && now.hasTemperature ? std::fabs(c.temperature - now.temperature)
                                                          : 0.0;
        };
        if (gap(a) != gap(b)) return gap(a) < gap(b);
        return a->master.date > b->master.date;
    };
    const auto none = [&](Kind k) {
        const int n = refused[static_cast<int>(k)];
        return n ? "none matches (" + std::to_string(n) + " of this camera refused)"
                 : std::string("none in the library");
    };
    const auto pick = [&](std::vector<const Entry*>& list) -> std::optional<Entry> {
        if (list.empty()) return std::nullopt;
        return **std::min_element(list.begin(), list.end(), closer);
    };

    const int bias = static_cast<int>(Kind::Bias), dark = static_cast<int>(Kind::Dark),
              flat = static_cast<int>(Kind::Flat);
    s.bias = pick(usable[bias]);
    s.why[bias] = s.bias ? "same settings" : none(Kind::Bias);

    std::vector<const Entry*> exact;
    for (const Entry* e : usable[dark])
        if (sameExposure(e->master.at.exposureMs, now.exposureMs)) exact.push_back(e);
    if (!exact.empty()) {
        s.dark = pick(exact);
        s.why[dark] = "same exposure";
        if (s.bias) s.why[bias] = "not needed: the dark holds the offset";
    } else if (!usable[dark].empty()) {
        // Nearest exposure by ratio.
        const auto distance = [&](const Entry* e) {
            const double t = std::max(e->master.at.exposureMs, 1e-6);
            return std::fabs(std::log(t / std::max(now.exposureMs, 1e-6)));
        };
        const Entry* nearest = *std::min_element(
            usable[dark].begin(), usable[dark].end(),
            [&](const Entry* a, const Entry* b) { return distance(a) < distance(b); });
        s.dark = *nearest;
        const std::string taken = milliseconds(nearest->master.at.exposureMs) + " ms";
        const bool scalable = s.bias && nearest->master.at.exposureMs > 0 &&
                              !sameExposure(nearest->master.at.exposureMs, s.bias->master.at.exposureMs);
        if (scalable) {
            s.scaled = true;
            s.darkScale = (now.exposureMs - s.bias->master.at.exposureMs) /
                          (nearest->master.at.exposureMs - s.bias->master.at.exposureMs);
            s.why[dark] = "taken at " + taken + ", scaled to " + milliseconds(now.exposureMs) +
                          " ms over the bias";
            s.why[bias] = "under the scaled dark";
        } else {
            s.why[dark] = "nearest exposure, " + taken + " for " + milliseconds(now.exposureMs) +
                          " ms (no bias to scale it by)";
            if (s.bias) {
                s.why[bias] = "not needed: the dark holds the offset";
            }
        }
    } else {
        s.why[dark] = none(Kind::Dark);
        if (s.bias) s.why[bias] = "takes the offset away (no dark: dark current stays)";
    }
    // A bias the dark does not need is not in use.
    if (s.dark && !s.scaled) s.bias.reset();

    std::vector<const Entry*> flats = usable[flat];
    // The same gain first (the shading of the optics does not depend on it).
    std::stable_sort(flats.begin(), flats.end(), [&](const Entry* a, const Entry* b) {
        return (a->master.at.gain == now.gain) > (b->master.at.gain == now.gain);
    });
    if (!flats.empty()) {
        const int gain = flats.front()->master.at.gain;
        std::erase_if(flats, [&](const Entry* e) { return e->master.at.gain != gain; });
    }
    s.flat = pick(flats);
    if (s.flat && !s.any()) {
        s.flat.reset();
        s.why[flat] = "not applied: no dark or bias for these settings";
    } else if (s.flat) {
        s.why[flat] = options.label.empty() ? "unlabelled" : "for '" + options.label + "'";
        if (s.flat->master.at.gain != now.gain)
            s.why[flat] += ", taken at gain " + std::to_string(s.flat->master.at.gain);
    } else {
        s.why[flat] = none(Kind::Flat);
    }
    return s;
}

}  // namespace calib
