// A C++ exception inside the library stops at the call surface: the call
// answers with a status, the reason is logged, and the caller goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <stdexcept>

#include "fake_device.h"
#include "log_recorder.h"
#include "sim_session.h"

namespace {

// A device whose driver code throws where a library fault would.
struct ThrowingDevice : FakeDevice {
    bool throwOnOpen = false;
    bool throwOnControl = false;
    uint32_t open() override {
        if (throwOnOpen) throw std::runtime_error("open threw");
        return FakeDevice::open();
    }
    uint32_t control(EZURB& urb, unsigned timeoutMs) override {
        if (throwOnControl) throw std::runtime_error("control threw");
        return FakeDevice::control(urb, timeoutMs);
    }
    uint32_t bulkRead(int, unsigned char*, int, int*, unsigned) override { throw std::bad_alloc(); }
};

bool loggedError(const LogRecorder& log, const std::string& text) {
    return std::any_of(log.messages.begin(), log.messages.end(), [&](const std::string& m) {
        return m.rfind("0: ", 0) == 0 && m.find(text) != std::string::npos;
    });
}

using Thrown = simsession::Session;

TEST_F(Thrown, BecomesAStatusAndAnErrorLine) {
    LogRecorder log;
    // A device that throws while it arrives is left out; a camera arriving
    // in the same poll still arrives.
    auto refused = std::make_shared<ThrowingDevice>();
    refused->throwOnOpen = true;
    const int refusedId = sim::simBus().plugDevice(refused);
    const std::string other = plug(0xc004);
    EXPECT_FALSE(other.empty());
    EXPECT_EQ(DeviceCount(), 1);
    EXPECT_TRUE(loggedError(log, "open threw"));

    auto device = std::make_shared<ThrowingDevice>();
    const int id = sim::simBus().plugDevice(device);
    PollDevice(200);
    ASSERT_EQ(DeviceCount(), 2);
    const std::string name = events.back().name;
    ASSERT_NE(name, other);
    const char* n = name.c_str();

    ASSERT_EQ(ResumeDevice(n), EZ_OK);
    std::vector<unsigned char> frame(static_cast<size_t>(DataHeadLen(n) + RecvMemSize(n)));
    const struct {
        const char* thrown;
        std::function<int()> call;
    } cases[] = {
        {"out of memory",
         [&] { return GetRawData(frame.data(), static_cast<int>(frame.size()), n); }},
        {"control threw",
         [&] {
             device->throwOnControl = true;
             return SetAnaloggain(2, n);
         }},
        {"control threw", [&] { return SuspendDevice(n); }},
    };
    for (const auto& c : cases) {
        log.messages.clear();
        EXPECT_EQ(c.call(), EZ_EIO) << c.thrown;
        EXPECT_TRUE(loggedError(log, c.thrown)) << c.thrown;
    }
    // The camera is still served, and still leaves.
    EXPECT_EQ(DeviceCount(), 2);
    device->throwOnControl = false;
    EXPECT_EQ(SuspendDevice(n), EZ_OK);
    SimUnplugCamera(id);
    SimUnplugCamera(refusedId);
    PollDevice(200);
    EXPECT_EQ(DeviceCount(), 1);
}

}  // namespace
