// The movie recorder of the viewer's live picture, free of Qt: a QuickTime movie
// with one H.264 track, frames stamped with consecutive frame numbers at a rate
// fixed when recording starts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Frame rates a movie may be opened with.
constexpr int kMinMovieFps = 1;
constexpr int kMaxMovieFps = 1000;
// Rate used before the viewer has measured one.
constexpr int kDefaultMovieFps = 10;
// Largest frame side the recorder takes.
constexpr int kMaxMovieSide = 16384;

// Movie rate for a live view that showed its last ten frames in `dustm`
// milliseconds: the nearest whole rate, so the movie plays at the speed it was
// recorded; kDefaultMovieFps when nothing has been measured yet, and always
// within [kMinMovieFps, kMaxMovieFps].
int MovieFrameRate(int dustm);

class ezRecorder {
  public:
    // Receives one log line, without its line break.
    using LogSink = std::function<void(const std::string& line)>;

    ezRecorder();
    ~ezRecorder();  // finishes a movie still open
    ezRecorder(const ezRecorder&) = delete;
    ezRecorder& operator=(const ezRecorder&) = delete;

    // Creates the movie at `path` (never replacing an existing file) for frames
    // of width x height; `channels` (1 or 3) is the camera's channel count and
    // does not restrict what AppendSampleBuffer takes. On failure nothing stays
    // open and no file is left behind; LastError() says why. Frame n (from 1)
    // is shown at n / fps seconds.
    bool OpenRecorder(const std::string& path, int width, int height, int channels, int fps);

    // Encodes one frame of 8-bit samples, rows of width x channels bytes without
    // gaps; channels 1 (grey, shown as R = G = B) or 3 (R, G, B). The pixels are
    // consumed before the call returns. A frame of another size than the movie's
    // is scaled to fit, keeping its aspect, on black. False when the frame is
    // invalid (not counted) or the encoder or file rejects it (counted, so later
    // frames keep their times). Safe to call from another thread than
    // OpenRecorder and CloseRecorder.
    bool AppendSampleBuffer(const unsigned char* pixels, int width, int height, int channels);

    // Flushes the encoder and finishes the file; a movie that received no
    // frame is removed. Safe to call twice; an append running on another
    // thread completes first, later ones are refused. False when the file
    // could not be finished.
    bool CloseRecorder();

    bool IsRecording() const;
    // Number the next frame will carry (frames start at 1).
    int FrameCount() const;
    std::string LastError() const;

    // Where log lines go; standard error by default. The sink runs with the
    // recorder locked and must not call it.
    void SetLogSink(LogSink sink);

  private:
    struct FormatCloser {
        void operator()(AVFormatContext* context) const;
    };
    struct CodecCloser {
        void operator()(AVCodecContext* context) const;
    };
    struct ScalerCloser {
        void operator()(SwsContext* context) const;
    };
    struct FrameCloser {
        void operator()(AVFrame* frame) const;
    };
    struct PacketCloser {
        void operator()(AVPacket* packet) const;
    };

    void log(const std::string& line) const;
    bool fail(const std::string& what, int averror = 0);
    void abandon();
    bool prepareAdaptor(int sourceWidth, int sourceHeight, int placedWidth, int placedHeight);
    void stage(const unsigned char* pixels, int width, int height, int channels, int stagedWidth,
               int stagedHeight);
    bool convert(const unsigned char* pixels, int width, int height, int channels);
    int drainPackets();

    // Source and placed sizes the converter was made for.
    struct Geometry {
        int sourceWidth = 0, sourceHeight = 0, placedWidth = 0, placedHeight = 0;
        bool operator==(const Geometry&) const = default;
    };

    mutable std::mutex lock;
    LogSink sink;
    std::string lastError;

    int frameCount = 1;     // number stamped on the next frame
    int kRecordingFPS = 0;  // time scale of the stamps
    int framesWritten = 0;
    int pictureWidth = 0, pictureHeight = 0;  // size given at opening
    std::string moviePath;
    bool createdFile = false;

    std::unique_ptr<AVFormatContext, FormatCloser> videoWriter;  // the movie file
    std::unique_ptr<AVCodecContext, CodecCloser> writerInput;    // the track's H.264 encoder
    AVStream* stream = nullptr;                                  // owned by videoWriter
    std::unique_ptr<SwsContext, ScalerCloser> adaptor;           // RGB to the encoder's format
    Geometry adaptorFrom;
    std::unique_ptr<AVFrame, FrameCloser> frame;
    std::unique_ptr<AVPacket, PacketCloser> packet;
    std::vector<unsigned char> staged;  // a frame made RGB of even sides
};
