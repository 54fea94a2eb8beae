// OME-TIFF stacks: one uncompressed page per frame and the OME-XML (pixel
// type, size, per-plane time and exposure) in the first page's
// description.
//
// The pages are written here rather than through libtiff, so that the file
// is a TIFF at every moment: each page (its directory, then its samples)
// is appended whole and only then linked from the page before, with one
// small rewrite in place. Every page carries its frame's record in a tag
// of its own. The OME-XML lives in one of two regions of the file: each
// checkpoint brings the other region up to date and then points the first
// page's description at it, so a killed recording holds an OME-XML at most
// a checkpoint old. `ezcap repair` rebuilds it from the pages' records
// after a cut.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "processing/bayer.h"
#include "recording/frame_record.h"
#include "recording/out_file.h"
#include "recording/writers.h"

namespace recording {
namespace {

// Classic TIFF addresses 4 GiB; past this (or with no count known) BigTIFF.
constexpr double kClassicLimit = 3.5e9;
// Tags of the private range: the frame's record (every page) and what the
// OME-XML says of the recording (the first page), for repair.
constexpr uint16_t kFrameTag = 65337;
constexpr uint16_t kRecordingTag = 65338;
constexpr uint16_t kDescriptionTag = 270;
constexpr uint16_t kAscii = 2, kShort = 3, kLong = 4, kUndefined = 7, kLong8 = 16;
// A region holds the OME-XML as it grows: twice what it needs when made.
constexpr uint64_t kRegionSlack = 64 * 1024;
// SizeT and PlaneCount are followed by spaces to this width, so the part
// of the OME-XML before the planes keeps its length as they are counted.
constexpr int kCountWidth = 24;

// The two layouts of TIFF: sizes of a directory's count, entry and offset.
struct Layout {
    bool big = false;
    size_t header() const { return big ? 16 : 8; }
    size_t count() const { return big ? 8 : 2; }
    size_t entry() const { return big ? 20 : 12; }
    size_t offset() const { return big ? 8 : 4; }
    void putOffset(unsigned char* at, uint64_t v) const {
        big ? put64(at, v) : put32(at, static_cast<uint32_t>(v));
    }
    uint64_t getOffset(const unsigned char* at) const { return big ? get64(at) : get32(at); }
};

// The OME-XML of a recording, in three parts: the part before the planes
// (of fixed length once the first frame is known), one line per plane, and
// the part after them.
class OmeDocument {
  public:
    OmeDocument(const Sequence& sequence, const EzFrameInfo& first)
        : sequence_(sequence), first_(first) {
        suffix_ = makeSuffix();
    }
    void add(const EzFrameInfo& info) { planes_.push_back({info.monotonic_ns, info.exposure_ms}); }
    uint64_t planes() const { return planes_.size(); }

    std::string prefix(uint64_t count) const {
        char line[512];
        const std::string instrument = xmlEscaped(sequence_.instrument);
        std::string xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
            "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
            "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\" Creator=\"ezcam\">\n";
        xml += "<Instrument ID=\"Instrument:0\"><Detector ID=\"Detector:0:0\" Model=\"" +
               instrument + "\"/></Instrument>\n";
        xml += "<Image ID=\"Image:0\" Name=\"" + instrument + "\">\n<AcquisitionDate>" +
               isoUtc(first_.utc_ns) + "Z</AcquisitionDate>\n<InstrumentRef ID=\"Instrument:0\"/>\n";
        // The objective's scale, micrometres per pixel in the sample plane.
        char physical[96] = "";
        if (sequence_.samplePixelUm > 0)
            std::snprintf(physical, sizeof physical,
                          "PhysicalSizeX=\"%.6g\" PhysicalSizeY=\"%.6g\" ", sequence_.samplePixelUm,
                          sequence_.samplePixelUm);
        std::snprintf(line, sizeof line,
                      "<Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint%d\" "
                      "SignificantBits=\"%d\" BigEndian=\"false\" Interleaved=\"false\" "
                      "SizeX=\"%d\" SizeY=\"%d\" SizeZ=\"1\" SizeC=\"1\" %s%-*s>\n"
                      "<Channel ID=\"Channel:0:0\" SamplesPerPixel=\"1\"/>\n"
                      "<TiffData IFD=\"0\" %-*s/>\n",
                      sequence_.depth, significantBits(sequence_.depth), sequence_.width,
                      sequence_.height, physical, kCountWidth,
                      ("SizeT=\"" + std::to_string(count) + "\"").c_str(), kCountWidth,
                      ("PlaneCount=\"" + std::to_string(count) + "\"").c_str());
        return xml + line;
    }
    // The lines of planes [from, to).
    std::string planeLines(uint64_t from, uint64_t to) const {
        std::string xml;
        char line[256];
        for (uint64_t t = from; t < to; ++t) {
            const double deltaT =
                static_cast<double>(planes_[t].monotonicNs - planes_.front().monotonicNs) * 1e-9;
            std::snprintf(line, sizeof line,
                          "<Plane TheZ=\"0\" TheC=\"0\" TheT=\"%llu\" DeltaT=\"%.9f\" "
                          "DeltaTUnit=\"s\" ExposureTime=\"%.6g\" ExposureTimeUnit=\"ms\"/>\n",
                          static_cast<unsigned long long>(t), deltaT,
                          static_cast<double>(planes_[t].exposureMs));
            xml += line;
        }
        return xml;
    }
    const std::string& suffix() const { return suffix_; }

  private:
    std::string makeSuffix() const {
        std::string xml = "</Pixels>\n<AnnotationRef ID=\"Annotation:0\"/>\n</Image>\n";
        // What OME has no element for: the mosaic and the sensor settings
        // at the first frame.
        xml +=
            "<StructuredAnnotations><MapAnnotation ID=\"Annotation:0\" "
            "Namespace=\"ezcam/recording\"><Value>";
        auto pair = [&](const std::string& key, const std::string& value) {
            xml += "<M K=\"" + xmlEscaped(key) + "\">" + xmlEscaped(value) + "</M>";
        };
        pair("BayerPattern", sequence_.bayer ? bayer::patternName(sequence_.bayer) : "none");
        pair("AnalogGain", std::to_string(first_.analog_gain));
        pair("BlackLevel", std::to_string(first_.black_level));
        pair("PixelClock", sequence_.pixelClock);
        pair("FrameType", frameTypeName(sequence_.frameType));
        if (sequence_.sensorPixelUm > 0) {
            char text[32];
            std::snprintf(text, sizeof text, "%.4f", sequence_.sensorPixelUm);
            pair("SensorPixelSizeUm", text);
        }
        for (const auto& [kind, file] : sequence_.calibration)
            pair("CalibrationMaster." + kind, file);
        pair("Resolution", std::to_string(first_.resolution));
        pair("RegionOrigin", std::to_string(first_.roi_x) + "," + std::to_string(first_.roi_y));
        pair("FirstFrame", std::to_string(first_.frame));
        if (first_.has_temperature) {
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", static_cast<double>(first_.temperature));
            pair("SensorTemperatureC", text);
        }
        xml += "</Value></MapAnnotation></StructuredAnnotations>\n</OME>\n";
        return xml;
    }

    struct Plane {
        int64_t monotonicNs;
        float exposureMs;
    };
    Sequence sequence_;
    EzFrameInfo first_;
    std::vector<Plane> planes_;
    std::string suffix_;
};

// What the first page keeps of the recording for repair: one "key=value"
// line each, newlines and backslashes escaped.
std::string escapeLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}
std::string unescapeLine(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
std::string describe(const Sequence& s) {
    std::string text = "instrument=" + escapeLine(s.instrument) + "\npixelclock=" +
                       escapeLine(s.pixelClock) + "\n";
    for (const auto& [kind, file] : s.calibration)
        text += "calibration." + escapeLine(kind) + "=" + escapeLine(file) + "\n";
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "frametype=%d\nsensorpixel=%.17g\nsamplepixel=%.17g\n",
                  static_cast<int>(s.frameType), s.sensorPixelUm, s.samplePixelUm);
    return text + numbers;
}
void undescribe(const std::string& text, Sequence& s) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = unescapeLine(line.substr(eq + 1));
        if (key == "instrument") s.instrument = value;
        else if (key == "pixelclock") s.pixelClock = value;
        else if (key == "frametype") {
            const int type = std::atoi(value.c_str());
            if (type >= 0 && type <= static_cast<int>(FrameType::Bias))
                s.frameType = static_cast<FrameType>(type);
        } else if (key == "sensorpixel" || key == "samplepixel") {
            const double um = std::strtod(value.c_str(), nullptr);
            if (std::isfinite(um) && um > 0)
                (key == "sensorpixel" ? s.sensorPixelUm : s.samplePixelUm) = um;
        } else if (key.rfind("calibration.", 0) == 0)
            s.calibration.emplace_back(unescapeLine(key.substr(12)), value);
    }
}

// One page's directory, built for the place it will have in the file
// (into a buffer kept from page to page): entries in tag order, values too
// long for an entry after them.
class Directory {
  public:
    Directory(const Layout& layout, uint64_t at, size_t entries, std::vector<unsigned char>& bytes)
        : layout_(layout), at_(at), entries_(entries), bytes_(bytes) {
        bytes_.assign(layout.count() + entries * layout.entry() + layout.offset(), 0);
        layout.big ? put64(bytes_.data(), entries)
                   : put16(bytes_.data(), static_cast<uint32_t>(entries));
    }
    void add(uint16_t tag, uint16_t type, uint64_t count, const void* value, size_t bytes) {
        const size_t e = layout_.count() + added_++ * layout_.entry();
        put16(&bytes_[e], tag);
        put16(&bytes_[e + 2], type);
        layout_.big ? put64(&bytes_[e + 4], count) : put32(&bytes_[e + 4], static_cast<uint32_t>(count));
        const size_t field = e + 4 + layout_.offset();
        if (bytes <= layout_.offset()) {
            std::memcpy(&bytes_[field], value, bytes);
            return;
        }
        if (bytes_.size() % 2) bytes_.push_back(0);  // values begin on a word
        const uint64_t where = at_ + bytes_.size();
        const auto* v = static_cast<const unsigned char*>(value);
        bytes_.insert(bytes_.end(), v, v + bytes);
        layout_.putOffset(&bytes_[field], where);
    }
    void number(uint16_t tag, uint16_t type, uint64_t value) {
        unsigned char v[8] = {};
        const size_t size = type == kShort ? 2 : type == kLong ? 4 : 8;
        for (size_t i = 0; i < size; ++i) v[i] = static_cast<unsigned char>(value >> (8 * i));
        add(tag, type, 1, v, size);
    }
    // Sets the value of the entry of `index` (a number that fits the entry).
    void setValue(size_t index, uint64_t value) {
        layout_.putOffset(&bytes_[layout_.count() + index * layout_.entry() + 4 + layout_.offset()],
                          value);
    }
    // Where the entry of `index` and the link to the next page lie.
    uint64_t entryAt(size_t index) const { return at_ + layout_.count() + index * layout_.entry(); }
    uint64_t linkAt() const { return at_ + layout_.count() + entries_ * layout_.entry(); }
    // The samples follow, on a word.
    uint64_t end() {
        if (bytes_.size() % 2) bytes_.push_back(0);
        return at_ + bytes_.size();
    }

  private:
    Layout layout_;
    uint64_t at_;
    size_t entries_;
    size_t added_ = 0;
    std::vector<unsigned char>& bytes_;
};

// Bytes to skip at `end` so that a directory of `entries` starts on a word
// and its link to the next page lies on a multiple of its own size: a
// rewrite of it then never crosses a page of the file.
uint64_t directoryStart(const Layout& layout, uint64_t end, size_t entries) {
    uint64_t at = end;
    while (at % 2 || (at + layout.count() + entries * layout.entry()) % layout.offset()) ++at;
    return at;
}

class OmeTiffWriter final : public SequenceWriter {
  public:
    explicit OmeTiffWriter(std::string path) : path_(std::move(path)) {}

    bool begin(const Sequence& sequence, std::string& error) override {
        sequence_ = sequence;
        frameBytes_ = sequence.frameBytes();
        const double bytes = static_cast<double>(frameBytes_ + 1024) *
                             static_cast<double>(sequence.expectedFrames);
        layout_.big = sequence.expectedFrames == 0 || bytes > kClassicLimit;
        // The header points at no page until the first is whole.
        unsigned char header[16] = {'I', 'I'};
        put16(header + 2, layout_.big ? 43 : 42);
        if (layout_.big) put16(header + 4, 8);
        if (!file_.create(path_) || !file_.append(header, layout_.header()))
            return failed(error, "cannot create");
        linkAt_ = layout_.big ? 8 : 4;
        goodEnd_ = file_.end();
        return true;
    }

    bool write(const unsigned char* samples, const EzFrameInfo& info, std::string& error) override {
        const bool first = !document_;
        if (first) document_ = std::make_unique<OmeDocument>(sequence_, info);
        const size_t entries = first ? 15 : 13;
        const uint64_t at = directoryStart(layout_, file_.end(), entries);
        Directory page(layout_, at, entries, directory_);
        const uint16_t offsetType = layout_.big ? kLong8 : kLong;
        page.number(256, kLong, static_cast<uint64_t>(sequence_.width));
        page.number(257, kLong, static_cast<uint64_t>(sequence_.height));
        page.number(258, kShort, static_cast<uint64_t>(sequence_.depth));
        page.number(259, kShort, 1);  // no compression
        page.number(262, kShort, 1);  // black is zero
        if (first) {
            descriptionAt_ = page.entryAt(5);
            page.add(kDescriptionTag, kAscii, 1, "", 1);  // until the first checkpoint
        }
        const size_t stripOffsetIndex = first ? 6 : 5;
        page.number(273, offsetType, 0);  // below, once the values are placed
        page.number(277, kShort, 1);
        page.number(278, kLong, static_cast<uint64_t>(sequence_.height));
        page.number(279, offsetType, frameBytes_);
        page.number(284, kShort, 1);  // samples of a pixel together
        page.add(305, kAscii, 6, "ezcam", 6);
        page.number(339, kShort, 1);  // unsigned integers
        unsigned char record[kFrameRecordBytes];
        encodeFrame(info, record);
        page.add(kFrameTag, kUndefined, sizeof record, record, sizeof record);
        if (first) {
            const std::string text = describe(sequence_);
            page.add(kRecordingTag, kAscii, text.size() + 1, text.c_str(), text.size() + 1);
        }
        page.setValue(stripOffsetIndex, page.end());
        static const unsigned char kZeros[8] = {};
        iovec pieces[3] = {{const_cast<unsigned char*>(kZeros), at - file_.end()},
                           {directory_.data(), directory_.size()},
                           {const_cast<unsigned char*>(samples), frameBytes_}};
        if (!file_.appendv(pieces, 3)) return failed(error, "cannot write");
        // Whole: now the page before (or the header) points at it.
        unsigned char link[8];
        layout_.putOffset(link, at);
        if (!file_.putAt(linkAt_, link, layout_.offset())) return failed(error, "cannot write");
        linkAt_ = page.linkAt();
        goodEnd_ = file_.end();
        document_->add(info);
        return true;
    }

    bool checkpoint(std::string& error) override {
        if (!document_ || declared_ == document_->planes()) return true;
        return declare(error);
    }

    bool finish(std::string& error) override {
        if (!file_.isOpen()) return true;
        // A page cut short by a failed write is not linked: it goes.
        bool ok = file_.resize(goodEnd_) || failed(error, "cannot complete");
        ok = ok && checkpoint(error);
        if (!file_.close() && ok) ok = failed(error, "cannot complete");
        return ok;
    }

    std::string written() const override { return path_; }

  private:
    struct Region {
        uint64_t at = 0, capacity = 0;
        uint64_t planes = 0;       // planes its OME-XML declares
        uint64_t planesBytes = 0;  // the bytes of their lines
    };

    // Brings the region not pointed at up to date with every page written
    // and points the description at it.
    bool declare(std::string& error) {
        const uint64_t count = document_->planes();
        const std::string prefix = document_->prefix(count);
        const std::string& suffix = document_->suffix();
        Region& region = regions_[1 - active_];
        std::string lines = document_->planeLines(region.planes, count);
        const uint64_t planesBytes = region.planesBytes + lines.size();
        const uint64_t need = prefix.size() + planesBytes + suffix.size() + 1;
        if (need > region.capacity) {
            // Both regions grow at once: the one pointed at is replaced by
            // a copy, so the next update (the last one too, on a disk that
            // has filled up meanwhile) finds its room taken already.
            const uint64_t capacity = 2 * need + kRegionSlack;
            const std::string whole = prefix + document_->planeLines(0, count) + suffix;
            for (Region* r : {&regions_[0], &regions_[1]})
                if (r->capacity < capacity && !makeRegion(*r, whole, capacity, count, error))
                    return false;
        } else {
            std::string tail = lines + suffix;
            tail.push_back('\0');
            if (!file_.putAt(region.at, prefix.data(), prefix.size()) ||
                !file_.putAt(region.at + prefix.size() + region.planesBytes, tail.data(), tail.size()))
                return failed(error, "cannot write");
            region.planes = count;
            region.planesBytes = planesBytes;
        }
        unsigned char pointer[16];
        layout_.big ? put64(pointer, need) : put32(pointer, static_cast<uint32_t>(need));
        layout_.putOffset(pointer + layout_.offset(), region.at);
        if (!file_.putAt(descriptionAt_ + 4, pointer, 2 * layout_.offset()))
            return failed(error, "cannot write");
        active_ = 1 - active_;
        declared_ = count;
        return true;
    }

    // A region at the end holding `xml`, written whole so its room is taken.
    bool makeRegion(Region& region, const std::string& xml, uint64_t capacity, uint64_t planes,
                    std::string& error) {
        std::string text = xml;
        text.resize(capacity, ' ');
        text[xml.size()] = '\0';
        const uint64_t at = file_.end();
        if (!file_.append(text.data(), text.size())) return failed(error, "cannot write");
        goodEnd_ = file_.end();
        region = {at, capacity, planes, xml.size() - document_->prefix(planes).size() -
                                            document_->suffix().size()};
        return true;
    }

    bool failed(std::string& error, const char* what) {
        error = std::string(what) + " " + path_ + ": " + file_.failure();
        return false;
    }

    std::string path_;
    Sequence sequence_;
    size_t frameBytes_ = 0;
    Layout layout_;
    OutFile file_;
    std::vector<unsigned char> directory_;  // the page being written
    uint64_t linkAt_ = 0;        // where the last page's link to the next lies
    uint64_t goodEnd_ = 0;       // the end of the last page or region written whole
    uint64_t descriptionAt_ = 0; // the first page's description entry
    std::unique_ptr<OmeDocument> document_;
    Region regions_[2];
    int active_ = 1;  // the region pointed at (none before the first checkpoint)
    uint64_t declared_ = 0;
};
}  // namespace

std::unique_ptr<SequenceWriter> makeOmeTiffWriter(const std::string& path) {
    return std::make_unique<OmeTiffWriter>(path);
}

namespace {
// A page of a file being repaired.
struct Page {
    uint64_t linkAt = 0;  // its link to the next
    uint64_t end = 0;     // where its directory, values and samples end
    EzFrameInfo info{};
};

// Whether bytes [at, at + count) lie in a file of `size` (without overflow:
// the numbers come from the file).
bool within(uint64_t at, uint64_t count, uint64_t size) {
    return at <= size && count <= size - at;
}

// Reads the pages that are whole, in order, up to the first that is not.
// The first page's description entry and recording text come with them.
bool readPages(OutFile& file, const Layout& layout, std::vector<Page>& pages, Sequence& sequence,
               uint64_t& descriptionAt) {
    const uint64_t size = file.end();
    unsigned char link[8];
    if (!file.readAt(layout.big ? 8 : 4, link, layout.offset())) return false;
    uint64_t at = layout.getOffset(link);
    std::vector<unsigned char> ifd;
    while (at != 0 && at + layout.count() <= size && (pages.empty() || at >= pages.back().end)) {
        unsigned char countBytes[8];
        if (!file.readAt(at, countBytes, layout.count())) break;
        const uint64_t entries = layout.big ? get64(countBytes) : get16(countBytes);
        const uint64_t ifdBytes = layout.count() + entries * layout.entry() + layout.offset();
        if (entries == 0 || entries > 64 || at + ifdBytes > size) break;
        ifd.resize(ifdBytes);
        if (!file.readAt(at, ifd.data(), ifd.size())) break;
        Page page;
        page.linkAt = at + ifdBytes - layout.offset();
        page.end = at + ifdBytes;
        uint64_t stripAt = 0, stripBytes = 0, width = 0, height = 0, bits = 0;
        bool haveRecord = false;
        for (uint64_t i = 0; i < entries; ++i) {
            const unsigned char* e = ifd.data() + layout.count() + i * layout.entry();
            const uint32_t tag = get16(e), type = get16(e + 2);
            const uint64_t count = layout.big ? get64(e + 4) : get32(e + 4);
            const unsigned char* field = e + 4 + layout.offset();
            // A number in the entry, or where the values lie.
            const uint64_t value = type == kShort  ? get16(field)
                                   : type == kLong ? get32(field)
                                                   : layout.getOffset(field);
            switch (tag) {
                case 256: width = value; break;
                case 257: height = value; break;
                case 258: bits = value; break;
                case 273: stripAt = value; break;
                case 279: stripBytes = value; break;
                case kDescriptionTag:
                    if (pages.empty()) descriptionAt = at + layout.count() + i * layout.entry();
                    break;
                case kFrameTag: {
                    unsigned char record[kFrameRecordBytes];
                    haveRecord = count == kFrameRecordBytes && within(value, count, size) &&
                                 file.readAt(value, record, sizeof record) &&
                                 decodeFrame(record, page.info);
                    page.end = std::max(page.end, value + count);
                    break;
                }
                case kRecordingTag:
                    if (pages.empty() && count < 65536 && within(value, count, size)) {
                        std::string text(count, '\0');
                        if (file.readAt(value, text.data(), text.size())) {
                            text.resize(std::strlen(text.c_str()));
                            undescribe(text, sequence);
                        }
                    }
                    break;
                default:
                    break;
            }
        }
        if (!haveRecord || stripBytes == 0 || !within(stripAt, stripBytes, size)) break;
        if (pages.empty()) {
            sequence.width = static_cast<int>(width);
            sequence.height = static_cast<int>(height);
            sequence.depth = static_cast<int>(bits);
            sequence.bayer = page.info.bayer;
        }
        page.end = std::max(page.end, stripAt + stripBytes);
        pages.push_back(page);
        unsigned char next[8];
        if (!file.readAt(page.linkAt, next, layout.offset())) break;
        at = layout.getOffset(next);
    }
    return true;
}
}  // namespace

// An OME-TIFF keeps its pages up to the first that is cut or not linked;
// its OME-XML is written again from their records, and the page before the
// cut ends the chain.
RepairReport repairOmeTiff(const std::string& path) {
    RepairReport report;
    OutFile file;
    unsigned char header[16] = {};
    Layout layout;
    const bool opened = file.openExisting(path) && file.end() >= 8 && file.readAt(0, header, 8);
    const uint32_t magic = get16(header + 2);
    if (!opened || std::memcmp(header, "II", 2) != 0 || (magic != 42 && magic != 43)) {
        report.message = path + " is not a TIFF file written by ezcam" +
                         (file.failure().empty() ? "" : ": " + file.failure());
        return report;
    }
    layout.big = magic == 43;
    std::vector<Page> pages;
    Sequence sequence;
    uint64_t descriptionAt = 0;
    readPages(file, layout, pages, sequence, descriptionAt);
    if (pages.empty() || descriptionAt == 0) {
        report.message = path + " holds no whole page of a recording";
        return report;
    }
    OmeDocument document(sequence, pages.front().info);
    for (const Page& page : pages) document.add(page.info);
    const std::string xml = document.prefix(pages.size()) +
                            document.planeLines(0, pages.size()) + document.suffix();
    // Already whole: the chain ends at the last page and the OME-XML
    // declares every page.
    unsigned char link[8] = {}, entry[16] = {};
    file.readAt(pages.back().linkAt, link, layout.offset());
    file.readAt(descriptionAt + 4, entry, 2 * layout.offset());
    const uint64_t described = layout.big ? get64(entry) : get32(entry);
    std::string current(described == xml.size() + 1 ? described : 0, '\0');
    const bool whole = layout.getOffset(link) == 0 && described == xml.size() + 1 &&
                       file.readAt(layout.getOffset(entry + layout.offset()), current.data(),
                                   current.size()) &&
                       current.compare(0, xml.size(), xml) == 0;
    report.frames = report.timed = pages.size();
    if (whole) {
        report.ok = file.close();
        report.message = path + " is complete: " + std::to_string(pages.size()) + " frames";
        return report;
    }
    const uint64_t end = pages.back().end;
    unsigned char none[8] = {};
    unsigned char pointer[16];
    layout.big ? put64(pointer, xml.size() + 1) : put32(pointer, static_cast<uint32_t>(xml.size() + 1));
    layout.putOffset(pointer + layout.offset(), end);
    const bool ok = file.resize(end) && file.append(xml.c_str(), xml.size() + 1) &&
                    file.putAt(pages.back().linkAt, none, layout.offset()) &&
                    file.putAt(descriptionAt + 4, pointer, 2 * layout.offset()) && file.close();
    if (!ok) {
        report.message = "cannot repair " + path + ": " + file.failure();
        return report;
    }
    report.ok = report.changed = true;
    report.message = "repaired " + path + ": " + std::to_string(pages.size()) +
                     " frames, each with its time and exposure";
    return report;
}

}  // namespace recording
