// One simulated camera: the device side of the cameras' USB protocol, with no
// knowledge of how it is reached. Two fronts use it: the in-process simulated
// bus and the emulated usbdevfs device of the libusb tests.
//
// Control requests (vendor, pipe 0):
//   0xb0 OUT / 0xb1 IN   information memory: value = first address, index =
//                        last address (inclusive); a write stores at most the
//                        data stage, a read returns min(length, last - first + 1)
//                        bytes. Addresses 0 to kMemorySize - 1; others stall.
//   0xb3                 frame acknowledge (drops what is left of the frame)
//   0xb4                 resolution mode (low byte of value) and start of the
//                        exposure; the line count rides in index and, bits 16 to
//                        23, in the high byte of value. Ends a region of interest.
//   0xb5                 pixel clock (low byte of value), line count as for 0xb4
//   0xb6 IN index 1      status: bytes 0-1 the temperature (see below), byte 2
//                        0xcc while a capture request is pending
//   0xb6 IN index 2      firmware version, little-endian
//   0xb7                 register write: value to register `index`
//   0xb8                 option `index` := value (1: cooler; value 0x60..0x62
//                        with index 0: general-purpose output 1..3, high byte on)
//   0xb9                 raw depth: value 10 = 8 bits, 5 = 16 bits
//   0xba / 0xbb          sensor start / stop
//   0xbd / 0xbe          region of interest origin (x, y) / stored size
//                        (width + 8, height + 8 as the host counts them); frames
//                        after 0xbe are that size, clamped to the mode
// Anything else, a wrong direction or a bad argument stalls.
//
// Bulk frames: one frame per transfer in the framing of the product (see
// Framing), sized by the mode in force, or by the region of interest once one
// is programmed.
//
// What is left of a frame when the host's read was shorter: it stays in the
// device's buffer and the next read continues it (so a transfer split into
// several reads gets consecutive chunks), until the host acknowledges the
// frame (0xb3) or reprograms the sensor (0xb4, 0xb5, 0xb9, 0xba, 0xbb, 0xbd,
// 0xbe), which drop it; the next read then starts a new frame. A read whose
// length is not a whole number of 512-byte packets and that ends inside the
// frame also drops the rest: on a real bus its last packet would have
// overflowed the host's buffer, ending the transfer.
//
// Temperature: a reading n in half degrees (signed, little-endian); below zero
// the sensor counts in steps of 0.625 degrees instead (n = -1 is -0.625). It
// drifts exponentially toward the set point while the cooler is on, and back
// toward ambient when it is off.
//
// Thread-safe: control() and bulkRead() may run on different threads at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_profile.h"
#include "sim/scene.h"
#include "sim/sensor_model.h"
#include "usb/usb.h"

namespace sim {

class SimCamera {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMemorySize = 2048;
    static constexpr size_t kTraceLines = 65536;  // lines kept in memory

    // A pair that no model drives becomes a device that stalls every request.
    SimCamera(int id, uint16_t vendor, uint16_t product, uint16_t bcdDevice);
    ~SimCamera();
    SimCamera(const SimCamera&) = delete;
    SimCamera& operator=(const SimCamera&) = delete;

    int id() const { return id_; }
    usb::DeviceInfo info() const;
    // False for a device that stalls everything.
    bool supported() const { return profile_.has_value(); }
    const DeviceProfile* profile() const { return profile_ ? &*profile_ : nullptr; }

    // Answers a vendor control transfer; fills urb.lengthDone. Never blocks.
    uint32_t control(EZURB& urb);

    // When the next frame may be delivered: now while a frame is in progress
    // or when unpaced; far in the future while the sensor is stopped.
    Clock::time_point frameReadyAt() const;

    // Delivers the next bytes of the current frame (starting one if none is in
    // progress), at most `length`; never blocks. kTimeout with nothing when no
    // frame is available (sensor stopped, delivery stopped), kStall on a pipe
    // other than the product's bulk pipe.
    uint32_t bulkRead(int pipe, unsigned char* buffer, int length, int* received);
    // For fronts that gave up waiting: records the transfer; returns kTimeout
    // (kNoDevice once unplugged).
    uint32_t bulkTimedOut(int pipe, int length);

    // After unplug every call fails with kNoDevice. Listeners run once, on the
    // unplugging thread, outside the camera's locks.
    void unplug();
    bool unplugged() const { return unplugged_.load(); }
    void onUnplug(std::function<void()> listener);

    // The capture button. Products whose framing has a capture flag carry it
    // in the next frame; the status request (0xb6 index 1) reports it while
    // pending, and serves it itself on products whose frames cannot.
    void pressCapture();

    // Settings.
    void setPaced(bool paced);  // default: EZCAM_SIM_PACE, paced unless "0"
    // An even scene without objects (for flat-field references); default:
    // EZCAM_SIM_SCENE, flat when "flat".
    void setFlatScene(bool flat);
    // The colour chart instead of the microscope scene; default:
    // EZCAM_SIM_SCENE, the chart when "chart".
    void setChartScene(bool chart);
    // The sensor's colour response (Scene::setColour); default:
    // EZCAM_SIM_COLOUR, nine numbers m00,...,m22, else Scene::kDefaultColour.
    void setColour(const Scene::ColourMatrix& m);
    // Reads nine comma-separated numbers, each within -4..4.
    static std::optional<Scene::ColourMatrix> parseColour(std::string_view text);
    // The physical sensor (sensor_model.h) instead of the fast noise: "on",
    // or "key=value,..." merged into the properties in force (the defaults when
    // off); "off" returns to the fast noise. False, with the reason, for a
    // properties it cannot read. Default: EZCAM_SIM_SENSOR.
    bool setSensor(std::string_view properties, std::string& error);
    std::optional<SensorProperties> sensor() const;  // nothing: the fast noise
    // The scene's distance from focus, as a blur radius in pixels (0 sharp).
    void setDefocus(float pixels);
    void setFirmwareVersion(uint16_t version);  // default: the device release
    // Temperatures in degrees; the reading approaches its target with this
    // time constant. Defaults: 25, -10, 20 s.
    void setThermal(double ambient, double setPoint, double timeConstantSeconds);

    // Fault injection, each for the next occurrence only unless said.
    void stallNextControl();
    void corruptNextFrameMarker();      // header, trailer marker or signature
    void resizeNextFrame(int deltaBytes);  // short (< 0) or over-long (> 0) pixel data
    void stopFrames(bool stopped);      // while set, no frame is delivered
    void unplugDuringNextRead(int afterBytes);  // deliver that much, then vanish
    // Deliver that much of the next frame (at most what the read asks), then
    // end the transfer with `status` (a stall, a time-out, an overrun); the
    // rest of that frame is lost.
    void interruptNextRead(int afterBytes, uint32_t status);

    // State, for tests and fronts.
    uint16_t reg(uint16_t address) const;
    std::optional<uint16_t> option(uint16_t index) const;
    bool gpio(int pin) const;
    int depth() const;
    uint8_t resolutionMode() const;
    uint8_t clockMode() const;
    bool running() const;
    uint32_t exposureLines() const;
    double exposureMs() const;
    int acknowledged() const;  // 0xb3 requests received
    double temperature() const;
    bool capturePending() const;
    std::vector<uint8_t> memory(int address, int count) const;
    // The size of the next frame in bytes and the samples of its image.
    struct FrameShape {
        Geometry geometry;
        int depth = 8;
        size_t prefix = 0;  // bytes before the pixel data
        size_t pixels = 0;  // pixel-data bytes
        size_t suffix = 0;  // bytes after the pixel data
        size_t total() const { return prefix + pixels + suffix; }
    };
    FrameShape nextFrameShape() const;

    // The transfers received, one line each, as in the EZCAM_SIM_TRACE file.
    std::vector<std::string> trace() const;
    void clearTrace();
    // Control requests the device did not understand and stalled (a wrong
    // request, direction or argument; injected faults not counted), and the
    // trace line of the latest of them.
    int refusedRequests() const;
    std::string lastRefused() const;

private:
    struct Faults {
        bool stallControl = false;
        bool corruptMarker = false;
        int resize = 0;
        bool stopped = false;
        int unplugAfter = -1;
        int interruptAfter = -1;
        uint32_t interruptStatus = 0;
    };
    struct Frame {
        std::vector<unsigned char> bytes;  // staging when read in pieces
        size_t size = 0;
        size_t offset = 0;
        uint64_t generation = 0;
        bool active = false;
    };

    uint32_t controlLocked(EZURB& urb);
    uint32_t memoryRequest(EZURB& urb, bool write);
    uint32_t statusRequest(EZURB& urb);
    void writeRegister(uint16_t address, uint16_t value);
    void setLinesFromRequest(const EZURB& urb);
    const ResolutionEntry* modeEntry() const;
    const PixelClockEntry* clockEntry() const;
    uint32_t periodLines() const;
    double lineMs() const;
    double frameMs() const;
    double temperatureLocked(Clock::time_point now) const;
    void settleTemperature(Clock::time_point now);
    void restartExposure();
    void dropFrame();
    FrameShape shapeLocked() const;
    Exposure exposureLocked() const;
    // A frame's bytes: [0, headLength) in the host's buffer, the rest at the
    // same offsets in the staging buffer.
    struct FrameSink {
        unsigned char* head;
        size_t headLength;
        unsigned char* tail;
        unsigned char& at(size_t pos) const { return pos < headLength ? head[pos] : tail[pos]; }
        void fill(size_t pos, size_t count, unsigned char value) const {
            for (size_t i = pos; i < pos + count; ++i) at(i) = value;
        }
    };
    void renderFrame(const FrameSink& out, const FrameShape& shape, const Exposure& exposure,
                     const SensorFrame* physical, const Faults& faults, bool capture,
                     uint64_t number);
    void record(std::string line);
    void fireUnplug();

    const int id_;
    const uint16_t vendor_, product_, release_;
    const std::optional<DeviceProfile> profile_;

    mutable std::mutex mu_;  // everything below except the bulk-side state
    std::atomic<bool> unplugged_{false};
    std::atomic<bool> flatScene_{false};
    std::atomic<bool> chartScene_{false};
    std::atomic<float> defocus_{0.0f};
    std::vector<std::function<void()>> unplugListeners_;
    std::map<uint16_t, uint16_t> regs_;
    std::map<uint16_t, uint16_t> options_;
    bool gpio_[3] = {};
    uint8_t resolutionMode_ = 0;
    uint8_t clockMode_ = 0;
    int depth_ = 8;
    bool running_ = true;
    uint32_t lines_ = 0;
    uint16_t roiX_ = 0, roiY_ = 0, roiW_ = 0, roiH_ = 0;
    bool roi_ = false;
    int acks_ = 0;
    int refused_ = 0;
    std::string lastRefused_;
    bool capture_ = false;
    uint16_t firmware_ = 0;
    std::vector<uint8_t> memory_;
    bool paced_ = true;
    Clock::time_point nextReady_;
    uint64_t generation_ = 0;  // bumped by every request that drops a frame
    bool coolerOn_ = false;
    double ambient_ = 25.0, setPoint_ = -10.0, settleSeconds_ = 20.0;
    double temperature_ = 25.0;
    Clock::time_point temperatureAt_;
    Faults faults_;
    std::optional<SensorProperties> sensorProperties_;

    mutable std::mutex traceMu_;
    std::deque<std::string> trace_;

    std::mutex bulkMu_;  // the frame being delivered and the scene
    Frame frame_;
    std::atomic<bool> frameActive_{false};
    std::atomic<uint64_t> activeGeneration_{0};  // generation of the frame in progress
    uint64_t frameNumber_ = 0;
    std::unique_ptr<Scene> scene_;
    std::unique_ptr<PhysicalSensor> sensor_;
    Scene::ColourMatrix colour_ = Scene::kDefaultColour;
};

}  // namespace sim
