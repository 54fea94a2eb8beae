// Chooses the process's bus: simulated cameras when EZCAM_SIM is set, real
// ones through libusb otherwise.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "sim/sim_bus.h"
#include "usb/libusb_bus.h"
#include "usb/usb.h"

namespace usb {

Bus& systemBus() {
    static Bus* bus = []() -> Bus* {
        if (std::getenv("EZCAM_SIM")) return &sim::simBus();
        static std::unique_ptr<Bus> real = makeLibusbBus();
        if (real) return real.get();
        // Without libusb no real camera can arrive; an empty simulated bus
        // keeps every caller working.
        std::fprintf(stderr, "ezcam: libusb could not be initialised; no USB camera will be found\n");
        return &sim::simBus();
    }();
    return *bus;
}

}  // namespace usb
