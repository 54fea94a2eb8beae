// ezcap repair: which container a file is, and a fits-frames file left
// half written under its working name.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "recording/writers.h"

namespace recording {
namespace {
bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

RepairReport repairRecording(const std::string& given) {
    std::string path = given;
    // A journal stands for its recording.
    if (endsWith(path, ".journal")) path.resize(path.size() - 8);
    char magic[16] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        RepairReport report;
        report.message = "cannot open " + path + ": " + std::strerror(errno);
        return report;
    }
    in.read(magic, sizeof magic);
    in.close();
    if (std::memcmp(magic, "LUCAM-RECORDER", 14) == 0) return repairSer(path);
    if (std::memcmp(magic, "II", 2) == 0) return repairOmeTiff(path);
    if (std::memcmp(magic, "SIMPLE  =", 9) != 0) {
        RepairReport report;
        // A fits-frames frame that a kill caught before its header was
        // written holds no frame at all: it goes, as a cut one does.
        if (endsWith(path, ".part") && ::unlink(path.c_str()) == 0) {
            report.ok = report.changed = true;
            report.message = "removed " + path + ": its frame was cut short";
            return report;
        }
        report.message = path + " is not a recording (SER, FITS or OME-TIFF)";
        return report;
    }
    if (!endsWith(path, ".part")) return repairFits(path);
    // A frame of a fits-frames recording that a kill caught before it took
    // its name: it gets the name when whole, and goes when not.
    RepairReport report = repairFits(path);
    const std::string name = path.substr(0, path.size() - 5);
    if (report.ok && std::rename(path.c_str(), name.c_str()) == 0) {
        report.changed = true;
        report.message = "repaired " + name + ": its frame was whole";
    } else if (!report.ok && ::unlink(path.c_str()) == 0) {
        report.ok = report.changed = true;
        report.frames = report.timed = 0;
        report.message = "removed " + path + ": its frame was cut short";
    }
    return report;
}

}  // namespace recording
