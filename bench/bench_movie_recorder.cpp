// Movie recording speed for a 1280 x 960 live view, against copying the same bytes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "recording/movie_recorder.h"

namespace {

constexpr int kWidth = 1280, kHeight = 960;

// A moving gradient with some texture, so the encoder has real work per frame.
std::vector<unsigned char> picture(int channels, int shift) {
    std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * channels);
    size_t i = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < channels; ++c)
                pixels[i++] =
                    static_cast<unsigned char>((x + shift) * (c + 1) + y + ((x * y) >> 7));
    return pixels;
}

void BM_CopyBaseline(benchmark::State& state) {
    const auto frame = picture(3, 0);
    std::vector<unsigned char> target(frame.size());
    for (auto _ : state) {
        std::memcpy(target.data(), frame.data(), frame.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Append(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    std::vector<std::vector<unsigned char>> frames;
    for (int shift = 0; shift < 8; ++shift) frames.push_back(picture(channels, shift * 3));
    std::string dir = (std::filesystem::temp_directory_path() / "ezbenchXXXXXX").string();
    if (!mkdtemp(dir.data())) {
        state.SkipWithError("no temporary directory");
        return;
    }
    ezRecorder recorder;
    recorder.SetLogSink([](const std::string&) {});
    if (!recorder.OpenRecorder(dir + "/bench.mov", kWidth, kHeight, channels, 30)) {
        state.SkipWithError(recorder.LastError().c_str());
        return;
    }
    size_t n = 0;
    for (auto _ : state)
        if (!recorder.AppendSampleBuffer(frames[n++ % frames.size()].data(), kWidth, kHeight,
                                         channels))
            state.SkipWithError(recorder.LastError().c_str());
    recorder.CloseRecorder();  // the encoder's queued frames are part of the cost
    std::filesystem::remove_all(dir);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_CopyBaseline);
BENCHMARK(BM_Append)->Arg(3)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
