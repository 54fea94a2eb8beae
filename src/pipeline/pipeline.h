// The frame pipeline: a raw frame to a finished image with the processing
// settings in force, and the settings themselves. Knows no USB and no camera:
// a camera owns one and forwards its processing operations to it.
//
// Threads: setters run on any thread, frames on another. A setter builds its
// table into lut2 and hands it over (shared_state.h); a frame takes every
// staged table over at its start and from then on reads only its live
// tables and live keys, and switch bytes read once. No setting ever makes a
// frame wait.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "ezcam.h"
#include "calibration/colour_profile.h"
#include "calibration/raw_tables.h"
#include "pipeline/workers.h"
#include "processing/corrections.h"
#include "processing/image_record.h"
#include "processing/tone.h"
#include "shared_state.h"

// One 8-bit processing setting with its live table (read by the frame
// pipeline) and its staged table (written by the setter).
struct SoftWareValue {
    uint8_t value = 0;
    uint8_t min = 0;
    uint8_t max = 0;
    uint8_t step = 0;
    uint8_t supported = 0;
    uint8_t changed = 0;  // hand-over state of lut2 (shared::HandOver); 1: not yet copied
    unsigned char* lut = nullptr;
    unsigned char* lut2 = nullptr;
    std::unique_ptr<unsigned char[]> block;  // owns lut and lut2

    // What a table was built for. The staged key travels with lut2 and
    // becomes the live key when a frame takes the table over, so the frame
    // decides which steps run from the tables it really holds. Stretch
    // records: value is the automatic flag, low and high the bounds.
    struct Key {
        uint8_t value = 0;
        uint8_t low = 0;
        uint8_t high = 255;
    };
    Key staged;  // with lut2; written by setters inside the hand-over
    Key live;    // with lut; frame side only
    size_t entries = 0;

    // One block holding both tables of `entries` bytes: lut, then lut2.
    void allocate(size_t entries);
    void define(uint8_t value_, uint8_t min_, uint8_t max_, uint8_t step_, bool supported_) {
        value = value_;
        min = min_;
        max = max_;
        step = step_;
        supported = supported_ ? 1 : 0;
        staged = live = Key{value_, min_, max_};
    }
    // Setter side: builds a new staged table with build(lut2) and hands it
    // over. Waits only while a frame is copying the previous table.
    template <typename Build>
    void stage(Key key, Build&& build) {
        shared::claimWrite(changed);
        if (lut2) build(lut2);
        staged = key;
        shared::publish(changed);
    }
    // Frame side: copies a staged table (at most `bytes` of it) into lut;
    // never waits. False when nothing was staged or a setter is busy.
    bool takeOver(size_t bytes);
};

// The sensor whose frames are finished: channels of its images (1 or 3) and
// its Bayer code (0: no mosaic). The camera keeps these; every call that
// depends on them is given them.
struct Sensor {
    int channels = 3;
    int bayer = 1;
};

// Steps of a camera model whose frames are finished differently from the
// common procedure; the defaults are the common procedure.
struct ModelSteps {
    // Replaces the Bayer decoding: fills `image` (the raw frame's size, the
    // sensor's channels and depth, decoded set) from `raw`.
    void (*decode)(_ezImage* raw, _ezImage* image) = nullptr;
    // Whether the 4-pixel border is cut: as the caller asks, always, never.
    enum class Border : uint8_t { AsAsked, Always, Never } border = Border::AsAsked;
    bool flip = true;  // false: the camera flips in the sensor
};

// Hot pixels of a raw mosaic: the list a requested search finds, repaired in
// every later frame while the correction is on. Runs in the frame reader,
// on raw frames.
struct DefectList {
    int32_t count = 0;
    int32_t capacity = 8192;
    std::unique_ptr<_ezPoint[]> points;
    uint8_t searchRequest = 0;
    uint8_t correctionOn = 0;

    DefectList();
    // A requested search (the result becomes 5, or -5 when the search
    // fails), then the correction when on; otherwise returns `result`.
    int step(_ezImage* frame, int result);
};

class FramePipeline {
  public:
    FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // Colour cameras: the saturation record (reported value; table built for
    // `table`) and the three digital-gain records, at their neutral values.
    void enableColour(int saturationValue, int saturationTable);
    bool colour() const { return saturation.supported != 0; }

    // ---- Settings: staged, taken over by the next frame ----------------
    // Gamma of every one of `channels` channels; any value the record holds.
    void setGamma(int value, int channels);
    // One channel's gamma; ignored outside its range or when unchanged;
    // -2 for a channel outside 0..2.
    int setGamma(int value, int channel, int channels);
    void setContrast(int value);
    void setSaturation(int value);
    void setDigitalGain(int gain0, int gain1, int gain2);
    // Manual bounds (refused with -2, re-issuing the stored bounds) or the
    // automatic flag, for every channel or one.
    int setStretch(int low, int high, bool automatic, int channels);
    int setStretch(int low, int high, bool automatic, int channel, int channels);
    // The record of `channel` as a camera with `channels` channels uses it.
    SoftWareValue& gammaOf(int channel, int channels) { return gamma[channels == 1 ? 0 : channel]; }
    SoftWareValue& stretchOf(int channel, int channels) {
        return stretch[channels == 1 ? 0 : channel];
    }
    // Switches, read once per frame.
    void setFlip(int code) { shared::store(flip, code); }
    void setRotate(int code) { shared::store(rotate, code); }
    void setMonochrome(bool on) { shared::store(monochrome, on); }
    void setColorEnhancement(bool on) { shared::store(colorEnhancement, on); }
    void setHistogram(bool on) { shared::store(histogramOn, on); }
    void setFlatFieldOn(bool on) { shared::store(flatFieldOn, on); }
    // Tables that calibrate raw samples before decoding (null: none); a
    // frame of another size or depth than theirs passes uncalibrated.
    void setRawCalibration(std::shared_ptr<const RawCalibration> tables) {
        rawCalibration.store(std::move(tables));
    }
    // A measured colour matrix in place of the fixed colour correction
    // while colour enhancement is on (null: the fixed one).
    void setColourProfile(std::shared_ptr<const calib::ProfileMatrix> matrix) {
        colourProfile.store(std::move(matrix));
    }
    std::shared_ptr<const calib::ProfileMatrix> colourProfileInUse() const { return colourProfile.load(); }
    // Threads that finish a frame together (1 .. kMaxThreads); the default
    // is the machine's cores, up to kMaxThreads.
    static constexpr int kMaxThreads = 4;
    void setThreads(int count);
    int threadCount() const { return threads; }
    static int defaultThreads();

    // ---- Frames ------------------------------------------------------------
    // Finishes the raw frame in rawBuffer into imageBuffer (laid out as the
    // raw frame: record, pixels from the raw record's header_size, then the
    // statistics area); `crop` cuts a 4-pixel border. 0, or -2 for a frame
    // that cannot be processed (nothing is then written). Frames of one
    // pipeline are processed one at a time.
    int run(unsigned char* rawBuffer, unsigned char* imageBuffer, bool crop, const Sensor& sensor);

    // Decodes a raw frame (one channel) into an image of the sensor's
    // channels at the raw frame's depth, with colour correction when it is on.
    void decode(_ezImage* raw, _ezImage* image, int bayer);

    // The flat-field reference from a raw frame: decoded at 8 bits, its
    // channel means stored, no zero left to divide by; taken over by the next
    // frame. 0, -2 for a frame that is not a raw record, -3 out of memory.
    int captureFlatField(const _ezImage* raw, const Sensor& sensor);

    // The steps of a frame, each on a whole image in place.
    void takeOverTables();
    int greyTone(_ezImage* image);    // monochrome sensor
    int monoTone(_ezImage* image);    // grey view of a colour image
    int colourTone(_ezImage* image);  // gains, saturation, gamma, contrast
    void stretchImage(_ezImage* image);
    void flatField(_ezImage* image);

    // ---- State ---------------------------------------------------------------
    SoftWareValue contrast;
    SoftWareValue saturation;
    SoftWareValue digitalGain[3];
    SoftWareValue stretch[3];
    SoftWareValue gamma[3];
    // Plain switches: written with shared::store, read once per frame.
    uint8_t flip = 0;
    uint8_t rotate = 0;
    uint8_t monochrome = 0;
    uint8_t histogramOn = 0;
    uint8_t colorEnhancement = 0;
    uint8_t flatFieldOn = 0;
    uint8_t flatFieldNew = 0;     // hand-over state of flatFieldReference (shared::HandOver)
    ImagePtr flatFieldReference;  // replaced only inside the flatFieldNew hand-over
    ImagePtr flatFieldScaled;     // frame side only
    DefectList defects;
    ModelSteps modelSteps;  // set by the model's constructor

  private:
    // The profile a frame is corrected with: null without colour
    // enhancement, or with the fixed correction.
    std::shared_ptr<const calib::ProfileMatrix> profileInForce() const {
        return shared::load(colorEnhancement) ? colourProfile.load() : nullptr;
    }
    struct TonePlan;
    enum class Tone { Grey, View, Colour };
    // withStretch: a colour pass folds the live stretch tables in.
    void planTone(TonePlan& plan, const _ezImage* image, Tone kind, bool withStretch = false);
    bool planStretch(bool (&automatic)[3]);
    bool automaticTables(_ezImage* image, const bool (&automatic)[3], bool measured);
    bool stretchChanges() const;
    void stretchRows(_ezImage* image, int first, int rows);
    void finish(_ezImage* image, const Sensor& sensor);
    bool fusable(const _ezImage* raw, const _ezImage* image, bool cut, const Sensor& sensor) const;
    void runFused(_ezImage* raw, _ezImage* image, bool cut, const Sensor& sensor);

    std::mutex frameMutex;
    uint8_t threads = static_cast<uint8_t>(defaultThreads());
    WorkerPool pool;
    // Per stripe, kept between frames: a row for mirroring, histogram bins.
    std::vector<unsigned char> scratch;
    std::vector<HistogramCounters> bins;
    std::atomic<std::shared_ptr<const RawCalibration>> rawCalibration;
    std::atomic<std::shared_ptr<const calib::ProfileMatrix>> colourProfile;
    std::vector<unsigned char> calibratedRaw;  // the frame's calibrated samples; raw stays as read
};
