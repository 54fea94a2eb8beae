// The generated udev rules open exactly the pairs the SDK claims to the
// logged-in user.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <utility>

#include "device/registry.h"

TEST(UdevRules, EveryClaimedPairAndNothingElseIsOpenedToTheSeatUser) {
    std::ifstream rules(EZCAM_UDEV_RULES_FILE);
    ASSERT_TRUE(rules) << EZCAM_UDEV_RULES_FILE;
    const std::regex rule(
        R"re(SUBSYSTEM=="usb", ENV\{DEVTYPE\}=="usb_device", ATTR\{idVendor\}=="([0-9a-f]{4})", )re"
        R"re(ATTR\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess")re");
    std::set<std::pair<unsigned, unsigned>> opened;
    std::string line;
    while (std::getline(rules, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, rule)) << line;
        const unsigned vendor = std::stoul(m[1], nullptr, 16), product = std::stoul(m[2], nullptr, 16);
        EXPECT_TRUE(opened.insert({vendor, product}).second) << "twice: " << line;
    }
    std::set<std::pair<unsigned, unsigned>> claimed;
    for (const SupportedCamera& camera : ezcam::claimedCameras())
        claimed.insert({camera.vendor, camera.product});
    EXPECT_FALSE(claimed.empty());
    EXPECT_EQ(opened, claimed);
}
