// Frame acquisition: the one reading procedure every model runs, its base
// steps, the asynchronous request and the region of interest at the frame
// boundary.
#include <algorithm>
#include <cstring>

#include "CamBayer.h"
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
}  // namespace

int CamBayer::_raw_data(unsigned char* buffer, int size) {
    return rawDataInfo(buffer, size, nullptr);
}

int CamBayer::rawDataInfo(unsigned char* buffer, int size, EzFrameInfo* info) {
    FramePlan plan;
    const int result = readFrame(buffer, size, plan);
    // Whatever a lost frame left in the buffer is no image: without the
    // record no call takes it for one. (-3 comes only after the size check.)
    if (result == -3) std::memset(buffer, 0, sizeof(_ezImage));
    noteFrame(result, buffer, plan, info);
    return result;
}

int CamBayer::readFrame(unsigned char* buffer, int size, FramePlan& plan) {
    {
        auto lock = lockSettings();
        if (!buffer || size <= 0) return EZ_ERANGE;
        plan.resolution = resolution.value;
        framePlan(plan);
        // Every later step stays inside what is checked here: the transfer,
        // the record over the header and the samples it describes.
        const uint64_t pixels = static_cast<uint64_t>(plan.width) * plan.height * (plan.depth / 8);
        const uint64_t needed = std::max({static_cast<uint64_t>(plan.offset) + plan.expected,
                                          static_cast<uint64_t>(headLen) + pixels, plan.needed,
                                          static_cast<uint64_t>(sizeof(_ezImage))});
        if (needed > static_cast<uint64_t>(size) || headLen < static_cast<int>(sizeof(_ezImage)))
            return EZ_ERANGE;
        // A buffer without room for the surplus asked beyond the frame gets
        // the frame asked exactly.
        plan.length = static_cast<uint32_t>(
            std::min<uint64_t>(plan.length, static_cast<uint64_t>(size) - plan.offset));
        plan.modeChange = resolutionPending || pixelClockPending || roiRequested;
        sendPending();
    }

    // No lock while the transfer waits: setters go on meanwhile.
    int received = 0;
    plan.transferOk =
        _read_bulk_data(buffer + plan.offset, static_cast<int>(plan.length), &received) == 0;
    clock_gettime(CLOCK_MONOTONIC, &plan.transferEnd);
    clock_gettime(CLOCK_REALTIME, &plan.transferEndUtc);
    plan.received = std::clamp(received, 0, static_cast<int>(plan.length));

    auto lock = lockSettings();
    if (acknowledgeFrames) sendRequest(urbFrameRequest);
    const int framing = frameCheck(buffer, plan);
    if (framing < 0) return framing;

    auto* image = reinterpret_cast<_ezImage*>(buffer);
    // The record names the mode the frame was asked in: a setter may have
    // chosen another one while the transfer waited.
    ezInitImageHeader(image, plan.width, plan.height, 1, plan.depth, headLen, buffer + headLen,
                      plan.resolution, 0);
    frameShape(image, plan);
    if (regionOrProgram(image, plan.resolution) < 0) return EZ_EIO;
    if (autoExposure) _calc_auto_exposure(image, aeInterval);
    return frameFinish(image, framing);
}

void CamBayer::framePlan(FramePlan& plan) {
    const ResolutionEntry* entry = resolutionEntry(resolution.value);
    int width = 0;
    int height = 0;
    if (roiActive) {
        // The device sends the region it was programmed with, also when
        // another one is waiting to replace it.
        width = roiInSensor.width;
        height = roiInSensor.height;
    } else if (entry) {
        width = entry->width;
        height = entry->height;
    }
    if (const ModeReadout* readout =
            roiActive ? nullptr
                      : findReadout(static_cast<const ResolutionEntry*>(resolution.table),
                                    resolution.value)) {
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
    plan.depth = rawDepth.value == 16 ? 16 : 8;
    const uint32_t bytesPerSample = static_cast<uint32_t>(plan.depth / 8);
    const uint64_t samples = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    const uint64_t packet = packetLen > 0 ? static_cast<uint64_t>(packetLen) : 1;

    static constexpr FrameLayout kMarkedHeader{{}, FrameLayout::Header, false, false};
    const FrameLayout* found = layoutInForce();
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
    plan.offset = headerFirst ? 0 : headLen;
    uint64_t pixelBytes = 0;
    // A region programmed into the sensor arrives in whole packets, except
    // where the device sends it whole.
    if (headerFirst || layout.kind == FrameLayout::Signature ||
        (roiActive && layout.kind == FrameLayout::Tail4))
        pixelBytes = samples;
    else if (roiActive)
        pixelBytes = samples - samples % packet;
    else if (entry)
        pixelBytes = static_cast<uint64_t>(std::max(entry->frameBytes, 0));
    pixelBytes *= bytesPerSample;
    // A device that sends one header area more in its full 16-bit mode.
    if (layout.headAt16Full && plan.depth == 16 && !roiActive && resolution.value == 0)
        pixelBytes += static_cast<uint32_t>(headLen);
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
            asked = pixelBytes + static_cast<uint32_t>(headLen);
            if (headLen > 0) asked -= asked % static_cast<uint32_t>(headLen);
            break;
        case FrameLayout::Trailer4:
            expected += 4;
            asked = pixelBytes + 2 * static_cast<uint32_t>(headLen);
            break;
        case FrameLayout::Tail4:
            expected += 4;
            break;
        case FrameLayout::Header:
        case FrameLayout::Unmarked:
            expected += static_cast<uint32_t>(headLen);
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
                    : expected + static_cast<uint32_t>(headLen);
    // A count no buffer could hold fails the size check and is never read.
    constexpr uint64_t kLimit = INT32_MAX;
    plan.pixelBytes = static_cast<uint32_t>(std::min(pixelBytes, kLimit));
    plan.expected = static_cast<uint32_t>(std::min(expected, kLimit));
    plan.length = static_cast<uint32_t>(std::min(asked, kLimit));
}

const FrameLayout* CamBayer::layoutInForce() const {
    for (const FrameLayout& layout : frameLayouts)
        if (layout.releases.contains(bcdDevice)) return &layout;
    return nullptr;
}

void CamBayer::sendPending() {
    if (resolutionPending) {
        resolutionPending = 0;
        sendRequest(resolution.urb);
    }
    if (pixelClockPending) {
        pixelClockPending = 0;
        sendRequest(pixelClock.urb);
    }
}

int CamBayer::frameCheck(unsigned char* buffer, const FramePlan& plan) {
    // Every layout alike: a transfer that failed (stall, time-out, a device
    // gone mid-transfer) or that holds another count than the frame's is no
    // frame, whatever its markers say.
    const uint32_t received = static_cast<uint32_t>(plan.received);
    if (!plan.transferOk || received != plan.expected || received < kMarkerBytes) return EZ_EIO;
    // Every count below was checked against the caller's buffer by the plan.
    unsigned char* transfer = buffer + plan.offset;
    unsigned char* samples = buffer + headLen;
    if (!framingMarks(transfer, samples, plan)) return EZ_EIO;
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

bool CamBayer::framingMarks(unsigned char* transfer, unsigned char* samples,
                            const FramePlan& plan) const {
    const uint32_t received = static_cast<uint32_t>(plan.received);
    // A frame start at the start of a later packet: the transfer ran into
    // the next frame.
    const auto runsOn = [&](unsigned char start) {
        if (packetLen < kMarkerBytes) return false;
        const uint32_t packet = static_cast<uint32_t>(packetLen);
        for (uint32_t at = packet; at + kMarkerBytes <= received; at += packet)
            if (isMarker(transfer + at, start)) return true;
        return false;
    };
    switch (plan.layout) {
        case FrameLayout::Header:
            if (bcdDevice != kUnmarkedRelease && !isMarker(transfer)) return false;
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

void CamBayer::frameShape(_ezImage* image, const FramePlan& plan) {
    // The device sends 16-bit samples most significant byte first, or as
    // 12-bit packs where its frames carry a signature, unless its layout
    // says they arrive in host order.
    if (image->depth == 16 && !plan.hostOrder)
        __rmac(image, plan.layout == FrameLayout::Signature ? 1 : 0);
    if (plan.binX > 1 || plan.binY > 1) {
        // A colour sensor's mosaic is binned colour by colour.
        if (channels == 3)
            __cbin(image, plan.binX, plan.binY);
        else
            __mbin(image, plan.binX, plan.binY);
    }
    if (plan.cutX >= 0) __roi(image, plan.cutX, 0, plan.cutWidth, plan.cutHeight);
}

int CamBayer::frameFinish(_ezImage* image, int result) {
    if (runsDefectStep) result = defectStep(image, result);
    if (fluorescenceInterval > 0 && (fluoGuideOn || fluoGuideEnd)) {
        const int guide = _fluorescence(image, fluorescenceInterval);
        if (guide != 0) return guide;
    }
    return result;
}

bool CamBayer::regionProgrammed() const {
    const FrameLayout* layout = layoutInForce();
    const RoiRule rule = layout ? layout->roi : RoiRule{};
    switch (rule.when) {
        case RoiRule::FirstResolution:
            return resolution.value == 0;
        case RoiRule::FullWidth: {
            const ResolutionEntry* entry = resolutionEntry(resolution.value);
            return entry && entry->width == rule.fullWidth;
        }
        case RoiRule::Always:
            return true;
        case RoiRule::Never:
            break;
    }
    return false;
}

int CamBayer::regionOrProgram(_ezImage* image, int frameResolution) {
    if (!roiRequested) return EZ_OK;
    // The mode changed while the transfer waited: this frame is of the old
    // one and the region was fitted to the new one, whose request has to
    // reach the camera first. The region waits for the next frame.
    if (resolutionPending || resolution.value != frameResolution) return EZ_OK;
    if (regionProgrammed()) {
        const FrameLayout* layout = layoutInForce();
        const RoiRule rule = layout ? layout->roi : RoiRule{};
        sendRequest(urbRoiOrigin);
        sendRequest(urbRoiSize);
        roiInSensor = {urbRoiOrigin.value, urbRoiOrigin.index, urbRoiSize.value, urbRoiSize.index};
        roiRequested = 0;
        roiActive = 1;
        return rule.dropFrame ? EZ_EIO : EZ_OK;
    }
    const int x = urbRoiOrigin.value;
    const int y = urbRoiOrigin.index;
    const int width = urbRoiSize.value;
    const int height = urbRoiSize.index;
    // The region was fitted to this resolution when it was set; a frame of
    // another size is left whole rather than cut outside its samples.
    if (width > 0 && height > 0 && x + width <= image->width && y + height <= image->height)
        __roi(image, x, y, width, height);
    return EZ_OK;
}

int CamBayer::_raw_data_asyn(EzFrameCallback callback, unsigned char* buffer, int size) {
    asyncCallback = callback;
    asyncBuffer = buffer;
    asyncSize = size;
    asyncPending = 1;
    return size >= bodyLen ? EZ_OK : EZ_ERANGE;
}
