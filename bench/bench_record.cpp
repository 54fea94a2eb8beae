// Raw recording speed: 1,000 unpaced 2592 x 1944 frames into each
// container, each measured against a plain write() of the same bytes from
// the same memory in the same run:
// - Writer (a container's writer alone, frames from a set of distinct
//   buffers in memory) against PlainWrite/0 (write() of those buffers);
// - Record (the recorder: the simulated camera read into the queue on this
//   thread, the container written on the recorder's) against Pipeline (the
//   same two threads and queue, the samples written with write()).
// Also the simulator alone, and the frames a recording as ezcap makes it
// drops when the disk is slower than the camera. Files go to
// EZCAM_BENCH_DIR (default: the temporary directory) and are removed after
// each run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ezcam.h"
#include "recording/feed.h"
#include "recording/recorder.h"
#include "run_times.h"

namespace {

constexpr int kFrames = 1000;
// Distinct frames the writers take their samples from: more than the
// caches hold, as the recorder's queue is.
constexpr int kSources = 24;

struct Rig {
    std::string name;
    std::vector<unsigned char> frame;
    size_t sampleBytes = 0;
    std::vector<std::vector<unsigned char>> sources;  // samples of distinct frames
    std::filesystem::path dir;
    Rig() {
        setenv("EZCAM_SIM", "0547:c004", 1);
        setenv("EZCAM_SIM_PACE", "0", 1);
        InitDevice(nullptr, nullptr, "");
        while (PollDevice(100) > 0) {
        }
        if (DeviceCount() < 1) std::abort();
        name = DeviceName(0);
        frame.resize(static_cast<size_t>(RecvMemSize(name.c_str())));
        ResumeDevice(name.c_str());
        SetResolution(0, name.c_str());
        for (int i = 0; i < 3; ++i) read();  // the first frames settle the mode
        const auto* record = reinterpret_cast<const _ezImage*>(frame.data());
        if (record->width != 2592 || record->height != 1944) std::abort();
        sampleBytes = size_t{record->stride} * record->height;
        for (int i = 0; i < kSources; ++i) {
            read();
            sources.emplace_back(frame.begin() + 512, frame.begin() + 512 + static_cast<long>(sampleBytes));
        }
        const char* where = std::getenv("EZCAM_BENCH_DIR");
        dir = where ? std::filesystem::path(where) : std::filesystem::temp_directory_path();
    }
    int read() { return GetRawData(frame.data(), static_cast<int>(frame.size()), name.c_str()); }
};

Rig& rig() {
    static Rig r;
    return r;
}

// The file of a recording, or the files of a fits-frames one (NAME_000001.fits...).
void removeRecording(const std::string& path) {
    std::filesystem::remove(path);
    const std::filesystem::path file(path);
    const std::string stem = file.stem().string() + "_";
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        if (entry.path().filename().string().rfind(stem, 0) == 0) std::filesystem::remove(entry.path());
}

// Earlier runs' data reaches the disk before the clock starts.
void settle(benchmark::State& state) {
    state.PauseTiming();
    sync();
    state.ResumeTiming();
}

void SimFrames(benchmark::State& state) {
    Rig& r = rig();
    for (auto _ : state)
        for (int i = 0; i < kFrames; ++i)
            if (r.read() != 0) std::abort();
}
BENCHMARK(SimFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The samples written with write(), one call per frame: from the distinct
// frames in memory, or (read = 1) each frame first read from the camera on
// the same thread.
void PlainWrite(benchmark::State& state) {
    Rig& r = rig();
    const std::string path = (r.dir / "ezcam-bench-plain.raw").string();
    for (auto _ : state) {
        settle(state);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) std::abort();
        for (int i = 0; i < kFrames; ++i) {
            const unsigned char* samples = r.sources[static_cast<size_t>(i % kSources)].data();
            if (state.range(0)) {
                if (r.read() != 0) std::abort();
                samples = r.frame.data() + 512;
            }
            if (::write(fd, samples, r.sampleBytes) != static_cast<ssize_t>(r.sampleBytes))
                std::abort();
        }
        ::close(fd);
        std::filesystem::remove(path);
    }
}
BENCHMARK(PlainWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The recorder's shape with a plain write() for its container: this thread
// reads the camera into a queue of as many frame buffers as the recorder
// has, a second thread writes their samples.
void Pipeline(benchmark::State& state) {
    Rig& r = rig();
    const std::string path = (r.dir / "ezcam-bench-pipeline.raw").string();
    const size_t count = std::clamp<size_t>((size_t{256} << 20) / r.frame.size(), 2, 1024);
    std::vector<std::vector<unsigned char>> buffers(count, std::vector<unsigned char>(r.frame.size()));
    for (auto _ : state) {
        settle(state);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) std::abort();
        std::mutex lock;
        std::condition_variable changed;
        std::deque<size_t> filled, free;
        for (size_t i = 0; i < count; ++i) free.push_back(i);
        std::thread writer([&] {
            for (int i = 0; i < kFrames; ++i) {
                std::unique_lock guard(lock);
                changed.wait(guard, [&] { return !filled.empty(); });
                const size_t b = filled.front();
                filled.pop_front();
                guard.unlock();
                if (::write(fd, buffers[b].data() + 512, r.sampleBytes) !=
                    static_cast<ssize_t>(r.sampleBytes))
                    std::abort();
                guard.lock();
                free.push_back(b);
                changed.notify_all();
            }
        });
        for (int i = 0; i < kFrames; ++i) {
            std::unique_lock guard(lock);
            changed.wait(guard, [&] { return !free.empty(); });
            const size_t b = free.front();
            free.pop_front();
            guard.unlock();
            if (GetRawData(buffers[b].data(), static_cast<int>(r.frame.size()), r.name.c_str()) != 0)
                std::abort();
            guard.lock();
            filled.push_back(b);
            changed.notify_all();
        }
        writer.join();
        ::close(fd);
        std::filesystem::remove(path);
    }
}
BENCHMARK(Pipeline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

recording::RecorderSetup setupFor(const Rig& r, const recording::FormatRow& row,
                                  const std::string& path) {
    recording::RecorderSetup setup;
    setup.path = path;
    setup.format = row.format;
    setup.instrument = r.name;
    setup.frameBufferBytes = r.frame.size();
    setup.expectedFrames = kFrames;
    return setup;
}

// The recorder's sustained speed: every frame is read into the queue and
// written; when the queue is full this loop waits for a buffer (a grabbing
// thread would drop the frame instead, see Feed).
void Record(benchmark::State& state) {
    Rig& r = rig();
    const recording::FormatRow& row = recording::formats()[static_cast<size_t>(state.range(0))];
    const std::string path = (r.dir / (std::string("ezcam-bench") + row.extension)).string();
    for (auto _ : state) {
        settle(state);
        recording::Recorder recorder(setupFor(r, row, path));
        for (int i = 0; i < kFrames; ++i) {
            unsigned char* buffer = nullptr;
            while (!(buffer = recorder.claim())) std::this_thread::yield();
            EzFrameInfo info{};
            if (GetRawDataInfo(buffer, static_cast<int>(r.frame.size()), &info, r.name.c_str()) != 0)
                std::abort();
            recorder.commit(buffer, info);
        }
        if (!recorder.finish() || recorder.counts().recorded != kFrames) std::abort();
        removeRecording(path);
    }
}
// Arguments: rows of the format table (ome-tiff, fits, fits-frames, ser).
BENCHMARK(Record)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A container's writer alone, on the recorder's thread's path: the
// distinct frames from memory in turn, no camera and no queue.
void Writer(benchmark::State& state) {
    Rig& r = rig();
    const recording::FormatRow& row = recording::formats()[static_cast<size_t>(state.range(0))];
    const std::string path = (r.dir / (std::string("ezcam-bench-writer") + row.extension)).string();
    recording::Sequence sequence;
    sequence.width = 2592;
    sequence.height = 1944;
    sequence.bayer = GetRawBayernPattern(r.name.c_str());
    sequence.expectedFrames = kFrames;
    EzFrameInfo info{};
    for (auto _ : state) {
        settle(state);
        const auto writer = recording::makeWriter(row.format, path);
        std::string error;
        bool ok = writer->begin(sequence, error);
        for (int i = 0; ok && i < kFrames; ++i) {
            info.frame = static_cast<uint64_t>(i);
            info.monotonic_ns = info.utc_ns = int64_t{i} * 1'000'000;
            ok = writer->write(r.sources[static_cast<size_t>(i % kSources)].data(), info, error);
        }
        if (!ok || !writer->finish(error)) std::abort();
        removeRecording(path);
    }
}
BENCHMARK(Writer)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// As ezcap records: 1,000 frames taken from the unpaced camera, those that
// find the queue full dropped and counted.
void Feed(benchmark::State& state) {
    Rig& r = rig();
    const recording::FormatRow& row = *recording::findFormat("ser");
    const std::string path = (r.dir / "ezcam-bench-feed.ser").string();
    recording::RecordingCounts counts;
    for (auto _ : state) {
        settle(state);
        recording::Recorder recorder(setupFor(r, row, path));
        recording::Feed feed(recorder, {kFrames, 0});
        std::string message;
        if (!recording::feedFromCamera(r.name, feed, recorder, nullptr, {}, 1.0, message) ||
            !recorder.finish())
            std::abort();
        counts = recorder.counts();
    }
    state.counters["recorded"] = static_cast<double>(counts.recorded);
    state.counters["dropped"] = static_cast<double>(counts.dropped);
    std::filesystem::remove(path);
}
BENCHMARK(Feed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Frames per second as ratios: each writer's to plain write()'s, each
// recording's to the plain pipeline's, and the simulator's to plain write()'s.
class RatioReporter : public RunTimesReporter {
    void PrintRatios() override {
        const double plain = Time("PlainWrite/0/iterations:1/real_time");
        const double pipeline = Time("Pipeline/iterations:1/real_time");
        const double sim = Time("SimFrames/iterations:1/real_time");
        if (plain <= 0 || sim <= 0) return;
        std::printf("simulator alone: %.2f times plain write()'s frames/s\n", plain / sim);
        auto line = [&](const std::string& label, double base, double time) {
            if (time > 0 && base > 0) std::printf("%-34s %.2f\n", label.c_str(), base / time);
        };
        std::printf("frames/s as a ratio to plain write()'s:\n");
        line("read, then write(), one thread", plain, Time("PlainWrite/1/iterations:1/real_time"));
        line("plain pipeline (camera, queue)", plain, pipeline);
        for (int index = 0; index < 4; ++index) {
            const std::string format = recording::formats()[static_cast<size_t>(index)].name;
            line("writer alone, " + format, plain,
                 Time("Writer/" + std::to_string(index) + "/iterations:1/real_time"));
        }
        std::printf("frames/s as a ratio to the plain pipeline's:\n");
        for (int index = 0; index < 4; ++index) {
            const std::string format = recording::formats()[static_cast<size_t>(index)].name;
            line("recording, " + format, pipeline,
                 Time("Record/" + std::to_string(index) + "/iterations:1/real_time"));
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    ExitDevice();
    return 0;
}
