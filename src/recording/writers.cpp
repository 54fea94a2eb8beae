// The format table and what the container writers share.
#include "recording/writers.h"

#include <cstdio>
#include <ctime>

namespace recording {
namespace {
constexpr FormatRow kFormats[] = {
    {Format::OmeTiff, "ome-tiff", ".ome.tif",
     "OME-TIFF stack with per-plane time and exposure (Fiji, Python)"},
    {Format::Fits, "fits", ".fits", "FITS cube and a table of per-frame times and settings"},
    {Format::FitsFrames, "fits-frames", ".fits", "one FITS file per frame, NAME_000001.fits ..."},
    {Format::Ser, "ser", ".ser", "SER sequence with per-frame UTC times (planetary imaging tools)"},
};
}  // namespace

std::span<const FormatRow> formats() {
    return kFormats;
}

const FormatRow* findFormat(std::string_view name) {
    for (const FormatRow& row : kFormats)
        if (name == row.name) return &row;
    return nullptr;
}

std::unique_ptr<SequenceWriter> makeWriter(Format format, const std::string& path) {
    switch (format) {
        case Format::OmeTiff:
            return makeOmeTiffWriter(path);
        case Format::Fits:
            return makeFitsWriter(path, false);
        case Format::FitsFrames:
            return makeFitsWriter(path, true);
        case Format::Ser:
            return makeSerWriter(path);
    }
    return nullptr;
}

const char* frameTypeName(FrameType type) {
    switch (type) {
        case FrameType::Light:
            return "Light Frame";
        case FrameType::Dark:
            return "Dark Frame";
        case FrameType::Flat:
            return "Flat Field";
        case FrameType::Bias:
            return "Bias Frame";
    }
    return "";
}

bool frameTypeNamed(std::string_view name, FrameType& type) {
    constexpr std::pair<std::string_view, FrameType> kNames[] = {
        {"light", FrameType::Light}, {"dark", FrameType::Dark},
        {"flat", FrameType::Flat},   {"bias", FrameType::Bias}};
    for (const auto& [text, value] : kNames)
        if (name == text) {
            type = value;
            return true;
        }
    return false;
}

int significantBits(int depth) {
    return depth == 16 ? 12 : depth;
}

std::string isoUtc(int64_t utcNanoseconds) {
    int64_t seconds = utcNanoseconds / 1'000'000'000;
    int64_t rest = utcNanoseconds % 1'000'000'000;
    if (rest < 0) {
        rest += 1'000'000'000;
        --seconds;
    }
    const time_t t = static_cast<time_t>(seconds);
    tm utc{};
    gmtime_r(&t, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ld", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long>(rest / 1000));
    return text;
}

std::string xmlEscaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace recording
