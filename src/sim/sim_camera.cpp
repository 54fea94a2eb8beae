// One simulated camera: control requests, frames, pacing, faults and trace.
#include "sim/sim_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"

namespace sim {
namespace {

constexpr size_t kUsbPacket = 512;
constexpr int kPedestal = 1024;  // the sensor's own black offset, 16-bit units

// The process-wide trace file named by EZCAM_SIM_TRACE, appended line by line.
void traceToFile(const std::string& line) {
    static std::mutex mu;
    static std::string path;
    static FILE* file = nullptr;
    std::lock_guard lock(mu);
    const char* wanted = std::getenv("EZCAM_SIM_TRACE");
    const std::string now = wanted ? wanted : "";
    if (now != path) {
        if (file) std::fclose(file);
        file = now.empty() ? nullptr : std::fopen(now.c_str(), "a");
        path = now;
    }
    if (!file) return;
    std::fputs(line.c_str(), file);
    std::fputc('\n', file);
    std::fflush(file);
}

bool carriesCaptureFlag(Framing f) {
    return f == Framing::Trailer3 || f == Framing::PaddedTrailer || f == Framing::Extra1 ||
           f == Framing::Trailer4;
}

}  // namespace

SimCamera::SimCamera(int id, uint16_t vendor, uint16_t product, uint16_t bcdDevice)
    : id_(id),
      vendor_(vendor),
      product_(product),
      release_(bcdDevice),
      profile_(findProfile(vendor, product, bcdDevice)) {
    memory_.assign(kMemorySize, 0);
    firmware_ = bcdDevice;
    const char* pace = std::getenv("EZCAM_SIM_PACE");
    paced_ = !(pace && std::strcmp(pace, "0") == 0);
    const char* scene = std::getenv("EZCAM_SIM_SCENE");
    flatScene_ = scene && std::strcmp(scene, "flat") == 0;
    chartScene_ = scene && std::strcmp(scene, "chart") == 0;
    if (const char* colour = std::getenv("EZCAM_SIM_COLOUR"); colour && *colour) {
        if (const auto m = parseColour(colour))
            colour_ = *m;
        else
            ezlog::warn("EZCAM_SIM_COLOUR: nine numbers m00,m01,...,m22 from -4 to 4 expected");
    }
    if (const char* sensor = std::getenv("EZCAM_SIM_SENSOR"); sensor && *sensor) {
        std::string error;
        if (!setSensor(sensor, error)) ezlog::warn("EZCAM_SIM_SENSOR: %s", error.c_str());
    }
    const Clock::time_point now = Clock::now();
    temperatureAt_ = now;
    if (profile_) {
        resolutionMode_ = profile_->resolutions[0].mode;
        clockMode_ = profile_->clocks[0].mode;
        lines_ = profile_->exposureLines;
        nextReady_ = now + std::chrono::microseconds(static_cast<int64_t>(frameMs() * 1000.0));
    }
}

SimCamera::~SimCamera() = default;

usb::DeviceInfo SimCamera::info() const {
    return {vendor_, product_, release_, 0x0200};
}

void SimCamera::record(std::string line) {
    traceToFile(line);
    std::lock_guard lock(traceMu_);
    trace_.push_back(std::move(line));
    if (trace_.size() > kTraceLines) trace_.pop_front();
}

std::vector<std::string> SimCamera::trace() const {
    std::lock_guard lock(traceMu_);
    return {trace_.begin(), trace_.end()};
}

void SimCamera::clearTrace() {
    std::lock_guard lock(traceMu_);
    trace_.clear();
}

// ---- control -------------------------------------------------------------

uint32_t SimCamera::control(EZURB& urb) {
    urb.lengthDone = 0;
    if (unplugged_) return usb::kNoDevice;
    char head[64];
    std::snprintf(head, sizeof head, "%d ctrl %02x %02x %04x %04x %u", id_, urb.requestType,
                  urb.request, urb.value, urb.index, static_cast<unsigned>(urb.length));
    std::string line = head;
    if (urb.requestType == 0x40 && urb.length > 0 && urb.data) {
        static constexpr char kHex[] = "0123456789abcdef";
        line += ' ';
        for (unsigned i = 0; i < urb.length; ++i) {
            line += kHex[urb.data[i] >> 4];
            line += kHex[urb.data[i] & 15];
        }
    }
    record(line);

    std::lock_guard lock(mu_);
    if (faults_.stallControl) {
        faults_.stallControl = false;
        return usb::kStall;
    }
    uint32_t status = usb::kStall;
    if (profile_ && (urb.requestType == 0x40 || urb.requestType == 0xc0) &&
        (urb.length == 0 || urb.data))
        status = controlLocked(urb);
    if (status == usb::kStall) {
        ++refused_;
        lastRefused_ = std::move(line);
    }
    return status;
}

int SimCamera::refusedRequests() const {
    std::lock_guard lock(mu_);
    return refused_;
}

std::string SimCamera::lastRefused() const {
    std::lock_guard lock(mu_);
    return lastRefused_;
}

uint32_t SimCamera::controlLocked(EZURB& urb) {
    const bool in = urb.requestType == 0xc0;
    switch (urb.request) {
    case 0xb0:
        return in ? usb::kStall : memoryRequest(urb, true);
    case 0xb1:
        return in ? memoryRequest(urb, false) : usb::kStall;
    case 0xb6:
        return in ? statusRequest(urb) : usb::kStall;
    default:
        break;
    }
    if (in) return usb::kStall;
    const DeviceProfile& p = *profile_;
    switch (urb.request) {
    case 0xb3:
        ++acks_;
        dropFrame();
        break;
    case 0xb4: {
        const uint8_t mode = urb.value & 0xff;
        if (std::none_of(p.resolutions.begin(), p.resolutions.end(),
                         [mode](const ResolutionEntry& e) { return e.mode == mode; }))
            return usb::kStall;
        resolutionMode_ = mode;
        roi_ = false;
        setLinesFromRequest(urb);
        running_ = true;
        restartExposure();
        dropFrame();
        break;
    }
    case 0xb5: {
        const uint8_t mode = urb.value & 0xff;
        if (std::none_of(p.clocks.begin(), p.clocks.end(),
                         [mode](const PixelClockEntry& e) { return e.mode == mode; }))
            return usb::kStall;
        clockMode_ = mode;
        setLinesFromRequest(urb);
        restartExposure();
        dropFrame();
        break;
    }
    case 0xb7:
        writeRegister(urb.index, urb.value);
        break;
    case 0xb8: {
        const int low = urb.value & 0xff;
        if (urb.index == 0 && low >= 0x60 && low <= 0x62) {
            gpio_[low - 0x60] = (urb.value >> 8) != 0;
            break;
        }
        if (urb.index == 1) {
            settleTemperature(Clock::now());
            coolerOn_ = urb.value != 0;
        }
        options_[urb.index] = urb.value;
        break;
    }
    case 0xb9:
        if (urb.value == 10) {
            depth_ = 8;
        } else if (urb.value == 5) {
            depth_ = 16;
        } else {
            return usb::kStall;
        }
        dropFrame();
        break;
    case 0xba:
        running_ = true;
        restartExposure();
        dropFrame();
        break;
    case 0xbb:
        running_ = false;
        dropFrame();
        break;
    case 0xbd:
        roiX_ = urb.value;
        roiY_ = urb.index;
        dropFrame();
        break;
    case 0xbe:
        if (urb.value == 0 || urb.index == 0) return usb::kStall;
        roiW_ = urb.value;
        roiH_ = urb.index;
        roi_ = true;
        dropFrame();
        break;
    default:
        return usb::kStall;
    }
    urb.lengthDone = urb.length;
    return usb::kSuccess;
}

uint32_t SimCamera::memoryRequest(EZURB& urb, bool write) {
    const int first = urb.value, last = urb.index;
    if (last < first || last >= kMemorySize) return usb::kStall;
    const int span = last - first + 1;
    if (write) {
        if (urb.length < span) return usb::kStall;
        std::memcpy(memory_.data() + first, urb.data, static_cast<size_t>(span));
        urb.lengthDone = urb.length;
    } else {
        const int n = std::min<int>(urb.length, span);
        if (n > 0) std::memcpy(urb.data, memory_.data() + first, static_cast<size_t>(n));
        urb.lengthDone = static_cast<uint32_t>(n);
    }
    return usb::kSuccess;
}

uint32_t SimCamera::statusRequest(EZURB& urb) {
    unsigned char reply[64] = {};
    if (urb.index == 1) {
        const double t = temperatureLocked(Clock::now());
        const long n = t >= 0 ? std::lround(2.0 * t) : -std::lround(-t / 0.625);
        const int16_t reading = static_cast<int16_t>(std::clamp(n, -32768l, 32767l));
        reply[0] = static_cast<unsigned char>(reading & 0xff);
        reply[1] = static_cast<unsigned char>((reading >> 8) & 0xff);
        reply[2] = capture_ ? 0xcc : 0;
        // Where frames cannot carry the flag, reporting it here serves it.
        if (!carriesCaptureFlag(profile_->framing)) capture_ = false;
    } else if (urb.index == 2) {
        reply[0] = static_cast<unsigned char>(firmware_ & 0xff);
        reply[1] = static_cast<unsigned char>(firmware_ >> 8);
    } else {
        return usb::kStall;
    }
    const size_t n = std::min<size_t>(urb.length, sizeof reply);
    if (n) std::memcpy(urb.data, reply, n);
    urb.lengthDone = static_cast<uint32_t>(n);
    return usb::kSuccess;
}

void SimCamera::setLinesFromRequest(const EZURB& urb) {
    if (profile_->exposureInModeRequests)
        lines_ = urb.index | (static_cast<uint32_t>(urb.value >> 8) << 16);
}

void SimCamera::writeRegister(uint16_t address, uint16_t value) {
    regs_[address] = value;
    const DeviceProfile& p = *profile_;
    if (p.exposureSplit32) {
        if (address == p.regExposure) lines_ = (uint32_t{value} << 16) | (lines_ & 0xffff);
        if (address == p.regLongExposure) lines_ = (lines_ & 0xffff0000u) | value;
        return;
    }
    const uint32_t m = periodLines();
    if (m == 0) {
        if (address == p.regExposure) lines_ = value;
        return;
    }
    // The counter has a rest and a number of periods; each register sets one.
    if (address == p.regExposure) lines_ = lines_ / m * m + value;
    if (address == p.regLongExposure) lines_ = value * m + lines_ % m;
}

// ---- timing --------------------------------------------------------------

const ResolutionEntry* SimCamera::modeEntry() const {
    for (const ResolutionEntry& e : profile_->resolutions)
        if (e.mode == resolutionMode_) return &e;
    return &profile_->resolutions[0];
}

const PixelClockEntry* SimCamera::clockEntry() const {
    for (const PixelClockEntry& e : profile_->clocks)
        if (e.mode == clockMode_) return &e;
    return &profile_->clocks[0];
}

uint32_t SimCamera::periodLines() const {
    for (const PeriodLines& pl : profile_->periodByMode)
        if (pl.mode == resolutionMode_) return pl.lines;
    return profile_->periodLines;
}

double SimCamera::lineMs() const {
    return static_cast<double>(modeEntry()->lineLength) / clockEntry()->rate;
}

double SimCamera::frameMs() const {
    const double readout = shapeLocked().geometry.height * lineMs();
    return std::max({readout, lines_ * lineMs(), 0.1});
}

void SimCamera::restartExposure() {
    nextReady_ = Clock::now() + std::chrono::microseconds(static_cast<int64_t>(frameMs() * 1000.0));
}

void SimCamera::dropFrame() { ++generation_; }

SimCamera::Clock::time_point SimCamera::frameReadyAt() const {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mu_);
    // The rest of a frame is ready at once, unless it was dropped.
    if (frameActive_ && activeGeneration_ == generation_) return now;
    if (!profile_ || unplugged_) return now;
    if (faults_.stopped || !running_) return Clock::time_point::max();
    if (!paced_) return now;
    return nextReady_;
}

double SimCamera::temperatureLocked(Clock::time_point now) const {
    const double target = coolerOn_ ? setPoint_ : ambient_;
    const double dt = std::chrono::duration<double>(now - temperatureAt_).count();
    return target + (temperature_ - target) * std::exp(-dt / std::max(settleSeconds_, 1e-6));
}

void SimCamera::settleTemperature(Clock::time_point now) {
    temperature_ = temperatureLocked(now);
    temperatureAt_ = now;
}

// ---- frames --------------------------------------------------------------

SimCamera::FrameShape SimCamera::shapeLocked() const {
    const DeviceProfile& p = *profile_;
    const ResolutionEntry* e = modeEntry();
    FrameShape s;
    Geometry& g = s.geometry;
    g.fieldWidth = p.sensorWidth ? p.sensorWidth : e->width;
    g.fieldHeight = e->height;
    for (const ModeGeometry& mg : p.geometry)
        if (mg.mode == e->mode) {
            g.fieldWidth = mg.width;
            g.fieldHeight = mg.height;
        }
    g.width = g.fieldWidth;
    g.height = g.fieldHeight;
    if (roi_) {
        g.width = std::clamp<int>(roiW_, 1, g.fieldWidth);
        g.height = std::clamp<int>(roiH_, 1, g.fieldHeight);
        g.originX = std::min<int>(roiX_, g.fieldWidth - g.width);
        g.originY = std::min<int>(roiY_, g.fieldHeight - g.height);
    }
    s.depth = depth_;
    const size_t bps = static_cast<size_t>(depth_ / 8);
    const size_t samples = static_cast<size_t>(g.width) * g.height;
    // Frames read by table size carry the table's byte count (the region's
    // size, in whole packets, once one is programmed).
    size_t tableBytes = static_cast<size_t>(e->frameBytes);
    if (roi_) tableBytes = p.framing == Framing::Tail4 ? samples : samples / kUsbPacket * kUsbPacket;
    tableBytes *= bps;
    if (p.extraPacketAt16Full && depth_ == 16 && !roi_ && e == &p.resolutions[0])
        tableBytes += kUsbPacket;
    switch (p.framing) {
    case Framing::Header:
        s.prefix = 512;
        s.pixels = samples * bps;
        break;
    case Framing::Signature:
        s.pixels = samples * bps;
        break;
    case Framing::Trailer3:
        s.pixels = tableBytes;
        s.suffix = 3;
        break;
    case Framing::PaddedTrailer:
        s.pixels = tableBytes;
        s.suffix = kUsbPacket;
        break;
    case Framing::Extra1:
        s.pixels = tableBytes;
        s.suffix = 1;
        break;
    case Framing::Trailer4:
    case Framing::Tail4:
        s.pixels = tableBytes;
        s.suffix = 4;
        break;
    case Framing::Bare:
        s.pixels = tableBytes;
        break;
    }
    return s;
}

Exposure SimCamera::exposureLocked() const {
    const DeviceProfile& p = *profile_;
    Exposure x;
    x.depth = depth_;
    auto gainReg = regs_.find(p.regGain);
    const int step = gainReg == regs_.end() ? p.gainUnity : decodeGain(p.gainCode, gainReg->second);
    const float gain = static_cast<float>(step + p.gainBias) / static_cast<float>(p.gainUnity + p.gainBias);
    const double reference = static_cast<double>(p.exposureLines) * p.resolutions[0].lineLength /
                             p.clocks[0].rate;
    // In double from the start: full scale times a long exposure's line
    // count does not fit 32 bits.
    x.scale =
        static_cast<float>(Scene::kFullScale * static_cast<double>(lines_) * lineMs() / reference) *
        gain;
    x.noiseGain = gain;
    auto blackReg = regs_.find(p.regBlackLevel);
    const int black = blackReg == regs_.end() ? 0 : blackReg->second;
    x.black = kPedestal + black * 8192 / std::max(p.blackMax, 1);
    return x;
}

SimCamera::FrameShape SimCamera::nextFrameShape() const {
    std::lock_guard lock(mu_);
    return profile_ ? shapeLocked() : FrameShape{};
}

void SimCamera::renderFrame(const FrameSink& out, const FrameShape& shape,
                            const Exposure& exposure, const SensorFrame* physical,
                            const Faults& faults, bool capture, uint64_t number) {
    const DeviceProfile& p = *profile_;
    if (!scene_) scene_ = std::make_unique<Scene>(p.bayer, static_cast<uint32_t>(id_));
    scene_->setFlat(flatScene_.load());
    scene_->setChart(chartScene_.load());
    scene_->setColour(colour_);
    scene_->setDefocus(defocus_.load());
    if (physical) {
        if (!sensor_) sensor_ = std::make_unique<PhysicalSensor>(static_cast<uint32_t>(id_));
        sensor_->prepare(*scene_, shape.geometry, exposure, *physical, number);
    } else {
        scene_->prepare(shape.geometry, exposure, number);
    }
    auto put = [&](unsigned char* to, size_t from, size_t n, uint64_t seed) {
        if (physical)
            sensor_->emit(to, from, n, p.order, seed);
        else
            scene_->emit(to, from, n, p.order, seed);
    };
    const size_t total = shape.total();
    const size_t pixelsAt = shape.prefix, suffixAt = shape.prefix + shape.pixels;
    if (shape.prefix) {
        out.fill(0, shape.prefix, 0);
        out.fill(0, std::min<size_t>(10, shape.prefix), 0x88);
        if (shape.prefix >= 20)
            for (int i = 0; i < 4; ++i) out.at(16 + i) = static_cast<unsigned char>(number >> (8 * i));
    }

    // The pixels, the part in the host's buffer written straight into it, in
    // slices small enough that the check below finds them still in cache.
    const size_t bps = static_cast<size_t>(shape.depth / 8);
    const size_t samples = shape.pixels / bps;
    const uint64_t seed = (uint64_t{static_cast<uint32_t>(id_)} << 40) ^ number;
    const size_t headBytes = out.headLength > pixelsAt ? std::min(out.headLength - pixelsAt, shape.pixels) : 0;
    const size_t headSamples = headBytes / bps;  // a sample cut by the end goes in pieces
    auto emit = [&](size_t from, size_t to) {
        if (from < headSamples) {
            const size_t n = std::min(to, headSamples) - from;
            put(out.head + pixelsAt + from * bps, from, n, seed);
            from += n;
        }
        if (from < to && from == headSamples && headBytes % bps) {
            unsigned char pair[2];
            put(pair, from, 1, seed);
            for (size_t i = 0; i < bps; ++i) out.at(pixelsAt + from * bps + i) = pair[i];
            ++from;
        }
        if (from < to) put(out.tail + pixelsAt + from * bps, from, to - from, seed);
    };

    // Pixel data never imitates a frame start at a packet boundary: the
    // host would take it for the next frame. 16-bit samples cannot: one
    // nibble of each is zero, and the markers have none.
    const bool marked = (p.framing == Framing::Header || p.framing == Framing::Signature) && bps == 1;
    const unsigned char marker = p.framing == Framing::Header ? 0x88 : 0xbb;
    const size_t packet = static_cast<size_t>(p.packet);
    size_t check = (p.framing == Framing::Header ? 0 : pixelsAt) + packet;
    auto unmark = [&](size_t upTo) {
        for (; marked && check + 10 <= upTo; check += packet) {
            bool all = true;
            for (size_t i = 0; i < 10 && all; ++i) all = out.at(check + i) == marker;
            if (all) out.at(check + 9) ^= 1;
        }
    };
    constexpr size_t kSlice = size_t{1} << 16;
    for (size_t from = 0; from < samples; from += kSlice) {
        const size_t to = std::min(samples, from + kSlice);
        emit(from, to);
        unmark(pixelsAt + to * bps);
    }
    if (shape.pixels % bps) out.at(suffixAt - 1) = 0;
    unmark(suffixAt);
    if (p.framing == Framing::Signature && shape.pixels >= 4)
        for (size_t i = 0; i < 4; ++i) out.at(pixelsAt + i) = static_cast<unsigned char>("XTDT"[i]);

    out.fill(suffixAt, shape.suffix, 0);
    switch (p.framing) {
    case Framing::Trailer3:
        out.at(suffixAt) = faults.corruptMarker ? 0x00 : 0x88;
        out.at(suffixAt + 1) = capture ? 0xcc : 0x00;
        break;
    case Framing::PaddedTrailer:
        out.at(total - 3) = faults.corruptMarker ? 0x00 : 0x88;
        out.at(total - 2) = capture ? 0xcc : 0x00;
        break;
    case Framing::Extra1:
        if (capture && total >= 2) out.at(total - 2) = 0xcc;
        break;
    case Framing::Trailer4:
        out.at(suffixAt) = faults.corruptMarker ? 0x00 : 0x88;
        out.at(suffixAt + 2) = capture ? 0xcc : 0x00;
        out.at(suffixAt + 3) = static_cast<unsigned char>(number);
        break;
    case Framing::Tail4:
        for (int i = 0; i < 4; ++i) out.at(suffixAt + i) = static_cast<unsigned char>(number >> (8 * i));
        break;
    case Framing::Header:
        if (faults.corruptMarker && shape.prefix >= 5) out.at(4) = 0x00;
        break;
    case Framing::Signature:
        if (faults.corruptMarker && shape.pixels >= 1) out.at(pixelsAt) = 'x';
        break;
    case Framing::Bare:
        break;
    }
}

uint32_t SimCamera::bulkTimedOut(int pipe, int length) {
    if (unplugged_) return usb::kNoDevice;
    record(std::to_string(id_) + " bulk " + std::to_string(pipe) + " " + std::to_string(length) +
           " 0");
    return usb::kTimeout;
}

uint32_t SimCamera::bulkRead(int pipe, unsigned char* buffer, int length, int* received) {
    *received = 0;
    if (unplugged_) return usb::kNoDevice;
    auto done = [&](uint32_t status, int n) {
        *received = n;
        record(std::to_string(id_) + " bulk " + std::to_string(pipe) + " " +
               std::to_string(length) + " " + std::to_string(n));
        return status;
    };
    if (length < 0 || (length > 0 && !buffer)) return done(usb::kError, 0);
    bool vanish = false;
    uint32_t status = usb::kSuccess;
    int delivered = 0;
    {
        std::lock_guard bulk(bulkMu_);
        FrameShape shape;
        Exposure exposure;
        std::optional<SensorFrame> physical;
        Faults faults;
        bool capture = false;
        uint64_t number = 0;
        {
            std::lock_guard lock(mu_);
            if (!profile_ || pipe != profile_->bulkPipe) return done(usb::kStall, 0);
            if (frame_.active && frame_.generation != generation_) frame_.active = false;
            if (!frame_.active) {
                if (faults_.stopped || !running_) {
                    frameActive_ = false;
                    return done(usb::kTimeout, 0);
                }
                shape = shapeLocked();
                exposure = exposureLocked();
                if (sensorProperties_)
                    physical = SensorFrame{*sensorProperties_, lines_ * lineMs() / 1000.0,
                                           temperatureLocked(Clock::now())};
                faults = faults_;
                faults_.corruptMarker = false;
                faults_.resize = 0;
                if (carriesCaptureFlag(profile_->framing)) {
                    capture = capture_;
                    capture_ = false;
                }
                if (paced_) {
                    const Clock::time_point now = Clock::now();
                    const auto period =
                        std::chrono::microseconds(static_cast<int64_t>(frameMs() * 1000.0));
                    if (now >= nextReady_)
                        nextReady_ += period * ((now - nextReady_) / period + 1);
                    else
                        nextReady_ += period;
                }
                frame_.generation = generation_;
                number = frameNumber_++;
            }
            faults.unplugAfter = faults_.unplugAfter;
            faults_.unplugAfter = -1;
            faults.interruptAfter = faults_.interruptAfter;
            faults.interruptStatus = faults_.interruptStatus;
            faults_.interruptAfter = -1;
        }
        size_t direct = 0;  // bytes rendered straight into the host's buffer
        if (!frame_.active) {
            const long pixels = static_cast<long>(shape.pixels) + faults.resize;
            shape.pixels = static_cast<size_t>(std::max(0l, pixels));
            const size_t total = shape.total();
            // The part of the frame this read takes goes straight into the
            // host's buffer; only the rest is staged for the next reads.
            direct = faults.unplugAfter >= 0 || faults.interruptAfter >= 0
                         ? 0
                         : std::min(total, static_cast<size_t>(length));
            FrameSink sink{buffer, direct, nullptr};
            if (direct < total) {
                frame_.bytes.resize(total);
                sink.tail = frame_.bytes.data();
            }
            renderFrame(sink, shape, exposure, physical ? &*physical : nullptr, faults, capture, number);
            frame_.size = total;
            frame_.offset = 0;
            frame_.active = true;
            activeGeneration_ = frame_.generation;
        }
        size_t n = std::min(static_cast<size_t>(length), frame_.size - frame_.offset);
        if (faults.unplugAfter >= 0) {
            n = std::min(n, static_cast<size_t>(faults.unplugAfter));
            vanish = true;
            status = usb::kNoDevice;
        } else if (faults.interruptAfter >= 0) {
            n = std::min(n, static_cast<size_t>(faults.interruptAfter));
            status = faults.interruptStatus;
        }
        if (n > direct) std::memcpy(buffer + direct, frame_.bytes.data() + frame_.offset + direct, n - direct);
        frame_.offset += n;
        // A host buffer that is not a whole number of packets ends the
        // transfer with an overflow: the rest of the frame is lost.
        if (vanish || status != usb::kSuccess || frame_.offset == frame_.size ||
            length % static_cast<int>(kUsbPacket) != 0)
            frame_.active = false;
        frameActive_ = frame_.active;
        delivered = static_cast<int>(n);
        *received = delivered;
        record(std::to_string(id_) + " bulk " + std::to_string(pipe) + " " +
               std::to_string(length) + " " + std::to_string(delivered));
    }
    if (vanish) unplug();
    return status;
}

// ---- plug, faults, settings ----------------------------------------------

void SimCamera::unplug() {
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(mu_);
        if (unplugged_.exchange(true)) return;
        listeners.swap(unplugListeners_);
    }
    for (auto& l : listeners) l();
    // A gone camera keeps its state for inspection, not its pictures.
    std::lock_guard bulk(bulkMu_);
    scene_.reset();
    sensor_.reset();
    frame_ = Frame{};
    frameActive_ = false;
}

void SimCamera::onUnplug(std::function<void()> listener) {
    {
        std::lock_guard lock(mu_);
        if (!unplugged_) {
            unplugListeners_.push_back(std::move(listener));
            return;
        }
    }
    listener();
}

void SimCamera::pressCapture() {
    std::lock_guard lock(mu_);
    capture_ = true;
}

bool SimCamera::setSensor(std::string_view properties, std::string& error) {
    std::lock_guard lock(mu_);
    if (properties == "off") {
        sensorProperties_.reset();
        return true;
    }
    SensorProperties next = sensorProperties_.value_or(SensorProperties{});
    if (!next.merge(properties, error)) return false;
    sensorProperties_ = next;
    return true;
}

std::optional<SensorProperties> SimCamera::sensor() const {
    std::lock_guard lock(mu_);
    return sensorProperties_;
}

void SimCamera::setFlatScene(bool flat) {
    flatScene_ = flat;
}

void SimCamera::setChartScene(bool chart) {
    chartScene_ = chart;
}

void SimCamera::setColour(const Scene::ColourMatrix& m) {
    std::lock_guard bulk(bulkMu_);
    colour_ = m;
}

std::optional<Scene::ColourMatrix> SimCamera::parseColour(std::string_view text) {
    Scene::ColourMatrix m{};
    size_t at = 0;
    for (size_t i = 0; i < m.size(); ++i) {
        const size_t end = std::min(text.find(',', at), text.size());
        const std::string item(text.substr(at, end - at));
        char* stop = nullptr;
        const double v = std::strtod(item.c_str(), &stop);
        if (item.empty() || *stop != '\0' || !(v >= -4 && v <= 4)) return std::nullopt;
        m[i] = static_cast<float>(v);
        if ((end == text.size()) != (i + 1 == m.size())) return std::nullopt;
        at = end + 1;
    }
    return m;
}

void SimCamera::setDefocus(float pixels) {
    defocus_ = pixels;
}

void SimCamera::setPaced(bool paced) {
    std::lock_guard lock(mu_);
    paced_ = paced;
    if (profile_) restartExposure();
}

void SimCamera::setFirmwareVersion(uint16_t version) {
    std::lock_guard lock(mu_);
    firmware_ = version;
}

void SimCamera::setThermal(double ambient, double setPoint, double timeConstantSeconds) {
    std::lock_guard lock(mu_);
    settleTemperature(Clock::now());
    ambient_ = ambient;
    setPoint_ = setPoint;
    settleSeconds_ = timeConstantSeconds;
    if (!coolerOn_) temperature_ = ambient;
}

void SimCamera::stallNextControl() {
    std::lock_guard lock(mu_);
    faults_.stallControl = true;
}

void SimCamera::corruptNextFrameMarker() {
    std::lock_guard lock(mu_);
    faults_.corruptMarker = true;
}

void SimCamera::resizeNextFrame(int deltaBytes) {
    std::lock_guard lock(mu_);
    faults_.resize = std::min(deltaBytes, 1 << 24);
}

void SimCamera::stopFrames(bool stopped) {
    std::lock_guard lock(mu_);
    faults_.stopped = stopped;
}

void SimCamera::unplugDuringNextRead(int afterBytes) {
    std::lock_guard lock(mu_);
    faults_.unplugAfter = std::max(0, afterBytes);
}

void SimCamera::interruptNextRead(int afterBytes, uint32_t status) {
    std::lock_guard lock(mu_);
    faults_.interruptAfter = std::max(0, afterBytes);
    faults_.interruptStatus = status;
}

// ---- state ---------------------------------------------------------------

uint16_t SimCamera::reg(uint16_t address) const {
    std::lock_guard lock(mu_);
    auto it = regs_.find(address);
    return it == regs_.end() ? 0 : it->second;
}

std::optional<uint16_t> SimCamera::option(uint16_t index) const {
    std::lock_guard lock(mu_);
    auto it = options_.find(index);
    if (it == options_.end()) return std::nullopt;
    return it->second;
}

bool SimCamera::gpio(int pin) const {
    std::lock_guard lock(mu_);
    return pin >= 1 && pin <= 3 && gpio_[pin - 1];
}

int SimCamera::depth() const {
    std::lock_guard lock(mu_);
    return depth_;
}

uint8_t SimCamera::resolutionMode() const {
    std::lock_guard lock(mu_);
    return resolutionMode_;
}

uint8_t SimCamera::clockMode() const {
    std::lock_guard lock(mu_);
    return clockMode_;
}

bool SimCamera::running() const {
    std::lock_guard lock(mu_);
    return running_;
}

uint32_t SimCamera::exposureLines() const {
    std::lock_guard lock(mu_);
    return lines_;
}

double SimCamera::exposureMs() const {
    std::lock_guard lock(mu_);
    return profile_ ? lines_ * lineMs() : 0.0;
}

int SimCamera::acknowledged() const {
    std::lock_guard lock(mu_);
    return acks_;
}

double SimCamera::temperature() const {
    std::lock_guard lock(mu_);
    return temperatureLocked(Clock::now());
}

bool SimCamera::capturePending() const {
    std::lock_guard lock(mu_);
    return capture_;
}

std::vector<uint8_t> SimCamera::memory(int address, int count) const {
    std::lock_guard lock(mu_);
    const int a = std::clamp(address, 0, kMemorySize);
    const int b = std::clamp(address + count, a, kMemorySize);
    return {memory_.begin() + a, memory_.begin() + b};
}

}  // namespace sim
