// The show thread's work for the live picture beyond the SDK's, on a
// 2592 x 1944 colour frame: keeping the shown frame (picture, raw copy,
// histogram, focus figure; the picture copied, or the decoded image handed
// over as the live threads do) and scaling only the visible part to a 1000 x 700
// view, against a memcpy of the finished image's bytes and the plain decode
// of the frame in the same run. Also the old way, the whole frame scaled
// smoothly by the painter on the window's thread, for comparison.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstring>
#include <vector>

#include "processing/decode.h"
#include "processing/image_record.h"
#include "run_times.h"
#include "viewer/live/display_frame.h"
#include "viewer/picture/shown_frame.h"
#include "viewer/picture/view_render.h"
#include "viewer/picture/view_transform.h"

namespace {

constexpr int kWidth = 2592, kHeight = 1944;
const QSize kView(1000, 700);

// A raw frame with the border the pipeline cuts, and a finished image of it.
struct Frames {
    std::vector<unsigned char> raw, finished;
    _ezImage source{}, destination{};
    viewer::DisplayFrame frame;

    Frames() {
        const int rw = kWidth + 8, rh = kHeight + 8;
        raw.resize(512 + size_t(rw) * rh);
        auto* r = reinterpret_cast<_ezImage*>(raw.data());
        ezInitImageHeader(r, rw, rh, 1, 8, 512, raw.data() + 512, 0, 0);
        uint32_t s = 12345;
        for (size_t i = 512; i < raw.size(); ++i) {
            s = s * 1664525u + 1013904223u;
            raw[i] = uint8_t(96 + (i % rw) / 40 + (s >> 28));  // a ramp with noise
        }
        source = *r;
        source.bayer = 1;
        finished.resize(512 + size_t(rw) * rh * 3 + kStatisticsBytes);
        ezInitImageHeader(&destination, rw, rh, 3, 8, 512, finished.data() + 512, 0, 1);
        __decode_rawdatafast(&source, &destination, 1);
        // The display frame: the finished image without the border.
        auto* f = reinterpret_cast<_ezImage*>(finished.data());
        ezInitImageHeader(f, kWidth, kHeight, 3, 8, 512, finished.data() + 512, 0, 1);
        frame = *viewer::displayPixels(finished.data(), finished.size());
        frame.raw = raw.data();
        frame.rawCapacity = raw.size();
    }
};

Frames& frames() {
    static Frames f;
    return f;
}

void Memcpy(benchmark::State& state) {
    Frames& f = frames();
    const size_t n = size_t(kWidth) * kHeight * 3;
    std::vector<unsigned char> to(n);
    for (auto _ : state) {
        std::memcpy(to.data(), f.frame.pixels, n);
        benchmark::ClobberMemory();
    }
}

void DecodeFast(benchmark::State& state) {
    Frames& f = frames();
    for (auto _ : state) {
        __decode_rawdatafast(&f.source, &f.destination, 1);
        benchmark::ClobberMemory();
    }
}

// range(0): 1 the frame comes with its buffer, as the live threads hand it
// over, so the picture is the decoded image itself; 0 it is copied.
void Keep(benchmark::State& state) {
    Frames& f = frames();
    viewer::DisplayFrame frame = f.frame;
    if (state.range(0)) frame.owner = std::shared_ptr<const unsigned char[]>(f.finished.data(), [](const unsigned char*) {});
    viewer::FrameKeeper keeper;
    for (auto _ : state) benchmark::DoNotOptimize(keeper.keep(frame, {0, 0, 1}));
}

// range(0): view pixels per image pixel in percent, 0 fitted; range(1): overlay.
void Render(benchmark::State& state) {
    Frames& f = frames();
    viewer::FrameKeeper keeper;
    const auto shown = keeper.keep(f.frame, {0, 0, 1});
    viewer::Zoom zoom;
    if (state.range(0) > 0) zoom.zoomTo(state.range(0) / 100.0, kView, shown->size());
    const viewer::ViewTransform t = zoom.transform(kView, shown->size());
    viewer::ViewRenderer renderer;
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.render(*shown, t, kView, state.range(1)));
}

// The old way: the whole picture drawn smoothly scaled into the view.
void PainterScaled(benchmark::State& state) {
    Frames& f = frames();
    viewer::ImagePool pool;
    const QImage picture = pool.pictureOf(f.frame);
    QImage target(kView, QImage::Format_RGB32);
    const QSize fitted = picture.size().scaled(kView, Qt::KeepAspectRatio);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(), fitted), picture);
    }
}

BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeFast)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Keep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Render)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({100, 1})
    ->Args({400, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(PainterScaled)->Unit(benchmark::kMillisecond)->UseRealTime();

class RatioReporter : public RunTimesReporter {
    void PrintRatios() override {
        const double copy = Time("Memcpy/real_time"), decode = Time("DecodeFast/real_time");
        if (copy <= 0 || decode <= 0) return;
        const struct {
            const char* name;
            const char* label;
        } rows[] = {
            {"Keep/0/real_time", "keeping the shown frame, a copy of its picture"},
            {"Keep/1/real_time", "keeping the shown frame handed over"},
            {"Render/0/0/real_time", "view, fitted"},
            {"Render/0/1/real_time", "view, fitted, clipping overlay"},
            {"Render/100/1/real_time", "view, 1:1, clipping overlay"},
            {"Render/400/1/real_time", "view, 4:1, clipping overlay"},
            {"PainterScaled/real_time", "whole frame scaled by the painter (before)"},
        };
        for (const auto& row : rows)
            if (const double t = Time(row.name); t > 0)
                std::printf("%s: %.2f memcpy of the image, %.2f plain decodes\n", row.label,
                            t / copy, t / decode);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
