// The containers a raw recording can be written in: one row of the format
// table each, behind one small writer interface.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>
#include <string_view>

#include "ezcam.h"

namespace recording {

enum class Format { OmeTiff, Fits, FitsFrames, Ser };

struct FormatRow {
    Format format;
    const char* name;       // as given to `ezcap record --format`
    const char* extension;  // added to an output name that has none
    const char* help;
};
std::span<const FormatRow> formats();
const FormatRow* findFormat(std::string_view name);

// What a recording's frames show, as FITS IMAGETYP names it.
enum class FrameType { Light, Dark, Flat, Bias };
const char* frameTypeName(FrameType type);  // "Light Frame", "Dark Frame", ...
// "light", "dark", "flat", "bias" as `ezcap record --type` takes them.
bool frameTypeNamed(std::string_view name, FrameType& type);

// The bits of a sample that carry the converter's value: 16-bit samples
// hold the 12-bit converter's value aligned to the top bit.
int significantBits(int depth);

// What every frame of a recording shares, taken from its first frame.
struct Sequence {
    int width = 0;
    int height = 0;
    int depth = 8;   // bits per sample, 8 or 16 (16-bit samples little-endian)
    int bayer = 0;   // Bayer code of the first sample, 0 monochrome
    std::string instrument;     // the camera's name
    std::string pixelClock;     // the pixel clock's label
    std::vector<std::pair<std::string, std::string>> calibration;  // kind, master's file name
    uint64_t expectedFrames = 0;  // 0: not known in advance
    FrameType frameType = FrameType::Light;
    // Micrometres per pixel, 0 where not known: at the sensor (an unbinned
    // pixel's pitch) and in the sample plane (the objective's, binning
    // included).
    double sensorPixelUm = 0;
    double samplePixelUm = 0;
    size_t frameBytes() const {
        return static_cast<size_t>(width) * static_cast<size_t>(height) * (depth / 8);
    }
};

// One container. begin, then write for every frame in order, checkpoint
// now and then, then finish; all on one thread. Each returns false with a
// message in `error` on failure, after which only finish is called.
//
// What is on disk is a file of its format at every moment: write adds a
// frame (declaring it where the container's counts allow, before its
// samples), checkpoint declares every frame written so far where they do
// not (the OME-XML), with rewrites that are never half done, and finish
// completes the file (per-frame tables, trailers). After a failed
// write finish cuts the file back to the frames written whole and
// completes it with them.
class SequenceWriter {
  public:
    virtual ~SequenceWriter() = default;
    virtual bool begin(const Sequence& sequence, std::string& error) = 0;
    // samples: width x height samples, rows top to bottom. info.utc_ns is
    // already made monotonic by the recorder.
    virtual bool write(const unsigned char* samples, const EzFrameInfo& info,
                       std::string& error) = 0;
    virtual bool checkpoint(std::string& error) = 0;
    virtual bool finish(std::string& error) = 0;
    // What was written: the file, or the pattern of the files.
    virtual std::string written() const = 0;
};

std::unique_ptr<SequenceWriter> makeWriter(Format format, const std::string& path);
std::unique_ptr<SequenceWriter> makeOmeTiffWriter(const std::string& path);
std::unique_ptr<SequenceWriter> makeFitsWriter(const std::string& path, bool filePerFrame);
std::unique_ptr<SequenceWriter> makeSerWriter(const std::string& path);

// Shared by the writers.
// UTC as ISO 8601 with microseconds, "2024-05-01T12:00:00.123456".
std::string isoUtc(int64_t utcNanoseconds);
// Text with the characters of XML markup escaped.
std::string xmlEscaped(std::string_view text);

// A file of a recording made whole again after a kill or a cut: what it
// held, and what could not be kept.
struct RepairReport {
    bool ok = false;          // the file is a complete recording now
    bool changed = false;     // it needed repair
    uint64_t frames = 0;      // whole frames it holds
    uint64_t timed = 0;       // of those, with their time and settings
    std::string message;      // what was done, or why nothing could be
};
// Repairs `path` (a recording, its journal, or a fits-frames file left
// half written); each container's own rules are beside its writer.
RepairReport repairRecording(const std::string& path);
RepairReport repairSer(const std::string& path);
RepairReport repairFits(const std::string& path);
RepairReport repairOmeTiff(const std::string& path);

}  // namespace recording
