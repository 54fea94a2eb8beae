// Raw recording speed: 1,000 unpaced 2592 x 1944 frames from the simulated
// camera into each container, against a plain write() of the same bytes and
// against the simulator alone, in the same run; and the frames a recording
// as ezcap makes it drops when the disk is slower than the camera. Files go to EZCAM_BENCH_DIR
// (default: the temporary directory) and are removed after each run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
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

struct Rig {
    std::string name;
    std::vector<unsigned char> frame;
    size_t sampleBytes = 0;
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
        const char* where = std::getenv("EZCAM_BENCH_DIR");
        dir = where ? std::filesystem::path(where) : std::filesystem::temp_directory_path();
    }
    int read() { return GetRawData(frame.data(), static_cast<int>(frame.size()), name.c_str()); }
};

Rig& rig() {
    static Rig r;
    return r;
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

// The same bytes written with write(), one call per frame; with read = 1
// each frame is first read from the camera on the same thread.
void PlainWrite(benchmark::State& state) {
    Rig& r = rig();
    const std::string path = (r.dir / "ezcam-bench-plain.raw").string();
    for (auto _ : state) {
        settle(state);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) std::abort();
        for (int i = 0; i < kFrames; ++i) {
            if (state.range(0) && r.read() != 0) std::abort();
            if (::write(fd, r.frame.data() + 512, r.sampleBytes) !=
                static_cast<ssize_t>(r.sampleBytes))
                std::abort();
        }
        ::close(fd);
    }
    std::filesystem::remove(path);
}
BENCHMARK(PlainWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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
    }
    std::filesystem::remove(path);
}
// Arguments: rows of the format table (ome-tiff, fits, ser).
BENCHMARK(Record)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// A container's writer alone, on the recorder's thread's path: the same
// frame from memory 1,000 times, no camera and no queue.
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
            ok = writer->write(r.frame.data() + 512, info, error);
        }
        if (!ok || !writer->finish(error)) std::abort();
    }
    std::filesystem::remove(path);
}
BENCHMARK(Writer)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

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

// Frames per second as ratios: each recording's to plain write()'s, and
// the simulator's to each.
class RatioReporter : public RunTimesReporter {
    void PrintRatios() override {
        const double plain = Time("PlainWrite/0/iterations:1/real_time");
        const double sim = Time("SimFrames/iterations:1/real_time");
        if (plain <= 0 || sim <= 0) return;
        std::printf("simulator alone: %.2f times plain write()'s frames/s\n", plain / sim);
        auto line = [&](const char* label, double time) {
            if (time > 0)
                std::printf("%-34s %.2f of plain write()'s frames/s (simulator %.1f times faster)\n",
                            label, plain / time, time / sim);
        };
        line("read, then write(), one thread", Time("PlainWrite/1/iterations:1/real_time"));
        static const std::pair<const char*, const char*> kKinds[] = {{"Record", "recording, "},
                                                                     {"Writer", "writer alone, "}};
        for (const auto& [kind, label] : kKinds)
            for (int index : {0, 1, 3}) {
                const std::string name = recording::formats()[static_cast<size_t>(index)].name;
                line((label + name).c_str(), Time(std::string(kind) + "/" + std::to_string(index) +
                                                  "/iterations:1/real_time"));
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
