// A raw recording: frames go into a bounded queue of frame buffers and a
// thread of its own writes them to the container, so the thread that grabs
// never waits on the disk. A frame that finds the queue full is dropped and
// counted; every frame offered ends up recorded, dropped, rejected or
// failed. The containers declare each frame as it goes in where their
// counts allow; about once a second the writing thread has the others (the
// OME-XML) declare what they hold, so a recording killed at any moment
// leaves a file with every frame but at most the last second's. A failed write ends the recording at
// once: the file is completed with the frames written whole, and the
// frames still queued are counted as failed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ezcam.h"
#include "recording/writers.h"

namespace recording {

struct RecorderSetup {
    std::string path;
    Format format = Format::OmeTiff;
    std::string instrument;       // the camera's name
    std::string pixelClock;       // the pixel clock's label
    // Calibration masters in force for the live picture, by kind ("dark",
    // "flat", "bias"): named in the metadata, never applied to the samples.
    std::vector<std::pair<std::string, std::string>> calibration;
    size_t frameBufferBytes = 0;  // a frame buffer as GetRawData fills it (RecvMemSize)
    uint64_t expectedFrames = 0;  // 0: not known in advance
    FrameType frameType = FrameType::Light;
    double samplePixelUm = 0;  // a pixel in the sample plane (objective), 0 none
    size_t queueBytes = size_t{256} << 20;  // memory the queue may hold (at least 2 frames)
    // Runs on the writing thread after every frame written (a test's slow disk).
    std::function<void()> afterWrite;
};

struct RecordingCounts {
    uint64_t offered = 0;   // frames given to the recorder
    uint64_t recorded = 0;  // written to the file
    uint64_t dropped = 0;   // not written: the queue was full
    uint64_t rejected = 0;  // not written: not a raw frame of the recording's size and depth
    uint64_t failed = 0;    // not written: writing had failed (error() says why)
    uint64_t queued = 0;    // waiting to be written
    uint64_t readerLost = 0;  // frames the camera's reader lost meanwhile (-3)
    uint64_t bytes = 0;       // sample bytes written
    // Nothing lost anywhere.
    bool complete() const {
        return dropped == 0 && rejected == 0 && failed == 0 && readerLost == 0;
    }
};

class Recorder {
  public:
    // Allocates the queue and starts the writing thread; the file is
    // created with the first frame, unless the folder's free space cannot
    // hold the frames expected (then the recording fails and says how much
    // they need). error() tells why when !ok().
    explicit Recorder(RecorderSetup setup);
    ~Recorder();  // finishes if finish() was not called
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    bool ok() const;

    // The grabbing thread, without waiting on the disk:
    // claim() lends a free frame buffer of frameBufferBytes, or null when the
    // queue is full. A claimed buffer goes back through commit() (a frame
    // was read into it) or release() (none was).
    unsigned char* claim();
    void commit(unsigned char* buffer, const EzFrameInfo& info);
    void release(unsigned char* buffer);
    // A frame in the caller's own buffer (its record and the samples it
    // describes): copied into the queue; false when it was dropped (the
    // queue is full) or left out.
    bool push(const unsigned char* frame, const EzFrameInfo& info);
    // A frame read while no buffer was free: counted as dropped (as failed
    // once writing has failed).
    void drop(const EzFrameInfo& info);
    // A read that lost its frame (-3, GetRawDataInfo's counts brought up to date).
    void readerLoss(const EzFrameInfo& info);

    // Any thread.
    RecordingCounts counts() const;
    // Writes what is queued, completes the file and stops the thread;
    // false (and error()) when the file could not be written whole.
    bool finish();
    std::string error() const;
    // The file (or the pattern of the files) written; "" before the first frame.
    std::string written() const;

  private:
    void run();
    bool roomFor(const Sequence& sequence, std::string& why) const;
    void offered(const EzFrameInfo& info);  // under lock_
    bool usable(const unsigned char* frame, std::string& why) const;

    RecorderSetup setup_;
    std::unique_ptr<SequenceWriter> writer_;
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;
    struct Entry {
        unsigned char* buffer;
        EzFrameInfo info;
    };
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::vector<unsigned char*> free_;
    std::deque<Entry> filled_;
    RecordingCounts counts_;
    bool stopping_ = false;
    bool finished_ = false;
    bool finishOk_ = true;
    bool failed_ = false;  // writing failed: later frames are counted as failed
    std::string error_;
    std::string written_;
    Sequence sequence_;  // from the first usable frame
    bool haveSequence_ = false;
    bool haveFirst_ = false;
    uint64_t lostAtStart_ = 0;
    std::thread thread_;
};

}  // namespace recording
