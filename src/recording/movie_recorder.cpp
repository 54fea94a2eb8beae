// The viewer's movie recorder on FFmpeg: libx264 into a QuickTime container.
#include "recording/movie_recorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

constexpr AVPixelFormat kCodedFormat = AV_PIX_FMT_YUV420P;
// Bytes the converter may read beyond its input (32 seen with small frames).
constexpr size_t kReadSlack = 64;

std::string averrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string printed(const char* format, auto... values) {
    char line[160];
    std::snprintf(line, sizeof line, format, values...);
    return line;
}

// x264 prints a banner and statistics at the default level; keep the log to
// warnings unless the application chose a level of its own.
void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_WARNING);
    });
}

// 4:2:0 chroma needs even sides: odd ones get one more row or column.
int evenUp(int side) {
    return side + (side & 1);
}

}  // namespace

int MovieFrameRate(int dustm) {
    if (dustm <= 0) return kDefaultMovieFps;
    const long rate = (20000L + dustm) / (2L * dustm);  // 10000 / dustm, rounded
    return static_cast<int>(std::clamp<long>(rate, kMinMovieFps, kMaxMovieFps));
}

void ezRecorder::FormatCloser::operator()(AVFormatContext* context) const {
    if (context->pb) avio_closep(&context->pb);
    avformat_free_context(context);
}
void ezRecorder::CodecCloser::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void ezRecorder::ScalerCloser::operator()(SwsContext* context) const {
    sws_freeContext(context);
}
void ezRecorder::FrameCloser::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void ezRecorder::PacketCloser::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

ezRecorder::ezRecorder() = default;

ezRecorder::~ezRecorder() {
    CloseRecorder();
}

void ezRecorder::SetLogSink(LogSink newSink) {
    std::lock_guard guard(lock);
    sink = std::move(newSink);
}

void ezRecorder::log(const std::string& line) const {
    if (sink)
        sink(line);
    else
        std::cerr << line << std::endl;
}

bool ezRecorder::fail(const std::string& what, int averror) {
    lastError = averror < 0 ? what + ": " + averrorText(averror) : what;
    log(lastError);
    return false;
}

void ezRecorder::abandon() {
    stream = nullptr;
    writerInput.reset();
    videoWriter.reset();
    adaptor.reset();
    frame.reset();
    packet.reset();
    adaptorFrom = {};
    if (createdFile) ::unlink(moviePath.c_str());
    createdFile = false;
}

bool ezRecorder::OpenRecorder(const std::string& path, int width, int height, int channels,
                              int fps) {
    std::lock_guard guard(lock);
    lastError.clear();
    if (videoWriter) return fail("a movie is already being recorded");
    if (path.empty()) return fail("no movie path");
    if (width < 1 || height < 1 || width > kMaxMovieSide || height > kMaxMovieSide)
        return fail(printed("movie size %dx%d out of range", width, height));
    if (channels != 1 && channels != 3)
        return fail(printed("channel count %d is neither 1 nor 3", channels));
    if (fps < kMinMovieFps || fps > kMaxMovieFps)
        return fail(printed("frame rate %d out of range", fps));
    quietLibraries();

    frameCount = 1;
    framesWritten = 0;
    kRecordingFPS = fps;
    pictureWidth = width;
    pictureHeight = height;
    moviePath = path;
    const int codedWidth = evenUp(width);
    const int codedHeight = evenUp(height);
    auto failed = [this](const std::string& what, int averror = 0) {
        fail(what, averror);
        abandon();
        return false;
    };

    // The movie file. It must be new: two movies started within the same
    // second get the same name, and the second must not destroy the first.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const std::string reason = path + ": " + std::strerror(errno);
        log("Init With URL Failed");
        log("Invalid parameter not satisfying: videoWriter");
        return failed(reason);
    }
    ::close(fd);
    createdFile = true;
    AVFormatContext* format = nullptr;
    int rc = avformat_alloc_output_context2(&format, nullptr, "mov", nullptr);
    videoWriter.reset(format);
    // "file:" keeps a name with a colon from being read as another protocol.
    if (rc >= 0) rc = avio_open(&videoWriter->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        log("Init With URL Failed");
        log("Invalid parameter not satisfying: videoWriter");
        return failed(path, rc);
    }

    // The track's encoder.
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec) writerInput.reset(avcodec_alloc_context3(codec));
    if (!writerInput) {
        log("Invalid parameter not satisfying: writerInput");
        return failed("no libx264 encoder");
    }
    AVCodecContext* encoder = writerInput.get();
    encoder->width = codedWidth;
    encoder->height = codedHeight;
    encoder->pix_fmt = kCodedFormat;
    encoder->time_base = AVRational{1, fps};
    encoder->framerate = AVRational{fps, 1};
    encoder->gop_size = std::min(2 * fps, 250);  // a key frame every two seconds for seeking
    encoder->color_range = AVCOL_RANGE_MPEG;
    encoder->colorspace = AVCOL_SPC_BT709;
    encoder->color_primaries = AVCOL_PRI_BT709;
    encoder->color_trc = AVCOL_TRC_BT709;
    if (videoWriter->oformat->flags & AVFMT_GLOBALHEADER)
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    // Encoding runs on the show thread: it must keep pace with live view.
    av_dict_set(&options, "preset", "superfast", 0);
    av_dict_set(&options, "crf", "20", 0);
    rc = avcodec_open2(encoder, codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
        log("Invalid parameter not satisfying: writerInput");
        return failed("cannot open the H.264 encoder", rc);
    }

    // The track.
    if (avformat_query_codec(videoWriter->oformat, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 1)
        stream = avformat_new_stream(videoWriter.get(), nullptr);
    rc = stream ? avcodec_parameters_from_context(stream->codecpar, encoder) : AVERROR(EINVAL);
    if (rc < 0) {
        log("Invalid parameter not satisfying: [videoWriter canAddInput:writerInput]");
        return failed("cannot add the video track", rc);
    }
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = encoder->framerate;

    // The frame handed to the encoder and the converter that fills it.
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!frame || !packet) return failed("out of memory");
    frame->format = kCodedFormat;
    frame->width = codedWidth;
    frame->height = codedHeight;
    frame->color_range = encoder->color_range;
    frame->colorspace = encoder->colorspace;
    rc = av_frame_get_buffer(frame.get(), 0);
    if (rc < 0) return failed("cannot allocate a frame", rc);
    if (!prepareAdaptor(codedWidth, codedHeight, codedWidth, codedHeight))
        return failed("cannot create the converter");

    rc = avformat_write_header(videoWriter.get(), nullptr);
    if (rc < 0) return failed("cannot write the movie header", rc);
    // Logged only now, so the log never claims a movie that failed to start.
    log("Write Started");
    log(printed("adaptor:%p", static_cast<void*>(adaptor.get())));
    return true;
}

bool ezRecorder::prepareAdaptor(int sourceWidth, int sourceHeight, int placedWidth,
                                int placedHeight) {
    const Geometry wanted{sourceWidth, sourceHeight, placedWidth, placedHeight};
    if (adaptor && adaptorFrom == wanted) return true;
    adaptorFrom = {};
    // A source of the encoded size has even sides, and its chroma is taken from
    // pixel pairs. Any other is scaled; its chroma is then taken per pixel, as
    // pairs would mix in the next row's first pixel when the width is odd.
    const bool exact = placedWidth == sourceWidth && placedHeight == sourceHeight;
    const int flags = SWS_BICUBIC | (exact ? 0 : SWS_FULL_CHR_H_INP);
    adaptor.reset(sws_getContext(sourceWidth, sourceHeight, AV_PIX_FMT_RGB24, placedWidth,
                                 placedHeight, kCodedFormat, flags, nullptr, nullptr, nullptr));
    if (!adaptor) return false;
    // Full-range RGB in, limited-range BT.709 out, as the track is tagged.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    if (sws_setColorspaceDetails(adaptor.get(), coefficients, 1, coefficients, 0, 0, 1 << 16,
                                 1 << 16) < 0) {
        adaptor.reset();
        return false;
    }
    adaptorFrom = wanted;
    return true;
}

void ezRecorder::stage(const unsigned char* pixels, int width, int height, int channels,
                       int stagedWidth, int stagedHeight) {
    const size_t rowBytes = size_t(stagedWidth) * 3;
    const size_t inRowBytes = size_t(width) * channels;
    staged.resize(rowBytes * stagedHeight + kReadSlack);
    unsigned char* const first = staged.data();
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = pixels + y * inRowBytes;
        unsigned char* row = first + y * rowBytes;
        if (channels == 3)
            std::memcpy(row, in, inRowBytes);
        else
            for (int x = 0; x < width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = in[x];
        for (int x = width; x < stagedWidth; ++x)
            std::memcpy(row + 3 * x, row + 3 * (width - 1), 3);
    }
    for (int y = height; y < stagedHeight; ++y)
        std::memcpy(first + y * rowBytes, first + (height - 1) * rowBytes, rowBytes);
}

bool ezRecorder::convert(const unsigned char* pixels, int width, int height, int channels) {
    AVFrame* out = frame.get();
    const bool movieSize = width == pictureWidth && height == pictureHeight;
    // Every frame is staged as RGB in memory of our own, as the converter
    // reads a few dozen bytes beyond the end of its input. Grey frames become
    // RGB with R = G = B. Odd sides, which 4:2:0 chroma cannot hold, are padded
    // by one column or row repeating the picture's edge, never scaled: the
    // picture keeps its shape and every pixel, and a player shows one repeated
    // line at the right or bottom edge.
    const int sourceWidth = movieSize ? out->width : width;
    const int sourceHeight = movieSize ? out->height : height;
    stage(pixels, width, height, channels, sourceWidth, sourceHeight);

    // A frame of another size is placed as large as fits with its own aspect,
    // centred on black. Even offsets keep the chroma planes aligned with luma.
    int placedWidth = out->width, placedHeight = out->height, x = 0, y = 0;
    if (!movieSize) {
        const int64_t across = int64_t{sourceWidth} * out->height;
        const int64_t down = int64_t{sourceHeight} * out->width;
        if (across >= down)
            placedHeight = static_cast<int>(std::max<int64_t>(1, down / sourceWidth));
        else
            placedWidth = static_cast<int>(std::max<int64_t>(1, across / sourceHeight));
        x = (out->width - placedWidth) / 2 & ~1;
        y = (out->height - placedHeight) / 2 & ~1;
        const size_t chromaBytes = size_t(out->linesize[1]) * (out->height / 2);
        std::memset(out->data[0], 16, size_t(out->linesize[0]) * out->height);
        std::memset(out->data[1], 128, chromaBytes);
        std::memset(out->data[2], 128, chromaBytes);
    }
    if (!prepareAdaptor(sourceWidth, sourceHeight, placedWidth, placedHeight)) return false;
    uint8_t* planes[4] = {out->data[0] + ptrdiff_t{y} * out->linesize[0] + x,
                          out->data[1] + ptrdiff_t{y / 2} * out->linesize[1] + x / 2,
                          out->data[2] + ptrdiff_t{y / 2} * out->linesize[2] + x / 2, nullptr};
    const uint8_t* sources[4] = {staged.data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {sourceWidth * 3, 0, 0, 0};
    return sws_scale(adaptor.get(), sources, sourceStride, 0, sourceHeight, planes, out->linesize) >
           0;
}

int ezRecorder::drainPackets() {
    for (;;) {
        int rc = avcodec_receive_packet(writerInput.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
        if (rc < 0) return rc;
        av_packet_rescale_ts(packet.get(), writerInput->time_base, stream->time_base);
        packet->stream_index = stream->index;
        rc = av_interleaved_write_frame(videoWriter.get(), packet.get());
        if (rc < 0) return rc;
    }
}

bool ezRecorder::AppendSampleBuffer(const unsigned char* pixels, int width, int height,
                                    int channels) {
    std::lock_guard guard(lock);
    if (!videoWriter) return fail("no movie is being recorded");
    if (!pixels || width < 1 || height < 1 || width > kMaxMovieSide || height > kMaxMovieSide)
        return fail(printed("frame %dx%d dropped: no pixels or size out of range", width, height));
    if (channels != 1 && channels != 3)
        return fail(printed("frame dropped: channel count %d is neither 1 nor 3", channels));

    int rc = av_frame_make_writable(frame.get());
    if (rc < 0) return fail("frame dropped", rc);
    if (!convert(pixels, width, height, channels)) return fail("frame dropped: cannot convert it");

    frame->pts = frameCount;
    rc = avcodec_send_frame(writerInput.get(), frame.get());
    if (rc >= 0) rc = drainPackets();
    // Counted even when rejected, so the frames after it keep their times.
    ++frameCount;
    if (rc < 0) {
        log(printed("error appending image %ld", static_cast<long>(rc)));
        return fail("frame not written", rc);
    }
    ++framesWritten;
    return true;
}

bool ezRecorder::CloseRecorder() {
    std::lock_guard guard(lock);
    if (!videoWriter) return true;
    int rc = avcodec_send_frame(writerInput.get(), nullptr);  // flush what the encoder holds
    if (rc >= 0) rc = drainPackets();
    const int trailer = av_write_trailer(videoWriter.get());
    const int closed = avio_closep(&videoWriter->pb);
    log("Write Ended");
    // A movie without frames has no track a player could show: remove it.
    // Any other stays, even if it could not be finished.
    createdFile = framesWritten == 0;
    if (createdFile) log("No frame recorded: " + moviePath + " removed");
    abandon();
    if (rc < 0) return fail("cannot flush the encoder", rc);
    if (trailer < 0) return fail("cannot finish the movie", trailer);
    if (closed < 0) return fail("cannot close the movie", closed);
    return true;
}

bool ezRecorder::IsRecording() const {
    std::lock_guard guard(lock);
    return videoWriter != nullptr;
}

int ezRecorder::FrameCount() const {
    std::lock_guard guard(lock);
    return frameCount;
}

std::string ezRecorder::LastError() const {
    std::lock_guard guard(lock);
    return lastError;
}
