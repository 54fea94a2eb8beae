// OME-TIFF stacks through libtiff: one uncompressed page per frame, and the
// OME-XML (pixel type, size, per-plane time and exposure) in the first
// page's description, written when the count and the times are known.
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "recording/writers.h"
#include "processing/bayer.h"

namespace recording {
namespace {

// Classic TIFF addresses 4 GiB; past this (or with no count known) BigTIFF.
constexpr double kClassicLimit = 3.5e9;

struct Plane {
    int64_t monotonicNs;
    float exposureMs;
};

class OmeTiffWriter final : public SequenceWriter {
  public:
    explicit OmeTiffWriter(std::string path) : path_(std::move(path)) {}
    ~OmeTiffWriter() override {
        if (tiff_) TIFFClose(tiff_);
    }

    bool begin(const Sequence& sequence, std::string& error) override {
        sequence_ = sequence;
        const double bytes = static_cast<double>(sequence.frameBytes() + 1024) *
                             static_cast<double>(sequence.expectedFrames);
        const bool big = sequence.expectedFrames == 0 || bytes > kClassicLimit;
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, &OmeTiffWriter::onError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, &OmeTiffWriter::onError, this);
        tiff_ = TIFFOpenExt(path_.c_str(), big ? "w8" : "w", options);
        TIFFOpenOptionsFree(options);
        if (!tiff_) return failed(error, "cannot create");
        planes_.reserve(sequence.expectedFrames);
        return true;
    }

    bool write(const unsigned char* samples, const EzFrameInfo& info, std::string& error) override {
        if (planes_.empty()) {
            firstUtcNs_ = info.utc_ns;
            first_ = info;
        }
        TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(sequence_.width));
        TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(sequence_.height));
        TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(sequence_.depth));
        TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
        TIFFSetField(tiff_, TIFFTAG_SAMPLEFORMAT, uint16_t{SAMPLEFORMAT_UINT});
        TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_MINISBLACK});
        TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG});
        TIFFSetField(tiff_, TIFFTAG_COMPRESSION, uint16_t{COMPRESSION_NONE});
        TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(sequence_.height));
        TIFFSetField(tiff_, TIFFTAG_SOFTWARE, "ezcam");
        // Uncompressed strips in the file's own byte order are written
        // straight from the buffer, which stays as it is.
        const tmsize_t bytes = static_cast<tmsize_t>(sequence_.frameBytes());
        if (TIFFWriteEncodedStrip(tiff_, 0, const_cast<unsigned char*>(samples), bytes) != bytes ||
            !TIFFWriteDirectory(tiff_))
            return failed(error, "cannot write");
        planes_.push_back({info.monotonic_ns, info.exposure_ms});
        return true;
    }

    bool finish(std::string& error) override {
        if (!tiff_) return true;
        bool ok = true;
        if (!planes_.empty()) {
            const std::string xml = omeXml();
            ok = TIFFSetDirectory(tiff_, 0) &&
                 TIFFSetField(tiff_, TIFFTAG_IMAGEDESCRIPTION, xml.c_str()) &&
                 TIFFRewriteDirectory(tiff_);
        }
        TIFFFlush(tiff_);
        TIFFClose(tiff_);
        tiff_ = nullptr;
        return ok || failed(error, "cannot complete");
    }

    std::string written() const override { return path_; }

  private:
    std::string omeXml() const {
        const size_t count = planes_.size();
        std::string xml;
        xml.reserve(1024 + count * 160);
        char line[512];
        xml +=
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
            "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\" Creator=\"ezcam\">\n";
        const std::string instrument = xmlEscaped(sequence_.instrument);
        xml += "<Instrument ID=\"Instrument:0\"><Detector ID=\"Detector:0:0\" Model=\"" +
               instrument + "\"/></Instrument>\n";
        xml += "<Image ID=\"Image:0\" Name=\"" + instrument + "\">\n<AcquisitionDate>" +
               isoUtc(firstUtcNs_) + "Z</AcquisitionDate>\n<InstrumentRef ID=\"Instrument:0\"/>\n";
        std::snprintf(line, sizeof line,
                      "<Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint%d\" "
                      "SignificantBits=\"%d\" BigEndian=\"false\" Interleaved=\"false\" "
                      "SizeX=\"%d\" SizeY=\"%d\" SizeZ=\"1\" SizeC=\"1\" SizeT=\"%zu\">\n"
                      "<Channel ID=\"Channel:0:0\" SamplesPerPixel=\"1\"/>\n"
                      "<TiffData IFD=\"0\" PlaneCount=\"%zu\"/>\n",
                      sequence_.depth, sequence_.depth, sequence_.width, sequence_.height, count,
                      count);
        xml += line;
        for (size_t t = 0; t < count; ++t) {
            const double deltaT =
                static_cast<double>(planes_[t].monotonicNs - planes_.front().monotonicNs) * 1e-9;
            std::snprintf(line, sizeof line,
                          "<Plane TheZ=\"0\" TheC=\"0\" TheT=\"%zu\" DeltaT=\"%.9f\" "
                          "DeltaTUnit=\"s\" ExposureTime=\"%.6g\" ExposureTimeUnit=\"ms\"/>\n",
                          t, deltaT, static_cast<double>(planes_[t].exposureMs));
            xml += line;
        }
        xml += "</Pixels>\n<AnnotationRef ID=\"Annotation:0\"/>\n</Image>\n";
        // What OME has no element for: the mosaic and the sensor settings at
        // the first frame.
        xml +=
            "<StructuredAnnotations><MapAnnotation ID=\"Annotation:0\" "
            "Namespace=\"ezcam/recording\"><Value>";
        auto pair = [&](const char* key, const std::string& value) {
            xml += std::string("<M K=\"") + key + "\">" + xmlEscaped(value) + "</M>";
        };
        pair("BayerPattern", sequence_.bayer ? bayer::patternName(sequence_.bayer) : "none");
        pair("AnalogGain", std::to_string(first_.analog_gain));
        pair("BlackLevel", std::to_string(first_.black_level));
        pair("PixelClock", sequence_.pixelClock);
        for (const auto& [kind, file] : sequence_.calibration)
            pair(("CalibrationMaster." + kind).c_str(), file);
        pair("Resolution", std::to_string(first_.resolution));
        pair("RegionOrigin", std::to_string(first_.roi_x) + "," + std::to_string(first_.roi_y));
        pair("FirstFrame", std::to_string(first_.frame));
        if (first_.has_temperature) {
            std::snprintf(line, sizeof line, "%.2f", static_cast<double>(first_.temperature));
            pair("SensorTemperatureC", line);
        }
        xml += "</Value></MapAnnotation></StructuredAnnotations>\n</OME>\n";
        return xml;
    }

    static int onError(TIFF*, void* self, const char* module, const char* format, va_list args) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        auto* writer = static_cast<OmeTiffWriter*>(self);
        if (writer->libraryMessage_.empty())
            writer->libraryMessage_ = std::string(module ? module : "libtiff") + ": " + text;
        return 1;  // handled: libtiff prints nothing itself
    }

    bool failed(std::string& error, const char* what) {
        error = std::string(what) + " " + path_;
        if (!libraryMessage_.empty()) error += " (" + libraryMessage_ + ")";
        return false;
    }

    std::string path_;
    Sequence sequence_;
    TIFF* tiff_ = nullptr;
    std::vector<Plane> planes_;
    int64_t firstUtcNs_ = 0;
    EzFrameInfo first_{};
    std::string libraryMessage_;
};
}  // namespace

std::unique_ptr<SequenceWriter> makeOmeTiffWriter(const std::string& path) {
    return std::make_unique<OmeTiffWriter>(path);
}

}  // namespace recording
