// The frame pipeline against what people would pick instead: OpenCV's
// bilinear Bayer demosaic (cvtColor) of the same 2592 x 1944 frame, on one
// thread and on as many threads as the pipeline uses, and a memcpy of the
// finished image's bytes, all in the same run, at 8 and 16 bits. Prints
// every figure as ratios to those baselines. Built only where OpenCV's
// development files are installed (scripts/bench installs them).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "pipeline/pipeline.h"
#include "processing/image_record.h"
#include "run_times.h"

namespace {

constexpr int kWidth = 2592, kHeight = 1944, kHeader = 512;

// A smooth scene with sensor-like noise, Bayer code 1 (R G / G B).
struct Frame {
    int depth;
    std::vector<unsigned char> raw, image;
    explicit Frame(int d) : depth(d) {
        const size_t bps = d / 8;
        raw.resize(kHeader + size_t{kWidth} * kHeight * bps);
        image.resize(kHeader + size_t{kWidth} * kHeight * 3 * bps + kStatisticsBytes);
        uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const double base = 120 + 90 * std::sin(x / 97.0) * std::cos(y / 83.0) +
                                    ((x & 1) ? 20 : -15) + ((y & 1) ? -10 : 10);
                const int v = std::clamp(static_cast<int>(base) + int(noise >> 28) - 8, 0, 255);
                const unsigned sample = d == 16 ? unsigned(v) << 8 | (noise >> 20 & 0xff) : v;
                std::memcpy(&raw[kHeader + (static_cast<size_t>(y) * kWidth + x) * bps], &sample,
                            bps);
            }
    }
    void restamp() {
        ezInitImageHeader(reinterpret_cast<_ezImage*>(raw.data()), kWidth, kHeight, 1, depth,
                          kHeader, raw.data() + kHeader, 0, 0);
    }
};

Frame& frame(int depth) {
    static Frame f8(8), f16(16);
    return depth == 8 ? f8 : f16;
}

int pipelineThreads() {
    return FramePipeline::defaultThreads();
}

void OpenCV(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    cv::setNumThreads(static_cast<int>(state.range(1)));
    Frame& f = frame(depth);
    const int type = depth == 8 ? CV_8UC1 : CV_16UC1;
    cv::Mat in(kHeight, kWidth, type, f.raw.data() + kHeader), out;
    for (auto _ : state) {
        cv::cvtColor(in, out, cv::COLOR_BayerBG2BGR);
        benchmark::DoNotOptimize(out.data);
    }
}

void Memcpy(benchmark::State& state) {
    const size_t bytes = size_t{kWidth - 8} * (kHeight - 8) * 3 * (state.range(0) / 8);
    std::vector<unsigned char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
}

// 0 neutral; 1 colour enhancement; 2 gamma, contrast, saturation, channel
// gains, histogram, automatic stretch; 3 all of that with enhancement;
// 4 colour enhancement by a measured colour profile.
void Pipeline(benchmark::State& state) {
    const int depth = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    const int settings = static_cast<int>(state.range(2));
    FramePipeline pipeline;
    pipeline.enableColour(100, 100);
    pipeline.setThreads(threads);
    const bool everything = settings == 2 || settings == 3;
    pipeline.setColorEnhancement(settings == 1 || settings == 3 || settings == 4);
    if (settings == 4) {
        // A chart-measured matrix of realistic size: rows near 1.5 on the
        // diagonal, crosstalk taken off.
        calib::ColourProfile measured;
        measured.matrix = {1.62, -0.48, -0.14, -0.21, 1.41, -0.20, -0.05, -0.52, 1.57};
        pipeline.setColourProfile(
            std::make_shared<const calib::ProfileMatrix>(calib::ProfileMatrix::of(measured)));
    }
    if (everything) {
        pipeline.setGamma(120, 3);
        pipeline.setContrast(150);
        pipeline.setSaturation(130);
        pipeline.setDigitalGain(80, 64, 90);
        pipeline.setHistogram(true);
        pipeline.setStretch(0, 0, true, 3);
    }
    Frame& f = frame(depth);
    const Sensor sensor{3, 1};
    for (auto _ : state) {
        f.restamp();
        if (pipeline.run(f.raw.data(), f.image.data(), true, sensor) != 0)
            state.SkipWithError("refused");
    }
}

const char* kSettings[] = {
    "neutral decode", "colour-enhanced decode",
    "every step (gamma, contrast, saturation, gains, histogram, auto stretch)",
    "every step with colour enhancement", "colour profile decode"};

class Ratios : public RunTimesReporter {
    void PrintRatios() override {
        const int n = pipelineThreads();
        for (int depth : {8, 16}) {
            const std::string d = std::to_string(depth);
            const double cv1 = Time("OpenCV/" + d + "/1/real_time");
            const double cvN = Time("OpenCV/" + d + "/" + std::to_string(n) + "/real_time");
            const double copy = Time("Memcpy/" + d + "/real_time");
            if (cv1 <= 0 || cvN <= 0 || copy <= 0) continue;
            std::printf("\n%d-bit, 2592 x 1944, border cut; ratios of time per frame\n", depth);
            std::printf("%-74s %9s %9s %9s\n", "", "OpenCV 1", "OpenCV n", "memcpy");
            std::printf("%-74s %9.2f %9.2f %9.2f\n", "OpenCV bilinear, 1 thread", 1.0, cv1 / cvN,
                        cv1 / copy);
            std::printf("%-74s %9.2f %9.2f %9.2f\n",
                        ("OpenCV bilinear, " + std::to_string(n) + " threads").c_str(), cvN / cv1,
                        1.0, cvN / copy);
            for (int s = 0; s < 5; ++s)
                for (int t : {1, n}) {
                    const double p = Time("Pipeline/" + d + "/" + std::to_string(t) + "/" +
                                          std::to_string(s) + "/real_time");
                    if (p <= 0) continue;
                    const std::string label = std::string(kSettings[s]) + ", " + std::to_string(t) +
                                              (t == 1 ? " thread" : " threads");
                    std::printf("%-74s %9.2f %9.2f %9.2f\n", label.c_str(), p / cv1, p / cvN,
                                p / copy);
                }
        }
    }
};

void Arguments(benchmark::internal::Benchmark* b, bool settings) {
    const int n = pipelineThreads();
    for (int depth : {8, 16})
        for (int t : {1, n}) {
            if (settings)
                for (int s = 0; s < 5; ++s) b->Args({depth, t, s});
            else
                b->Args({depth, t});
            if (n == 1) break;
        }
}

BENCHMARK(OpenCV)->Apply([](auto* b) { Arguments(b, false); }) -> UseRealTime()
    -> Unit(benchmark::kMillisecond);
BENCHMARK(Memcpy)->Arg(8)->Arg(16)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Pipeline)->Apply([](auto* b) { Arguments(b, true); }) -> UseRealTime()
    -> Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Ratios reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
