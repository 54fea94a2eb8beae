// Per-frame geometry and calibration passes on a 5-megapixel frame, against a
// plain copy of the same bytes as the baseline.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "processing/corrections.h"
#include "processing/geometry.h"
#include "processing/image_record.h"

namespace {
constexpr int kWidth = 2592, kHeight = 1944;

struct Frame {
    std::vector<unsigned char> pixels;
    _ezImage record{};
    Frame(int channels, int depth) : pixels(size_t(kWidth) * kHeight * channels * depth / 8) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 31 + 7) | 1;
        reset(channels, depth);
    }
    void reset(int channels, int depth) { ezInitImageHeader(&record, kWidth, kHeight, channels, depth, 56, pixels.data(), 0, 1); }
};

void Copy(benchmark::State& state) {
    Frame a(3, 8), b(3, 8);
    for (auto _ : state) {
        std::memcpy(b.pixels.data(), a.pixels.data(), a.pixels.size());
        benchmark::DoNotOptimize(b.pixels.data());
    }
}
void Flip(benchmark::State& state) {
    Frame f(3, 8);
    for (auto _ : state) __flip(&f.record, static_cast<int>(state.range(0)));
}
void Rotate(benchmark::State& state) {
    Frame f(3, 8);
    for (auto _ : state) __rotate(&f.record, 2);
}
void Roi(benchmark::State& state) {
    Frame f(3, 8);
    for (auto _ : state) {
        f.reset(3, 8);
        __roi(&f.record, 4, 4, kWidth - 8, kHeight - 8);
    }
}
void FlatField(benchmark::State& state) {
    Frame f(3, 8), reference(3, 8);
    reference.record.channel_mean[0] = reference.record.channel_mean[1] = reference.record.channel_mean[2] = 128;
    for (auto _ : state) __flat_field(&f.record, &reference.record);
}
void MonoBin(benchmark::State& state) {
    Frame f(1, 16);
    for (auto _ : state) {
        f.reset(1, 16);
        __mbin(&f.record, 2, 2);
    }
}
void ByteSwap(benchmark::State& state) {
    Frame f(1, 16);
    for (auto _ : state) __rmac(&f.record, 0);
}
}  // namespace

BENCHMARK(Copy)->Unit(benchmark::kMillisecond);
BENCHMARK(Flip)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Rotate)->Unit(benchmark::kMillisecond);
BENCHMARK(Roi)->Unit(benchmark::kMillisecond);
BENCHMARK(FlatField)->Unit(benchmark::kMillisecond);
BENCHMARK(MonoBin)->Unit(benchmark::kMillisecond);
BENCHMARK(ByteSwap)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
