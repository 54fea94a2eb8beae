// ezcap record: every raw frame into an OME-TIFF, FITS or SER file, with a
// progress line on a terminal and a closing summary.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "ezcam.h"
#include "recording/feed.h"
#include "recording/recorder.h"
#include "recording/writers.h"

namespace ezcap {
namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted = true;
}

struct RecordRequest {
    std::string path;
    const recording::FormatRow* format = recording::findFormat("ome-tiff");
    recording::FeedLength limits;
    recording::FrameType frameType = recording::FrameType::Light;
};

std::string formatNames() {
    std::string names;
    for (const recording::FormatRow& row : recording::formats())
        names += (names.empty() ? "" : ", ") + std::string(row.name);
    return names;
}

// OUT, then --frames N | --seconds S, --format NAME and --type KIND in any
// order.
std::optional<RecordRequest> parse(const std::vector<std::string>& args) {
    RecordRequest request;
    request.path = args[0];
    for (size_t i = 1; i + 1 < args.size(); i += 2) {
        const std::string& option = args[i];
        const std::string& value = args[i + 1];
        if (option == "--frames") {
            const auto frames = parseInt("frame count", value);
            if (!frames) return std::nullopt;
            if (*frames < 1) {
                complain("--frames must be at least 1");
                return std::nullopt;
            }
            request.limits.frames = static_cast<uint64_t>(*frames);
        } else if (option == "--seconds") {
            const auto seconds = parseFloat("duration", value);
            if (!seconds) return std::nullopt;
            if (*seconds <= 0) {
                complain("--seconds must be positive");
                return std::nullopt;
            }
            request.limits.seconds = *seconds;
        } else if (option == "--type") {
            if (!recording::frameTypeNamed(value, request.frameType)) {
                complain("unknown frame type '" + value + "' (known: light, dark, flat, bias)");
                return std::nullopt;
            }
        } else if (option == "--format") {
            request.format = recording::findFormat(value);
            if (!request.format) {
                complain("unknown recording format '" + value + "' (known: " + formatNames() + ")");
                return std::nullopt;
            }
        }
    }
    if ((request.limits.frames > 0) == (request.limits.seconds > 0)) {
        complain("record needs --frames N or --seconds S (one of them)");
        return std::nullopt;
    }
    // A name without an extension gets the format's.
    if (!std::filesystem::path(request.path).has_extension()) request.path += request.format->extension;
    return request;
}

void showProgress(const recording::RecordingCounts& counts, double seconds) {
    if (seconds <= 0) return;
    std::fprintf(stderr, "\rrecording: %llu frames, %.1f frames/s, %.1f MB/s, dropped %llu   ",
                 static_cast<unsigned long long>(counts.offered),
                 static_cast<double>(counts.offered) / seconds,
                 static_cast<double>(counts.bytes) / 1e6 / seconds,
                 static_cast<unsigned long long>(counts.dropped + counts.rejected + counts.failed));
    std::fflush(stderr);
}

}  // namespace

Status record(const std::string& camera, const std::vector<std::string>& args) {
    const auto request = parse(args);
    if (!request) return Status::BadInput;
    const char* c = camera.c_str();

    recording::RecorderSetup setup;
    setup.path = request->path;
    setup.format = request->format->format;
    setup.instrument = camera;
    const char* clock = GetPixclkItemName(GetPixelclock(c), c);
    setup.pixelClock = clock ? clock : "";
    setup.calibration = mastersInForce(camera);
    setup.frameBufferBytes = static_cast<size_t>(std::max(RecvMemSize(c), 0));
    setup.expectedFrames = request->limits.frames;
    setup.frameType = request->frameType;
    recording::Recorder recorder(setup);
    if (!recorder.ok()) {
        complain(recorder.error());
        return Status::BadInput;
    }

    interrupted = false;
    struct sigaction action = {}, previous = {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, &previous);
    const bool terminal = isatty(STDERR_FILENO);
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    recording::Feed feed(recorder, request->limits);
    const bool fed = recording::feedFromCamera(
        camera, feed, recorder, &interrupted,
        terminal ? recording::Progress(showProgress) : recording::Progress(), 0.5, message);
    const bool finished = recorder.finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sigaction(SIGINT, &previous, nullptr);
    if (terminal) std::fprintf(stderr, "\n");

    const recording::RecordingCounts counts = recorder.counts();
    const std::string written = recorder.written();
    std::printf("recorded %llu of %llu frames in %.2f s (%.1f frames/s, %.1f MB/s)%s%s\n",
                static_cast<unsigned long long>(counts.recorded),
                static_cast<unsigned long long>(counts.offered), seconds,
                seconds > 0 ? static_cast<double>(counts.recorded) / seconds : 0.0,
                seconds > 0 ? static_cast<double>(counts.bytes) / 1e6 / seconds : 0.0,
                written.empty() ? "" : " to ", written.c_str());
    std::printf("dropped %llu (queue full), left out %llu (other size), lost by the reader %llu",
                static_cast<unsigned long long>(counts.dropped),
                static_cast<unsigned long long>(counts.rejected),
                static_cast<unsigned long long>(counts.readerLost));
    if (counts.failed)
        std::printf(", not written %llu (writing failed)", static_cast<unsigned long long>(counts.failed));
    std::printf("\n");

    if (!fed) complain(message);
    if (!finished) {
        complain(recorder.error());
        if (counts.recorded > 0)
            complain("the recording ended there: " + written + " holds the " +
                     std::to_string(counts.recorded) + " frames written before");
    }
    if (!fed || !finished) return Status::Failed;
    if (interrupted) {
        complain("interrupted");
        return Status::Failed;
    }
    if (counts.recorded == 0) {
        complain("no frame recorded");
        return Status::Failed;
    }
    if (feed.change()) {
        complain(std::string("ended early: ") + feed.change());
        return Status::Incomplete;
    }
    if (!counts.complete()) {
        complain("frames were lost: the recording is incomplete");
        return Status::Incomplete;
    }
    return Status::Ok;
}

}  // namespace ezcap

namespace ezcap {

Status repair(const std::string&, const std::vector<std::string>& args) {
    const recording::RepairReport report = recording::repairRecording(args[0]);
    if (!report.ok) {
        complain(report.message);
        return Status::Failed;
    }
    std::printf("%s\n", report.message.c_str());
    return Status::Ok;
}

}  // namespace ezcap
