// A check against a real camera through libusb: skipped unless a supported
// camera is connected and usable, so it runs on any machine and in CI.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "usb/libusb_bus.h"

namespace {

// The product ids that announce a camera under vendor 0x0547.
constexpr uint16_t kVendor = 0x0547;
constexpr uint16_t kProducts[] = {
    0xc003, 0xc004, 0xc005, 0xc006, 0xc007, 0xc008, 0xc009, 0xc00a, 0xc00c, 0xd001, 0xd002, 0xd004,
    0xd006, 0xd007, 0xf007, 0xf008, 0xf00b, 0xe001, 0xe004, 0xe006, 0xe80a, 0xe008, 0xe009, 0xe00a,
    0xe00b, 0xe00c, 0xe80c, 0xa008, 0xa007, 0xa004, 0xa003, 0xa005, 0xa00a, 0xa009, 0xa00d, 0xa811,
};

TEST(UsbHardware, AConnectedCameraOpensAndAnswersTheVersionRequest) {
    auto bus = usb::makeLibusbBus();
    if (!bus) GTEST_SKIP() << "libusb is not available here";
    std::shared_ptr<usb::Device> device;
    for (uint16_t product : kProducts) {
        bus->watchArrivals(kVendor, product, [&device](std::shared_ptr<usb::Device> d) {
            if (!device) device = std::move(d);
        });
    }
    bus->poll(500);
    if (!device) GTEST_SKIP() << "no camera connected";

    // Another program may hold the camera, or the device node may not be
    // ours to open: nothing to check then.
    if (device->open() != usb::kSuccess) GTEST_SKIP() << "the camera cannot be opened (permissions?)";
    if (device->setFirstConfiguration() != usb::kSuccess || device->claimFirstInterface() != usb::kSuccess)
        GTEST_SKIP() << "the camera's interface is in use";

    const usb::DeviceInfo info = device->info();
    EXPECT_EQ(info.vendor, kVendor);
    EXPECT_NE(info.bcdUsb, 0);

    unsigned char reply[64] = {};
    EZURB version{0xc0, 0xb6, 0, 2, sizeof reply, reply, 0};
    ASSERT_EQ(device->control(version, 1000), usb::kSuccess);
    EXPECT_GE(version.lengthDone, 2u);
    device->close();
}

}  // namespace
