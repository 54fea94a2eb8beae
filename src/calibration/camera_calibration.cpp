// A camera's calibration: choosing masters for the frames' settings, folding
// them into the pipeline's tables, and taking new masters.
#include "calibration/camera_calibration.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "log.h"

namespace calib {
namespace {

constexpr float kClipSigma = 3.0f;
// The temperature may drift this far before the masters are chosen again.
constexpr double kTemperatureStep = 0.25;

std::string utcNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return text;
}

// One sentence: what was refused, the evidence, and what to do.
std::string refusalText(Kind kind, const std::string& shown, int frame) {
    std::string text = kind == Kind::Bias ? "Bias" : "Dark";
    if (frame > 0) text += " refused at frame " + std::to_string(frame);
    else text += " refused";
    return text + ", its frames show light: " + shown + "; cover the lens and take it again.";
}

std::string baseName(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

}  // namespace

CameraCalibration::CameraCalibration() : directory_(Library::defaultDirectory()) {}

void CameraCalibration::setOn(bool on) {
    std::lock_guard lock(mu_);
    on_ = on;
    ++generation_;
}

bool CameraCalibration::on() const {
    std::lock_guard lock(mu_);
    return on_;
}

void CameraCalibration::setDirectory(const char* directory) {
    std::lock_guard lock(mu_);
    directory_ = directory && *directory ? directory : Library::defaultDirectory();
    ++generation_;
}

std::string CameraCalibration::directory() const {
    std::lock_guard lock(mu_);
    return directory_;
}

void CameraCalibration::setMatch(std::string label, double temperatureTolerance) {
    std::lock_guard lock(mu_);
    options_.label = std::move(label);
    options_.temperatureTolerance = temperatureTolerance;
    ++generation_;
}

std::shared_ptr<const RawCalibration> CameraCalibration::tablesFor(const Conditions& now) {
    std::lock_guard lock(mu_);
    if (!on_) return nullptr;
    const bool same = builtFor_ && builtGeneration_ == generation_ && builtFor_->sameSettings(now) &&
                      builtFor_->hasTemperature == now.hasTemperature &&
                      std::fabs(builtFor_->temperature - now.temperature) < kTemperatureStep;
    if (same) return tables_;
    builtFor_ = now;
    builtGeneration_ = generation_;
    std::string error;
    if (!build(now, error)) {
        ezlog::warn("calibration: %s", error.c_str());
        tables_.reset();
        for (std::string& s : inUse_) s.clear();
    }
    return tables_;
}

bool CameraCalibration::build(const Conditions& now, std::string& error) {
    tables_.reset();
    for (std::string& s : inUse_) s.clear();
    Library library(directory_);
    if (!library.refresh(error)) return false;
    const Selection sel = library.select(now, options_);
    if (!sel.any()) return true;  // nothing applies: frames pass as they are

    const size_t n = static_cast<size_t>(now.width) * static_cast<size_t>(now.height);
    const auto load = [&](const std::optional<Entry>& e, Master& m) {
        if (!e) return true;
        if (!readMaster(library.path(*e), m, true, error)) return false;
        if (m.pixels.size() != n) {
            error = library.path(*e) + " does not hold " + std::to_string(n) + " samples";
            return false;
        }
        return true;
    };
    Master dark, bias, flat;
    if (!load(sel.dark, dark) || !load(sel.bias, bias) || !load(sel.flat, flat)) return false;

    auto t = std::make_shared<RawCalibration>();
    t->width = now.width;
    t->height = now.height;
    t->depth = now.depth;
    t->step = now.bayer ? 2 : 1;
    t->gain.assign(n, 1.0f);
    t->offset.assign(n, 0.0f);
    for (size_t i = 0; i < n; ++i) {
        float d = 0;
        if (sel.dark && sel.scaled)
            d = bias.pixels[i] + (dark.pixels[i] - bias.pixels[i]) * static_cast<float>(sel.darkScale);
        else if (sel.dark)
            d = dark.pixels[i];
        else
            d = bias.pixels[i];
        // A flat normalised per channel: mean(flat) / flat is 1 / flat; dead
        // pixels (almost no response) are left uncorrected rather than blown up.
        const float g = sel.flat && flat.pixels[i] > 0.05f ? 1.0f / flat.pixels[i] : 1.0f;
        t->gain[i] = g;
        t->offset[i] = -d * g;
    }
    if (sel.dark) t->hot = hotPixels(dark.pixels, now.width, now.height, now.bayer, 1.0);
    const std::optional<Entry>* chosen[3] = {&sel.dark, &sel.flat, &sel.bias};
    for (int k = 0; k < 3; ++k)
        if (*chosen[k]) {
            inUse_[k] = library.path(**chosen[k]);
            if (!t->names.empty()) t->names += ", ";
            t->names += baseName(inUse_[k]);
        }
    tables_ = std::move(t);
    return true;
}

std::string CameraCalibration::inUse(Kind kind) const {
    std::lock_guard lock(mu_);
    return on_ ? inUse_[static_cast<int>(kind)] : std::string();
}

std::string CameraCalibration::report(const std::optional<Conditions>& now) {
    std::lock_guard lock(mu_);
    Library library(directory_);
    std::string error;
    if (!library.refresh(error)) return "library " + directory_ + ": " + error + "\n";
    std::string text = "library " + directory_ + "\n";
    int shown = 0;
    for (const Entry& e : library.entries()) {
        if (!e.isMaster || (now && e.master.at.model != now->model)) continue;
        ++shown;
        const Master& m = e.master;
        text += std::string("  ") + kindName(m.kind) + "  " + e.file + "  " + describe(m.at) + ", " +
                std::to_string(m.frames) + " frames, " + m.date;
        if (!m.label.empty()) text += ", '" + m.label + "'";
        if (now) {
            const std::string refused = Library::refusal(m, *now, options_);
            if (!refused.empty()) text += "  [does not fit: " + refused + "]";
        }
        text += "\n";
    }
    if (!shown) text += "  no masters" + std::string(now ? " for " + now->model : "") + "\n";
    if (!now) return text + "no frame read yet: nothing to match\n";
    text += "now: " + now->model + " " + describe(*now) + (on_ ? "" : " (calibration is off)") + "\n";
    const Selection sel = library.select(*now, options_);
    for (Kind k : kKinds) {
        const std::optional<Entry>& e = sel.of(k);
        text += std::string("  ") + kindName(k) + ": " + (e ? e->file : "-") + " (" +
                sel.why[static_cast<int>(k)] + ")\n";
    }
    if (sel.scaled) {
        char factor[32];
        std::snprintf(factor, sizeof factor, "%.3g", sel.darkScale);
        const std::string taken = milliseconds(sel.dark->master.at.exposureMs), wanted = milliseconds(now->exposureMs);
        text += "  the dark is scaled: the library has no dark of " + wanted + " ms, so the dark of " + taken +
                " ms is stretched to " + wanted + " ms over the bias, as bias + (dark - bias) x " + factor +
                "; a dark taken at " + wanted + " ms would be exact\n";
    }
    return text;
}

int CameraCalibration::begin(Kind kind, std::string label) {
    std::lock_guard lock(mu_);
    taking_ = kind;
    label_ = kind == Kind::Flat ? std::move(label) : std::string();
    takenAt_.reset();
    stack_.reset();
    reference_ = {};
    refused_.clear();
    return EZ_OK;
}

int CameraCalibration::add(const _ezImage* raw, const Conditions& at) {
    std::lock_guard lock(mu_);
    if (!taking_) return EZ_ERANGE;
    if (!refused_.empty()) return EZ_ELIT;
    if (raw->channels != 1 || raw->decoded || raw->width != at.width || raw->height != at.height ||
        raw->depth != at.depth || (at.depth != 8 && at.depth != 16))
        return EZ_ERANGE;
    const size_t rowBytes = static_cast<size_t>(at.width) * (at.depth / 8);
    if (raw->stride < rowBytes || raw->header_size < sizeof(_ezImage)) return EZ_ERANGE;
    if (takenAt_ && !takenAt_->sameSettings(at)) return EZ_ERANGE;  // temperatures may wander; nothing else
    // The samples follow the record at header_size (the record's pointers
    // belong to the buffer it was read into); packed to rows of the width.
    const unsigned char* data = reinterpret_cast<const unsigned char*>(raw) + raw->header_size;
    std::vector<unsigned char> packed;
    if (raw->stride != rowBytes) {
        packed.resize(rowBytes * static_cast<size_t>(at.height));
        for (int y = 0; y < at.height; ++y)
            std::memcpy(packed.data() + y * rowBytes, data + static_cast<size_t>(y) * raw->stride, rowBytes);
        data = packed.data();
    }
    const bool covered = *taking_ != Kind::Flat;
    if (covered && !takenAt_) {
        Library library(directory_);
        std::string error;
        // An unreadable library leaves the frames' own evidence only.
        if (library.refresh(error)) reference_ = cappedReference(library, at, options_);
    }
    // Refused at the first frame that shows light, before a long series.
    if (covered) {
        const FrameLevels levels = measureLevels(data, at.width, at.height, at.depth, at.bayer);
        const std::string shown = lightShown(levels, levels.noise, false, at.depth, reference_);
        if (!shown.empty()) {
            refused_ = refusalText(*taking_, shown, (stack_ ? stack_->count() : 0) + 1);
            ezlog::warn("calibration: %s", refused_.c_str());
            return EZ_ELIT;
        }
    }
    if (!takenAt_) {
        takenAt_ = at;
        stack_ = std::make_unique<FrameStack>(at.width, at.height, at.depth);
        takenAt_->temperature = 0;
    }
    std::string error;
    if (!stack_->add(data, error)) {
        ezlog::error("calibration: %s", error.c_str());
        return EZ_EIO;
    }
    // The master's temperature is the series' mean.
    takenAt_->temperature += at.temperature;
    return EZ_OK;
}

int CameraCalibration::finish(std::string& path, std::string& why) {
    std::lock_guard lock(mu_);
    const auto refuse = [&](int status, std::string text) {
        why = std::move(text);
        ezlog::error("calibration: %s", why.c_str());
        return status;
    };
    if (!taking_) return refuse(EZ_ERANGE, "No master is being taken: BeginMaster comes first.");
    const Kind kind = *taking_;
    const std::string name = kindName(kind);
    const auto end = [&] {
        taking_.reset();
        stack_.reset();
        ++generation_;  // a new master may apply
    };
    if (!refused_.empty()) {
        why = refused_;
        end();
        return EZ_ELIT;
    }
    if (!stack_ || stack_->count() < 2)
        return refuse(EZ_ERANGE, "A " + name + " needs at least 2 frames; it has " +
                                     std::to_string(stack_ ? stack_->count() : 0) + ".");
    Master m;
    m.kind = kind;
    m.at = *takenAt_;
    m.at.temperature /= stack_->count();
    m.frames = stack_->count();
    m.date = utcNow();
    m.clipSigma = kClipSigma;
    m.label = label_;
    std::string error;
    const auto fail = [&]() { return refuse(EZ_EIO, "The " + name + " could not be made: " + error + "."); };
    double temporalVariance = 0;
    if (!stack_->combine(kClipSigma, m.pixels, error, &temporalVariance)) return fail();
    if (kind != Kind::Flat) {
        // The whole series at once: its means are finer than a frame's, and
        // its noise is the noise from frame to frame.
        const FrameLevels levels = measureLevels(m.pixels, m.at.width, m.at.height, m.at.depth, m.at.bayer);
        const std::string shown = lightShown(levels, std::sqrt(temporalVariance), true, m.at.depth, reference_);
        if (!shown.empty()) {
            why = refusalText(kind, shown, 0);
            ezlog::warn("calibration: %s", why.c_str());
            end();
            return EZ_ELIT;
        }
    }
    Library library(directory_);
    if (!library.refresh(error)) return fail();
    if (kind == Kind::Flat) {
        // The offset comes off before the flat is normalised; the selection
        // for the flat's own settings says which master that is.
        const Selection sel = library.select(m.at, options_);
        if (!sel.any()) {
            error = "no dark or bias in " + directory_ + " for " + describe(m.at) +
                    ": take one before the flat";
            return fail();
        }
        Master offset, bias;
        const Entry& used = sel.dark ? *sel.dark : *sel.bias;
        if (!readMaster(library.path(used), offset, true, error)) return fail();
        if (sel.scaled && !readMaster(library.path(*sel.bias), bias, true, error)) return fail();
        if (offset.pixels.size() != m.pixels.size() ||
            (sel.scaled && bias.pixels.size() != m.pixels.size())) {
            error = "the offset master does not fit the flat";
            return fail();
        }
        for (size_t i = 0; i < m.pixels.size(); ++i) {
            float d = offset.pixels[i];
            if (sel.scaled) d = bias.pixels[i] + (d - bias.pixels[i]) * static_cast<float>(sel.darkScale);
            m.pixels[i] -= d;
        }
        m.offsetFile = used.file;
        if (!normaliseFlat(m.pixels, m.at.width, m.at.height, m.at.bayer)) {
            error = "the flat has a channel without light";
            return fail();
        }
    } else if (kind == Kind::Dark) {
        m.hotPixels = static_cast<int>(hotPixels(m.pixels, m.at.width, m.at.height, m.at.bayer, 1.0).size());
    }
    if (!library.add(m, path, error)) return fail();
    end();
    return EZ_OK;
}

}  // namespace calib
