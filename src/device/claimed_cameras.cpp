// The pairs the SDK claims, in one place for the generated udev rules.
#include <algorithm>
#include <vector>

#include "device/registry.h"
#include "models/products.h"

namespace ezcam {
std::span<const SupportedCamera> claimedCameras() {
    static const std::vector<SupportedCamera> pairs = [] {
        std::vector<SupportedCamera> out(tabCamSupport().begin(), tabCamSupport().end());
        const auto add = [&](uint32_t vendor, uint32_t product) {
            const bool known = std::any_of(out.begin(), out.end(), [&](const SupportedCamera& p) {
                return p.vendor == vendor && p.product == product;
            });
            if (!known) out.push_back({vendor, product});
        };
        for (const ProductRow& row : productTable())
            if (row.create)
                for (uint16_t vendor : vendorIds(row.vendors)) add(vendor, row.product);
        return out;
    }();
    return pairs;
}
}  // namespace ezcam
