// ezcam-udev-rules: writes the udev rules that let the logged-in user open
// every camera the SDK claims. Run at build time; the rules are installed.
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "device/registry.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "Usage: ezcam-udev-rules FILE\n"
                     "Writes udev rules giving the logged-in user access (TAG+=\"uaccess\") to\n"
                     "every USB vendor and product pair that the ezcam SDK claims.\n");
        return argc == 2 ? 0 : 2;
    }
    FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out,
                 "# The cameras of the ezcam SDK: the user logged in at the seat may open them.\n"
                 "# Generated from the SDK's product table by ezcam-udev-rules; do not edit.\n");
    std::set<std::pair<unsigned, unsigned>> written;
    for (const SupportedCamera& camera : ezcam::claimedCameras()) {
        if (!written.insert({camera.vendor, camera.product}).second) continue;
        std::fprintf(out,
                     "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"%04x\", "
                     "ATTR{idProduct}==\"%04x\", TAG+=\"uaccess\"\n",
                     static_cast<unsigned>(camera.vendor), static_cast<unsigned>(camera.product));
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
