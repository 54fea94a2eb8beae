// The in-process simulated bus, its device objects and the scripting calls.
#include "sim/sim_bus.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "ezcam.h"
#include "guarded.h"
#include "log.h"

namespace sim {
namespace {

class SimDevice : public usb::Device {
public:
    explicit SimDevice(std::shared_ptr<SimCamera> camera)
        : camera_(std::move(camera)), wait_(std::make_shared<Wait>()) {
        // The camera may outlive this object; the listener holds only the waiters.
        camera_->onUnplug([wait = wait_] {
            std::lock_guard lock(wait->mu);
            wait->cv.notify_all();
        });
    }
    ~SimDevice() override { close(); }

    usb::DeviceInfo info() const override { return camera_->info(); }

    uint32_t open() override {
        if (camera_->unplugged()) return usb::kNoDevice;
        std::lock_guard lock(wait_->mu);
        wait_->open = true;
        return usb::kSuccess;
    }
    uint32_t reset() override { return ready(); }
    uint32_t setFirstConfiguration() override { return ready(); }
    uint32_t claimFirstInterface() override { return ready(); }
    void close() override {
        std::lock_guard lock(wait_->mu);
        if (!wait_->open) return;
        wait_->open = false;
        ++wait_->closings;
        wait_->cv.notify_all();
    }

    uint32_t control(EZURB& urb, unsigned /*timeoutMs*/) override {
        urb.lengthDone = 0;
        if (uint32_t s = ready()) return s;
        return camera_->control(urb);
    }

    uint32_t bulkRead(int pipe, unsigned char* buffer, int length, int* received,
                      unsigned timeoutMs) override {
        *received = 0;
        if (uint32_t s = ready()) return s;
        using Clock = SimCamera::Clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        {
            std::unique_lock lock(wait_->mu);
            const uint64_t closings = wait_->closings;
            for (;;) {
                if (camera_->unplugged() || wait_->closings != closings) return usb::kNoDevice;
                const Clock::time_point ready = camera_->frameReadyAt();
                const Clock::time_point now = Clock::now();
                if (ready <= now) break;
                if (now >= deadline) {
                    lock.unlock();
                    return camera_->bulkTimedOut(pipe, length);
                }
                // Settings may move the next frame: look again now and then.
                wait_->cv.wait_until(lock, std::min({ready, deadline, now + std::chrono::milliseconds(20)}));
            }
        }
        return camera_->bulkRead(pipe, buffer, length, received);
    }

    uint32_t clearHalt(int /*pipe*/) override { return ready(); }

private:
    struct Wait {
        std::mutex mu;
        std::condition_variable cv;
        bool open = false;
        uint64_t closings = 0;
    };
    uint32_t ready() const {
        if (camera_->unplugged()) return usb::kNoDevice;
        std::lock_guard lock(wait_->mu);
        return wait_->open ? usb::kSuccess : usb::kNotOpen;
    }

    std::shared_ptr<SimCamera> camera_;
    std::shared_ptr<Wait> wait_;
};

bool parseHex(const std::string& text, uint16_t& out) {
    if (text.empty() || text.size() > 4) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (*end != '\0') return false;
    out = static_cast<uint16_t>(v);
    return true;
}

struct CameraId {
    uint16_t vendor = 0, product = 0, release = 0x0100;
};

// "vvvv:pppp" or "vvvv:pppp@bbbb", hexadecimal.
std::optional<CameraId> parseCamera(const std::string& item) {
    const size_t colon = item.find(':');
    const size_t at = item.find('@');
    CameraId id;
    const bool ok = colon != std::string::npos && parseHex(item.substr(0, colon), id.vendor) &&
                    parseHex(item.substr(colon + 1, at == std::string::npos ? std::string::npos
                                                                             : at - colon - 1),
                             id.product) &&
                    (at == std::string::npos || parseHex(item.substr(at + 1), id.release));
    if (!ok) return std::nullopt;
    return id;
}

// Plugs the cameras of "vvvv:pppp[@bbbb],..."; skips malformed entries.
void plugListed(SimBus& bus, const std::string& list) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        if (const std::optional<CameraId> id = parseCamera(item))
            bus.plug(id->vendor, id->product, id->release);
        else
            ezlog::warn("EZCAM_SIM: ignoring \"%s\"", item.c_str());
    }
}

// A camera id of a control line: a positive decimal number.
std::optional<int> parseId(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoi(text);
}

}  // namespace

std::shared_ptr<usb::Device> makeSimDevice(std::shared_ptr<SimCamera> camera) {
    return std::make_shared<SimDevice>(std::move(camera));
}

SimBus::~SimBus() = default;

int SimBus::plug(uint16_t vendor, uint16_t product, uint16_t bcdDevice) {
    int id;
    std::shared_ptr<SimCamera> camera;
    {
        std::lock_guard lock(mu_);
        id = nextCamera_++;
        camera = std::make_shared<SimCamera>(id, vendor, product, bcdDevice);
        add(id, Entry{camera, makeSimDevice(camera)});
    }
    wake_.notify_all();
    // However the camera goes (scripted, or a fault), the bus hears of it.
    camera->onUnplug([this, alive = std::weak_ptr<int>(alive_), id] {
        if (alive.lock()) removed(id);
    });
    return id;
}

int SimBus::plugDevice(std::shared_ptr<usb::Device> device) {
    int id;
    {
        std::lock_guard lock(mu_);
        id = nextCamera_++;
        add(id, Entry{nullptr, std::move(device)});
    }
    wake_.notify_all();
    return id;
}

void SimBus::add(int id, Entry entry) {
    const usb::DeviceInfo info = entry.device->info();
    Event ev{true, entry.device, {}};
    for (const ArrivalWatch& w : arrivals_)
        if (w.vendor == info.vendor && w.product == info.product) ev.watches.push_back(w.id);
    cameras_[id] = std::move(entry);
    events_.push_back(std::move(ev));
}

bool SimBus::unplug(int id) {
    std::shared_ptr<SimCamera> camera;
    {
        std::lock_guard lock(mu_);
        auto it = cameras_.find(id);
        if (it == cameras_.end()) return false;
        camera = it->second.camera;
    }
    if (camera)
        camera->unplug();  // the camera's unplug listener reports the removal
    else
        removed(id);
    return true;
}

void SimBus::removed(int id) {
    {
        std::lock_guard lock(mu_);
        auto it = cameras_.find(id);
        if (it == cameras_.end()) return;
        // The bus forgets a camera once it is gone: a soak of plug cycles
        // must not keep every camera (and its trace) ever plugged. Holders
        // of its device keep it alive until they let go.
        events_.push_back({false, it->second.device, {}});
        cameras_.erase(it);
    }
    wake_.notify_all();
}

std::shared_ptr<SimCamera> SimBus::camera(int id) const {
    std::lock_guard lock(mu_);
    auto it = cameras_.find(id);
    return it == cameras_.end() ? nullptr : it->second.camera;
}

int SimBus::idOf(const usb::Device* device) const {
    std::lock_guard lock(mu_);
    for (const auto& [id, entry] : cameras_)
        if (entry.device.get() == device) return id;
    return -1;
}

std::shared_ptr<usb::Device> SimBus::device(int id) const {
    std::lock_guard lock(mu_);
    auto it = cameras_.find(id);
    return it == cameras_.end() ? nullptr : it->second.device;
}

void SimBus::watchArrivals(uint16_t vendor, uint16_t product, ArrivalHandler onArrival) {
    {
        std::lock_guard lock(mu_);
        const int id = nextWatch_++;
        arrivals_.push_back({id, vendor, product, std::move(onArrival)});
        // Cameras already present arrive too, through poll like any other.
        for (const auto& [cameraId, e] : cameras_) {
            const usb::DeviceInfo info = e.device->info();
            if (info.vendor == vendor && info.product == product)
                events_.push_back({true, e.device, {id}});
        }
    }
    wake_.notify_all();
}

void SimBus::watchRemoval(const std::shared_ptr<usb::Device>& device, RemovalHandler onRemoval) {
    if (!device) return;
    {
        std::lock_guard lock(mu_);
        const int id = nextWatch_++;
        removals_.push_back({id, device.get(), std::move(onRemoval)});
        // A device that already left still gets its removal.
        const bool gone = std::none_of(cameras_.begin(), cameras_.end(), [&](const auto& kv) {
            return kv.second.device == device;
        });
        if (gone) events_.push_back({false, device, {}});
    }
    wake_.notify_all();
}

void SimBus::clearWatches() {
    std::lock_guard lock(mu_);
    arrivals_.clear();
    removals_.clear();
}

void SimBus::setControlFile(std::string path) {
    std::lock_guard lock(controlMu_);
    controlPath_ = std::move(path);
    controlRead_ = 0;
    controlPartial_.clear();
}

void SimBus::followControlFile() {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(controlMu_);
        if (controlPath_.empty()) return;
        std::ifstream in(controlPath_, std::ios::binary);
        if (!in) return;  // not there yet
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        // A file written anew from the start is read from its start again.
        if (size < std::streamoff(controlRead_)) controlRead_ = 0, controlPartial_.clear();
        if (size <= std::streamoff(controlRead_)) return;
        in.seekg(std::streamoff(controlRead_));
        std::string text(size_t(size - std::streamoff(controlRead_)), '\0');
        in.read(text.data(), std::streamsize(text.size()));
        text.resize(size_t(in.gcount()));
        controlRead_ += text.size();
        controlPartial_ += text;
        // Only whole lines: the writer may be half-way through one.
        for (size_t end; (end = controlPartial_.find('\n')) != std::string::npos;) {
            lines.push_back(controlPartial_.substr(0, end));
            controlPartial_.erase(0, end + 1);
        }
    }
    for (const std::string& line : lines) control(line);
}

void SimBus::control(const std::string& line) {
    // Said once carried out, so that the writer can wait for it.
    const auto done = [&] { ezlog::info("EZCAM_SIM_CONTROL: %s", line.c_str()); };
    std::istringstream words(line);
    std::string verb, target, rest;
    words >> verb >> target;
    std::getline(words >> std::ws, rest);
    if (verb.empty() || verb[0] == '#') return;
    if (verb == "plug" && rest.empty()) {
        if (const std::optional<CameraId> id = parseCamera(target)) {
            plug(id->vendor, id->product, id->release);
            done();
            return;
        }
    } else if (verb == "unplug" && rest.empty()) {
        if (const std::optional<int> id = parseId(target)) {
            if (unplug(*id))
                done();
            else
                ezlog::warn("EZCAM_SIM_CONTROL: no camera %d is plugged in", *id);
            return;
        }
    } else if (verb == "sensor" && !rest.empty()) {
        if (const std::optional<int> id = parseId(target)) {
            std::shared_ptr<SimCamera> cam = camera(*id);
            std::string error;
            if (!cam || cam->unplugged())
                ezlog::warn("EZCAM_SIM_CONTROL: no camera %d is plugged in", *id);
            else if (!cam->setSensor(rest, error))
                ezlog::warn("EZCAM_SIM_CONTROL: %s", error.c_str());
            else
                done();
            return;
        }
    }
    ezlog::warn("EZCAM_SIM_CONTROL: ignoring \"%s\"", line.c_str());
}

int SimBus::poll(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    // The control file is looked at this often while a poll waits.
    constexpr auto kControlLook = std::chrono::milliseconds(50);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::deque<Event> events;
    for (;;) {
        followControlFile();
        bool following;
        {
            std::lock_guard lock(controlMu_);
            following = !controlPath_.empty();
        }
        std::unique_lock lock(mu_);
        const Clock::time_point now = Clock::now();
        if (events_.empty() && now < deadline)
            wake_.wait_until(lock, following ? std::min(deadline, now + kControlLook) : deadline,
                             [this] { return !events_.empty(); });
        if (!events_.empty() || !following || Clock::now() >= deadline) {
            events.swap(events_);
            break;
        }
    }
    int handled = 0;
    for (Event& ev : events) {
        // Handlers run without the bus lock: they may watch or unplug.
        std::vector<std::function<void()>> calls;
        {
            std::lock_guard lock(mu_);
            if (ev.arrival) {
                for (const ArrivalWatch& w : arrivals_)
                    if (std::find(ev.watches.begin(), ev.watches.end(), w.id) != ev.watches.end())
                        calls.push_back([h = w.handler, d = ev.device] { h(d); });
            } else {
                for (auto it = removals_.begin(); it != removals_.end();) {
                    if (it->device == ev.device.get()) {
                        calls.push_back(it->handler);
                        it = removals_.erase(it);
                    } else {
                        ++it;
                    }
                }
            }
        }
        for (auto& call : calls) {
            call();
            ++handled;
        }
    }
    return handled;
}

SimBus& simBus() {
    // Never destroyed: device objects handed out may outlive static destruction.
    static SimBus* bus = [] {
        auto* b = new SimBus;
        if (const char* list = std::getenv("EZCAM_SIM")) plugListed(*b, list);
        if (const char* control = std::getenv("EZCAM_SIM_CONTROL"); control && *control)
            b->setControlFile(control);
        return b;
    }();
    return *bus;
}

}  // namespace sim

extern "C" {

int SimPlugCamera(int vendor, int product, int bcdDevice) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        auto in16 = [](int v) { return v >= 0 && v <= 0xffff; };
        if (!in16(vendor) || !in16(product) || !in16(bcdDevice)) return EZ_ERANGE;
        return sim::simBus().plug(static_cast<uint16_t>(vendor), static_cast<uint16_t>(product),
                                  static_cast<uint16_t>(bcdDevice));
    });
}

int SimUnplugCamera(int id) {
    return ezcam::guarded(EZ_EIO,
                          [&]() -> int { return sim::simBus().unplug(id) ? EZ_OK : EZ_ENOCAM; });
}

int SimPressCapture(int id) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        std::shared_ptr<sim::SimCamera> camera = sim::simBus().camera(id);
        if (!camera || camera->unplugged()) return EZ_ENOCAM;
        camera->pressCapture();
        return EZ_OK;
    });
}

int SimSetSensor(int id, const char* properties) {
    std::shared_ptr<sim::SimCamera> camera = sim::simBus().camera(id);
    if (!camera || camera->unplugged()) return EZ_ENOCAM;
    std::string error;
    if (!camera->setSensor(properties ? properties : "off", error)) {
        ezlog::error("SimSetSensor: %s", error.c_str());
        return EZ_ERANGE;
    }
    return EZ_OK;
}

int SimSetFocus(int id, float defocus) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        std::shared_ptr<sim::SimCamera> camera = sim::simBus().camera(id);
        if (!camera || camera->unplugged()) return EZ_ENOCAM;
        if (!(defocus >= 0 && defocus <= 1000)) return EZ_ERANGE;
        camera->setDefocus(defocus);
        return EZ_OK;
    });
}

}  // extern "C"
