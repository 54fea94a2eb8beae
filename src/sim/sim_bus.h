// The in-process simulated USB bus and its cameras.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/sim_camera.h"
#include "usb/usb.h"

namespace sim {

// A usb::Bus whose devices are simulated cameras. Plugging and unplugging
// queue arrivals and removals that poll() delivers on its caller's thread.
class SimBus : public usb::Bus {
public:
    SimBus() = default;
    ~SimBus() override;

    // Plugs a camera; returns its id (1, 2, ... in plug order).
    int plug(uint16_t vendor, uint16_t product, uint16_t bcdDevice);
    // Plugs a device object of the caller's (a scripted test device) the way
    // a camera is plugged; returns its id, which unplug() takes.
    int plugDevice(std::shared_ptr<usb::Device> device);
    // Unplugs a present camera; false for an unknown id.
    bool unplug(int id);
    // A camera present on this bus, or null (never plugged, or unplugged:
    // the bus forgets a camera when it goes).
    std::shared_ptr<SimCamera> camera(int id) const;
    // The id of the camera behind a device object the bus handed out, or -1.
    int idOf(const usb::Device* device) const;
    // The device object of a camera, as watchers receive it.
    std::shared_ptr<usb::Device> device(int id) const;

    // Lines of this file (those it holds and those appended later) are
    // carried out once each as the bus is polled: "plug vvvv:pppp[@bbbb]",
    // "unplug ID", "sensor ID PROPERTIES" (as SimSetSensor takes them). So a
    // process outside can plug and unplug this process's cameras. Each line
    // carried out is logged (info), each refused one warned of.
    void setControlFile(std::string path);

    void watchArrivals(uint16_t vendor, uint16_t product, ArrivalHandler onArrival) override;
    void watchRemoval(const std::shared_ptr<usb::Device>& device, RemovalHandler onRemoval) override;
    void clearWatches() override;
    int poll(int timeoutMs) override;

private:
    struct ArrivalWatch {
        int id;
        uint16_t vendor, product;
        ArrivalHandler handler;
    };
    struct RemovalWatch {
        int id;
        const usb::Device* device;
        RemovalHandler handler;
    };
    struct Event {
        bool arrival;
        std::shared_ptr<usb::Device> device;
        std::vector<int> watches;  // arrival watches to tell
    };
    struct Entry {
        std::shared_ptr<SimCamera> camera;  // null for a device plugged by plugDevice
        std::shared_ptr<usb::Device> device;
    };
    // Registers an entry and queues its arrival; called with mu_ held.
    void add(int id, Entry entry);
    void removed(int id);
    // Carries out the control file's new complete lines; called without mu_.
    void followControlFile();
    void control(const std::string& line);

    mutable std::mutex mu_;
    std::condition_variable wake_;
    std::map<int, Entry> cameras_;
    int nextCamera_ = 1;
    int nextWatch_ = 1;
    std::vector<ArrivalWatch> arrivals_;
    std::vector<RemovalWatch> removals_;
    std::deque<Event> events_;
    // The control file, how far it was read, and a line not yet complete.
    std::mutex controlMu_;
    std::string controlPath_;
    uint64_t controlRead_ = 0;
    std::string controlPartial_;
    // Cameras may outlive the bus; their unplug listeners check this first.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The process's simulated bus. On first use it plugs the cameras listed in
// EZCAM_SIM ("vvvv:pppp" or "vvvv:pppp@bbbb", comma-separated, hexadecimal;
// the release defaults to 0x0100) and follows the control file that
// EZCAM_SIM_CONTROL names. It lives until the process ends.
SimBus& simBus();

// Wraps a camera as a usb::Device: bulk reads wait for the camera's next
// frame, at most the time-out, and return at once with kNoDevice when the
// camera is unplugged or the device closed.
std::shared_ptr<usb::Device> makeSimDevice(std::shared_ptr<SimCamera> camera);

}  // namespace sim
