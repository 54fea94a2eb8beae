// The frame's path through the camera: the one reading procedure every
// model runs, the finishing of a raw frame into an image, and the consumers
// of finished frames (stills). Each step is a part's; this file only hands
// the frame on:
//
//   SensorControl::sendPending        requests due before the read
//   DeviceLink::bulkRead              the transfer (no lock held)
//   FrameReader::check, shape         is it a frame, samples to final form
//   SensorControl::regionAtBoundary   program or cut the region
//   ExposureLoop::stepExposure        automatic exposure
//   frameFinish                       defects, black field, fluorescence guide
//   FrameReader::note                 counts; the frame's facts into its header
//   ... the caller holds the frame ...
//   FramePipeline::run                with the masters of the frame's own conditions
//   StillCapture                      the armed still, from the finished frame
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "camera/cam_bayer.h"
#include "ezImage/registry.h"
#include "pipeline/white_balance.h"
#include "processing/geometry.h"
#include "processing/measure.h"
#include "shared_state.h"

// ---- Reading -------------------------------------------------------------

int CamBayer::_raw_data(unsigned char* buffer, int size) {
    return rawDataInfo(buffer, size, nullptr);
}

int CamBayer::rawDataInfo(unsigned char* buffer, int size, EzFrameInfo* info) {
    FramePlan plan;
    auto lock = lockSettings();
    const int result = readFrame(buffer, size, plan);
    if (result == EZ_ERANGE) return result;
    // Whatever a lost frame left in the buffer is no image: without the
    // record no call takes it for one.
    if (result == EZ_EIO) std::memset(buffer, 0, sizeof(_ezImage));
    reader_.note(result, buffer, plan, info, calibration_.on());
    return result;
}

void CamBayer::restartFrameCount() {
    auto lock = lockSettings();
    reader_.restartCount();
}

// Called with the settings lock held; releases it only for the transfer.
int CamBayer::readFrame(unsigned char* buffer, int size, FramePlan& plan) {
    if (!buffer || size <= 0) return EZ_ERANGE;
    plan.resolution = sensor_.resolution.value;
    framePlan(plan);
    if (!reader_.fits(plan, size)) return EZ_ERANGE;
    plan.modeChange =
        sensor_.resolutionPending || sensor_.pixelClockPending || sensor_.roiRequested;
    plan.timeoutMs = reader_.timeoutMs();
    sendPending();

    {
        // No lock while the transfer waits: setters go on meanwhile.
        settingsMutex_.unlock();
        int received = 0;
        plan.transferOk = link_.bulkRead(buffer + plan.offset, static_cast<int>(plan.length),
                                         &received, plan.timeoutMs) == EZ_OK;
        clock_gettime(CLOCK_MONOTONIC, &plan.transferEnd);
        clock_gettime(CLOCK_REALTIME, &plan.transferEndUtc);
        plan.received = std::clamp(received, 0, static_cast<int>(plan.length));
        settingsMutex_.lock();
    }

    sensor_.sendRequest(sensor_.urbFrameRequest);
    const int framing = frameCheck(buffer, plan);
    if (framing < 0) return framing;

    auto* image = reinterpret_cast<_ezImage*>(buffer);
    // The record names the mode the frame was asked in: a setter may have
    // chosen another one while the transfer waited.
    ezInitImageHeader(image, plan.width, plan.height, 1, plan.depth, sensor_.headLen,
                      buffer + sensor_.headLen, plan.resolution, 0);
    frameShape(image, plan);
    if (sensor_.regionAtBoundary(image, plan.resolution) < 0) return EZ_EIO;
    if (exposure_.on) _calc_auto_exposure(image, aeInterval_);
    return frameFinish(image, framing);
}

void CamBayer::framePlan(FramePlan& plan) {
    reader_.plan(plan);
}
void CamBayer::sendPending() {
    sensor_.sendPending();
}
int CamBayer::frameCheck(unsigned char* buffer, const FramePlan& plan) {
    return reader_.check(buffer, plan);
}
void CamBayer::frameShape(_ezImage* image, const FramePlan& plan) {
    reader_.shape(image, plan);
}
int CamBayer::frameFinish(_ezImage* image, int result) {
    if (runsDefectStep_) result = pipeline_.defects.step(image, result);
    if (fluorescenceInterval_ > 0 && fluo_.running()) {
        const int guide = _fluorescence(image, fluorescenceInterval_);
        if (guide != 0) return guide;
    }
    return result;
}

int CamBayer::_raw_data_asyn(EzFrameCallback callback, unsigned char* buffer, int size) {
    asyncCallback_ = callback;
    asyncBuffer_ = buffer;
    asyncSize_ = size;
    asyncPending_ = 1;
    return size >= sensor_.bodyLen ? EZ_OK : EZ_ERANGE;
}

// ---- Finishing -------------------------------------------------------------

calib::Conditions CamBayer::conditionsOf(const EzFrameInfo& info) {
    auto lock = lockSettings();
    const char* clock = _pixsclock_string_at_index(info.pixel_clock);
    calib::Conditions c =
        calib::conditionsOf(info, modelName_, link_.release(), clock ? clock : "");
    c.camera = name_;
    return c;
}

std::optional<calib::Conditions> CamBayer::latestConditions() {
    std::optional<EzFrameInfo> latest;
    {
        auto lock = lockSettings();
        latest = reader_.latest();
    }
    if (!latest) return std::nullopt;
    return conditionsOf(*latest);
}

int CamBayer::_raw2image(unsigned char* rawBuffer, unsigned char* imageBuffer, bool crop) {
    if (link_.state() == 3) return EZ_ENOCAM;
    std::shared_ptr<const RawCalibration> masters;
    if (calibration_.on()) {
        // The masters of the conditions this frame was taken under; a buffer
        // that carries none is matched to the latest frame described.
        EzFrameInfo facts{};
        if (frame::storedFacts(rawBuffer, facts)) {
            masters = calibration_.tablesFor(conditionsOf(facts));
        } else if (const std::optional<calib::Conditions> latest = latestConditions()) {
            masters = calibration_.tablesFor(*latest);
        }
    }
    pipeline_.setRawCalibration(masters);
    const int result = pipeline_.run(rawBuffer, imageBuffer, crop, sensor());
    if (result != EZ_OK) return result;
    serveStill(reinterpret_cast<_ezImage*>(rawBuffer), reinterpret_cast<_ezImage*>(imageBuffer));
    return EZ_OK;
}

// ---- Stills ------------------------------------------------------------------

void CamBayer::serveStill(_ezImage* raw, _ezImage* image) {
    if (!stills_.due()) return;
    StillCapture::Taken taken;
    StillCapture::Stamp stamp;
    {
        auto settings = lockSettings();
        // The still's size counts the border the frame carries, where it has one.
        const int margin = pipeline_.modelSteps.border == ModelSteps::Border::Never ? 0 : 8;
        if (!stills_.take(raw->resolution, sensor_.resolution.value, image->width + margin,
                          image->height + margin, taken))
            return;
        stamp = stampOf(raw);
        if (taken.returnTo != sensor_.resolution.value) _set_resolution(taken.returnTo, false);
    }
    StillCapture::writeFiles(raw, image, taken.formats, taken.path, stamp);
}

StillCapture::Stamp CamBayer::stampOf(const _ezImage* raw) {
    StillCapture::Stamp stamp;
    stamp.bayer = static_cast<uint8_t>(sensor_.bayerPattern);
    EzFrameInfo facts{};
    const bool known = raw && frame::storedFacts(reinterpret_cast<const unsigned char*>(raw), facts);
    const PixelClockEntry* clock =
        sensor_.clockEntry(known ? facts.pixel_clock : sensor_.pixelClock.value);
    stamp.pixelClockMode = clock ? clock->mode : 0;
    stamp.analogGain = static_cast<uint16_t>(known ? facts.analog_gain : sensor_.analogGain.value);
    stamp.blackLevel = static_cast<uint16_t>(known ? facts.black_level : sensor_.blackLevel.value);
    stamp.product = link_.product();
    stamp.vendor = link_.vendor();
    stamp.release = link_.release();
    return stamp;
}

void CamBayer::_init_save_image(_ezImage* image) {
    if (!image) return;
    const StillCapture::Stamp stamp = stampOf(nullptr);
    image->bayer = stamp.bayer;
    image->pixel_clock = stamp.pixelClockMode;
    image->analog_gain = stamp.analogGain;
    image->black_level = stamp.blackLevel;
    image->idproduct = stamp.product;
    image->idvendor = stamp.vendor;
    image->bcddevice = stamp.release;
}

void CamBayer::_set_snap_format(int format) {
    stills_.format = static_cast<int16_t>(format);
}
int CamBayer::_snap_format(int* format) {
    if (format) *format = stills_.format;
    return EZ_OK;
}

// Arms the capture that the frame pipeline serves on the first finished
// frame of the requested size. A resolution that cannot be taken is refused
// rather than armed, since no frame would ever match; so is a path without
// a name.
int CamBayer::_saveimage(std::string path, int resolutionIndex) {
    const ResolutionEntry* entry = sensor_.resolutionEntry(resolutionIndex);
    if (!entry || path.empty()) return EZ_ERANGE;
    const int former = sensor_.resolution.value;
    if (resolutionIndex != sensor_.resolution.value) {
        const int result = _set_resolution(resolutionIndex, false);
        if (result != EZ_OK) return result;
    }
    int width = entry->width;
    int height = entry->height;
    if (sensor_.regionOn()) {
        width = sensor_.urbRoiSize.value;
        height = sensor_.urbRoiSize.index;
    }
    const bool quarterTurn = pipeline_.rotate == 1 || pipeline_.rotate == 2;
    stills_.arm(std::move(path), quarterTurn ? height : width, quarterTurn ? width : height,
                former);
    return EZ_OK;
}

int CamBayer::_callback_save_iamge(std::string path, int resolutionIndex, EzSnapCallback callback) {
    stills_.callback = callback;
    return _saveimage(std::move(path), resolutionIndex);
}
// Writes a frame the caller holds: a finished image as it is, a raw frame
// decoded (with the border cut) first. A buffer that is not an image record
// is refused with -4. The record's size fields are checked against what this
// system writes, since they decide how far the writers read; a record that
// cannot be one of ours is refused with -2, as is a path without a name
// (the files would land in the working directory as ".raw", ".jpg" ...).
// Returns -3 when a file could not be written (the other formats are still
// written).
int CamBayer::_savefile(unsigned char* buffer, std::string path, int format) {
    if (!buffer || path.empty()) return EZ_ERANGE;
    _ezImage head;
    if (!ezReadRecord(buffer, &head)) return EZ_ENOTSUP;
    auto* record = reinterpret_cast<_ezImage*>(buffer);
    const int bytes = head.depth / 8;
    const int samples = head.decoded ? head.channels : 1;
    if ((head.depth != 8 && head.depth != 16) || (samples != 1 && samples != 3) ||
        head.decoded > 1 || head.width == 0 || head.height == 0 ||
        head.stride != head.width * samples * bytes)
        return EZ_ERANGE;
    record->data = buffer + record->header_size;
    record->extra = record->data + size_t{record->stride} * record->height;

    constexpr int kImageFormats = 2 | 4 | 8 | 16;
    std::unique_ptr<unsigned char[]> decoded;
    const _ezImage* image = record;
    if (!record->decoded && (format & kImageFormats)) {
        const size_t size =
            record->header_size +
            size_t{record->stride} * record->height * static_cast<size_t>(sensor_.channels) +
            kStatisticsBytes;
        // Zeroed, so a border the pipeline leaves unwritten never reaches a file.
        decoded.reset(new (std::nothrow) unsigned char[size]());
        if (!decoded) return EZ_EIO;
        const int result = _raw2image(buffer, decoded.get(), true);
        if (result != EZ_OK) return result;
        image = reinterpret_cast<const _ezImage*>(decoded.get());
    }
    return StillCapture::writeFiles(record, image, format, path, stampOf(nullptr)) == 0 ? EZ_OK
                                                                                   : EZ_EIO;
}


// ---- The loops -------------------------------------------------------------------

void CamBayer::_set_autoexposure(bool on) {
    exposure_.on = on;
}
int CamBayer::_autoexposure(bool* on) {
    if (on) *on = exposure_.on;
    return EZ_OK;
}
void CamBayer::_set_aetarget(int target) {
    SoftWareValue& aim = exposure_.target;
    if (target >= aim.min && target <= aim.max) aim.value = static_cast<uint8_t>(target);
}
int CamBayer::_aetarget() {
    return exposure_.target.value;
}
int CamBayer::_aetarget_range(int* min, int* max, int* step) {
    const SoftWareValue& aim = exposure_.target;
    if (!aim.supported) return EZ_ENOTSUP;
    if (min) *min = aim.min;
    if (max) *max = aim.max;
    if (step) *step = aim.step;
    return EZ_OK;
}
int CamBayer::_calc_auto_exposure(_ezImage* frame, int interval) {
    return exposure_.stepExposure(frame, interval);
}
int CamBayer::_calc_auto_gain(_ezImage* image, int interval) {
    return exposure_.stepGain(image, interval);
}
int CamBayer::_calc_white_balance(unsigned char* frame, __IMG_RECT* rect) {
    return measureWhiteBalance(pipeline_, frame, rect, sensor_.bayerPattern, sensor_.headLen);
}
int CamBayer::_fluorescence_guide(int type, int value) {
    return fluo_.command(type, value);
}
int CamBayer::_fluorescence(_ezImage* image, int interval) {
    return fluo_.step(image, interval);
}
int CamBayer::_pt_gray(int x, int y, _ezImage* image) {
    if (!image) return EZ_ERANGE;
    return __pt_gray(x, y, image);
}
