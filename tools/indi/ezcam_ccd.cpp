#include "ezcam_ccd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <ctime>

#include "sdk_messages.h"

namespace ezindi {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kControls[] = "CCD_CONTROLS";
constexpr char kCooler[] = "CCD_COOLER";
// How long an exposure may wait for its frame beyond the exposure itself.
constexpr int kFrameTimeoutMs = 15000;
// The cooler switches with this margin around the target, so that it does not chatter.
constexpr double kCoolerHysteresis = 0.25;
// The exposure of the frames that show what each mode is.
constexpr float kProbeExposureMs = 20;

std::string isoTime(int64_t utc_ns) {
    const time_t seconds = static_cast<time_t>(utc_ns / 1000000000);
    const int millis = static_cast<int>((utc_ns / 1000000) % 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return std::string(text) + "." + std::to_string(1000 + millis).substr(1);
}

}  // namespace

std::string EzcamCcd::deviceName(const std::string& camera) {
    std::string name = camera;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name[dot] = ' ';
    return "ezcam " + name;
}

EzcamCcd::EzcamCcd(const std::string& camera, const std::string& device, std::function<void()> wake)
    : camera_(camera), wake_(std::move(wake)) {
    setDeviceName(device.c_str());
}

EzcamCcd::~EzcamCcd() {
    grabber_.reset();
    // IUFillText allocates the texts; libindi leaves freeing them to the device.
    for (IText& text : recordT_) std::free(text.text);
}

bool EzcamCcd::failed(const std::string& what, int status) {
    LOG_ERROR(describeFailure(what, status).c_str());
    return false;
}

bool EzcamCcd::checked(const std::string& what, int status) {
    return status == EZ_OK || failed(what, status);
}

bool EzcamCcd::initProperties() {
    INDI::CCD::initProperties();
    const char* name = camera_.c_str();

    colour_ = GetRawBayernPattern(name) > 0;

    int min = 0, max = 0, step = 0;
    hasGain_ = GetAnaloggainRange(&min, &max, &step, name) == EZ_OK && max > min;
    IUFillNumber(&controlsN_[0], "Gain", "Gain", "%.0f", min, max, std::max(step, 1), GetAnaloggain(name));
    hasOffset_ = GetBlacklevelRange(&min, &max, &step, name) == EZ_OK && max > min;
    IUFillNumber(&controlsN_[1], "Offset", "Offset", "%.0f", min, max, std::max(step, 1),
                 hasOffset_ ? GetBlacklevel(name) : 0);
    IUFillNumberVector(&controlsNP_, controlsN_, hasOffset_ ? 2 : 1, getDeviceName(), kControls, "Controls",
                       MAIN_CONTROL_TAB, IP_RW, 60, IPS_IDLE);

    float celsius = 0;
    bool on = false;
    hasTemperature_ = GetTemperature(&celsius, name) == EZ_OK;
    hasCooler_ = GetCooled(&on, name) == EZ_OK;
    IUFillSwitch(&coolerS_[0], "COOLER_ON", "On", on ? ISS_ON : ISS_OFF);
    IUFillSwitch(&coolerS_[1], "COOLER_OFF", "Off", on ? ISS_OFF : ISS_ON);
    IUFillSwitchVector(&coolerSP_, coolerS_, 2, getDeviceName(), kCooler, "Cooler", MAIN_CONTROL_TAB, IP_RW,
                       ISR_1OFMANY, 60, IPS_IDLE);
    IUFillNumber(&sensorTemperatureN_[0], "CCD_TEMPERATURE_VALUE", "Temperature (C)", "%5.2f", -50, 70, 0,
                 celsius);
    IUFillNumberVector(&sensorTemperatureNP_, sensorTemperatureN_, 1, getDeviceName(), "CCD_TEMPERATURE",
                       "Temperature", MAIN_CONTROL_TAB, IP_RO, 60, IPS_IDLE);

    // A model that takes 16-bit frames only at some pixel clocks still offers them.
    const int depth = GetRawDepth(name);
    const int result16 = SetRawDepth(16, name);
    offersDepth16_ = result16 == EZ_OK || result16 == EZ_EDEPTH16;
    SetRawDepth(depth, name);

    // Binning is known once the modes' frames have been seen (Connect).
    SetCCDCapability(capability(GetResolutionCount(name) > 1));

    addCaptureFormat({"EZ_RAW8", "Raw 8 bit", 8, depth != 16});
    if (offersDepth16_) addCaptureFormat({"EZ_RAW16", "Raw 16 bit", 16, depth == 16});

    IUFillSwitch(&recordS_[0], "RECORD_ON", "On", ISS_OFF);
    IUFillSwitch(&recordS_[1], "RECORD_OFF", "Off", ISS_ON);
    IUFillSwitchVector(&recordSP_, recordS_, 2, getDeviceName(), "EZ_RAW_RECORD", "Raw recording", "Raw recording",
                       IP_RW, ISR_1OFMANY, 60, IPS_IDLE);
    const char* home = std::getenv("HOME");
    IUFillText(&recordT_[0], "DIR", "Folder", home ? home : ".");
    IUFillText(&recordT_[1], "FORMAT", "Format (ome-tiff, fits, fits-frames, ser)", "fits");
    IUFillTextVector(&recordTP_, recordT_, 2, getDeviceName(), "EZ_RAW_RECORD_FILE", "Raw recording file",
                     "Raw recording", IP_RW, 60, IPS_IDLE);

    IUSaveText(&BayerT[0], "0");
    IUSaveText(&BayerT[1], "0");
    IUSaveText(&BayerT[2], filterPattern(GetRawBayernPattern(name)).c_str());
    addDebugControl();
    return true;
}

uint32_t EzcamCcd::capability(bool bins) const {
    uint32_t capability = CCD_CAN_ABORT | CCD_CAN_SUBFRAME | CCD_HAS_STREAMING;
    if (bins) capability |= CCD_CAN_BIN;
    if (colour_) capability |= CCD_HAS_BAYER;
    if (hasCooler_ && hasTemperature_) capability |= CCD_HAS_COOLER;
    return capability;
}

bool EzcamCcd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        if (hasGain_) defineProperty(&controlsNP_);
        if (hasCooler_) defineProperty(&coolerSP_);
        if (hasTemperature_ && !HasCooler()) defineProperty(&sensorTemperatureNP_);
        defineProperty(&recordSP_);
        defineProperty(&recordTP_);
        readTemperature();
    } else {
        if (hasGain_) deleteProperty(controlsNP_.name);
        if (hasCooler_) deleteProperty(coolerSP_.name);
        if (hasTemperature_ && !HasCooler()) deleteProperty(sensorTemperatureNP_.name);
        deleteProperty(recordSP_.name);
        deleteProperty(recordTP_.name);
    }
    return true;
}

bool EzcamCcd::Connect() {
    clearSdkMessage();
    const char* name = camera_.c_str();
    if (DataHeadLen(name) <= 0) return failed("the camera is not connected", EZ_ENOCAM);
    if (!checked("switching the region off", SetRoiState(false, name))) return false;
    // What the frames of each mode say of their binning, read at a short
    // exposure so that a long one left from before does not hold the connection up.
    const float exposure = GetExposure(name);
    SetExposure(std::min(exposure, kProbeExposureMs), name);
    ResumeDevice(name);
    binning_ = binningModes(resolutionModes(camera_, true));
    SetExposure(exposure, name);
    // Frames flow only while an exposure or a stream wants them.
    SuspendDevice(name);
    if (binning_.empty()) return failed("the camera gave no frame in its largest mode", EZ_EIO);
    SetCCDCapability(capability(binning_.size() > 1));
    for (BinningMode& mode : binning_) {
        if (!checked("choosing a resolution", SetResolution(mode.resolution, name))) return false;
        GetRawSize(&mode.frameWidth, &mode.frameHeight, name);
    }
    if (!checked("choosing the full resolution", SetResolution(binning_.front().resolution, name)))
        return false;
    fullWidth_ = binning_.front().frameWidth;
    fullHeight_ = binning_.front().frameHeight;
    taken_ = {0, 0, fullWidth_, fullHeight_};
    const int depth = GetRawDepth(name);
    // The call surface does not give the pixel pitch, so CCD_INFO leaves it unknown (0).
    SetCCDParams(fullWidth_, fullHeight_, depth, 0, 0);
    PrimaryCCD.setBin(1, 1);
    const int maxFactor = binning_.back().factor;
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "HOR_BIN", 1, maxFactor, 1, false);
    PrimaryCCD.setMinMaxStep("CCD_BINNING", "VER_BIN", 1, maxFactor, 1, false);
    float min = 0, max = 0, step = 0;
    if (GetExposureRange(&min, &max, &step, name) == EZ_OK)
        PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", min / 1000.0, max / 1000.0,
                                 step / 1000.0, false);
    PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(fullWidth_) * fullHeight_ * (depth / 8));
    Streamer->setPixelFormat(pixelFormat(GetRawBayernPattern(name)), depth);
    Streamer->setSize(fullWidth_, fullHeight_);
    grabber_ = std::make_unique<FrameGrabber>(camera_, wake_);
    lastTemperature_ = Clock::time_point{};
    return true;
}

bool EzcamCcd::Disconnect() {
    if (Streamer && Streamer->isStreaming()) Streamer->setStream(false);
    // Waits for a read in flight, at most the exposure that remains.
    grabber_.reset();
    finishRecording();
    InExposure = false;
    return true;
}

void EzcamCcd::removed() {
    clearSdkMessage();
    LOGF_WARN("The camera %s was unplugged.", camera_.c_str());
    if (InExposure) {
        InExposure = false;
        PrimaryCCD.setExposureFailed();
    }
    if (Streamer && Streamer->isStreaming()) Streamer->setStream(false);
    grabber_.reset();
    finishRecording();
    if (isConnected()) setConnected(false, IPS_IDLE);
    deleteProperty(nullptr);
}

int EzcamCcd::binningFactor() const { return std::max(1, PrimaryCCD.getBinX()); }

INDI_PIXEL_FORMAT EzcamCcd::pixelFormat(int bayer) const {
    const std::string pattern = filterPattern(bayer);
    if (pattern == "RGGB") return INDI_BAYER_RGGB;
    if (pattern == "GRBG") return INDI_BAYER_GRBG;
    if (pattern == "GBRG") return INDI_BAYER_GBRG;
    if (pattern == "BGGR") return INDI_BAYER_BGGR;
    return INDI_MONO;
}

bool EzcamCcd::StartExposure(float duration) {
    clearSdkMessage();
    if (!grabber_) return failed("the camera is not connected", EZ_ENOCAM);
    if (Streamer->isStreaming() || recorder_) {
        LOG_ERROR("Stop the video stream and the raw recording before taking an exposure.");
        return false;
    }
    const char* name = camera_.c_str();
    if (!checked("setting the exposure", SetExposure(duration * 1000.0f, name))) return false;
    if (PrimaryCCD.getFrameType() == INDI::CCDChip::DARK_FRAME ||
        PrimaryCCD.getFrameType() == INDI::CCDChip::BIAS_FRAME)
        LOG_INFO("The camera has no shutter: the lens must be covered for this frame.");
    const double taken = GetExposure(name) / 1000.0;
    PrimaryCCD.setExposureDuration(taken);
    ExposureTime = taken;
    InExposure = true;
    exposureStart_ = Clock::now();
    lastProgress_ = exposureStart_;
    grabber_->expose(GetExposure(name), kFrameTimeoutMs);
    return true;
}

bool EzcamCcd::AbortExposure() {
    if (grabber_) grabber_->cancel();
    InExposure = false;
    return true;
}

void EzcamCcd::tick() {
    clearSdkMessage();
    if (!isConnected() || !grabber_) return;
    const auto now = Clock::now();
    if (std::optional<Exposure> exposure = grabber_->takeExposure()) {
        if (InExposure) finishExposure(std::move(*exposure));
    } else if (InExposure && now - lastProgress_ >= std::chrono::seconds(1)) {
        lastProgress_ = now;
        const double elapsed = std::chrono::duration<double>(now - exposureStart_).count();
        PrimaryCCD.setExposureLeft(std::max(0.0, ExposureTime - elapsed));
    }
    if (hasTemperature_ && now - lastTemperature_ >= std::chrono::seconds(1)) readTemperature();
}

void EzcamCcd::describeFrame(const Frame& frame) {
    const int factor = binningFactor();
    taken_ = {frame.info.roi_x * factor, frame.info.roi_y * factor, frame.width * factor,
              frame.height * factor};
    PrimaryCCD.setFrame(taken_[0], taken_[1], taken_[2], taken_[3]);
    PrimaryCCD.setBPP(frame.depth);
    if (colour_) {
        // A region's first sample may sit on another site of the tile.
        IUSaveText(&BayerT[2], filterPattern(frame.info.bayer).c_str());
        IDSetText(&BayerTP, nullptr);
    }
}

void EzcamCcd::finishExposure(Exposure exposure) {
    InExposure = false;
    if (!exposure.ok) {
        LOG_ERROR(exposure.error.c_str());
        PrimaryCCD.setExposureFailed();
        return;
    }
    lastFrame_ = std::move(exposure.frame);
    haveLastFrame_ = true;
    describeFrame(lastFrame_);
    PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(lastFrame_.pixelBytes()));
    lastFrame_.copyPixels(PrimaryCCD.getFrameBuffer());
    PrimaryCCD.setExposureLeft(0);
    ExposureComplete(&PrimaryCCD);
}

void EzcamCcd::addFITSKeywords(INDI::CCDChip* chip) {
    INDI::CCD::addFITSKeywords(chip);
    if (!haveLastFrame_) return;
    fitsfile* fptr = *chip->fitsFilePointer();
    const EzFrameInfo& info = lastFrame_.info;
    int status = 0;
    double exposure = info.exposure_ms / 1000.0;
    fits_update_key_s(fptr, TDOUBLE, "EXPTIME", &exposure, "Exposure time in force (s)", &status);
    int gain = info.analog_gain;
    fits_update_key_s(fptr, TINT, "GAIN", &gain, "Analog gain", &status);
    int black = info.black_level;
    fits_update_key_s(fptr, TINT, "OFFSET", &black, "Black level", &status);
    long number = static_cast<long>(info.frame);
    fits_update_key_s(fptr, TLONG, "FRAMENO", &number, "Frame number in its stream", &status);
    if (hasTemperature_) {
        // The driver's reading, at most a second old: the frame's own may
        // still wait for the camera's first reading of a fresh stream.
        double celsius = celsius_;
        fits_update_key_s(fptr, TDOUBLE, "CCD-TEMP", &celsius, "Sensor temperature (C)", &status);
    }
    const int64_t start = info.utc_ns - static_cast<int64_t>(info.exposure_ms * 1e6);
    std::string date = isoTime(start);
    fits_update_key_s(fptr, TSTRING, "DATE-OBS", const_cast<char*>(date.c_str()),
                      "UTC start of the exposure", &status);
    std::string camera = camera_;
    fits_update_key_s(fptr, TSTRING, "CAMERA", const_cast<char*>(camera.c_str()), "Camera", &status);
}

bool EzcamCcd::UpdateCCDFrame(int x, int y, int w, int h) {
    clearSdkMessage();
    const char* name = camera_.c_str();
    const int factor = binningFactor();
    auto mode = std::find_if(binning_.begin(), binning_.end(),
                             [&](const BinningMode& b) { return b.factor == factor; });
    if (mode == binning_.end()) return false;
    const int mx = std::clamp(x / factor, 0, mode->frameWidth - 1);
    const int my = std::clamp(y / factor, 0, mode->frameHeight - 1);
    const int mw = std::clamp((w + factor - 1) / factor, 1, mode->frameWidth - mx);
    const int mh = std::clamp((h + factor - 1) / factor, 1, mode->frameHeight - my);
    int tx = 0, ty = 0, tw = mode->frameWidth, th = mode->frameHeight;
    if (mx == 0 && my == 0 && mw == mode->frameWidth && mh == mode->frameHeight) {
        if (!checked("switching the region off", SetRoiState(false, name))) return false;
    } else {
        if (!checked("setting the region", SetRoi(mx, my, mw, mh, name))) return false;
        if (!checked("switching the region on", SetRoiState(true, name))) return false;
        GetRoi(&tx, &ty, &tw, &th, name);
        // A region the sensor is programmed with may grow to hold a whole
        // packet: the frames are of the size the camera announces.
        GetRawSize(&tw, &th, name);
    }
    taken_ = {tx * factor, ty * factor, tw * factor, th * factor};
    PrimaryCCD.setFrame(taken_[0], taken_[1], taken_[2], taken_[3]);
    if (tx != mx || ty != my || tw != mw || th != mh)
        LOGF_INFO("The camera took the region %d,%d %dx%d (in frame pixels at binning %d).", tx, ty, tw, th,
                  factor);
    PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(tw) * th * (PrimaryCCD.getBPP() / 8));
    Streamer->setSize(tw, th);
    return true;
}

bool EzcamCcd::UpdateCCDBin(int hor, int ver) {
    clearSdkMessage();
    if (hor != ver) {
        LOG_ERROR("The camera bins alike across and down.");
        return false;
    }
    return applyBinning(hor);
}

bool EzcamCcd::applyBinning(int factor) {
    auto mode = std::find_if(binning_.begin(), binning_.end(),
                             [&](const BinningMode& b) { return b.factor == factor; });
    if (mode == binning_.end()) {
        std::string offered;
        for (const BinningMode& b : binning_) offered += (offered.empty() ? "" : ", ") + std::to_string(b.factor);
        LOGF_ERROR("Binning %d is not a mode of this camera; it bins %s.", factor, offered.c_str());
        return false;
    }
    if (!checked("choosing the resolution", SetResolution(mode->resolution, camera_.c_str()))) return false;
    const int x = PrimaryCCD.getSubX(), y = PrimaryCCD.getSubY();
    const int w = PrimaryCCD.getSubW(), h = PrimaryCCD.getSubH();
    PrimaryCCD.setBin(factor, factor);
    return UpdateCCDFrame(x, y, w, h);
}

bool EzcamCcd::UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type) {
    PrimaryCCD.setFrameType(type);
    return true;
}

bool EzcamCcd::SetCaptureFormat(uint8_t index) {
    clearSdkMessage();
    if (index >= m_CaptureFormats.size()) return false;
    return applyDepth(m_CaptureFormats[index].bitsPerPixel);
}

bool EzcamCcd::applyDepth(int bits) {
    const char* name = camera_.c_str();
    int result = SetRawDepth(bits, name);
    if (result == EZ_EDEPTH16) {
        // The pixel clock in force does not give this depth: take the first one that does.
        const int current = GetPixelclock(name);
        for (int clock = 0; clock < GetPixelclockCount(name) && result != EZ_OK; ++clock) {
            if (clock == current || SetPixelclock(clock, name) != EZ_OK) continue;
            result = SetRawDepth(bits, name);
            if (result == EZ_OK) {
                const char* label = GetPixclkItemName(clock, name);
                LOGF_INFO("%d-bit frames need another pixel clock: now %s.", bits, label ? label : "?");
            }
        }
        if (result != EZ_OK) SetPixelclock(current, name);
    }
    if (!checked("setting the depth", result)) return false;
    PrimaryCCD.setBPP(bits);
    int w = 0, h = 0;
    GetRawSize(&w, &h, name);
    PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(w) * h * (bits / 8));
    Streamer->setPixelFormat(pixelFormat(GetRawBayernPattern(name)), bits);
    return true;
}

void EzcamCcd::readTemperature() {
    lastTemperature_ = Clock::now();
    float celsius = 0;
    if (GetTemperature(&celsius, camera_.c_str()) != EZ_OK) return;
    celsius_ = celsius;
    if (HasCooler()) {
        TemperatureN[0].value = celsius;
        IDSetNumber(&TemperatureNP, nullptr);
        regulateCooler(celsius);
    } else {
        sensorTemperatureN_[0].value = celsius;
        sensorTemperatureNP_.s = IPS_OK;
        IDSetNumber(&sensorTemperatureNP_, nullptr);
    }
}

void EzcamCcd::regulateCooler(double celsius) {
    if (!regulating_) return;
    bool on = coolerS_[0].s == ISS_ON;
    if (celsius > target_ + kCoolerHysteresis)
        on = true;
    else if (celsius < target_ - kCoolerHysteresis)
        on = false;
    if (on == (coolerS_[0].s == ISS_ON)) return;
    if (!checked("switching the cooler", SetCooled(on, camera_.c_str()))) return;
    coolerS_[0].s = on ? ISS_ON : ISS_OFF;
    coolerS_[1].s = on ? ISS_OFF : ISS_ON;
    coolerSP_.s = on ? IPS_BUSY : IPS_OK;
    IDSetSwitch(&coolerSP_, nullptr);
}

int EzcamCcd::SetTemperature(double temperature) {
    clearSdkMessage();
    if (!hasCooler_) return -1;
    float celsius = 0;
    if (GetTemperature(&celsius, camera_.c_str()) != EZ_OK) return -1;
    target_ = temperature;
    regulating_ = true;
    if (std::fabs(celsius - temperature) <= kCoolerHysteresis) return 1;
    regulateCooler(celsius);
    return 0;
}

bool EzcamCcd::StartStreaming() {
    clearSdkMessage();
    if (!grabber_ || InExposure) {
        LOG_ERROR("The camera is taking an exposure: stream after it.");
        return false;
    }
    const char* name = camera_.c_str();
    const double exposure = Streamer->getTargetExposure();
    if (exposure > 0 && !checked("setting the exposure", SetExposure(static_cast<float>(exposure * 1000), name)))
        return false;
    int w = 0, h = 0;
    GetRawSize(&w, &h, name);
    Streamer->setPixelFormat(pixelFormat(GetRawBayernPattern(name)), GetRawDepth(name));
    Streamer->setSize(w, h);
    streamWidth_ = w;
    streamHeight_ = h;
    videoOn_ = true;
    if (!recorder_) startFrames();
    return true;
}

bool EzcamCcd::StopStreaming() {
    videoOn_ = false;
    if (grabber_ && !recorder_) grabber_->cancel();
    return true;
}

void EzcamCcd::startFrames() {
    grabber_->stream([this](const Frame& frame) { onFrame(frame); });
}

void EzcamCcd::onFrame(const Frame& frame) {
    // The frames of a region or mode change still under way do not fit the stream.
    if (videoOn_ && frame.width == streamWidth_ && frame.height == streamHeight_) {
        streamPixels_.resize(frame.pixelBytes());
        frame.copyPixels(streamPixels_.data());
        Streamer->newFrame(streamPixels_.data(), static_cast<uint32_t>(streamPixels_.size()));
    }
    std::lock_guard lock(recorderLock_);
    if (recorder_) recorder_->push(frame.buffer.data(), frame.info);
}

bool EzcamCcd::startRecording() {
    const char* name = camera_.c_str();
    const recording::FormatRow* format = recording::findFormat(recordT_[1].text);
    if (!format) {
        LOGF_ERROR("Unknown recording format '%s'.", recordT_[1].text);
        return false;
    }
    // Named after the camera and the moment, so that recordings never overwrite each other.
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const std::string stamp = isoTime(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    std::string file = camera_ + "_" + stamp;
    std::replace(file.begin(), file.end(), ':', '-');
    recording::RecorderSetup setup;
    setup.path = std::string(recordT_[0].text) + "/" + file + format->extension;
    setup.format = format->format;
    setup.instrument = camera_;
    const char* clock = GetPixclkItemName(GetPixelclock(name), name);
    setup.pixelClock = clock ? clock : "";
    setup.frameBufferBytes = static_cast<size_t>(std::max(RecvMemSize(name), 0));
    auto recorder = std::make_unique<recording::Recorder>(setup);
    if (!recorder->ok()) {
        LOGF_ERROR("The raw recording cannot start: %s", recorder->error().c_str());
        return false;
    }
    {
        std::lock_guard lock(recorderLock_);
        recorder_ = std::move(recorder);
    }
    if (!videoOn_) startFrames();
    LOGF_INFO("Recording every raw frame to %s.", setup.path.c_str());
    return true;
}

void EzcamCcd::finishRecording() {
    std::unique_ptr<recording::Recorder> recorder;
    {
        std::lock_guard lock(recorderLock_);
        recorder.swap(recorder_);
    }
    if (!recorder) return;
    if (grabber_ && !videoOn_) grabber_->cancel();
    const bool finished = recorder->finish();
    const recording::RecordingCounts counts = recorder->counts();
    const std::string written = recorder->written();
    if (finished)
        LOGF_INFO("Recorded %llu of %llu frames to %s (dropped %llu, lost by the camera %llu).",
                  static_cast<unsigned long long>(counts.recorded), static_cast<unsigned long long>(counts.offered),
                  written.c_str(), static_cast<unsigned long long>(counts.dropped + counts.rejected),
                  static_cast<unsigned long long>(counts.readerLost));
    else
        LOGF_ERROR("The raw recording failed: %s (%llu frames written to %s).", recorder->error().c_str(),
                   static_cast<unsigned long long>(counts.recorded), written.c_str());
    showRecording(false, finished ? IPS_OK : IPS_ALERT);
}

void EzcamCcd::showRecording(bool on, IPState state) {
    recordS_[0].s = on ? ISS_ON : ISS_OFF;
    recordS_[1].s = on ? ISS_OFF : ISS_ON;
    recordSP_.s = state;
    IDSetSwitch(&recordSP_, nullptr);
}

bool EzcamCcd::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    if (dev && !std::strcmp(dev, getDeviceName()) && !std::strcmp(name, recordTP_.name)) {
        IUUpdateText(&recordTP_, texts, names, n);
        recordTP_.s = IPS_OK;
        IDSetText(&recordTP_, nullptr);
        return true;
    }
    return INDI::CCD::ISNewText(dev, name, texts, names, n);
}

bool EzcamCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    clearSdkMessage();
    if (dev && !std::strcmp(dev, getDeviceName()) && !std::strcmp(name, kControls)) {
        bool ok = true;
        for (int i = 0; i < n; ++i) {
            const int value = static_cast<int>(std::lround(values[i]));
            if (!std::strcmp(names[i], "Gain"))
                ok = checked("setting the gain", SetAnaloggain(value, camera_.c_str())) && ok;
            else if (!std::strcmp(names[i], "Offset") && hasOffset_)
                ok = checked("setting the black level", SetBlacklevel(value, camera_.c_str())) && ok;
        }
        // What the camera took, which may be a step away from what was asked.
        controlsN_[0].value = GetAnaloggain(camera_.c_str());
        if (hasOffset_) controlsN_[1].value = GetBlacklevel(camera_.c_str());
        controlsNP_.s = ok ? IPS_OK : IPS_ALERT;
        IDSetNumber(&controlsNP_, nullptr);
        return true;
    }
    const bool handled = INDI::CCD::ISNewNumber(dev, name, values, names, n);
    // The base class shows the region as asked; the client is to see the one taken.
    if (dev && !std::strcmp(dev, getDeviceName()) &&
        (!std::strcmp(name, "CCD_FRAME") || !std::strcmp(name, "CCD_BINNING")) && taken_[2] > 0)
        PrimaryCCD.setFrame(taken_[0], taken_[1], taken_[2], taken_[3]);
    return handled;
}

bool EzcamCcd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    clearSdkMessage();
    if (dev && !std::strcmp(dev, getDeviceName()) && !std::strcmp(name, recordSP_.name)) {
        ISwitchVectorProperty wanted = recordSP_;
        ISwitch states_[2] = {recordS_[0], recordS_[1]};
        wanted.sp = states_;
        IUUpdateSwitch(&wanted, states, names, n);
        const bool on = states_[0].s == ISS_ON;
        if (on && !recorder_) {
            if (!grabber_ || InExposure) {
                LOG_ERROR("The camera is taking an exposure: record after it.");
                showRecording(false, IPS_ALERT);
            } else {
                const bool started = startRecording();
                showRecording(started, started ? IPS_BUSY : IPS_ALERT);
            }
        } else if (!on) {
            if (recorder_) finishRecording();
            else showRecording(false, IPS_IDLE);
        }
        return true;
    }
    if (dev && !std::strcmp(dev, getDeviceName()) && !std::strcmp(name, kCooler)) {
        IUUpdateSwitch(&coolerSP_, states, names, n);
        const bool on = coolerS_[0].s == ISS_ON;
        regulating_ = false;
        const bool ok = checked("switching the cooler", SetCooled(on, camera_.c_str()));
        bool now = false;
        GetCooled(&now, camera_.c_str());
        coolerS_[0].s = now ? ISS_ON : ISS_OFF;
        coolerS_[1].s = now ? ISS_OFF : ISS_ON;
        coolerSP_.s = ok ? (now ? IPS_BUSY : IPS_OK) : IPS_ALERT;
        IDSetSwitch(&coolerSP_, nullptr);
        return true;
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

bool EzcamCcd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    if (hasGain_) IUSaveConfigNumber(fp, &controlsNP_);
    return true;
}

}  // namespace ezindi
