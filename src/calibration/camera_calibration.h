// One camera's calibration: its library, the switch, the masters chosen for
// the settings of its frames (as raw-calibration tables for the pipeline),
// and the master being taken. Knows no USB: the camera hands it the
// conditions of its frames.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "calibration/library.h"
#include "calibration/light_check.h"
#include "calibration/stack.h"
#include "calibration/raw_tables.h"

namespace calib {

class CameraCalibration {
  public:
    CameraCalibration();

    void setOn(bool on);
    bool on() const;
    // "" or null: the default directory.
    void setDirectory(const char* directory);
    std::string directory() const;
    void setMatch(std::string label, double temperatureTolerance);

    // Frame side: the tables for a raw frame taken at `now` (null when off,
    // or when no dark or bias applies). Chosen again only when the settings
    // or the temperature move or the library changes.
    std::shared_ptr<const RawCalibration> tablesFor(const Conditions& now);
    // The file of the master of `kind` in the latest tables; "" when none.
    std::string inUse(Kind kind) const;
    // The library's masters of this model and, for `now`, which apply and why.
    std::string report(const std::optional<Conditions>& now);

    // Taking a master: 0, or EZ_ERANGE / EZ_EIO / EZ_ELIT as the call
    // surface says. A dark or bias whose frame shows light is refused at
    // that frame, and so are the frames after it and the master.
    int begin(Kind kind, std::string label);
    int add(const _ezImage* raw, const Conditions& at);
    // The master's file into `path`, or on failure one sentence of why
    // into `why` (also logged).
    int finish(std::string& path, std::string& why);

  private:
    bool build(const Conditions& now, std::string& error);

    mutable std::mutex mu_;
    bool on_ = false;
    std::string directory_;
    MatchOptions options_;
    int generation_ = 0;  // bumped by every change of library or options

    // The latest choice.
    std::optional<Conditions> builtFor_;
    int builtGeneration_ = -1;
    std::shared_ptr<const RawCalibration> tables_;
    std::string inUse_[3];

    // The master being taken.
    std::optional<Kind> taking_;
    std::string label_;
    std::optional<Conditions> takenAt_;
    std::unique_ptr<FrameStack> stack_;
    CappedReference reference_;  // the library's covered masters for a dark or bias
    std::string refused_;        // why its frames were refused; "" while they are not
};

}  // namespace calib
