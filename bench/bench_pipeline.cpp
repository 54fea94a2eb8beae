// The whole frame pipeline (DecodeRaw2Image) on a 2592 x 1944 colour frame
// from a simulated camera, against a memcpy of the decoded image's bytes in
// the same run; and reading such a frame from the unpaced simulated camera
// against processing it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ezcam.h"
#include "run_times.h"

namespace {

constexpr size_t kImageBytes = 2592u * 1944u * 3u;  // the decoded 8-bit image

// One simulated 5-megapixel colour camera, one raw frame of it and an image buffer.
struct Rig {
    std::string name;
    std::vector<unsigned char> raw, frame, image;
    Rig() {
        setenv("EZCAM_SIM", "0547:c004", 1);
        setenv("EZCAM_SIM_PACE", "0", 1);
        InitDevice(nullptr, nullptr, "");
        while (PollDevice(100) > 0) {
        }
        if (DeviceCount() < 1) std::abort();
        name = DeviceName(0);
        raw.resize(static_cast<size_t>(RecvMemSize(name.c_str())));
        frame = raw;
        image.resize(512 + kImageBytes + 8192);
        ResumeDevice(name.c_str());
        SetResolution(0, name.c_str());
        for (int i = 0; i < 3; ++i) read(raw);  // the first frames settle the mode
    }
    int read(std::vector<unsigned char>& into) {
        return GetRawData(into.data(), static_cast<int>(into.size()), name.c_str());
    }
};

Rig& rig() {
    static Rig r;
    return r;
}

// Neutral settings, or every colour step on with histogram and automatic stretch.
void configure(const char* c, bool corrected, bool everything) {
    SetColorEnhancement(corrected, c);
    SetGamma(everything ? 120 : 100, c);
    SetContrast(everything ? 150 : 128, c);
    SetSaturation(everything ? 130 : 100, c);
    SetChannelGain(everything ? 80 : 64, 64, everything ? 90 : 64, c);
    SetHistogramState(everything, c);
    SetStretch(0, 255, everything, c);
}

void Pipeline(benchmark::State& state) {
    Rig& r = rig();
    const bool corrected = state.range(0) != 0, everything = state.range(1) != 0;
    configure(r.name.c_str(), corrected, everything);
    // Processing rewrites the raw record: every run starts from the same frame.
    std::memcpy(r.frame.data(), r.raw.data(), r.raw.size());
    if (DecodeRaw2Image(r.frame.data(), r.image.data(), r.name.c_str()) != 0) std::abort();
    for (auto _ : state) {
        DecodeRaw2Image(r.frame.data(), r.image.data(), r.name.c_str());
        benchmark::DoNotOptimize(r.image.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}
// Arguments: colour correction, then all four colour steps + histogram + automatic stretch.
BENCHMARK(Pipeline)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One unpaced frame from the simulated camera through the call surface.
void SimFrame(benchmark::State& state) {
    Rig& r = rig();
    for (auto _ : state) {
        if (r.read(r.raw) != 0) std::abort();
        benchmark::DoNotOptimize(r.raw.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(SimFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void Memcpy(benchmark::State& state) {
    std::vector<unsigned char> from(kImageBytes, 0x5a), to(kImageBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kImageBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints each pipeline's throughput as a share of memcpy's, and how many
// simulated frames are read in the time one is processed.
class RatioReporter : public RunTimesReporter {
    void PrintRatios() override {
        const double copy = Time("Memcpy/real_time");
        static const struct {
            const char* key;
            const char* label;
        } kRows[] = {
            {"Pipeline/0/0/real_time", "plain decode, neutral settings"},
            {"Pipeline/1/0/real_time", "colour-corrected decode, neutral settings"},
            {"Pipeline/0/1/real_time", "plain decode, all colour steps, histogram, auto stretch"},
            {"Pipeline/1/1/real_time",
             "colour-corrected, all colour steps, histogram, auto stretch"},
        };
        for (const auto& row : kRows)
            if (Time(row.key) > 0 && copy > 0)
                std::printf("%-60s %.3f of memcpy\n", row.label, copy / Time(row.key));
        const double sim = Time("SimFrame/real_time");
        if (sim > 0)
            for (const auto& row : kRows)
                if (Time(row.key) > 0)
                    std::printf("simulated frame read: %5.1f times faster than %s\n",
                                Time(row.key) / sim, row.label);
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
