// The generated udev rules open exactly the pairs the SDK claims to the
// logged-in user.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <utility>

#include "device/registry.h"

TEST(UdevRules, EveryClaimedPairAndNothingElseIsOpenedToTheSeatUser) {
    std::ifstream rules(EZCAM_UDEV_RULES_FILE);
    ASSERT_TRUE(rules) << EZCAM_UDEV_RULES_FILE;
    constexpr const char* kRule =
        R"(SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="%04x", )"
        R"(ATTR{idProduct}=="%04x", TAG+="uaccess")";
    std::set<std::pair<unsigned, unsigned>> opened;
    std::string line;
    while (std::getline(rules, line)) {
        if (line.empty() || line[0] == '#') continue;
        // Every line is exactly the rule for the pair it names.
        unsigned vendor = 0, product = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), kRule, &vendor, &product), 2) << line;
        char expected[200];
        std::snprintf(expected, sizeof expected, kRule, vendor, product);
        EXPECT_EQ(line, expected);
        EXPECT_TRUE(opened.insert({vendor, product}).second) << "twice: " << line;
    }
    std::set<std::pair<unsigned, unsigned>> claimed;
    for (const SupportedCamera& camera : ezcam::claimedCameras())
        claimed.insert({camera.vendor, camera.product});
    EXPECT_FALSE(claimed.empty());
    EXPECT_EQ(opened, claimed);
}
