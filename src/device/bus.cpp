// Chooses the process's bus: the simulated one or libusb.
#include "device/bus.h"

#include <cstdlib>
#include <memory>

#include "log.h"
#include "sim/sim_bus.h"
#include "usb/libusb_bus.h"

namespace ezcam {

usb::Bus& cameraBus() {
    static usb::Bus* bus = []() -> usb::Bus* {
        if (std::getenv("EZCAM_SIM")) return &sim::simBus();
        static std::unique_ptr<usb::Bus> real = usb::makeLibusbBus();
        if (real) return real.get();
        // Without libusb no real camera can arrive; an empty simulated bus
        // keeps every caller working.
        ezlog::error("libusb could not be initialised; no USB camera will be found");
        return &sim::simBus();
    }();
    return *bus;
}

}  // namespace ezcam
