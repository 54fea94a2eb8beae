// The frame reader: planning a transfer, judging what arrived, shaping the
// samples and describing the frame.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camera/frame_reader.h"
#include "processing/geometry.h"

namespace {
constexpr int kMarkerBytes = 10;
constexpr unsigned char kMarker = 0x88;
constexpr unsigned char kCaptureFlag = 0xcc;   // the camera's capture button was pressed
constexpr unsigned char kNextFrame = 0xbb;     // opens a signed frame's packet of the next frame
constexpr uint16_t kUnmarkedRelease = 0xa001;  // hardware whose header carries no marker

// Ten bytes of the value: a frame start.
bool isMarker(const unsigned char* bytes, unsigned char value = kMarker) {
    for (int i = 0; i < kMarkerBytes; ++i)
        if (bytes[i] != value) return false;
    return true;
}
constexpr int64_t kTemperatureEveryNs = 1'000'000'000;  // a status request at most once a second

int64_t nanoseconds(const timespec& t) {
    return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

// Binning a mode's label states ("672X504 2x2Bin", "1016X760 2x2 Bin"): the
// N of "NxN" before "Bin"; 1 without "Bin"; 0 for "Bin" without a factor.
int labelBinning(const char* label) {
    const std::string text = label ? label : "";
    const size_t bin = text.find("Bin");
    if (bin == std::string::npos) return 1;
    const size_t x = text.rfind('x', bin);
    if (x == std::string::npos || x == 0 || !std::isdigit(static_cast<unsigned char>(text[x - 1])))
        return 0;
    size_t from = x;
    while (from > 0 && std::isdigit(static_cast<unsigned char>(text[from - 1]))) --from;
    return std::atoi(text.c_str() + from);
}
}  // namespace

void FrameReader::plan(FramePlan& plan) const {
    const SensorControl& s = sensor_;
    const ResolutionEntry* entry = s.resolutionEntry(s.resolution.value);
    int width = 0;
    int height = 0;
    if (s.roiActive) {
        // The device sends the region it was programmed with, also when
        // another one is waiting to replace it.
        width = s.roiInSensor.width;
        height = s.roiInSensor.height;
    } else if (entry) {
        width = entry->width;
        height = entry->height;
    }
    if (const ModeReadout* readout = s.roiActive ? nullptr : s.readoutInForce()) {
        width = readout->width;
        height = readout->height;
        plan.binX = readout->binX;
        plan.binY = readout->binY;
        if (readout->cutX > 0 && entry) {
            plan.cutX = readout->cutX;
            plan.cutWidth = entry->width;
            plan.cutHeight = entry->height;
        }
    }
    plan.width = width;
    plan.height = height;
    plan.depth = s.rawDepth.value == 16 ? 16 : 8;
    const uint32_t bytesPerSample = static_cast<uint32_t>(plan.depth / 8);
    const uint64_t samples = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t packet = s.packetLen > 0 ? static_cast<uint64_t>(s.packetLen) : 1;

    static constexpr FrameLayout kMarkedHeader{{}, FrameLayout::Header, false, false};
    const FrameLayout* found = s.layoutInForce();
    const FrameLayout& layout = found ? *found : kMarkedHeader;
    plan.layout = layout.kind;
    plan.captureFlag = layout.captureFlag;
    plan.hostOrder = layout.hostOrder;
    // Header layouts send their header area first, then width x height
    // samples; the others send the samples (the table gives their byte
    // count, or, for a region programmed into the sensor, the region's size
    // in whole packets) after the header area, then what closes the frame.
    const bool headerFirst =
        layout.kind == FrameLayout::Header || layout.kind == FrameLayout::Unmarked;
    plan.offset = headerFirst ? 0 : s.headLen;
    uint64_t pixelBytes = 0;
    // A region programmed into the sensor arrives in whole packets, except
    // where the device sends it whole.
    if (headerFirst || layout.kind == FrameLayout::Signature ||
        (s.roiActive && layout.kind == FrameLayout::Tail4))
        pixelBytes = samples;
    else if (s.roiActive)
        pixelBytes = samples - samples % packet;
    else if (entry)
        pixelBytes = static_cast<uint64_t>(std::max(entry->frameBytes, 0));
    pixelBytes *= bytesPerSample;
    // A device that sends one header area more in its full 16-bit mode.
    if (layout.headAt16Full && plan.depth == 16 && !s.roiActive && s.resolution.value == 0)
        pixelBytes += static_cast<uint32_t>(s.headLen);
    uint64_t expected = pixelBytes;
    uint64_t asked = 0;
    switch (layout.kind) {
        case FrameLayout::Trailer:
            expected += 3;
            break;
        case FrameLayout::PaddedTrailer:
            expected += packet;
            asked = expected + packet;
            break;
        case FrameLayout::ExtraByte:
            expected += 1;
            break;
        case FrameLayout::Signature:
            // Asked in whole header areas; the samples alone make a frame.
            asked = pixelBytes + static_cast<uint32_t>(s.headLen);
            if (s.headLen > 0) asked -= asked % static_cast<uint32_t>(s.headLen);
            break;
        case FrameLayout::Trailer4:
            expected += 4;
            asked = pixelBytes + 2 * static_cast<uint32_t>(s.headLen);
            break;
        case FrameLayout::Tail4:
            expected += 4;
            break;
        case FrameLayout::Header:
        case FrameLayout::Unmarked:
            expected += static_cast<uint32_t>(s.headLen);
            break;
        case FrameLayout::Bare:
            break;
    }
    // Asking for more than a frame lets an over-long one show as such. A
    // frame ending in a part packet ends its transfer with a short packet;
    // a frame of whole packets is asked exactly where the layout wants that
    // or sends its header first (more would wait for the next frame).
    if (asked == 0)
        asked = (layout.exactRequest || headerFirst) && expected % packet == 0
                    ? expected
                    : expected + static_cast<uint32_t>(s.headLen);
    // A count no buffer could hold fails the size check and is never read.
    constexpr uint64_t kLimit = INT32_MAX;
    plan.pixelBytes = static_cast<uint32_t>(std::min(pixelBytes, kLimit));
    plan.expected = static_cast<uint32_t>(std::min(expected, kLimit));
    plan.length = static_cast<uint32_t>(std::min(asked, kLimit));
}

bool FrameReader::fits(FramePlan& plan, int size) const {
    const int headLen = sensor_.headLen;
    const uint64_t pixels = static_cast<uint64_t>(plan.width) * plan.height * (plan.depth / 8);
    const uint64_t needed = std::max({static_cast<uint64_t>(plan.offset) + plan.expected,
                                      static_cast<uint64_t>(headLen) + pixels, plan.needed,
                                      static_cast<uint64_t>(sizeof(_ezImage))});
    if (size <= 0 || needed > static_cast<uint64_t>(size) ||
        headLen < static_cast<int>(sizeof(_ezImage)))
        return false;
    // A buffer without room for the surplus asked beyond the frame gets the
    // frame asked exactly.
    plan.length = static_cast<uint32_t>(
        std::min<uint64_t>(plan.length, static_cast<uint64_t>(size) - plan.offset));
    return true;
}

int FrameReader::check(unsigned char* buffer, const FramePlan& plan) const {
    const SensorControl& s = sensor_;
    // Every layout alike: a transfer that failed (stall, time-out, a device
    // gone mid-transfer) or that holds another count than the frame's is no
    // frame, whatever its markers say.
    const uint32_t received = static_cast<uint32_t>(plan.received);
    if (!plan.transferOk || received != plan.expected || received < kMarkerBytes) return EZ_EIO;
    // Every count below was checked against the caller's buffer by the plan.
    unsigned char* transfer = buffer + plan.offset;
    unsigned char* samples = buffer + s.headLen;
    if (!marks(transfer, samples, plan)) return EZ_EIO;
    const bool capture = plan.captureFlag && transfer[received - 2] == kCaptureFlag;

    // Samples the record describes but the device did not send (a table
    // count below width x height, a region lowered to whole packets) read
    // as black rather than as whatever the buffer held before.
    const uint64_t sampleBytes =
        static_cast<uint64_t>(plan.width) * static_cast<uint64_t>(plan.height) * (plan.depth / 8);
    if (plan.pixelBytes < sampleBytes)
        std::memset(samples + plan.pixelBytes, 0, sampleBytes - plan.pixelBytes);
    return capture ? EZ_CAPTURE : EZ_OK;
}

bool FrameReader::marks(unsigned char* transfer, unsigned char* samples,
                        const FramePlan& plan) const {
    const SensorControl& s = sensor_;
    const uint32_t received = static_cast<uint32_t>(plan.received);
    // A frame start at the start of a later packet: the transfer ran into
    // the next frame.
    const auto runsOn = [&](unsigned char start) {
        if (s.packetLen < kMarkerBytes) return false;
        const uint32_t packet = static_cast<uint32_t>(s.packetLen);
        for (uint32_t at = packet; at + kMarkerBytes <= received; at += packet)
            if (isMarker(transfer + at, start)) return true;
        return false;
    };
    switch (plan.layout) {
        case FrameLayout::Header:
            if (s.release != kUnmarkedRelease && !isMarker(transfer)) return false;
            return !runsOn(kMarker);
        case FrameLayout::Signature: {
            if (plan.pixelBytes < 22 || std::memcmp(samples, "XTDT", 4) != 0) return false;
            // A frame whose first samples are all zero is a blank transfer.
            bool blank = true;
            for (int i = 12; i < 22 && blank; ++i) blank = samples[i] == 0;
            return !blank && !runsOn(kNextFrame);
        }
        case FrameLayout::Trailer:
            if (samples[plan.pixelBytes] != kMarker) return false;
            samples[plan.pixelBytes] = 0;  // the marker is no sample
            return true;
        case FrameLayout::PaddedTrailer:
            return transfer[received - 3] == kMarker;
        case FrameLayout::Bare:
            transfer[received - 3] = 0;
            return true;
        case FrameLayout::Trailer4:
            if (samples[plan.pixelBytes] != kMarker) return false;
            samples[plan.pixelBytes + 1] = 0;
            return true;
        case FrameLayout::Unmarked:  // a header area nobody examines
        case FrameLayout::ExtraByte:
        case FrameLayout::Tail4:
            return true;
    }
    return false;
}

void FrameReader::shape(_ezImage* image, const FramePlan& plan) const {
    const SensorControl& s = sensor_;
    // The device sends 16-bit samples most significant byte first, or as
    // 12-bit packs where its frames carry a signature, unless its layout
    // says they arrive in host order.
    if (image->depth == 16 && !plan.hostOrder)
        __rmac(image, plan.layout == FrameLayout::Signature ? 1 : 0);
    if (plan.binX > 1 || plan.binY > 1) {
        // A colour sensor's mosaic is binned colour by colour.
        if (s.channels == 3)
            __cbin(image, plan.binX, plan.binY);
        else
            __mbin(image, plan.binX, plan.binY);
    }
    if (plan.cutX >= 0) __roi(image, plan.cutX, 0, plan.cutWidth, plan.cutHeight);
}



void FrameReader::restartCount() {
    const int8_t temperatureState = tally_.temperatureState;
    tally_ = Tally{};
    // Whether the model has a temperature does not change with the stream.
    if (temperatureState < 0) tally_.temperatureState = temperatureState;
}

void FrameReader::note(int result, unsigned char* buffer, const FramePlan& plan,
                       EzFrameInfo* info, bool keep) {
    if (result != EZ_OK && result != EZ_CAPTURE && result != EZ_EIO) return;
    const SensorControl& s = sensor_;
    Tally& tally = tally_;
    frame::clearFacts(buffer, static_cast<size_t>(s.headLen));
    if (result == EZ_EIO) {
        ++tally.lost;
        if (plan.modeChange) ++tally.modeDrops;
        if (info) {
            info->frames_lost = tally.lost;
            info->mode_drops = tally.modeDrops;
        }
        return;
    }

    const uint64_t number = tally.delivered++;
    if (!info && !keep) return;

    // The temperature is asked only for callers that want the frame
    // described, so plain reads send nothing more than the frame request.
    const int64_t now = nanoseconds(plan.transferEnd);
    if (tally.temperatureState >= 0 &&
        (tally.temperatureAskedNs == 0 || now - tally.temperatureAskedNs >= kTemperatureEveryNs)) {
        tally.temperatureAskedNs = now;
        float celsius = 0.0f;
        const int status = ops_._temperature(&celsius);
        if (status == EZ_OK) {
            tally.temperature = celsius;
            tally.temperatureState = 1;
        } else if (status == EZ_ENOTSUP) {
            tally.temperatureState = -1;
        }
    }

    const auto* image = reinterpret_cast<const _ezImage*>(buffer);
    EzFrameInfo out{};
    out.frame = number;
    out.frames_lost = tally.lost;
    out.mode_drops = tally.modeDrops;
    out.monotonic_ns = now;
    out.utc_ns = nanoseconds(plan.transferEndUtc);
    out.exposure_ms = s.exposureInForce();
    out.has_temperature = tally.temperatureState > 0 ? 1 : 0;
    out.temperature = tally.temperature;
    out.analog_gain = s.analogGain.value;
    out.black_level = s.blackLevel.value;
    out.pixel_clock = s.pixelClock.value;
    out.resolution = plan.resolution;
    out.width = image->width;
    out.height = image->height;
    // A frame of the programmed region's size is that region; otherwise one
    // of the requested region's size was cut out in memory.
    if (s.roiActive && image->width == s.roiInSensor.width && image->height == s.roiInSensor.height) {
        out.roi_x = s.roiInSensor.x;
        out.roi_y = s.roiInSensor.y;
    } else if (s.roiRequested && image->width == s.urbRoiSize.value &&
               image->height == s.urbRoiSize.index) {
        out.roi_x = s.urbRoiOrigin.value;
        out.roi_y = s.urbRoiOrigin.index;
    }
    if (plan.binX > 1 || plan.binY > 1) {
        out.x_binning = plan.binX;
        out.y_binning = plan.binY;
    } else {
        const ResolutionEntry* entry = s.resolutionEntry(plan.resolution);
        out.x_binning = out.y_binning = labelBinning(entry ? entry->label : nullptr);
    }
    out.depth = image->depth;
    out.bayer = s.channels == 1 ? 0 : s.bayerPattern;
    if (info) *info = out;
    tally.latest = out;
    frame::storeFacts(buffer, static_cast<size_t>(s.headLen), out);
}

unsigned FrameReader::timeoutMs() const {
    // Twice the exposure plus two seconds, capped at a day.
    double milliseconds = sensor_.exposureMs();
    if (!(milliseconds >= 0.0)) milliseconds = 0.0;
    return static_cast<unsigned>(std::min(2000.0 + 2.0 * milliseconds, 86400000.0));
}
