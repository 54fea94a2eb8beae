// Frame-processing throughput on a 5-megapixel frame, beside memcpy of the
// same byte count as the memory-bandwidth baseline of the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "processing/decode.h"
#include "processing/image_record.h"
#include "processing/tone.h"

namespace {

constexpr int kWidth = 2592;
constexpr int kHeight = 1944;

// A smooth scene with a little noise, mosaicked as code 1, and its decoded image.
struct Frames {
    ImagePtr raw;
    ImagePtr image;
    std::vector<unsigned char> scratch;  // memcpy target

    explicit Frames(int depth)
        : raw(makeImage(kWidth, kHeight, depth, 1, 512)),
          image(makeImage(kWidth, kHeight, depth, 3)) {
        uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const double scene = 0.45 + 0.4 * std::sin(x * 0.004) * std::cos(y * 0.003);
                const int v = static_cast<int>(scene * 65535) + static_cast<int>(noise >> 26) * 64;
                const size_t i = size_t(y) * kWidth + x;
                if (depth == 8) {
                    raw->data[i] = static_cast<unsigned char>(v >> 8);
                } else {
                    const auto s = static_cast<uint16_t>(v & 0xfff0);
                    std::memcpy(raw->data + 2 * i, &s, 2);
                }
            }
        __decode_rawdatafast(raw.get(), image.get(), 1);
        scratch.resize(bytes());
    }
    size_t bytes() const { return size_t(image->stride) * image->height; }
};

Frames& frames(int depth) {
    static Frames eight(8), sixteen(16);
    return depth == 8 ? eight : sixteen;
}

// Every figure counts the decoded image's bytes, so the ratios compare like with like.
void finish(benchmark::State& state, const Frames& f) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.bytes()));
}

void BM_Memcpy(benchmark::State& state) {
    Frames& f = frames(int(state.range(0)));
    for (auto _ : state) {
        std::memcpy(f.scratch.data(), f.image->data, f.bytes());
        benchmark::ClobberMemory();
    }
    finish(state, f);
}

void BM_DecodeFast(benchmark::State& state) {
    Frames& f = frames(int(state.range(0)));
    for (auto _ : state) {
        __decode_rawdatafast(f.raw.get(), f.image.get(), 1);
        benchmark::ClobberMemory();
    }
    finish(state, f);
}

void BM_DecodeCorrected(benchmark::State& state) {
    Frames& f = frames(int(state.range(0)));
    for (auto _ : state) {
        __decode_rawdata(f.raw.get(), f.image.get(), 1);
        benchmark::ClobberMemory();
    }
    finish(state, f);
}

void BM_Histogram(benchmark::State& state) {
    Frames& f = frames(int(state.range(0)));
    __decode_rawdatafast(f.raw.get(), f.image.get(), 1);  // the same content in every run
    for (auto _ : state) {
        benchmark::DoNotOptimize(__calc_histogram(f.image.get()));
        benchmark::ClobberMemory();
    }
    finish(state, f);
}

// One 256-entry table per channel applied in place (high byte for 16-bit),
// the shape of every per-frame colour step.
void BM_ThreeTables(benchmark::State& state) {
    Frames& f = frames(int(state.range(0)));
    unsigned char tables[3][256];
    __matrix_gamma(120, tables[0], 256);
    __matrix_gamma(100, tables[1], 256);
    __matrix_gamma(80, tables[2], 256);
    const size_t pixels = size_t(kWidth) * kHeight;
    for (auto _ : state) {
        if (f.image->depth == 8) {
            unsigned char* p = f.image->data;
            for (size_t i = 0; i < pixels; ++i, p += 3) {
                p[0] = tables[0][p[0]];
                p[1] = tables[1][p[1]];
                p[2] = tables[2][p[2]];
            }
        } else {
            unsigned char* p = f.image->data + 1;  // high bytes
            for (size_t i = 0; i < pixels; ++i, p += 6) {
                p[0] = tables[0][p[0]];
                p[2] = tables[1][p[2]];
                p[4] = tables[2][p[4]];
            }
        }
        benchmark::ClobberMemory();
    }
    finish(state, f);
}

BENCHMARK(BM_Memcpy)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFast)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeCorrected)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Histogram)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThreeTables)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
