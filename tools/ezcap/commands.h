// ezcap's commands: each is a word with a fixed number of arguments, run in
// command-line order on the selected camera. A new command is one more row
// of the table in commands.cpp.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ezcap {

// Incomplete: frames were lost; Lit: a dark or bias was refused for showing light.
enum class Status { Ok, Failed, BadInput, Incomplete, Lit };

struct Command {
    const char* name;
    int arguments;         // words that follow the name
    const char* synopsis;  // e.g. "resolution INDEX"
    const char* help;      // one line
    bool needsCamera;
    Status (*run)(const std::string& camera, const std::vector<std::string>& arguments);
    // Options that may follow the arguments, each with one value ("--frames");
    // they reach run after the arguments as option, value pairs.
    std::vector<std::string> options = {};
    // Options without a value ("--yes"); they reach run as option, "" pairs.
    std::vector<std::string> flags = {};
};

const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

// Settings from the command line that some commands need.
struct Options {
    std::string camera;           // the camera the commands run on ('replug' changes it)
    std::string directory;        // parameter sets; empty: none kept
    double timeoutSeconds = 0.0;  // still capture; 0: from the exposure
};
Options& options();

// Explains a camera's refusal of a value and picks the exit status.
Status refused(int result, const std::string& what, const std::string& allowed);

// Still capture, frames saved to files, parameter sets, the information
// memory and the firmware version (keep.cpp).
Status still(const std::string& camera, const std::vector<std::string>& arguments);
Status save(const std::string& camera, const std::vector<std::string>& arguments);
Status saveSet(const std::string& camera, const std::vector<std::string>& arguments);
Status loadSet(const std::string& camera, const std::vector<std::string>& arguments);
Status listSets(const std::string& camera, const std::vector<std::string>& arguments);
Status defaults(const std::string& camera, const std::vector<std::string>& arguments);
Status writeMemory(const std::string& camera, const std::vector<std::string>& arguments);
Status readMemory(const std::string& camera, const std::vector<std::string>& arguments);
Status firmware(const std::string& camera, const std::vector<std::string>& arguments);

// Every raw frame into an OME-TIFF, FITS or SER file, and such a file made
// whole again after a kill or a cut (record_command.cpp).
Status record(const std::string& camera, const std::vector<std::string>& arguments);
Status repair(const std::string& camera, const std::vector<std::string>& arguments);

// Calibration masters and the library; the photon-transfer measurement
// (calibrate_command.cpp).
Status calibrate(const std::string& camera, const std::vector<std::string>& arguments);
Status measureSensor(const std::string& camera, const std::vector<std::string>& arguments);
// The masters calibration applies now, by kind, as file names (none when off).
std::vector<std::pair<std::string, std::string>> mastersInForce(const std::string& camera);

// Colour profiles measured on a colour chart (colour_command.cpp).
Status colourCalibrate(const std::string& camera, const std::vector<std::string>& arguments);
Status colourProfile(const std::string& camera, const std::vector<std::string>& arguments);

// Prints "ezcap: ..." to standard error.
void complain(const std::string& message);
// Whole-word numbers; nothing (and a complaint) for anything else.
std::optional<int> parseInt(const std::string& what, const std::string& text);
std::optional<float> parseFloat(const std::string& what, const std::string& text);

}  // namespace ezcap
