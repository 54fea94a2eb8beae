// Broken transfers on every frame layout, injected by the simulated camera
// and read through the call surface: each is refused (-3), leaves no image
// record in the caller's buffer, and counts as a lost frame.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ezcam.h"
#include "sim/sim_camera.h"
#include "sim_session.h"
#include "usb/usb.h"

using simsession::Session;

namespace {
class FrameFaults : public Session {
  protected:
    void SetUp() override {
        setenv("EZCAM_EXTRA_IDS", "4b56:6401,0547:ac11", 1);
        Session::SetUp();
        unsetenv("EZCAM_EXTRA_IDS");
    }
};

// One product per frame layout (and the release that chooses it).
struct Layout {
    const char* name;
    int vendor, product, release;
    bool marked;  // the layout has a marker or signature to corrupt
    // A frame of whole packets is asked exactly (asking more would wait for
    // the next frame): a surplus stays beyond the request, unread.
    bool asksWholeFramesExactly;
};
constexpr Layout kLayouts[] = {
    {"marked header", 0x0547, 0xc004, 0xa000, true, true},
    {"header of release 0xa001", 0x0547, 0xc004, 0xa001, false, true},
    {"unmarked header", 0x0547, 0xd001, 0xa000, false, true},
    {"signature", 0x0547, 0xc00c, 0xa000, true, false},
    {"trailer", 0x0547, 0xa004, 0xa000, true, false},
    {"exact trailer", 0x0547, 0xe00c, 0xa000, true, true},
    {"padded trailer", 0x0547, 0xa004, 0xb002, true, false},
    {"extra byte", 0x0547, 0xf008, 0xa000, false, false},
    {"bare", 0x0547, 0xe00c, 0xa106, false, true},
    {"four-byte trailer", 0x0547, 0xac11, 0xa000, true, false},
    {"four-byte tail", 0x4b56, 0x6401, 0xa000, false, true},
};
struct Fault {
    const char* name;
    std::function<void(sim::SimCamera&, int frameBytes)> inject;
    bool needsMarker = false;
    bool overLong = false;
};
const Fault kFaults[] = {
    {"one byte short", [](sim::SimCamera& c, int) { c.resizeNextFrame(-1); }},
    {"512 bytes short", [](sim::SimCamera& c, int) { c.resizeNextFrame(-512); }},
    {"one byte long", [](sim::SimCamera& c, int) { c.resizeNextFrame(+1); }, false, true},
    {"bad marker", [](sim::SimCamera& c, int) { c.corruptNextFrameMarker(); }, true},
    // Every byte arrives, but the transfer reports failure.
    {"stall", [](sim::SimCamera& c, int) { c.interruptNextRead(INT_MAX, usb::kStall); }},
    {"time-out mid-transfer",
     [](sim::SimCamera& c, int bytes) { c.interruptNextRead(bytes / 2, usb::kTimeout); }},
    {"overrun", [](sim::SimCamera& c, int bytes) { c.interruptNextRead(bytes, usb::kOverrun); }},
    {"unplug mid-transfer",
     [](sim::SimCamera& c, int bytes) { c.unplugDuringNextRead(bytes - 700); }},
};

bool holdsRecord(const std::vector<unsigned char>& buffer) {
    return std::memcmp(buffer.data(), "KVEZ", 4) == 0;
}
}  // namespace

TEST_F(FrameFaults, EveryLayoutRefusesEveryBrokenTransfer) {
    int accepted = 0;
    for (const Layout& layout : kLayouts) {
        for (const Fault& fault : kFaults) {
            SCOPED_TRACE(testing::Message() << layout.name << ", " << fault.name);
            const std::string name = plug(layout.product, layout.release, layout.vendor);
            ASSERT_FALSE(name.empty());
            const char* c = name.c_str();
            sim::SimCamera& device = camera(lastId);
            std::vector<unsigned char> buffer(static_cast<size_t>(RecvMemSize(c)));
            EzFrameInfo info{};
            // A good frame first: its record must not survive the broken one.
            int good = -3;
            for (int i = 0; i < 3 && good != 0 && good != 1; ++i)
                good = GetRawDataInfo(buffer.data(), static_cast<int>(buffer.size()), &info, c);
            ASSERT_TRUE(good == 0 || good == 1);
            const uint64_t lost = info.frames_lost;

            const size_t frameBytes = device.nextFrameShape().total();
            const bool surplusUnread = layout.asksWholeFramesExactly && frameBytes % 512 == 0;
            fault.inject(device, static_cast<int>(frameBytes));
            const int result = GetRawDataInfo(buffer.data(), static_cast<int>(buffer.size()), &info, c);
            if ((fault.needsMarker && !layout.marked) || (fault.overLong && surplusUnread)) {
                EXPECT_EQ(result, 0);  // the frame asked for is whole
            } else {
                EXPECT_EQ(result, EZ_EIO);
                EXPECT_FALSE(holdsRecord(buffer));
                EXPECT_EQ(info.frames_lost, lost + 1);
                if (result >= 0) ++accepted;
            }
            if (!device.unplugged()) {  // and the stream goes on
                int next = -3;
                for (int i = 0; i < 3 && next < 0; ++i)
                    next = GetRawData(buffer.data(), static_cast<int>(buffer.size()), c);
                EXPECT_GE(next, 0);
            }
            unplug(lastId);
        }
    }
    EXPECT_EQ(accepted, 0);
}
