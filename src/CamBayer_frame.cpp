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
constexpr uint16_t kUnmarkedRelease = 0xa001;  // hardware whose header carries no marker

bool isMarker(const unsigned char* bytes) {
    for (int i = 0; i < kMarkerBytes; ++i)
        if (bytes[i] != kMarker) return false;
    return true;
}
}  // namespace

int CamBayer::_raw_data(unsigned char* buffer, int size) {
    FramePlan plan;
    {
        auto lock = lockSettings();
        if (!buffer || size <= 0) return -2;
        plan.resolution = resolution.value;
        framePlan(plan);
        // Every later step stays inside what is checked here: the transfer,
        // the record over the header and the samples it describes.
        const uint64_t pixels = static_cast<uint64_t>(plan.width) * plan.height * (plan.depth / 8);
        const uint64_t needed = std::max({static_cast<uint64_t>(plan.offset) + plan.length,
                                          static_cast<uint64_t>(headLen) + pixels, plan.needed,
                                          static_cast<uint64_t>(sizeof(_ezImage))});
        if (needed > static_cast<uint64_t>(size) || headLen < static_cast<int>(sizeof(_ezImage)))
            return -2;
        sendPending();
    }

    // No lock while the transfer waits: setters go on meanwhile.
    int received = 0;
    _read_bulk_data(buffer + plan.offset, static_cast<int>(plan.length), &received);
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
    frameShape(image);
    if (regionOrProgram(image, plan.resolution) < 0) return -3;
    if (autoExposure) _calc_auto_exposure(image, aeInterval);
    return frameFinish(image, framing);
}

void CamBayer::framePlan(FramePlan& plan) {
    int width = 0;
    int height = 0;
    if (roiActive) {
        width = urbRoiSize.value;
        height = urbRoiSize.index;
    } else if (const ResolutionEntry* entry = resolutionEntry(resolution.value)) {
        width = entry->width;
        height = entry->height;
    }
    plan.width = width;
    plan.height = height;
    plan.depth = rawDepth.value == 16 ? 16 : 8;
    plan.offset = 0;
    const uint32_t pixelBytes = (static_cast<uint32_t>(width) * static_cast<uint32_t>(height) *
                                 static_cast<uint32_t>(plan.depth)) >>
                                3;
    uint64_t length = static_cast<uint64_t>(pixelBytes) + static_cast<uint32_t>(headLen);
    if (packetLen > 0) length -= length % static_cast<uint32_t>(packetLen);
    plan.length = static_cast<uint32_t>(std::min<uint64_t>(length, INT32_MAX));
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
    // A transfer that cannot even hold the marker is no frame, marked or not.
    if (plan.received < kMarkerBytes) return -3;
    if (bcdDevice != kUnmarkedRelease && !isMarker(buffer)) return -3;
    // A marker at the start of a later packet: the transfer ran into the
    // next frame.
    if (packetLen >= kMarkerBytes) {
        const int packets = plan.received / packetLen;
        for (int k = 1; k < packets; ++k)
            if (isMarker(buffer + static_cast<size_t>(k) * packetLen)) return -3;
    }
    return 0;
}

void CamBayer::frameShape(_ezImage* image) {
    // The device sends 16-bit samples most significant byte first.
    if (image->depth == 16) __rmac(image, 0);
}

int CamBayer::frameFinish(_ezImage*, int result) {
    return result;
}

int CamBayer::regionOrProgram(_ezImage* image, int frameResolution) {
    if (!roiRequested) return 0;
    // The mode changed while the transfer waited: this frame is of the old
    // one and the region was fitted to the new one, whose request has to
    // reach the camera first. The region waits for the next frame.
    if (resolutionPending || resolution.value != frameResolution) return 0;
    bool program = false;
    switch (roiRule.when) {
        case RoiRule::FirstResolution:
            program = resolution.value == 0;
            break;
        case RoiRule::FullWidth: {
            const ResolutionEntry* entry = resolutionEntry(resolution.value);
            program = entry && entry->width == roiRule.fullWidth;
            break;
        }
        case RoiRule::Always:
            program = true;
            break;
    }
    if (program) {
        sendRequest(urbRoiOrigin);
        sendRequest(urbRoiSize);
        roiRequested = 0;
        roiActive = 1;
        return roiRule.dropFrame ? -3 : 0;
    }
    const int x = urbRoiOrigin.value;
    const int y = urbRoiOrigin.index;
    const int width = urbRoiSize.value;
    const int height = urbRoiSize.index;
    // The region was fitted to this resolution when it was set; a frame of
    // another size is left whole rather than cut outside its samples.
    if (width > 0 && height > 0 && x + width <= image->width && y + height <= image->height)
        __roi(image, x, y, width, height);
    return 0;
}

int CamBayer::_raw_data_asyn(EzFrameCallback callback, unsigned char* buffer, int size) {
    asyncCallback = callback;
    asyncBuffer = buffer;
    asyncSize = size;
    asyncPending = 1;
    return size >= bodyLen ? 0 : -2;
}
