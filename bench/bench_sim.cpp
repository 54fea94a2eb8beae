// Reading an unpaced simulated 5-megapixel colour frame through the simulated
// bus, against a memcpy of the same bytes and against the host's decoding of
// that frame, all in the same run: the simulator must never be what limits a
// measurement.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "processing/decode.h"
#include "processing/geometry.h"
#include "processing/image_record.h"
#include "run_times.h"
#include "sim/sim_bus.h"

namespace {

constexpr int kWidth = 2592, kHeight = 1944;

// One camera per depth, read the way the host's frame reader reads it: the
// frame length lowered to whole packets, then the acknowledge. The last frame
// read, in the host's sample order, is what the decoders work on.
struct Rig {
    int depth = 8;
    std::shared_ptr<usb::Device> device;
    int bayer = 0;
    size_t length = 0;
    std::vector<unsigned char> frame;

    explicit Rig(int bits) : depth(bits) {
        sim::SimBus& bus = sim::simBus();
        const int id = bus.plug(0x0547, 0xc004, 0x0100);
        bus.camera(id)->setPaced(false);
        bayer = bus.camera(id)->profile()->bayer;
        device = bus.device(id);
        device->open();
        EZURB urb{0x40, 0xb9, static_cast<uint16_t>(depth == 16 ? 5 : 10), 0, 0, nullptr, 0};
        device->control(urb, 1000);
        length = (512u + kWidth * kHeight * (depth / 8)) / 512u * 512u;
        frame.resize(length);
        for (int i = 0; i < 3; ++i) read(frame);  // the first frame builds the scene
    }
    void read(std::vector<unsigned char>& buffer) {
        int received = 0;
        device->bulkRead(1, buffer.data(), static_cast<int>(length), &received, 1000);
        EZURB ack{0x40, 0xb3, 0, 0, 0, nullptr, 0};
        device->control(ack, 1000);
        if (static_cast<size_t>(received) != length) std::abort();
    }
};

Rig& rig(int depth) {
    static std::map<int, Rig> rigs;
    auto it = rigs.find(depth);
    if (it == rigs.end()) it = rigs.emplace(depth, depth).first;
    return it->second;
}

// The frame as the host holds it (16-bit samples swapped to host order), and
// a three-channel image of the same depth to decode it into.
struct Images {
    std::vector<unsigned char> raw, rgb;
    _ezImage source{}, destination{};

    explicit Images(int depth) {
        Rig& r = rig(depth);
        raw = r.frame;
        ezInitImageHeader(&source, kWidth, kHeight, 1, depth, 512, raw.data() + 512, 0, 0);
        source.bayer = static_cast<uint8_t>(r.bayer);
        if (depth == 16) __rmac(&source, 0);
        rgb.resize(static_cast<size_t>(kWidth) * kHeight * 3 * (depth / 8) + kStatisticsBytes);
        ezInitImageHeader(&destination, kWidth, kHeight, 3, depth, 56, rgb.data(), 0, 1);
    }
};

Images& images(int depth) {
    static std::map<int, Images> all;
    auto it = all.find(depth);
    if (it == all.end()) it = all.emplace(depth, depth).first;
    return it->second;
}

void Memcpy(benchmark::State& state) {
    const Rig& r = rig(static_cast<int>(state.range(0)));
    std::vector<unsigned char> to(r.length);
    for (auto _ : state) {
        std::memcpy(to.data(), r.frame.data(), r.length);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * r.length));
}

void SimFrame(benchmark::State& state) {
    Rig& r = rig(static_cast<int>(state.range(0)));
    std::vector<unsigned char> buffer(r.length);
    for (auto _ : state) {
        r.read(buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * r.length));
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void DecodeFast(benchmark::State& state) {
    Images& i = images(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        __decode_rawdatafast(&i.source, &i.destination, i.source.bayer);
        benchmark::ClobberMemory();
    }
}

void DecodeCorrected(benchmark::State& state) {
    Images& i = images(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        __decode_rawdata(&i.source, &i.destination, i.source.bayer);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(Memcpy)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SimFrame)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeFast)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeCorrected)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the frame read against memcpy, and each decoder against the frame read.
class RatioReporter : public RunTimesReporter {
    void PrintRatios() override {
        auto time = [this](const char* name, const char* depth) {
            return Time(std::string(name) + "/" + depth + "/real_time");
        };
        for (const char* depth : {"8", "16"}) {
            const double copy = time("Memcpy", depth), sim = time("SimFrame", depth);
            if (copy <= 0 || sim <= 0) continue;
            std::printf("%s-bit frame read: %.2f memcpy of its bytes\n", depth, sim / copy);
            const double fast = time("DecodeFast", depth),
                         corrected = time("DecodeCorrected", depth);
            if (fast > 0)
                std::printf("%s-bit plain decode: %.2f memcpy, %.1f frame reads\n", depth,
                            fast / copy, fast / sim);
            if (corrected > 0)
                std::printf("%s-bit colour-corrected decode: %.2f memcpy, %.1f frame reads\n",
                            depth, corrected / copy, corrected / sim);
        }
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
