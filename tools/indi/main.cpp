// indi_ezcam_ccd: every camera the SDK finds is an INDI CCD device of its
// own, for as long as it stays plugged in. libindidriver's main loop runs the
// driver; its ISGetProperties and ISNew* entry points hand each message to
// the device it names. Hot-plug is polled on that loop, so devices come and
// go on the same thread that serves the clients.
#include <fcntl.h>
#include <unistd.h>

#include <libindi/eventloop.h>
#include <libindi/indidevapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ezcam.h"
#include "ezcam_ccd.h"
#include "sdk_messages.h"

namespace {

using ezindi::EzcamCcd;

// How often hot-plug is polled and the devices look at their exposures.
constexpr int kTickMs = 250;

class Driver {
  public:
    Driver() {
        ezindi::routeSdkMessages();
        if (pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) == 0) IEAddCallback(wakeFds_[0], onWake, this);
        if (InitDevice(onHotPlug, this, "") != EZ_OK)
            std::fprintf(stderr, "indi_ezcam_ccd: the SDK could not watch the bus: %s\n",
                         ezindi::sdkMessage().c_str());
        started_ = true;
        IEAddTimer(kTickMs, onTimer, this);
    }

  private:
    static void onHotPlug(void* receiver, const char* camera, int event) {
        auto* self = static_cast<Driver*>(receiver);
        if (event == EZ_DEVICE_ARRIVED)
            self->arrived(camera);
        else if (event == EZ_DEVICE_REMOVED)
            self->removed(camera);
    }

    void arrived(const std::string& camera) {
        if (find(camera) != devices_.end()) return;
        const int fd = wakeFds_[1];
        auto device = std::make_unique<EzcamCcd>(camera, EzcamCcd::deviceName(camera), [fd] {
            const char byte = 1;
            // A full pipe already holds a wake-up.
            [[maybe_unused]] ssize_t written = write(fd, &byte, 1);
        });
        // Cameras present at start are announced when indiserver asks for the
        // properties; a later one announces itself.
        if (started_) device->ISGetProperties(nullptr);
        devices_.push_back(std::move(device));
    }

    void removed(const std::string& camera) {
        auto device = find(camera);
        if (device == devices_.end()) return;
        (*device)->removed();
        devices_.erase(device);
    }

    std::vector<std::unique_ptr<EzcamCcd>>::iterator find(const std::string& camera) {
        return std::find_if(devices_.begin(), devices_.end(),
                            [&](const std::unique_ptr<EzcamCcd>& d) { return d->camera() == camera; });
    }

    void tick() {
        for (auto& device : devices_) device->tick();
    }

    static void onTimer(void* receiver) {
        auto* self = static_cast<Driver*>(receiver);
        PollDevice(0);
        self->tick();
        IEAddTimer(kTickMs, onTimer, self);
    }

    static void onWake(int fd, void* receiver) {
        char bytes[64];
        while (read(fd, bytes, sizeof bytes) > 0) {
        }
        static_cast<Driver*>(receiver)->tick();
    }

    int wakeFds_[2] = {-1, -1};
    bool started_ = false;
    std::vector<std::unique_ptr<EzcamCcd>> devices_;
};

// Made when the program loads, before libindidriver's main starts serving:
// the devices must exist when indiserver first asks for their properties.
Driver& driver() {
    static Driver instance;
    return instance;
}
[[maybe_unused]] Driver& started = driver();

}  // namespace
