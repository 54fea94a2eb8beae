// Soak: a camera is plugged, streamed by a grab thread while a setter thread
// changes its settings, and unplugged in the middle of a transfer, cycle
// after cycle over the models. Every call returns (a watchdog ends the
// program otherwise), the sanitizer builds report nothing, each camera
// object is released once its last call returns, and the memory in use
// stays flat from one round of models to the next.
// EZCAM_SOAK_CYCLES sets the number of cycles: a short run by default, over
// one camera of each frame layout; 1000 for a long run, over every model.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/cam_bayer.h"
#include "device/registry.h"
#include "models/catalogue.h"
#include "sim_session.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime (its header does not come with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using simsession::Session;
using Clock = std::chrono::steady_clock;

namespace {

// Heap bytes in use, as the allocator in force counts them.
size_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Ends the program when a cycle takes longer than its limit: a call that
// never returns would otherwise hang the suite.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit) : limit_(limit), thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void cycle(const std::string& what) {
        std::lock_guard lock(mutex_);
        what_ = what;
        deadline_ = Clock::now() + limit_;
    }

  private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!done_) {
            if (Clock::now() > deadline_) {
                std::fprintf(stderr, "soak: %s did not return within %lld s\n", what_.c_str(),
                             static_cast<long long>(limit_.count()));
                std::abort();
            }
            wake_.wait_for(lock, std::chrono::milliseconds(200));
        }
    }
    std::chrono::seconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::string what_ = "start";
    Clock::time_point deadline_ = Clock::now() + limit_;
    std::thread thread_;
};

struct Model {
    int product;
    int release;
};

// One camera of each frame layout: marked header, header without a marker,
// trailer, padded trailer, extra byte (without and with a capture flag),
// signed frames, bare, exact trailer, a cooled camera.
const std::vector<Model> kLayouts = {{0xc004, 0xa100}, {0xc004, 0xa001}, {0xa004, 0xa100},
                                     {0xa004, 0xb002}, {0xf008, 0xa100}, {0xf007, 0xa100},
                                     {0xc00c, 0xa100}, {0xe00c, 0xa106}, {0xe004, 0xa100},
                                     {0xe00a, 0xa100}};

// Every watched product that a model drives.
std::vector<Model> everyModel() {
    std::vector<Model> out;
    for (const SupportedCamera& camera : tabCamSupport())
        if (_create_device(static_cast<uint16_t>(camera.product), static_cast<uint16_t>(camera.vendor)))
            out.push_back({static_cast<int>(camera.product), 0xa100});
    return out;
}

}  // namespace

using Soak = Session;

TEST_F(Soak, PlugStreamAndUnplugMidTransfer) {
    const char* asked = std::getenv("EZCAM_SOAK_CYCLES");
    const int cycles = asked ? std::max(std::atoi(asked), 1) : 2 * static_cast<int>(kLayouts.size());
    const std::vector<Model> models = asked ? everyModel() : kLayouts;
    const int round = static_cast<int>(models.size());
    Watchdog watchdog(std::chrono::seconds(120));
    size_t firstRound = 0;
    int framesSeen = 0;

    for (int cycle = 0; cycle < cycles; ++cycle) {
        const Model model = models[static_cast<size_t>(cycle % round)];
        char what[64];
        std::snprintf(what, sizeof what, "cycle %d (%04x@%04x)", cycle, model.product, model.release);
        watchdog.cycle(what);
        const std::string name = plug(model.product, model.release);
        ASSERT_FALSE(name.empty()) << what;
        const int id = lastId;
        const char* c = name.c_str();
        ResumeDevice(c);
        const std::weak_ptr<CamBayer> object = ezcam::findCamera(c);

        std::atomic<bool> stop{false};
        std::atomic<int> frames{0};
        std::thread grab([&, size = RecvMemSize(c)] {
            std::vector<unsigned char> buffer(static_cast<size_t>(size));
            while (!stop.load()) {
                const int result = GetRawData(buffer.data(), size, c);
                if (result == -1) break;  // unplugged and gone
                if (result == 0 || result == 1) frames.fetch_add(1);
            }
        });
        std::thread setter([&] {
            for (int k = 0; !stop.load(); ++k) {
                SetExposure(static_cast<float>(1 + k % 20), c);
                SetAnaloggain(20 + k % 40, c);
                SetResolution(k / 16 % 2, c);
                SetGamma(80 + k % 60, c);
                SetRoiState(k % 32 == 7, c);
                std::this_thread::yield();
            }
        });
        // A few frames, then the camera vanishes inside the next transfer.
        const auto streaming = Clock::now() + std::chrono::seconds(20);
        while (frames.load() < 2 && Clock::now() < streaming)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        framesSeen += frames.load() > 0;
        camera(id).unplugDuringNextRead(1000);
        const auto removal = Clock::now() + std::chrono::seconds(20);
        while (ezcam::findCamera(c) && Clock::now() < removal) PollDevice(50);
        EXPECT_FALSE(ezcam::findCamera(c)) << what << ": never removed";
        stop.store(true);
        grab.join();
        setter.join();
        EXPECT_TRUE(object.expired()) << what << ": the camera object outlived its removal";
        EXPECT_EQ(sim::simBus().camera(id), nullptr) << what << ": the bus kept the unplugged camera";
        // The first round makes whatever every model keeps for good.
        if (cycle + 1 == round) firstRound = heapInUse();
    }
    EXPECT_GT(framesSeen, cycles / 2) << "cameras that never streamed";
    // Neither the registry nor the simulated bus keeps an unplugged camera;
    // one camera object of the SDK alone holds over 100 KB of tables.
    // ThreadSanitizer keeps what it knows of every finished thread for its
    // reports (two threads a cycle here), so its heap figure is not ours.
#if !defined(__SANITIZE_THREAD__)
    if (cycles >= 2 * round) {
        const double perCycle =
            (static_cast<double>(heapInUse()) - static_cast<double>(firstRound)) / (cycles - round);
        EXPECT_LT(perCycle, 4 * 1024.0) << "heap grows by " << perCycle << " bytes a cycle";
    }
#else
    (void)firstRound;
#endif
}
