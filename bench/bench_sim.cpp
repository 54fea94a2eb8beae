// Frame rate of an unpaced simulated 5-megapixel colour camera read through
// the simulated bus, against a memcpy of the same bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "sim/sim_bus.h"

namespace {

// One camera per depth, read the way the host's frame reader reads it: the
// frame length lowered to whole packets, then the acknowledge.
struct Rig {
    std::shared_ptr<usb::Device> device;
    size_t length = 0;
};

Rig& rig(int depth) {
    static std::map<int, Rig> rigs;
    Rig& r = rigs[depth];
    if (!r.device) {
        sim::SimBus& bus = sim::simBus();
        const int id = bus.plug(0x0547, 0xc004, 0x0100);
        bus.camera(id)->setPaced(false);
        r.device = bus.device(id);
        r.device->open();
        EZURB urb{0x40, 0xb9, static_cast<uint16_t>(depth == 16 ? 5 : 10), 0, 0, nullptr, 0};
        r.device->control(urb, 1000);
        r.length = (2592u * 1944u * (depth / 8) + 512u) / 512u * 512u;
    }
    return r;
}

void readFrame(Rig& r, std::vector<unsigned char>& buffer) {
    int received = 0;
    r.device->bulkRead(1, buffer.data(), static_cast<int>(r.length), &received, 1000);
    EZURB ack{0x40, 0xb3, 0, 0, 0, nullptr, 0};
    r.device->control(ack, 1000);
    benchmark::DoNotOptimize(buffer.data());
    if (static_cast<size_t>(received) != r.length) std::abort();
}

void SimFrame(benchmark::State& state) {
    Rig& r = rig(static_cast<int>(state.range(0)));
    std::vector<unsigned char> buffer(r.length);
    readFrame(r, buffer);  // the first frame builds the scene
    for (auto _ : state) readFrame(r, buffer);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * r.length));
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate);
}
BENCHMARK(SimFrame)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

void Memcpy(benchmark::State& state) {
    const size_t length = (2592u * 1944u * (state.range(0) / 8) + 512u) / 512u * 512u;
    std::vector<unsigned char> from(length, 0x5a), to(length);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), length);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}
BENCHMARK(Memcpy)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints each frame time as a multiple of the memcpy of the same bytes.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // The median when repeated, else the single run.
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians_[name] = run.GetAdjustedRealTime();
            else if (run.run_type == Run::RT_Iteration)
                times_[name] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, t] : medians_) times_[name] = t;
        for (const char* depth : {"8", "16"}) {
            const std::string sim = std::string("SimFrame/") + depth + "/real_time";
            const std::string copy = std::string("Memcpy/") + depth + "/real_time";
            if (times_.count(sim) && times_.count(copy) && times_[copy] > 0)
                std::printf("%s-bit frame: %.2f memcpy times\n", depth, times_[sim] / times_[copy]);
        }
    }

private:
    std::map<std::string, double> times_, medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
