// A registry session on the simulated bus: plugs and unplugs simulated
// cameras, delivers their hot-plug events and reads their transfer traces.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "ezcam.h"
#include "sim/sim_bus.h"

namespace simsession {

// The simulated bus, unpaced, for every test of the program: set before the
// first use of the bus.
inline const bool kSimulated = [] {
    setenv("EZCAM_SIM", "", 1);
    setenv("EZCAM_SIM_PACE", "0", 1);
    return true;
}();

struct Event {
    std::string name;
    int event;
};

// One transfer of a trace line: "ctrl" with its setup fields, or "bulk".
struct Transfer {
    std::string kind;
    int type = 0, request = 0, value = 0, index = 0;
};

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kSimulated);
        InitDevice(&Session::hotPlug, this, "");
    }
    void TearDown() override {
        ExitDevice();
        for (int id : plugged_) SimUnplugCamera(id);
    }

    // Plugs a camera; returns the name its arrival announced, or "".
    std::string plug(int product, int release = 0xa000, int vendor = 0x0547) {
        lastId = SimPlugCamera(vendor, product, release);
        plugged_.push_back(lastId);
        const size_t before = events.size();
        PollDevice(200);
        return events.size() > before ? events.back().name : "";
    }
    // Unplugs a camera; returns the name its removal announced, or "".
    std::string unplug(int id) {
        const size_t before = events.size();
        SimUnplugCamera(id);
        PollDevice(200);
        return events.size() > before && events.back().event == EZ_DEVICE_REMOVED
                   ? events.back().name
                   : "";
    }
    sim::SimCamera& camera(int id) { return *sim::simBus().camera(id); }

    // The camera's transfers since the last clear.
    std::vector<Transfer> transfers(int id) {
        std::vector<Transfer> out;
        for (const std::string& line : camera(id).trace()) {
            std::istringstream in(line);
            int who = 0;
            Transfer t;
            in >> who >> t.kind;
            if (t.kind == "ctrl") in >> std::hex >> t.type >> t.request >> t.value >> t.index;
            out.push_back(t);
        }
        return out;
    }
    // The transfers as short words: "b4" for a request, "bulk" for a read.
    std::vector<std::string> codes(int id) {
        std::vector<std::string> out;
        for (const Transfer& t : transfers(id)) {
            char word[8];
            std::snprintf(word, sizeof word, "%02x", t.request);
            out.push_back(t.kind == "bulk" ? "bulk" : word);
        }
        return out;
    }

    static void hotPlug(void* receiver, const char* name, int event) {
        static_cast<Session*>(receiver)->events.push_back({name, event});
    }

    std::vector<Event> events;
    int lastId = 0;

  private:
    std::vector<int> plugged_;
};

}  // namespace simsession
