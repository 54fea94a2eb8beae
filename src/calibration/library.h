// The calibration library: a directory of master FITS files with an index
// (index.tsv, one row per master with the settings it was taken at), and
// the rules that pick, for the settings in force, the master of each kind
// that applies and say why.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calibration/master_file.h"

namespace calib {

// A master as the index lists it: its file (in the directory) and header.
struct Entry {
    std::string file;
    Master master;        // without pixels
    bool isMaster = true;  // false: a FITS file there that is no master
};

struct MatchOptions {
    std::string label;                 // the flats' objective and filter
    double temperatureTolerance = 2.0;  // degrees
};

// The masters that apply to one set of conditions, and why.
struct Selection {
    std::optional<Entry> dark, flat, bias;
    // The dark is applied as bias + (dark - bias) x darkScale when scaled
    // (another exposure, over a bias); alone (darkScale 1) otherwise. With
    // no dark, a bias alone takes the offset away.
    bool scaled = false;
    double darkScale = 1.0;
    std::string why[3];  // by Kind
    bool any() const { return dark || bias; }  // a flat needs an offset taken off first
    const std::optional<Entry>& of(Kind kind) const;
};

class Library {
  public:
    explicit Library(std::string directory);
    // $EZCAM_CALIBRATION_DIR, else $XDG_DATA_HOME/ezcam/calibration, else
    // ~/.local/share/ezcam/calibration.
    static std::string defaultDirectory();
    const std::string& directory() const { return directory_; }
    std::string path(const Entry& entry) const { return directory_ + "/" + entry.file; }

    // Reads the index, and rebuilds it from the files' headers when it is
    // missing or does not list exactly the FITS files there. A missing
    // directory is an empty library.
    bool refresh(std::string& error);
    const std::vector<Entry>& entries() const { return entries_; }

    // Stores a master as a new file named after its kind and settings and
    // lists it; `file` receives its path.
    bool add(const Master& master, std::string& file, std::string& error);

    // Why an entry cannot serve as a master of its kind for these
    // conditions; "" when it can.
    static std::string refusal(const Master& master, const Conditions& now,
                               const MatchOptions& options);
    Selection select(const Conditions& now, const MatchOptions& options) const;

  private:
    bool readIndex(std::vector<Entry>& entries) const;
    bool writeIndex(std::string& error) const;

    std::string directory_;
    std::vector<Entry> entries_;
};

}  // namespace calib
